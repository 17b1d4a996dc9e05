// headunit-sim: a simulated Android car head unit that the real adb accepts through
// `adb connect 127.0.0.1:PORT`. See README.md.

#include "deviceserver.h"
#ifdef HEADUNIT_SIM_PAIRING
#include "pairingserver.h"
#endif
#include "profile.h"
#include "servicelog.h"
#include "signalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct Options {
    quint16 port = 0;
    QString portFile;
    QString profileFile;
    QString logFile;
    QByteArray pairCode;  // empty: no pairing screen
    QString pairPortFile;
};

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated Android head unit for adb connect."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("TCP port on 127.0.0.1, 0 lets the kernel choose."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption portFile(QStringLiteral("port-file"),
                                      QStringLiteral("Write the actual port to FILE."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption profile(QStringLiteral("profile"),
                                     QStringLiteral("JSON profile, see README.md."),
                                     QStringLiteral("FILE"));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Append one JSON line per service request."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption pairCode(QStringLiteral("pair-code"),
                                      QStringLiteral("Show the wireless-debugging pairing screen with this code: "
                                                     "a second port that `adb pair` accepts it on."),
                                      QStringLiteral("CODE"));
    const QCommandLineOption pairPortFile(QStringLiteral("pair-port-file"),
                                          QStringLiteral("Write the pairing port to FILE."), QStringLiteral("FILE"));
    parser.addOptions({port, portFile, profile, log, pairCode, pairPortFile});
    parser.process(app);

    Options options;
    bool ok = false;
    const uint value = parser.value(port).toUInt(&ok);
    if (!ok || value > 65535) {
        std::fprintf(stderr, "headunit-sim: bad --port value\n");
        std::exit(2);
    }
    options.port = static_cast<quint16>(value);
    options.portFile = parser.value(portFile);
    options.profileFile = parser.value(profile);
    options.logFile = parser.value(log);
    options.pairCode = parser.value(pairCode).toUtf8();
    options.pairPortFile = parser.value(pairPortFile);
    if (parser.isSet(pairCode) && options.pairCode.isEmpty()) {
        std::fprintf(stderr, "headunit-sim: empty --pair-code\n");
        std::exit(2);
    }
    if (parser.isSet(pairPortFile) && !parser.isSet(pairCode)) {
        std::fprintf(stderr, "headunit-sim: --pair-port-file needs --pair-code\n");
        std::exit(2);
    }
#ifndef HEADUNIT_SIM_PAIRING
    if (parser.isSet(pairCode)) {
        std::fprintf(stderr, "headunit-sim: built without BoringSSL (android-libboringssl-dev), so it cannot pair\n");
        std::exit(2);
    }
#endif
    return options;
}

Profile readProfileOrExit(const QString &path)
{
    if (path.isEmpty())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "headunit-sim: cannot read profile %s\n", qPrintable(path));
        std::exit(2);
    }
    const ProfileLoad load = loadProfile(file.readAll());
    if (!load.error.isEmpty()) {
        std::fprintf(stderr, "headunit-sim: %s\n", qPrintable(load.error));
        std::exit(2);
    }
    return load.profile;
}

// QSaveFile writes a temporary file and renames it, so a reader never sees half a number.
bool writePortFile(const QString &path, quint16 port)
{
    if (path.isEmpty())
        return true;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(QByteArray::number(port) + '\n');
    return file.commit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("headunit-sim"));
    const Options options = parseOptions(app);
    const Profile profile = readProfileOrExit(options.profileFile);

    ServiceLog log;
    QString error;
    if (!log.open(options.logFile, &error)) {
        std::fprintf(stderr, "headunit-sim: %s\n", qPrintable(error));
        return 2;
    }

    SignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app, &QCoreApplication::quit);

    DeviceServer server(profile, &log);
    QObject::connect(&signalWatcher, &SignalWatcher::allowRequested, &server, &DeviceServer::allowDebugging);
    if (!server.listen(options.port, &error)) {
        std::fprintf(stderr, "headunit-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (!writePortFile(options.portFile, server.port())) {
        std::fprintf(stderr, "headunit-sim: cannot write %s\n", qPrintable(options.portFile));
        return 1;
    }
#ifdef HEADUNIT_SIM_PAIRING
    // Declared after the server, so it ends first: its thread hands keys to the server.
    std::unique_ptr<PairingServer> pairing;
    if (!options.pairCode.isEmpty()) {
        const QByteArray guid = "adb-" + profile.serialNo.toUtf8() + "-sim";
        pairing = std::make_unique<PairingServer>(options.pairCode, guid, [&server](const QByteArray &key) {
            QMetaObject::invokeMethod(&server, [&server, key] { server.pairHost(key); }, Qt::QueuedConnection);
        });
        server.setSignatureCheck(&PairingServer::signedBy);
        if (!pairing->listen(&error)) {
            std::fprintf(stderr, "headunit-sim: %s\n", qPrintable(error));
            return 1;
        }
        if (!writePortFile(options.pairPortFile, pairing->port())) {
            std::fprintf(stderr, "headunit-sim: cannot write %s\n", qPrintable(options.pairPortFile));
            return 1;
        }
    }
#endif
    // Harnesses read the PORT line first; both lines go out in one write.
    QByteArray ports = "PORT " + QByteArray::number(server.port()) + '\n';
#ifdef HEADUNIT_SIM_PAIRING
    if (pairing)
        ports += "PAIR PORT " + QByteArray::number(pairing->port()) + '\n';
#endif
    std::fputs(ports.constData(), stdout);
    std::fflush(stdout);

    return app.exec();
}
