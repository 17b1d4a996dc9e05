// The pure parts of headunit-sim: framing, shell-v2 framing, word splitting, service
// strings, profiles and the command answers. No adb, no sockets.

#include "adbpacket.h"
#include "devicecommands.h"
#include "profile.h"
#include "servicerequest.h"
#include "shellv2.h"
#include "shellwords.h"
#include "syncservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QtEndian>

using Kind = ServiceRequest::Kind;

class TestHeadunitCore : public QObject
{
    Q_OBJECT

private slots:
    void splitShellWords_data();
    void splitShellWords();
    void serviceRequest_data();
    void serviceRequest();
    void deviceCommand_data();
    void deviceCommand();
    void syncSession_data();
    void syncSession();
    void packetRoundTrip();
    void packetsSplitAcrossReads();
    void badMagicIsCorrupt();
    void oversizedPayloadIsCorrupt();
    void shellV2ReplyBytes();
    void profileDefaults();
    void profileRejects_data();
    void profileRejects();
    void profileAcceptsNumbersForText();
};

void TestHeadunitCore::splitShellWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<bool>("ok");

    QTest::newRow("plain") << "getprop ro.product.model"
                           << QStringList{"getprop", "ro.product.model"} << true;
    QTest::newRow("blanks and tabs") << "  wm \t size  " << QStringList{"wm", "size"} << true;
    QTest::newRow("empty") << "" << QStringList{} << true;
    QTest::newRow("adb install quoting") << "cmd package 'install' '-r' -S 42"
                                         << QStringList{"cmd", "package", "install", "-r", "-S", "42"}
                                         << true;
    QTest::newRow("single quotes keep blanks") << "echo 'a b'" << QStringList{"echo", "a b"} << true;
    QTest::newRow("double quotes with escapes") << R"(echo "a \"b\" \\ \x")"
                                                << QStringList{"echo", R"(a "b" \ \x)"} << true;
    QTest::newRow("backslash blank") << R"(a\ b c)" << QStringList{"a b", "c"} << true;
    QTest::newRow("empty quoted word") << "a '' b" << QStringList{"a", "", "b"} << true;
    QTest::newRow("quotes glue to word") << "pre'mid'\"post\"" << QStringList{"premidpost"} << true;
    QTest::newRow("unterminated single") << "echo 'a" << QStringList{} << false;
    QTest::newRow("unterminated double") << "echo \"a" << QStringList{} << false;
    QTest::newRow("trailing backslash") << "echo a\\" << QStringList{} << false;
}

void TestHeadunitCore::splitShellWords()
{
    QFETCH(QString, line);
    QFETCH(QStringList, words);
    QFETCH(bool, ok);

    const ShellWords split = ::splitShellWords(line);
    QCOMPARE(split.ok, ok);
    if (ok)
        QCOMPARE(split.words, words);
}

void TestHeadunitCore::serviceRequest_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<bool>("pty");
    QTest::addColumn<qint64>("installSize");

    QTest::newRow("shell v2 with TERM")
        << QByteArray("shell,v2,TERM=xterm,raw:getprop ro.product.model") + '\0' << Kind::ShellV2
        << "getprop ro.product.model" << QStringList{"getprop", "ro.product.model"} << false
        << qint64(-1);
    QTest::newRow("shell v2 without TERM")
        << QByteArray("shell,v2,raw:wm size") << Kind::ShellV2 << "wm size"
        << QStringList{"wm", "size"} << false << qint64(-1);
    QTest::newRow("shell v2 pty")
        << QByteArray("shell,v2,TERM=xterm,pty:getprop X") << Kind::ShellV2 << "getprop X"
        << QStringList{"getprop", "X"} << true << qint64(-1);
    QTest::newRow("unknown options ignored")
        << QByteArray("shell,v2,raw,future=1:getprop") << Kind::ShellV2 << "getprop"
        << QStringList{"getprop"} << false << qint64(-1);
    QTest::newRow("raw shell") << QByteArray("shell:getprop") << Kind::RawShell << "getprop"
                               << QStringList{"getprop"} << false << qint64(-1);
    QTest::newRow("streamed install")
        << QByteArray("exec:cmd package 'install' '-r' -S 3145728") << Kind::Install
        << "cmd package install -r -S 3145728"
        << QStringList{"cmd", "package", "install", "-r", "-S", "3145728"} << false
        << qint64(3145728);
    QTest::newRow("install without quotes")
        << QByteArray("exec:cmd package install -S 7 -r") << Kind::Install
        << "cmd package install -S 7 -r" << QStringList{"cmd", "package", "install", "-S", "7", "-r"}
        << false << qint64(7);
    QTest::newRow("pm install") << QByteArray("exec:pm install -r -S 5") << Kind::Install
                                << "pm install -r -S 5"
                                << QStringList{"pm", "install", "-r", "-S", "5"} << false
                                << qint64(5);
    QTest::newRow("install missing size")
        << QByteArray("exec:cmd package 'install' '-r'") << Kind::Install
        << "cmd package install -r" << QStringList{"cmd", "package", "install", "-r"} << false
        << qint64(-1);
    QTest::newRow("abb_exec install")
        << QByteArray("abb_exec:package\0install\0-r\0-S\0" "12\0\0", 34) << Kind::Install
        << "cmd package install -r -S 12"
        << QStringList{"cmd", "package", "install", "-r", "-S", "12"} << false << qint64(12);
    QTest::newRow("exec other command") << QByteArray("exec:getprop") << Kind::RawShell
                                        << "getprop" << QStringList{"getprop"} << false
                                        << qint64(-1);
    QTest::newRow("sync") << QByteArray("sync:") << Kind::Sync << ""
                                  << QStringList{} << false << qint64(-1);
    QTest::newRow("garbage refused") << QByteArray("\xff\x01zz") << Kind::Unsupported << ""
                                     << QStringList{} << false << qint64(-1);
}

