#include "installerwindow.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGraphicsDropShadowEffect>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QStringList stepTitles{QStringLiteral("Найдём экран"), QStringLiteral("Проверим систему"),
                             QStringLiteral("Установим Zorvik App")};

const WindowColours brand{QColor::fromRgbF(0.02f, 0.10f, 0.27f), QColor::fromRgbF(0.04f, 0.43f, 1.0f),
                            QColor::fromRgbF(0.08f, 0.68f, 0.38f)};

QColor grey(float level)
{
    return QColor::fromRgbF(level, level, level);
}

// Frames are designed with the origin at the bottom-left of the 650-point-tall window.
QRect fromBottom(int x, int y, int w, int h)
{
    return QRect(x, 650 - y - h, w, h);
}

// Card rows are designed in card coordinates; the card's origin is (374, 260) in the window.
QRect cardRow(int x, int row, int w)
{
    return fromBottom(374 + x, 260 + 139 - 31 * row, w, 22);
}

const char *const rowKeys[] = {"model", "android", "build", "screen", "installed"};

struct OwnedWindow
{
    InstallerWidgets widgets;
    std::unique_ptr<QWidget> owner;
};

OwnedWindow build(const QString &resourceDir)
{
    OwnedWindow built;
    built.widgets = buildInstallerWindow(resourceDir, stepTitles, brand);
    built.owner.reset(built.widgets.window);
    return built;
}

bool writeLogo(const QString &dir, const QSize &size)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(QColor(10, 110, 255));
    return image.save(dir + QStringLiteral("/logo.png"));
}

} // namespace

class WindowLayoutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void geometry_data();
    void geometry();
    void texts_data();
    void texts();
    void fonts_data();
    void fonts();
    void colours_data();
    void colours();
    void labelsWrapFromTopLeft();

    void windowIsFixedTitledAndHidden();
    void initialState();
    void infoLabelsAreTheValueColumn();
    void stepLabelsHaveThreeBlanks();
    void stepLabelsFollowTheTitles();
    void logoFitsItsSlot_data();
    void logoFitsItsSlot();
    void noLogoWithoutImage_data();
    void noLogoWithoutImage();
    void cardAndLogHaveRoundedCorners();
    void tabOrderFollowsTheLayout();

    void buttonFaceAndTextColourReadBack();
    void progressRunningIsVisibility();
    void replaceLogTextScrollsToEnd();

private:
    QTemporaryDir m_withLogo;
    QTemporaryDir m_withoutLogo;
    OwnedWindow m_window;      // built with logo.png
    OwnedWindow m_plainWindow; // built from a resource directory without logo.png
};

void WindowLayoutTest::initTestCase()
{
    QVERIFY(m_withLogo.isValid());
    QVERIFY(m_withoutLogo.isValid());
    QVERIFY(writeLogo(m_withLogo.path(), QSize(420, 140)));
    m_window = build(m_withLogo.path());
    m_plainWindow = build(m_withoutLogo.path());
    QVERIFY(m_window.widgets.window);
    QVERIFY(m_plainWindow.widgets.window);

    // Optional: a picture of the window for a person to look at.
    const QByteArray shot = qgetenv("ZORVIK_WINDOW_SHOT");
    if (!shot.isEmpty())
        m_window.widgets.window->grab().save(QString::fromLocal8Bit(shot));
}

