#pragma once

#include <QColor>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

// The three brand colours the window is painted with.
struct WindowColours
{
    QColor navy;
    QColor blue;
    QColor green;
};

// The widgets that change after the window is built. Every one of them is a descendant
// of `window`; the caller owns `window` and with it everything else.
struct InstallerWidgets
{
    QWidget *window = nullptr;
    QComboBox *devicePopup = nullptr;
    QPushButton *refreshButton = nullptr;
    QPushButton *wifiButton = nullptr;      // "Подключить по Wi-Fi…", in the side panel
    QLabel *statusBadge = nullptr;
    QMap<QString, QLabel *> infoLabels;     // "model", "android", "build", "screen", "installed"
    QPushButton *installButton = nullptr;
    QProgressBar *progress = nullptr;
    QPlainTextEdit *logView = nullptr;
    QList<QLabel *> stepLabels;             // one per step title, top to bottom
};

// Builds the fixed 980x650 installer window with every widget in its initial state, and makes
// its 13 px UI font the application's, for alerts and dialogs. The window is not shown. The
// logo comes from logo.png in `resourceDir`; without a readable logo there is no logo widget.
[[nodiscard]] InstallerWidgets buildInstallerWindow(const QString &resourceDir,
                                                    const QStringList &stepTitles,
                                                    const WindowColours &colours);

// The PNG at `path`, or a null image when there is none or it can't be read. The format is
// named rather than guessed: guessing loads every image plug-in Qt has, which cost the
// launch more than the decoding.
[[nodiscard]] QImage readPng(const QString &path);

// The few ways the rest of the program changes how a widget looks.
void setTextColour(QLabel *label, const QColor &colour);
[[nodiscard]] QColor textColour(const QLabel *label);
void setButtonFace(QPushButton *button, const QColor &colour);
[[nodiscard]] QColor buttonFace(const QPushButton *button);
// A stopped progress bar is hidden; a running one animates.
void setProgressRunning(QProgressBar *progress, bool running);
[[nodiscard]] bool isProgressRunning(const QProgressBar *progress);
// Replaces the whole log text, shown from its first line, or from its end with `followEnd`.
void replaceLogText(QPlainTextEdit *logView, const QString &text, bool followEnd = false);
