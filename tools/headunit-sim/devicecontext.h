#pragma once

// What every host connection of one simulated unit shares.

#include "profile.h"
#include "servicelog.h"

#include <QByteArray>

struct DeviceState {
    bool appInstalled = false;
    qint64 lastInstallSize = -1;
    QByteArray lastInstallSha256; // lower-case hex
};

struct DeviceContext {
    Profile profile;
    DeviceState state;
    ServiceLog *log = nullptr;
};