void WindowLayoutTest::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("frame");

    QTest::newRow("side panel") << "sidePanel" << fromBottom(0, 0, 330, 650);
    QTest::newRow("headline") << "headline" << fromBottom(42, 458, 245, 64);
    QTest::newRow("instruction") << "instruction" << fromBottom(42, 355, 245, 90);
    QTest::newRow("step 1") << "step1" << fromBottom(42, 285, 245, 28);
    QTest::newRow("step 2") << "step2" << fromBottom(42, 239, 245, 28);
    QTest::newRow("step 3") << "step3" << fromBottom(42, 193, 245, 28);
    QTest::newRow("scope note") << "scopeNote" << fromBottom(42, 42, 245, 48);
    QTest::newRow("version line") << "versionLine" << fromBottom(42, 18, 220, 16);
    QTest::newRow("heading") << "heading" << fromBottom(374, 575, 420, 36);
    QTest::newRow("subheading") << "subheading" << fromBottom(374, 548, 360, 22);
    QTest::newRow("device pop-up") << "devicePopup" << fromBottom(374, 490, 390, 38);
    QTest::newRow("refresh button") << "refreshButton" << fromBottom(778, 490, 130, 38);
    QTest::newRow("status badge") << "statusBadge" << fromBottom(374, 448, 520, 24);
    QTest::newRow("info card") << "infoCard" << fromBottom(374, 260, 534, 175);
    for (int row = 0; row < 5; ++row) {
        const QString key = QString::fromLatin1(rowKeys[row]);
        QTest::addRow("caption %s", rowKeys[row]) << "caption_" + key << cardRow(22, row, 130);
        QTest::addRow("value %s", rowKeys[row]) << "value_" + key << cardRow(165, row, 345);
    }
    QTest::newRow("install button") << "installButton" << fromBottom(374, 188, 534, 50);
    QTest::newRow("progress bar") << "progress" << fromBottom(374, 163, 534, 6);
    QTest::newRow("log") << "logView" << fromBottom(374, 42, 534, 102);
}

void WindowLayoutTest::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, frame);

    // The logo is optional; nothing else may move when it is missing.
    for (QWidget *window : {m_window.widgets.window, m_plainWindow.widgets.window}) {
        auto *widget = window->findChild<QWidget *>(name);
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(QRect(widget->mapTo(window, QPoint()), widget->size()), frame);
    }
}

void WindowLayoutTest::texts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");

    QTest::newRow("headline") << "headline" << QStringLiteral("Установка в автомобиль");
    QTest::newRow("instruction") << "instruction"
                                 << QStringLiteral("Подключите Mac к мультимедийной системе кабелем USB "
                                                   "и подтвердите отладку на экране автомобиля.");
    QTest::newRow("step 1") << "step1" << QStringLiteral("1   Найдём экран");
    QTest::newRow("step 2") << "step2" << QStringLiteral("2   Проверим систему");
    QTest::newRow("step 3") << "step3" << QStringLiteral("3   Установим Zorvik App");
    QTest::newRow("scope note") << "scopeNote"
                                << QString::fromUtf8("Только Android-мультимедиа\nБез ECU \u00b7 CAN \u00b7 ADAS");
    QTest::newRow("version line") << "versionLine"
                                  << QString::fromUtf8("Installer 0.3.8  \u2022  Zorvik App 0.5.4");
    QTest::newRow("heading") << "heading" << QStringLiteral("Подключённое устройство");
    QTest::newRow("subheading") << "subheading" << QStringLiteral("Read-only диагностика перед установкой");
    QTest::newRow("status badge") << "statusBadge" << QString::fromUtf8("ПОИСК\u2026");
    QTest::newRow("caption model") << "caption_model" << QStringLiteral("Модель");
    QTest::newRow("caption android") << "caption_android" << QStringLiteral("Android / API");
    QTest::newRow("caption build") << "caption_build" << QStringLiteral("Сборка");
    QTest::newRow("caption screen") << "caption_screen" << QStringLiteral("Экран");
    QTest::newRow("caption installed") << "caption_installed" << QStringLiteral("Zorvik App");
    for (const char *key : rowKeys)
        QTest::addRow("value %s", key) << "value_" + QString::fromLatin1(key) << QString::fromUtf8("\u2014");
}

void WindowLayoutTest::texts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);

    auto *label = m_window.widgets.window->findChild<QLabel *>(name);
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(label->text(), text);
    // Plain text: a "<" in a device name later must not turn into markup.
    QCOMPARE(label->textFormat(), Qt::PlainText);
}

