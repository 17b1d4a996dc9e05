#pragma once

// Small helpers shared by the benchmark commands: a monotonic clock that agrees between
// processes, medians, /proc readings and the fake adb the scan benchmarks answer with.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace bench {

// CLOCK_MONOTONIC in nanoseconds: one clock for the whole machine, so a child process can
// stamp a moment that the parent compares with its own readings.
[[nodiscard]] std::int64_t monotonicNs();

[[nodiscard]] double median(QList<double> values);

// A field of /proc/<pid>/status in KiB ("VmHWM", "VmRSS", "RssAnon", "RssFile"), -1 when
// unreadable. pid 0 means this process.
[[nodiscard]] qint64 statusKiB(const QString &field, qint64 pid = 0);

// Writes `dir`/adb: a /bin/sh script that answers "devices" with `serials` ready and the
// eight probes of each like a Li Auto unit without the app. It records nothing, so its cost
// per call is the same for every caller.
bool writeFakeAdb(const QString &dir, const QStringList &serials);

// The 2 + 8N argument lists one scan of `serials` runs, in order.
[[nodiscard]] QList<QStringList> scanCommands(const QStringList &serials);

// A file of `bytes` pseudo-random bytes (content does not matter to SHA-256, but a sparse
// or zero file would let the page cache cheat).
bool writeRandomFile(const QString &path, qint64 bytes);

// Reads the whole file once so that later runs find it in the page cache.
void warmPageCache(const QString &path);

} // namespace bench