void TestHeadunitCore::serviceRequest()
{
    QFETCH(QByteArray, payload);
    QFETCH(Kind, kind);
    QFETCH(QString, command);
    QFETCH(QStringList, argv);
    QFETCH(bool, pty);
    QFETCH(qint64, installSize);

    const ServiceRequest request = parseServiceRequest(payload);
    QCOMPARE(request.kind, kind);
    QCOMPARE(request.command, command);
    QCOMPARE(request.argv, argv);
    QCOMPARE(request.pty, pty);
    QCOMPARE(request.installSize, installSize);
}

void TestHeadunitCore::deviceCommand_data()
{
    QTest::addColumn<QByteArray>("profileJson");
    QTest::addColumn<QStringList>("argv");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<QByteArray>("out");
    QTest::addColumn<QByteArray>("err");
    QTest::addColumn<int>("exitCode");

    const QByteArray defaults = "{}";
    const QString pkg = QStringLiteral("ru.zorvik.store");
    const QByteArray notFoundFoo = "/system/bin/sh: foo: inaccessible or not found\n";

    QTest::newRow("getprop manufacturer") << defaults << QStringList{"getprop", "ro.product.manufacturer"}
                                          << false << QByteArray("LI_AUTO\n") << QByteArray() << 0;
    QTest::newRow("getprop sdk") << defaults << QStringList{"getprop", "ro.build.version.sdk"} << false
                                 << QByteArray("30\n") << QByteArray() << 0;
    QTest::newRow("getprop unknown") << defaults << QStringList{"getprop", "no.such.prop"} << false
                                     << QByteArray("\n") << QByteArray() << 0;
    QTest::newRow("getprop default") << defaults << QStringList{"getprop", "no.such", "dflt"} << false
                                     << QByteArray("dflt\n") << QByteArray() << 0;
    QTest::newRow("getprop extra property")
        << QByteArray(R"({"properties":{"a.b":"c"}})") << QStringList{"getprop", "a.b"} << false
        << QByteArray("c\n") << QByteArray() << 0;
    QTest::newRow("getprop listing")
        << QByteArray(R"({"properties":{"aaa":"1"}})") << QStringList{"getprop"} << false
        << QByteArray("[aaa]: [1]\n") << QByteArray() << 0; // only the first line is compared
    QTest::newRow("wm size") << defaults << QStringList{"wm", "size"} << false
                             << QByteArray("Physical size: 1920x720\n") << QByteArray() << 0;
    QTest::newRow("wm size override")
        << QByteArray(R"({"sizeOverride":"1280x480"})") << QStringList{"wm", "size"} << false
        << QByteArray("Physical size: 1920x720\nOverride size: 1280x480\n") << QByteArray() << 0;
    QTest::newRow("wm density") << defaults << QStringList{"wm", "density"} << false
                                << QByteArray("Physical density: 160\n") << QByteArray() << 0;
    QTest::newRow("wm density override")
        << QByteArray(R"({"densityOverride":120})") << QStringList{"wm", "density"} << false
        << QByteArray("Physical density: 160\nOverride density: 120\n") << QByteArray() << 0;
    QTest::newRow("pm path installed") << defaults << QStringList{"pm", "path", pkg} << true
                                       << QByteArray("package:/data/app/ru.zorvik.store-1/base.apk\n")
                                       << QByteArray() << 0;
    QTest::newRow("pm path absent") << defaults << QStringList{"pm", "path", pkg} << false
                                    << QByteArray() << QByteArray() << 1;
    QTest::newRow("pm path other package") << defaults << QStringList{"pm", "path", "x.y"} << true
                                           << QByteArray() << QByteArray() << 1;
    QTest::newRow("appops allowed")
        << defaults << QStringList{"appops", "set", pkg, "REQUEST_INSTALL_PACKAGES", "allow"} << true
        << QByteArray() << QByteArray() << 0;
    QTest::newRow("appops failure")
        << QByteArray(R"({"appopsFailure":true})")
        << QStringList{"appops", "set", pkg, "REQUEST_INSTALL_PACKAGES", "allow"} << true
        << QByteArray()
        << QByteArray("Error: java.lang.SecurityException: uid 2000 does not have "
                      "android.permission.MANAGE_APP_OPS_MODES.\n")
        << 255;
    QTest::newRow("appops on Android 6")
        << QByteArray(R"({"appopsFailure":true,"legacy":true})")
        << QStringList{"appops", "set", pkg, "REQUEST_INSTALL_PACKAGES", "allow"} << true
        << QByteArray() << QByteArray("Error: Unknown operation string: REQUEST_INSTALL_PACKAGES\n")
        << 255;
    QTest::newRow("monkey not installed")
        << defaults << QStringList{"monkey", "-p", pkg, "-c", "android.intent.category.LAUNCHER", "1"}
        << false
        << QByteArray("  bash arg: -p\n  bash arg: ru.zorvik.store\n  bash arg: -c\n"
                      "  bash arg: android.intent.category.LAUNCHER\n  bash arg: 1\n")
        << QByteArray("** No activities found to run, monkey aborted.\n") << 251;
    QTest::newRow("unknown program") << defaults << QStringList{"foo", "bar"} << false << QByteArray()
                                     << notFoundFoo << 127;
    QTest::newRow("unsupported wm sub-command")
        << defaults << QStringList{"wm", "overscan"} << false << QByteArray()
        << QByteArray("/system/bin/sh: wm: inaccessible or not found\n") << 127;
    QTest::newRow("empty command") << defaults << QStringList{} << false << QByteArray()
                                   << QByteArray() << 0;
}