void WindowLayoutTest::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<int>("weight");

    const int regular = QFont::Normal;
    const int semibold = QFont::DemiBold;
    QTest::newRow("headline") << "headline" << 26 << semibold;
    QTest::newRow("instruction") << "instruction" << 13 << regular;
    QTest::newRow("step 1") << "step1" << 13 << semibold;
    QTest::newRow("step 3") << "step3" << 13 << semibold;
    QTest::newRow("scope note") << "scopeNote" << 11 << semibold;
    QTest::newRow("version line") << "versionLine" << 9 << regular;
    QTest::newRow("heading") << "heading" << 25 << semibold;
    QTest::newRow("subheading") << "subheading" << 12 << regular;
    QTest::newRow("status badge") << "statusBadge" << 11 << semibold;
    QTest::newRow("caption") << "caption_screen" << 11 << regular;
    QTest::newRow("value") << "value_screen" << 12 << semibold;
    QTest::newRow("log") << "logView" << 10 << regular;
}

void WindowLayoutTest::fonts()
{
    QFETCH(QString, name);
    QFETCH(int, pixelSize);
    QFETCH(int, weight);

    auto *widget = m_window.widgets.window->findChild<QWidget *>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->font().pixelSize(), pixelSize);
    QCOMPARE(int(widget->font().weight()), weight);
    if (name == QLatin1String("logView")) {
        QVERIFY(QFontInfo(widget->font()).fixedPitch());
    } else if (QFontDatabase::families().contains(QStringLiteral("Inter"))) {
        QCOMPARE(widget->font().family(), QStringLiteral("Inter"));
    }
}

void WindowLayoutTest::colours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");

    const QColor secondary(0x80, 0x80, 0x80);
    QTest::newRow("headline") << "headline" << QColor(Qt::white);
    QTest::newRow("instruction") << "instruction" << QColor::fromRgbF(0.68f, 0.77f, 0.91f);
    QTest::newRow("step 1 is current") << "step1" << QColor(Qt::white);
    QTest::newRow("step 2 is pending") << "step2" << grey(0.62f);
    QTest::newRow("step 3 is pending") << "step3" << grey(0.62f);
    QTest::newRow("scope note") << "scopeNote" << QColor::fromRgbF(0.37f, 0.72f, 1.0f);
    QTest::newRow("version line") << "versionLine" << grey(0.55f);
    QTest::newRow("heading") << "heading" << grey(0.1f);
    QTest::newRow("subheading") << "subheading" << secondary;
    QTest::newRow("status badge") << "statusBadge" << brand.blue;
    for (const char *key : rowKeys) {
        QTest::addRow("caption %s", key) << "caption_" + QString::fromLatin1(key) << secondary;
        QTest::addRow("value %s", key) << "value_" + QString::fromLatin1(key) << grey(0.13f);
    }
}

void WindowLayoutTest::colours()
{
    QFETCH(QString, name);
    QFETCH(QColor, colour);

    auto *label = m_window.widgets.window->findChild<QLabel *>(name);
    QVERIFY2(label, qPrintable(name));
    QCOMPARE(textColour(label), colour);
}

void WindowLayoutTest::labelsWrapFromTopLeft()
{
    const QList<QLabel *> labels = m_window.widgets.window->findChildren<QLabel *>();
    QCOMPARE(labels.size(), 21); // logo, 6 fixed texts, 3 steps, badge, 10 in the card
    for (QLabel *label : labels) {
        if (label->objectName() == QLatin1String("logo"))
            continue;
        QVERIFY2(label->wordWrap(), qPrintable(label->objectName()));
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        QCOMPARE(label->frameShape(), QFrame::NoFrame);
        QVERIFY2(!label->autoFillBackground(), qPrintable(label->objectName()));
    }
}

void WindowLayoutTest::windowIsFixedTitledAndHidden()
{
    QWidget *window = m_window.widgets.window;
    QVERIFY(window->isWindow());
    QVERIFY(!window->isVisible()); // the caller shows it
    QCOMPARE(window->windowTitle(), QStringLiteral("Zorvik App Installer"));
    QCOMPARE(window->size(), QSize(980, 650));
    QCOMPARE(window->minimumSize(), QSize(980, 650));
    QCOMPARE(window->maximumSize(), QSize(980, 650));
    QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(window->palette().color(QPalette::Window), grey(0.96f));

    auto *panel = window->findChild<QWidget *>(QStringLiteral("sidePanel"));
    QVERIFY(panel->autoFillBackground());
    QCOMPARE(panel->palette().color(QPalette::Window), brand.navy);

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        QVERIFY((window->geometry().center() - screen->availableGeometry().center()).manhattanLength() <= 2);
}

