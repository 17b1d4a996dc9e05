#pragma once

// What every host connection of one simulated unit shares.

#include "profile.h"
#include "servicelog.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>

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
    // Hosts that paired by code, by the key part of their public key ("BASE64" of adb's
    // "BASE64 user@host"): let in without "Allow".
    QSet<QByteArray> pairedHostKeys;
    QMap<QString, PushedFile> files; // by device path
};

// The key out of a host's public key as adb sends it, "BASE64 user@host" with or without a
// terminating zero: the user@host part is a comment and may differ between the two places
// adb sends it.
inline QByteArray hostKeyPart(const QByteArray &publicKey)
{
    return QByteArray(publicKey.constData(), qsizetype(qstrnlen(publicKey.constData(), size_t(publicKey.size()))))
        .simplified()
        .split(' ')
        .value(0);
}

struct DeviceContext {
    Profile profile;
    DeviceState state;
    ServiceLog *log = nullptr;
    // Whether signature is token signed with the key of a host's public key (its key part);
    // unset where the simulator was built without the crypto to pair.
    std::function<bool(const QByteArray &hostKey, const QByteArray &token, const QByteArray &signature)> signedBy;
};
