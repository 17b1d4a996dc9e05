#pragma once

// One JSON object per line for every service request the unit receives:
// {"time":"2024-03-15T10:00:00.123Z","service":"shell,v2,raw:wm size","command":"wm size",
//  "argv":["wm","size"],"outcome":"exit 0"}
// Installs add "size" and "sha256"; monkey adds "launched". Each line is flushed before
// the answer goes out, so a test that saw adb return can read it.

#include <QFile>
#include <QJsonObject>
#include <QString>

class ServiceLog
{
public:
    // Without a path the log discards everything.
    bool open(const QString &path, QString *error);
    // Adds "time" and writes the entry as one line.
    void write(QJsonObject entry);

private:
    QFile m_file;
};