void WindowLayoutTest::initialState()
{
    const InstallerWidgets &w = m_window.widgets;
    QVERIFY(w.devicePopup && w.refreshButton && w.statusBadge && w.installButton && w.progress
            && w.logView);

    QCOMPARE(w.devicePopup->count(), 0);
    QVERIFY(w.devicePopup->isEnabled());
    QCOMPARE(w.devicePopup->accessibleName(), QStringLiteral("Устройство"));

    QCOMPARE(w.refreshButton->text(), QStringLiteral("Обновить"));
    QVERIFY(w.refreshButton->isEnabled());
    QCOMPARE(w.refreshButton->accessibleName(), QStringLiteral("Обновить"));

    QCOMPARE(w.statusBadge->text(), QString::fromUtf8("ПОИСК\u2026"));
    QCOMPARE(textColour(w.statusBadge), brand.blue);

    QCOMPARE(w.installButton->text(), QStringLiteral("Установить Zorvik App"));
    QVERIFY(!w.installButton->isEnabled());
    QCOMPARE(buttonFace(w.installButton), brand.blue);

    QVERIFY(!isProgressRunning(w.progress));
    QVERIFY(w.progress->isHidden());
    QCOMPARE(w.progress->minimum(), 0);
    QCOMPARE(w.progress->maximum(), 0); // indeterminate
    QVERIFY(!w.progress->isTextVisible());

    QCOMPARE(w.logView->toPlainText(), QString::fromUtf8("Ожидание подключения\u2026"));
    QVERIFY(w.logView->isReadOnly());
    QCOMPARE(w.logView->frameShape(), QFrame::NoFrame);
    QCOMPARE(w.logView->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w.logView->palette().color(QPalette::Text), grey(0.32f));
    QCOMPARE(w.logView->palette().color(QPalette::Base), grey(0.91f));
}

void WindowLayoutTest::infoLabelsAreTheValueColumn()
{
    const InstallerWidgets &w = m_window.widgets;
    QStringList expectedKeys;
    for (const char *key : rowKeys)
        expectedKeys << QString::fromLatin1(key);
    expectedKeys.sort();
    QCOMPARE(w.infoLabels.keys(), expectedKeys);

    auto *card = w.window->findChild<QWidget *>(QStringLiteral("infoCard"));
    QObjectList cardChildren;
    for (QObject *child : card->children())
        if (child->isWidgetType())
            cardChildren << child;
    QCOMPARE(cardChildren.size(), 10);

    for (int row = 0; row < 5; ++row) {
        const QString key = QString::fromLatin1(rowKeys[row]);
        QLabel *value = w.infoLabels.value(key);
        QVERIFY2(value, qPrintable(key));
        QCOMPARE(value->parentWidget(), card);
        QCOMPARE(value->objectName(), "value_" + key);
        QCOMPARE(value->geometry(), QRect(165, 175 - (139 - 31 * row) - 22, 345, 22));
        // Caption first, then its value: the card's children come in row order.
        QCOMPARE(cardChildren.at(2 * row)->objectName(), "caption_" + key);
        QCOMPARE(cardChildren.at(2 * row + 1), value);
    }
}

void WindowLayoutTest::stepLabelsHaveThreeBlanks()
{
    const QList<QLabel *> &steps = m_window.widgets.stepLabels;
    QCOMPARE(steps.size(), 3);
    const QRegularExpression numbered(QStringLiteral("^(\\d)   (\\S.*)$"));
    for (int i = 0; i < steps.size(); ++i) {
        const QRegularExpressionMatch match = numbered.match(steps.at(i)->text());
        QVERIFY2(match.hasMatch(), qPrintable(steps.at(i)->text()));
        QCOMPARE(match.captured(1).toInt(), i + 1);
        QCOMPARE(match.captured(2), stepTitles.at(i));
        QCOMPARE(steps.at(i)->objectName(), QStringLiteral("step%1").arg(i + 1));
    }
    QCOMPARE(textColour(steps.at(0)), QColor(Qt::white));
}

