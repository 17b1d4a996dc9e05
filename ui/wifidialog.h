#pragma once

#include <QString>

#include <optional>

class QWidget;

// Asks for the network address of a head unit whose adb listens on Wi-Fi. "Подключить" is
// enabled only while the text passes the address rule, so what comes back is always the
// normalised HOST:PORT; nothing when the person cancels.
[[nodiscard]] std::optional<QString> askNetworkAddress(QWidget *parent, const QString &prefilled);
