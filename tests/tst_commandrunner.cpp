#include "commandrunner.h"
#include "fakeadb.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <thread>
#include <vector>

using adb::CommandResult;

class TestCommandRunner : public QObject
{
    Q_OBJECT

private slots:
    void returnsStatusAndMergedOutputInOrder();
    void argumentsArriveWhole_data();
    void argumentsArriveWhole();
    void startFailures_data();
    void startFailures();
    void strictUtf8_data();
    void strictUtf8();
    void largeOutputArrivesWhole();
    void crashedChildIsAFailure();
    void concurrentCalls();
    void shellTrims_data();
    void shellTrims();
    void shellPassesWordsSeparately();
};

void TestCommandRunner::returnsStatusAndMergedOutputInOrder()
{
    FakeAdb adb;
    // Each write is flushed by its own process, so the order of the pipe is the order written.
    adb.replyWithScript({QStringLiteral("mix")},
                        QStringLiteral("echo out1; echo err1 >&2; echo out2; echo err2 >&2; exit 3"));
    const CommandResult result = adb::run(adb.resourceDir(), {QStringLiteral("mix")});
    QCOMPARE(result.status, 3);
    QCOMPARE(result.output, QStringLiteral("out1\nerr1\nout2\nerr2\n"));
}

void TestCommandRunner::argumentsArriveWhole_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("none") << QStringList{};
    QTest::newRow("blanks and quotes") << QStringList{QStringLiteral("a b"), QStringLiteral("'q'"), QStringLiteral("\"d\"")};
    QTest::newRow("shell metacharacters") << QStringList{QStringLiteral("x; rm -rf /tmp/nothing"), QStringLiteral("$(id)"), QStringLiteral("`id`|&")};
    QTest::newRow("empty argument") << QStringList{QString(), QStringLiteral("after-empty")};
    QTest::newRow("cyrillic") << QStringList{QStringLiteral("Привет"), QStringLiteral("—")};
}

void TestCommandRunner::argumentsArriveWhole()
{
    QFETCH(QStringList, arguments);
    FakeAdb adb;
    (void)adb::run(adb.resourceDir(), arguments);
    QCOMPARE(adb.calls(), QList<QStringList>{arguments});
}

void TestCommandRunner::startFailures_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("missing") << QStringLiteral("missing");
    QTest::newRow("not executable") << QStringLiteral("not executable");
    QTest::newRow("a directory") << QStringLiteral("directory");
}

void TestCommandRunner::startFailures()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("adb"));
    if (what == QLatin1String("not executable")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho should-not-run\n");
        file.close();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    } else if (what == QLatin1String("directory")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("adb")));
    }
    const CommandResult result = adb::run(dir.path(), {QStringLiteral("devices")});
    QCOMPARE(result.status, -1);
    QVERIFY2(!result.output.isEmpty(), "the platform's description of the failure");
    QVERIFY(!result.output.contains(QStringLiteral("should-not-run")));
    // shell hands the description on, trimmed.
    const QString shellText = adb::shell(dir.path(), QStringLiteral("S"), {QStringLiteral("true")});
    QCOMPARE(shellText, result.output.trimmed());
}

void TestCommandRunner::strictUtf8_data()
{
    QTest::addColumn<QByteArray>("printfFormat");   // octal escapes for printf(1)
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii") << QByteArray("abc\\n") << QStringLiteral("abc\n");
    QTest::newRow("cyrillic") << QByteArray("\\320\\224\\320\\260") << QStringLiteral("Да");
    QTest::newRow("em dash") << QByteArray("\\342\\200\\224") << QStringLiteral("—");
    QTest::newRow("leading byte-order mark kept") << QByteArray("\\357\\273\\277x") << QStringLiteral("\uFEFFx");
    QTest::newRow("invalid byte") << QByteArray("ok\\377ok") << QString();
    QTest::newRow("cut-off sequence at the end") << QByteArray("ab\\342\\200") << QString();
    QTest::newRow("overlong encoding") << QByteArray("\\300\\257") << QString();
    QTest::newRow("lone surrogate") << QByteArray("\\355\\240\\200") << QString();
}