void WindowLayoutTest::stepLabelsFollowTheTitles()
{
    QTemporaryDir dir;
    const QStringList titles{QStringLiteral("Один"), QStringLiteral("Два")};
    const InstallerWidgets w = buildInstallerWindow(dir.path(), titles, brand);
    const std::unique_ptr<QWidget> owner(w.window);
    QCOMPARE(w.stepLabels.size(), 2);
    QCOMPARE(w.stepLabels.at(1)->text(), QStringLiteral("2   Два"));
    QCOMPARE(w.stepLabels.at(1)->geometry(), fromBottom(42, 239, 245, 28));
    QVERIFY(!w.window->findChild<QLabel *>(QStringLiteral("step3")));
}

void WindowLayoutTest::logoFitsItsSlot_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QSize>("shownSize");

    QTest::newRow("double size, same shape") << QSize(420, 140) << QSize(210, 70);
    QTest::newRow("too wide") << QSize(840, 70) << QSize(210, 18);
    QTest::newRow("too tall") << QSize(100, 140) << QSize(50, 70);
    QTest::newRow("small is not enlarged") << QSize(60, 20) << QSize(60, 20);
}

void WindowLayoutTest::logoFitsItsSlot()
{
    QFETCH(QSize, imageSize);
    QFETCH(QSize, shownSize);

    QTemporaryDir dir;
    QVERIFY(writeLogo(dir.path(), imageSize));
    const OwnedWindow built = build(dir.path());
    auto *logo = built.widgets.window->findChild<QLabel *>(QStringLiteral("logo"));
    QVERIFY(logo);
    QCOMPARE(logo->parentWidget()->objectName(), QStringLiteral("sidePanel"));
    QCOMPARE(logo->geometry(), fromBottom(42, 548, 210, 70));
    QCOMPARE(logo->alignment(), Qt::AlignCenter);

    const QPixmap pixmap = logo->pixmap();
    QVERIFY(!pixmap.isNull());
    const QSizeF shown = pixmap.deviceIndependentSize();
    // Within a pixel: fractional screen scales round the pixmap to whole device pixels.
    QVERIFY2(qAbs(shown.width() - shownSize.width()) <= 1 && qAbs(shown.height() - shownSize.height()) <= 1,
             qPrintable(QStringLiteral("%1x%2").arg(shown.width()).arg(shown.height())));
}

void WindowLayoutTest::noLogoWithoutImage_data()
{
    QTest::addColumn<QByteArray>("fileContent"); // empty: no file at all

    QTest::newRow("missing") << QByteArray();
    QTest::newRow("not an image") << QByteArray("this is not a PNG");
}

void WindowLayoutTest::noLogoWithoutImage()
{
    QFETCH(QByteArray, fileContent);

    QTemporaryDir dir;
    if (!fileContent.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("logo.png")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(fileContent);
    }
    const OwnedWindow built = build(dir.path());
    QVERIFY(!built.widgets.window->findChild<QWidget *>(QStringLiteral("logo")));
    auto *headline = built.widgets.window->findChild<QLabel *>(QStringLiteral("headline"));
    QVERIFY(headline);
    QCOMPARE(headline->geometry(), fromBottom(42, 458, 245, 64));
    QCOMPARE(built.widgets.stepLabels.size(), 3);
    QCOMPARE(built.widgets.infoLabels.size(), 5);
}