void TestHeadunitCore::deviceCommand()
{
    QFETCH(QByteArray, profileJson);
    QFETCH(QStringList, argv);
    QFETCH(bool, installed);
    QFETCH(QByteArray, out);
    QFETCH(QByteArray, err);
    QFETCH(int, exitCode);

    const ProfileLoad load = loadProfile(profileJson);
    QVERIFY2(load.error.isEmpty(), qPrintable(load.error));
    const CommandResult result = runDeviceCommand(argv, load.profile, installed);
    if (QByteArray(QTest::currentDataTag()) == "getprop listing")
        QCOMPARE(result.out.left(out.size()), out);
    else
        QCOMPARE(result.out, out);
    QCOMPARE(result.err, err);
    QCOMPARE(result.exitCode, exitCode);
}

namespace {

QByteArray u32(quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 4);
}

QByteArray u64(quint64 value)
{
    char bytes[8];
    qToLittleEndian(value, bytes);
    return QByteArray(bytes, 8);
}

// One sync request or reply: id, u32 LE length, then the data.
QByteArray syncRequest(const char *id, const QByteArray &data)
{
    return QByteArray(id, 4) + u32(quint32(data.size())) + data;
}

} // namespace

void TestHeadunitCore::syncSession_data()
{
    QTest::addColumn<QByteArray>("host");    // everything the host sends
    QTest::addColumn<int>("piece");          // fed in pieces of this many bytes
    QTest::addColumn<QByteArray>("replies"); // everything the unit answers
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<bool>("over");
    QTest::addColumn<QByteArray>("kept");    // the pushed file's bytes afterwards

    const QByteArray path = "/data/local/tmp/a.apk";
    const quint32 mtime = 1700000000;
    const QByteArray push = syncRequest("SEND", path + ",33188") + syncRequest("DATA", "abc")
                            + syncRequest("DATA", "de") + "DONE" + u32(mtime);
    const QByteArray okay = "OKAY" + u32(0);
    // error, dev, ino, mode, nlink, uid, gid, size, atime, mtime, ctime
    const QByteArray sta2Absent = "STA2" + u32(2) + u64(0) + u64(0) + u32(0) + u32(0) + u32(0)
                                  + u32(0) + u64(0) + u64(0) + u64(0) + u64(0);
    const QByteArray sta2Pushed = "STA2" + u32(0) + u64(0xfd00) + u64(4242) + u32(0100644) + u32(1)
                                  + u32(2000) + u32(2000) + u64(5) + u64(mtime) + u64(mtime)
                                  + u64(mtime);
    const QByteArray unsupported = syncRequest("FAIL", "unsupported sync request");

    // adb 29 asks with STAT or STA2 as the banner allows; the push road through the real adb
    // covers STAT, these rows the rest.
    QTest::newRow("stat v2 of a missing file is ENOENT")
        << syncRequest("STA2", path) << 1000 << sta2Absent << QStringList{"absent"} << false
        << QByteArray();
    QTest::newRow("push, then stat v1 and v2, a byte at a time")
        << push + syncRequest("STAT", path) + syncRequest("STA2", path) + syncRequest("QUIT", {}) << 1
        << okay + "STAT" + u32(0100644) + u32(5) + u32(mtime) + sta2Pushed
        << QStringList{"pushed", "present", "present"} << true << QByteArray("abcde");
    QTest::newRow("push of an empty file")
        << syncRequest("SEND", path + ",33188") + "DONE" + u32(mtime) << 1000 << okay
        << QStringList{"pushed"} << false << QByteArray("");
    QTest::newRow("DATA without SEND") << syncRequest("DATA", "abc") + syncRequest("STAT", path)
                                       << 1000 << unsupported
                                       << QStringList{"failed: unsupported sync request"} << true
                                       << QByteArray();
    QTest::newRow("oversized DATA")
        << syncRequest("SEND", path + ",33188") + "DATA" + u32(64 * 1024 + 1) << 1000
        << syncRequest("FAIL", "oversize data message")
        << QStringList{"failed: oversize data message"} << true << QByteArray();
    QTest::newRow("unsupported request") << syncRequest("RECV", path) << 1000 << unsupported
                                         << QStringList{"failed: unsupported sync request"} << true
                                         << QByteArray();
    QTest::newRow("nothing after QUIT") << syncRequest("QUIT", {}) + syncRequest("STAT", path) << 1000
                                        << QByteArray() << QStringList{} << true << QByteArray();
}

