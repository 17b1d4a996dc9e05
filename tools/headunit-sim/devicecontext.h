#pragma once

// What every host connection of one simulated unit shares.

#include "profile.h"
#include "servicelog.h"

#include <QByteArray>
#include <QMap>
#include <QString>

// A file the host pushed over sync:, kept in memory.
struct PushedFile {
    QByteArray bytes;
    quint32 mode = 0;  // permission bits as the host sent them, e.g. 0644
    quint32 mtime = 0; // as the host's DONE gave it
};

struct DeviceState {
    bool appInstalled = false;
    // An `unauthorized` unit: the person tapped "Allow" (and "always allow"), so every host
    // is accepted from then on.
    bool debuggingAllowed = false;
    QMap<QString, PushedFile> files; // by device path
};

struct DeviceContext {
    Profile profile;
    DeviceState state;
    ServiceLog *log = nullptr;
};