void WindowLayoutTest::cardAndLogHaveRoundedCorners()
{
    auto *card = m_window.widgets.window->findChild<QWidget *>(QStringLiteral("infoCard"));
    auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(card->graphicsEffect());
    QVERIFY(shadow);
    QCOMPARE(shadow->color(), QColor(0, 0, 0, 15));
    QVERIFY(shadow->offset().y() > 0); // falls below the card
    QCOMPARE(shadow->offset().x(), 0.0);

    // The corners are cut away: the window's grey shows at the corner, white inside.
    // Grabs come in device pixels; positions below are in logical ones.
    const auto pixel = [](const QImage &image, qreal x, qreal y) {
        const qreal dpr = image.devicePixelRatio();
        return image.pixel(qMin(qRound(x * dpr), image.width() - 1),
                           qMin(qRound(y * dpr), image.height() - 1));
    };
    const QImage image = m_window.widgets.window->grab(card->geometry()).toImage();
    const QRect cardRect(QPoint(), card->size());
    QCOMPARE(pixel(image, cardRect.center().x(), cardRect.center().y()), qRgb(255, 255, 255));
    QVERIFY(pixel(image, 0, 0) != qRgb(255, 255, 255));
    QCOMPARE(pixel(image, 24, 1), qRgb(255, 255, 255));

    // The log pane likewise, on all four corners, the scroll bar's included.
    QPlainTextEdit *log = m_window.widgets.logView;
    const QImage pane = m_window.widgets.window->grab(log->geometry()).toImage();
    const int w = log->width();
    const int h = log->height();
    const QRgb ground = grey(0.91f).rgb();
    QCOMPARE(pixel(pane, w / 2, h - 2), ground);
    QCOMPARE(pixel(pane, w - 2, h / 2), ground);
    for (const QPoint &corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)})
        QCOMPARE(pixel(pane, corner.x(), corner.y()), grey(0.96f).rgb());
}

void WindowLayoutTest::tabOrderFollowsTheLayout()
{
    const InstallerWidgets &w = m_window.widgets;
    // Tab walks the focus chain and stops only at widgets that take tab focus.
    QList<QWidget *> tabStops;
    QWidget *widget = w.devicePopup;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabStops << widget;
        widget = widget->nextInFocusChain();
    } while (widget != w.devicePopup && tabStops.size() < 10);
    const QList<QWidget *> expected{w.devicePopup, w.refreshButton, w.installButton, w.logView};
    QCOMPARE(tabStops, expected);
}

void WindowLayoutTest::buttonFaceAndTextColourReadBack()
{
    const OwnedWindow built = build(m_withoutLogo.path());
    QPushButton *install = built.widgets.installButton;
    setButtonFace(install, brand.green);
    QCOMPARE(buttonFace(install), brand.green);
    QVERIFY(install->styleSheet().contains(brand.green.name()));
    QVERIFY(!install->styleSheet().contains(brand.blue.name()));

    // The face shows on screen; disabled, it keeps its hue but fades.
    install->setEnabled(true);
    QImage image = install->grab().toImage();
    QCOMPARE(image.pixelColor(4, image.height() / 2).rgb(), brand.green.rgb());
    install->setEnabled(false);
    image = install->grab().toImage();
    const QColor faded = image.pixelColor(4, image.height() / 2);
    QVERIFY(faded.rgb() != brand.green.rgb());
    QVERIFY2(qAbs(faded.hslHue() - brand.green.hslHue()) <= 12, qPrintable(faded.name()));

    QLabel *value = built.widgets.infoLabels.value(QStringLiteral("installed"));
    setTextColour(value, brand.green);
    QCOMPARE(textColour(value), brand.green);
}

void WindowLayoutTest::progressRunningIsVisibility()
{
    const OwnedWindow built = build(m_withoutLogo.path());
    QProgressBar *progress = built.widgets.progress;
    built.widgets.window->show();
    QVERIFY(!progress->isVisible());

    setProgressRunning(progress, true);
    QVERIFY(isProgressRunning(progress));
    QVERIFY(progress->isVisible());

    setProgressRunning(progress, false);
    QVERIFY(!isProgressRunning(progress));
    QVERIFY(!progress->isVisible());
}

void WindowLayoutTest::replaceLogTextScrollsToEnd()
{
    const OwnedWindow built = build(m_withoutLogo.path());
    QPlainTextEdit *log = built.widgets.logView;
    built.widgets.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(built.widgets.window));

    QStringList lines;
    for (int i = 1; i <= 60; ++i)
        lines << QStringLiteral("строка %1").arg(i);
    const QString longText = lines.join(QLatin1Char('\n'));
    replaceLogText(log, longText);
    QCOMPARE(log->toPlainText(), longText);
    QScrollBar *bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // A short message replaces everything that was there.
    replaceLogText(log, QStringLiteral("Готово"));
    QCOMPARE(log->toPlainText(), QStringLiteral("Готово"));
}

QTEST_MAIN(WindowLayoutTest)
#include "tst_windowlayout.moc"
