#include "logrules.h"

bool mayReplaceLog(LogKind held, LogWriter writer)
{
    switch (writer) {
    case LogWriter::AutomaticScan:
        return held == LogKind::ScanMessage || held == LogKind::ConnectProgress;
    case LogWriter::AskedScan:
        // While an install runs, the log goes on telling about it.
        return held != LogKind::InstallProgress;
    case LogWriter::PersonAction:
        return true;
    }
    return false;
}

bool logFollowsEnd(LogKind kind)
{
    return kind == LogKind::ConnectProgress || kind == LogKind::InstallProgress;
}