void TestHeadunitCore::syncSession()
{
    QFETCH(QByteArray, host);
    QFETCH(int, piece);
    QFETCH(QByteArray, replies);
    QFETCH(QStringList, outcomes);
    QFETCH(bool, over);
    QFETCH(QByteArray, kept);

    QMap<QString, PushedFile> files;
    SyncSession session(files);
    QByteArray answered;
    QStringList seen;
    for (qsizetype at = 0; at < host.size(); at += piece) {
        const QList<SyncAnswer> answers = session.feed(host.mid(at, piece));
        for (const SyncAnswer &answer : answers) {
            answered += answer.reply;
            seen << answer.outcome;
        }
    }
    QCOMPARE(seen, outcomes);
    QCOMPARE(answered, replies);
    QCOMPARE(session.isOver(), over);
    QCOMPARE(files.value(QStringLiteral("/data/local/tmp/a.apk")).bytes, kept);
}

void TestHeadunitCore::packetRoundTrip()
{
    const adbwire::Packet sent{adbwire::Wrte, 7, 3, QByteArray("hello\0world", 11)};
    const QByteArray bytes = adbwire::encodePacket(sent);
    QCOMPARE(bytes.size(), 24 + 11);
    QCOMPARE(bytes.left(4), QByteArray("WRTE"));

    adbwire::PacketReader reader;
    reader.feed(bytes);
    const std::optional<adbwire::Packet> got = reader.next();
    QVERIFY(got.has_value());
    QCOMPARE(got->command, sent.command);
    QCOMPARE(got->arg0, sent.arg0);
    QCOMPARE(got->arg1, sent.arg1);
    QCOMPARE(got->payload, sent.payload);
    QVERIFY(!reader.next().has_value());
    QVERIFY(!reader.isCorrupt());
}