void TestCommandRunner::strictUtf8()
{
    QFETCH(QByteArray, printfFormat);
    QFETCH(QString, expected);
    FakeAdb adb;
    adb.replyWithScript({QStringLiteral("x")}, QStringLiteral("printf '%1'; exit 7").arg(QString::fromLatin1(printfFormat)));
    const CommandResult result = adb::run(adb.resourceDir(), {QStringLiteral("x")});
    QCOMPARE(result.status, 7);
    QCOMPARE(result.output, expected);
}

void TestCommandRunner::largeOutputArrivesWhole()
{
    FakeAdb adb;
    // 10 MiB of lines, far beyond what a pipe holds: the child only ends if we keep reading.
    adb.replyWithScript({QStringLiteral("big")},
                        QStringLiteral("head -c 10485760 /dev/zero | tr '\\000' 'y'; echo END"));
    const CommandResult result = adb::run(adb.resourceDir(), {QStringLiteral("big")});
    QCOMPARE(result.status, 0);
    QCOMPARE(result.output.size(), qsizetype(10485760 + 4));
    QVERIFY(result.output.endsWith(QStringLiteral("yyyEND\n")));
    QCOMPARE(result.output.count(QLatin1Char('y')), qsizetype(10485760));
}

void TestCommandRunner::crashedChildIsAFailure()
{
    FakeAdb adb;
    adb.replyWithScript({QStringLiteral("install")}, QStringLiteral("echo partial; kill -9 $$"));
    const CommandResult result = adb::run(adb.resourceDir(), {QStringLiteral("install")});
    QVERIFY2(result.status != 0, "a child killed by a signal must never read as success");
    QCOMPARE(result.output, QStringLiteral("partial\n"));
}

void TestCommandRunner::concurrentCalls()
{
    FakeAdb adb;
    adb.setFallbackScript(QStringLiteral("printf '%s' \"$1\"; exit $2"));
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 5;
    std::vector<std::thread> threads;
    std::vector<int> mismatches(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                const QString tag = QStringLiteral("thread%1-call%2").arg(t).arg(i);
                const CommandResult result = adb::run(adb.resourceDir(), {tag, QString::number(t)});
                if (result.output != tag || result.status != t)
                    ++mismatches[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        QCOMPARE(mismatches[t], 0);
    QCOMPARE(adb.calls().size(), qsizetype(kThreads * kCallsEach));
}

void TestCommandRunner::shellTrims_data()
{
    QTest::addColumn<QByteArray>("printfFormat");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing") << QByteArray("") << QString();
    QTest::newRow("trailing line feeds") << QByteArray("value\\n\\n") << QStringLiteral("value");
    QTest::newRow("leading blanks and CR LF") << QByteArray("  \\r\\nvalue\\r\\n") << QStringLiteral("value");
    QTest::newRow("inner lines stay") << QByteArray("a\\nb\\n") << QStringLiteral("a\nb");
    QTest::newRow("no-break space and NEL") << QByteArray("\\302\\240v\\302\\205") << QStringLiteral("v");
    QTest::newRow("line separator") << QByteArray("\\342\\200\\250v") << QStringLiteral("v");
    QTest::newRow("em dash is not blank") << QByteArray("\\342\\200\\224 ") << QStringLiteral("—");
}

void TestCommandRunner::shellTrims()
{
    QFETCH(QByteArray, printfFormat);
    QFETCH(QString, expected);
    FakeAdb adb;
    adb.setFallbackScript(QStringLiteral("printf '%1'").arg(QString::fromLatin1(printfFormat)));
    QCOMPARE(adb::shell(adb.resourceDir(), QStringLiteral("S"), {QStringLiteral("x")}), expected);
}

void TestCommandRunner::shellPassesWordsSeparately()
{
    FakeAdb adb;
    const QString serial = QStringLiteral("odd serial; 'quoted'");
    const QStringList words{QStringLiteral("getprop"), QStringLiteral("a b"), QStringLiteral("x;y"), QStringLiteral("\"z\"")};
    adb.setFallbackScript(QStringLiteral("echo failed >&2; exit 1"));
    QCOMPARE(adb::shell(adb.resourceDir(), serial, words), QStringLiteral("failed"));
    QCOMPARE(adb.calls(), (QList<QStringList>{QStringList{QStringLiteral("-s"), serial, QStringLiteral("shell")} + words}));
}

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_commandrunner.moc"
