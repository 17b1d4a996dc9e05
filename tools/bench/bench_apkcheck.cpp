// APK check throughput: install::fileSha256 (what the installer runs before every
// install) against `openssl dgst -sha256` on the same 256 MiB file, page cache warm.
//
//   bench_apkcheck [runs] [directory]      (default 7 runs, the system temp directory)

#include "apkcheck.h"
#include "benchsupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(3, atoi(argv[1])) : 7;
    QTemporaryDir dir(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/bench-XXXXXX") : QString());
    const qint64 size = qint64(256) << 20;
    const QString path = dir.filePath(QStringLiteral("ZorvikStore.apk"));
    if (!dir.isValid() || !bench::writeRandomFile(path, size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    bench::warmPageCache(path);

    QList<double> ours, tool;
    QString ourDigest, toolDigest;
    for (int i = 0; i < runs; ++i) {
        std::int64_t start = bench::monotonicNs();
        ourDigest = install::fileSha256(path).value_or(QString());
        ours << double(size) / (1 << 20) / (double(bench::monotonicNs() - start) / 1e9);

        QProcess openssl;
        start = bench::monotonicNs();
        openssl.start(QStringLiteral("openssl"), {QStringLiteral("dgst"), QStringLiteral("-sha256"), path});
        openssl.waitForFinished(-1);
        tool << double(size) / (1 << 20) / (double(bench::monotonicNs() - start) / 1e9);
        // "SHA2-256(path)= 3f…" or "SHA256(path)= 3f…", depending on the openssl version
        toolDigest = QString::fromLatin1(openssl.readAllStandardOutput()).trimmed().section(u' ', -1);
    }
    if (ourDigest.isEmpty() || ourDigest != toolDigest) {
        std::fprintf(stderr, "digests differ: %s vs %s\n", qPrintable(ourDigest), qPrintable(toolDigest));
        return 1;
    }
    const double a = bench::median(ours), b = bench::median(tool);
    std::printf("APK check, 256 MiB, %d runs, medians\n", runs);
    std::printf("fileSha256 %8.1f MiB/s\nopenssl    %8.1f MiB/s\nratio      %8.3f\n", a, b, a / b);
    return 0;
}
