#include "steprules.h"

#include <QTest>

Q_DECLARE_METATYPE(std::optional<int>)

class TestStepRules : public QObject
{
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void busy_data();
    void busy();
};

namespace {
const QStringList kTitles{QStringLiteral("Найдём экран"), QStringLiteral("Проверим систему"),
                          QStringLiteral("Установим Zorvik App")};
// Compact expectation per step: the text's first character, then W (white), G (grey) or
// S (success green).
QString summary(const QList<StepLook> &looks)
{
    QStringList parts;
    for (const StepLook &look : looks) {
        const QChar colour = look.colour == StepColour::White ? u'W' : look.colour == StepColour::Green ? u'S' : u'G';
        parts << look.text.left(1) + colour;
    }
    return parts.join(QLatin1Char(' '));
}
} // namespace

void TestStepRules::steps_data()
{
    QTest::addColumn<int>("completed");
    QTest::addColumn<std::optional<int>>("current");
    QTest::addColumn<QString>("expected");
    QTest::newRow("start: 0, current 0") << 0 << std::optional<int>(0) << QStringLiteral("1W 2G 3G");
    QTest::newRow("0, no current") << 0 << std::optional<int>() << QStringLiteral("1G 2G 3G");
    QTest::newRow("found: 2, current 2") << 2 << std::optional<int>(2) << QStringLiteral("✓W ✓W 3W");
    QTest::newRow("done: 3, no current") << 3 << std::optional<int>() << QStringLiteral("✓S ✓S ✓S");
    QTest::newRow("current on a finished step does nothing") << 2 << std::optional<int>(1) << QStringLiteral("✓W ✓W 3G");
    QTest::newRow("1, current 1") << 1 << std::optional<int>(1) << QStringLiteral("✓W 2W 3G");
    QTest::newRow("beyond the steps") << 5 << std::optional<int>() << QStringLiteral("✓W ✓W ✓W");
}

void TestStepRules::steps()
{
    QFETCH(int, completed);
    QFETCH(std::optional<int>, current);
    QFETCH(QString, expected);
    const QList<StepLook> looks = stepLooks(kTitles, completed, current);
    QCOMPARE(summary(looks), expected);
    // Whole texts: check mark or number, exactly three blanks, then the title.
    for (int i = 0; i < looks.size(); ++i) {
        const QString lead = i < completed ? QStringLiteral("✓") : QString::number(i + 1);
        QCOMPARE(looks[i].text, lead + QStringLiteral("   ") + kTitles[i]);
    }
}

void TestStepRules::busy_data()
{
    QTest::addColumn<bool>("busy");
    QTest::addColumn<int>("ready");
    QTest::addColumn<bool>("installEnabled");
    QTest::addColumn<bool>("popupEnabled");
    QTest::addColumn<bool>("progressRunning");
    QTest::newRow("busy, devices listed") << true << 2 << false << false << true;
    QTest::newRow("busy, none") << true << 0 << false << false << true;
    QTest::newRow("idle, none") << false << 0 << false << true << false;
    QTest::newRow("idle, one") << false << 1 << true << true << false;
}

void TestStepRules::busy()
{
    QFETCH(bool, busy);
    QFETCH(int, ready);
    const BusyLook look = busyLook(busy, ready);
    QTEST(look.installEnabled, "installEnabled");
    QTEST(look.popupEnabled, "popupEnabled");
    QTEST(look.progressRunning, "progressRunning");
}

QTEST_GUILESS_MAIN(TestStepRules)
#include "tst_steprules.moc"