void TestHeadunitCore::packetsSplitAcrossReads()
{
    const QByteArray bytes = adbwire::encodePacket({adbwire::Open, 10, 0, "shell:getprop"})
                             + adbwire::encodePacket({adbwire::Okay, 1, 10, {}});
    adbwire::PacketReader reader;
    QList<adbwire::Packet> got;
    for (const char byte : bytes) {
        reader.feed(QByteArray(1, byte));
        while (const std::optional<adbwire::Packet> packet = reader.next())
            got << *packet;
    }
    QCOMPARE(got.size(), 2);
    QCOMPARE(got.at(0).payload, QByteArray("shell:getprop"));
    QCOMPARE(got.at(1).command, quint32(adbwire::Okay));
}

void TestHeadunitCore::badMagicIsCorrupt()
{
    QByteArray bytes = adbwire::encodePacket({adbwire::Cnxn, adbwire::kVersion, 4096, "host::"});
    bytes[20] = 0;
    adbwire::PacketReader reader;
    reader.feed(bytes);
    QVERIFY(!reader.next().has_value());
    QVERIFY(reader.isCorrupt());
}

void TestHeadunitCore::oversizedPayloadIsCorrupt()
{
    QByteArray bytes = adbwire::encodePacket({adbwire::Wrte, 1, 1, {}});
    bytes[12] = 0;
    bytes[13] = 0;
    bytes[14] = 0x20; // 2 MiB
    adbwire::PacketReader reader;
    reader.feed(bytes);
    QVERIFY(!reader.next().has_value());
    QVERIFY(reader.isCorrupt());
}

void TestHeadunitCore::shellV2ReplyBytes()
{
    QCOMPARE(shellv2::encodeCommandReply("ok\n", "", 0),
             QByteArray("\x01\x03\x00\x00\x00ok\n\x03\x01\x00\x00\x00\x00", 14));
    QCOMPARE(shellv2::encodeCommandReply("", "e", 127),
             QByteArray("\x02\x01\x00\x00\x00" "e\x03\x01\x00\x00\x00\x7f", 12));
}

void TestHeadunitCore::profileDefaults()
{
    const ProfileLoad load = loadProfile("{}");
    QVERIFY(load.error.isEmpty());
    const QMap<QString, QString> props = load.profile.properties();
    QCOMPARE(props.value("ro.product.manufacturer"), QString("LI_AUTO"));
    QCOMPARE(props.value("ro.build.version.release"), QString("11"));
    QCOMPARE(props.value("ro.build.version.sdk"), QString("30"));
    for (const char *name : {"ro.product.model", "ro.build.display.id", "ro.serialno",
                             "ro.product.name", "ro.product.device"})
        QVERIFY2(!props.value(name).isEmpty(), name);
    QCOMPARE(load.profile.size, QString("1920x720"));
    QCOMPARE(load.profile.density, 160);
    QCOMPARE(load.profile.banner(),
             QByteArray("device::ro.product.name=lixiang_hu;ro.product.model=Li Auto HU 8155;"
                        "ro.product.device=hu8155;features=cmd,shell_v2"));
}

void TestHeadunitCore::profileRejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("error");

    QTest::newRow("not json") << QByteArray("{") << "profile is not valid JSON";
    QTest::newRow("not an object") << QByteArray("[]") << "profile must be a JSON object";
    QTest::newRow("misspelt key") << QByteArray(R"({"instaled":true})")
                                  << R"(unknown profile key "instaled")";
    QTest::newRow("bool as text") << QByteArray(R"({"installed":"yes"})")
                                  << R"(bad value for profile key "installed")";
    QTest::newRow("negative delay") << QByteArray(R"({"delayMs":-5})")
                                    << R"(bad value for profile key "delayMs")";
}

void TestHeadunitCore::profileRejects()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, error);
    QVERIFY2(loadProfile(json).error.startsWith(error), qPrintable(loadProfile(json).error));
}

void TestHeadunitCore::profileAcceptsNumbersForText()
{
    const ProfileLoad load = loadProfile(R"({"sdk":29,"release":10,"density":"240"})");
    QVERIFY2(load.error.isEmpty(), qPrintable(load.error));
    QCOMPARE(load.profile.sdk, QString("29"));
    QCOMPARE(load.profile.release, QString("10"));
    QCOMPARE(load.profile.density, 240);
}

QTEST_GUILESS_MAIN(TestHeadunitCore)
#include "tst_headunitcore.moc"
