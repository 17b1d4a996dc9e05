#pragma once

// The log pane holds one text at a time. What it holds decides what may replace it: an
// explanation the person has yet to read must not be swept away by a scan nobody asked for.
enum class LogKind {
    ScanMessage,        // every text a scan writes, the waiting text at launch included
    ConnectProgress,    // "Подключаемся к …", "Подключено: …"
    InstallProgress,    // "Устанавливаем Zorvik App…" and the long-install hint
    Outcome,            // how an install, a connect or a pairing ended; an install not started
};

// Who wants to write.
enum class LogWriter {
    AutomaticScan,      // a scan the watcher started
    AskedScan,          // a scan the person asked for («Обновить», the launch)
    PersonAction,       // a connect or an install the person started, and how it ended
};

// Whether `writer` may replace a log that holds `held`.
[[nodiscard]] bool mayReplaceLog(LogKind held, LogWriter writer);

// Whether a text of this kind is shown from its end rather than from its first line. An
// outcome and a scan message open with what the person must read; progress grows at its end.
[[nodiscard]] bool logFollowsEnd(LogKind kind);
