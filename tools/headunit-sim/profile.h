#pragma once

// What the simulated head unit is: its identity, screen, the state of the one app the
// installer cares about, and the failures and delays a test wants to provoke.
// The defaults are a Li Auto unit on Android 11. Keys are listed in README.md.

#include <QByteArray>
#include <QMap>
#include <QString>

struct Profile {
    QString manufacturer = QStringLiteral("LI_AUTO");
    QString model = QStringLiteral("Li Auto HU 8155");
    QString productName = QStringLiteral("lixiang_hu");
    QString deviceName = QStringLiteral("hu8155");
    QString release = QStringLiteral("11");
    QString sdk = QStringLiteral("30");
    QString buildId = QStringLiteral("LI_HU_V5.2.1_20240315_user");
    QString serialNo = QStringLiteral("LIHU8155A0001");
    QString packageName = QStringLiteral("ru.zorvik.store");
    QString size = QStringLiteral("1920x720");
    QString sizeOverride;        // empty: no "Override size:" line
    int density = 160;
    int densityOverride = 0;     // 0: no "Override density:" line
    bool installed = false;      // packageName present at start
    QString installFailure;      // non-empty: installs answer "Failure [<text>]"
    bool appopsFailure = false;  // appops set fails with an error on stderr
    int delayMs = 0;             // wait before every service answer
    int installDelayMs = 0;      // and this much more before an install's answer
    bool unauthorized = false;   // ask for authorization: AUTH tokens until "Allow"
    bool legacy = false;         // Android 6 and older: no shell_v2, no cmd (push install)
    QMap<QString, QString> extraProperties; // added to, or replacing, the built-in ones

    // Every system property getprop knows, the profile's values included.
    [[nodiscard]] QMap<QString, QString> properties() const;
    // The CNXN banner: device::ro.product.name=..;ro.product.model=..;ro.product.device=..;features=..
    [[nodiscard]] QByteArray banner() const;
};

struct ProfileLoad {
    Profile profile;
    QString error; // empty on success
};

// Reads a JSON object; missing keys keep their defaults, unknown keys are an error so
// that a misspelt key in a test cannot pass silently.
[[nodiscard]] ProfileLoad loadProfile(const QByteArray &json);
