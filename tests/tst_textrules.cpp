#include "deviceinfo.h"
#include "textrules.h"

#include <QTest>

using namespace adb;

class TestTextRules : public QObject
{
    Q_OBJECT

private slots:
    void splitPieces_data();
    void splitPieces();
    void property_data();
    void property();
    void lastValue_data();
    void lastValue();
    void trimmedBlanksKeepsLineBreaks();
    void newDeviceHasDefaults();
};

void TestTextRules::splitPieces_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");     // "newline", or the one separator character
    QTest::addColumn<int>("maxSplits");
    QTest::addColumn<QStringList>("expected");

    const QString any = QStringLiteral("newline");
    QTest::newRow("empty") << QString() << any << 0 << QStringList{};
    QTest::newRow("only separators") << QStringLiteral("\n\r\n\n") << any << 0 << QStringList{};
    QTest::newRow("empty pieces dropped") << QStringLiteral("\na\n\nb\n") << any << 0 << QStringList{"a", "b"};
    QTest::newRow("every newline kind") << QStringLiteral("a\u000Bb\u000Cc\rd\u0085e\u2028f\u2029g") << any << 0
                                        << QStringList{"a", "b", "c", "d", "e", "f", "g"};
    QTest::newRow("CR LF is one newline") << QStringLiteral("a\r\nb") << any << 0 << QStringList{"a", "b"};
    QTest::newRow("CR LF is not an LF") << QStringLiteral("a\r\nb\nc") << QStringLiteral("\n") << 0
                                        << QStringList{"a\r\nb", "c"};
    QTest::newRow("tabs") << QStringLiteral("\tserial\t\tdevice\tx") << QStringLiteral("\t") << 0
                          << QStringList{"serial", "device", "x"};
    QTest::newRow("limit keeps the rest") << QStringLiteral("a: b: c") << QStringLiteral(":") << 1
                                          << QStringList{"a", " b: c"};
    QTest::newRow("limit with a double separator") << QStringLiteral("key::value") << QStringLiteral(":") << 1
                                                   << QStringList{"key", ":value"};
    QTest::newRow("leading separators don't use the limit") << QStringLiteral("::a:b") << QStringLiteral(":") << 1
                                                            << QStringList{"a", "b"};
    QTest::newRow("a colon with a combining mark is no colon") << QStringLiteral("a:\u0301b") << QStringLiteral(":") << 0
                                                               << QStringList{QStringLiteral("a:\u0301b")};
}

void TestTextRules::splitPieces()
{
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(int, maxSplits);
    QFETCH(QStringList, expected);
    const SeparatorTest test = separator == QLatin1String("newline")
        ? SeparatorTest(isNewlineCharacter)
        : SeparatorTest([separator](QStringView c) { return c == separator; });
    QCOMPARE(adb::splitPieces(text, test, maxSplits), expected);
}

void TestTextRules::property_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("expected");
    const QString name = QStringLiteral("[ro.build.version.sdk]: ");

    QTest::newRow("bare value") << QStringLiteral("12") << QStringLiteral("12");
    QTest::newRow("nothing") << QString() << kNoValue;
    QTest::newRow("listing") << QStringLiteral("[ro.a]: [x]\n") + name + QStringLiteral("[12]\n[ro.z]: [y]")
                             << QStringLiteral("12");
    QTest::newRow("listing with CR LF") << QStringLiteral("[ro.a]: [x]\r\n") + name + QStringLiteral("[12]\r\n[ro.z]: [y]")
                                        << QStringLiteral("12");
    QTest::newRow("value with blanks is trimmed") << name + QStringLiteral("[ 12 ]") << QStringLiteral("12");
    QTest::newRow("empty value is not the no-value mark") << name + QStringLiteral("[]") << QString();
    QTest::newRow("first of two lines wins") << name + QStringLiteral("[12]\n") + name + QStringLiteral("[13]")
                                             << QStringLiteral("12");
    QTest::newRow("listing without the name") << QStringLiteral("[ro.a]: [x]\n[ro.b]: [y]") << kNoValue;
    QTest::newRow("error text comes back whole") << QStringLiteral("error: device offline\nmore")
                                                 << QStringLiteral("error: device offline\nmore");
    QTest::newRow("missing closing bracket loses a character") << name + QStringLiteral("[12") << QStringLiteral("1");
    QTest::newRow("similar longer name does not match") << QStringLiteral("[ro.build.version.sdk_full]: [99]") << kNoValue;
    QTest::newRow("cyrillic value") << name + QStringLiteral("[Сборка]") << QStringLiteral("Сборка");
}

void TestTextRules::property()
{
    QFETCH(QString, output);
    QFETCH(QString, expected);
    QCOMPARE(propertyFromOutput(output, QStringLiteral("ro.build.version.sdk")), expected);
}

void TestTextRules::lastValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one line") << QStringLiteral("size: 800x480") << QStringLiteral("800x480");
    QTest::newRow("last line wins") << QStringLiteral("Physical size: 800x480\nOverride size: 640x480") << QStringLiteral("640x480");
    QTest::newRow("CR LF lines") << QStringLiteral("Physical density: 160\r\nOverride density: 120") << QStringLiteral("120");
    QTest::newRow("no colon") << QStringLiteral("240") << QStringLiteral("240");
    QTest::newRow("ends in a colon") << QStringLiteral("size:") << QStringLiteral("size");
    QTest::newRow("begins with a colon") << QStringLiteral(":240") << QStringLiteral("240");
    QTest::newRow("two colons") << QStringLiteral("a: b: c") << QStringLiteral("b: c");
    QTest::newRow("double colon") << QStringLiteral("key::value") << QStringLiteral(":value");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only a colon, untrimmed") << QStringLiteral(":") << QStringLiteral(":");
    QTest::newRow("error text") << QStringLiteral("error: closed") << QStringLiteral("closed");
}

void TestTextRules::lastValue()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(adb::lastValue(text), expected);
}

void TestTextRules::trimmedBlanksKeepsLineBreaks()
{
    QCOMPARE(trimmedBlanks(QStringLiteral("\t\u00A0 1920x720 \t")), QStringLiteral("1920x720"));
    QCOMPARE(trimmedBlanks(QStringLiteral("\n1920x720\n")), QStringLiteral("\n1920x720\n"));
    QCOMPARE(trimmed(QStringLiteral("\u2003\n1920x720\r\n\u3000")), QStringLiteral("1920x720"));
}

void TestTextRules::newDeviceHasDefaults()
{
    const DeviceInfo device(QStringLiteral("S1"), QStringLiteral("device"));
    QCOMPARE(device.serial(), QStringLiteral("S1"));
    QCOMPARE(device.state(), QStringLiteral("device"));
    for (const QString &field : {device.manufacturer, device.model, device.android, device.sdk,
                                 device.build, device.size, device.density})
        QCOMPARE(field, QStringLiteral("\u2014"));
    QVERIFY(!device.installed);
}

QTEST_GUILESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
