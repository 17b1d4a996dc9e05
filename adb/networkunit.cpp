#include "networkunit.h"

#include "discovery.h"
#include "textrules.h"
#include "trackdevices.h"

#include <QRegularExpression>

namespace adb {

namespace {

bool isIpv4(const QString &host)
{
    static const QRegularExpression part(QStringLiteral("^(0|[1-9][0-9]{0,2})$"));
    const QStringList parts = host.split(u'.');
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString &p) {
               return part.match(p).hasMatch() && p.toInt() <= 255;
           });
}

bool isHostName(const QString &host)
{
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?$"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    if (!std::all_of(labels.cbegin(), labels.cend(), [](const QString &l) { return label.match(l).hasMatch(); }))
        return false;
    static const QRegularExpression number(QStringLiteral("^([0-9]+|0[xX].*)$"));
    return !number.match(labels.last()).hasMatch();
}

// Counts the 16-bit groups of one side of "::", or -1 when it is not made of groups; a
// dotted IPv4 tail counts as two.
int ipv6Groups(const QString &side, bool mayEndInIpv4)
{
    if (side.isEmpty())
        return 0;
    static const QRegularExpression group(QStringLiteral("^[0-9A-Fa-f]{1,4}$"));
    const QStringList groups = side.split(u':');
    int count = 0;
    for (qsizetype i = 0; i < groups.size(); ++i) {
        if (group.match(groups.at(i)).hasMatch())
            count += 1;
        else if (mayEndInIpv4 && i == groups.size() - 1 && isIpv4(groups.at(i)))
            count += 2;
        else
            return -1;
    }
    return count;
}

bool isBracketedIpv6(const QString &host)
{
    if (!host.startsWith(u'[') || !host.endsWith(u']'))
        return false;
    const QString inner = host.mid(1, host.size() - 2);
    const QStringList sides = inner.split(QStringLiteral("::"));
    if (sides.size() == 1)
        return ipv6Groups(inner, true) == 8;
    if (sides.size() != 2)
        return false;
    const int before = ipv6Groups(sides.at(0), false);
    const int after = ipv6Groups(sides.at(1), true);
    return before >= 0 && after >= 0 && before + after <= 7;
}

} // namespace

std::optional<QString> normalisedAddress(const QString &text)
{
    const QString address = trimmed(text);
    // The port follows the last colon outside any brackets.
    const qsizetype bracketEnd = address.lastIndexOf(u']');
    const qsizetype colon = address.lastIndexOf(u':');
    QString host = address;
    int port = kDefaultAdbPort;
    if (colon > bracketEnd) {
        host = address.left(colon);
        static const QRegularExpression digits(QStringLiteral("^[1-9][0-9]{0,4}$"));
        const QString portText = address.mid(colon + 1);
        if (!digits.match(portText).hasMatch() || portText.toInt() > 65535)
            return std::nullopt;
        port = portText.toInt();
    }
    if (!isIpv4(host) && !isHostName(host) && !isBracketedIpv6(host))
        return std::nullopt;
    return host + u':' + QString::number(port);
}

ConnectVerdict connectVerdict(const CommandResult &result)
{
    if (result.stopped)
        return ConnectVerdict::TimedOut;
    for (const QString &line : splitPieces(result.output, isNewlineCharacter)) {
        const QString said = trimmed(line);
        if (said.startsWith(QLatin1String("connected to")))
            return ConnectVerdict::Connected;
        if (said.startsWith(QLatin1String("already connected to")))
            return ConnectVerdict::AlreadyConnected;
        if (said.startsWith(QLatin1String("failed to authenticate")))
            return ConnectVerdict::NeedsAuthorization;
    }
    return ConnectVerdict::Failed;
}

ConnectAttempt connectNetworkUnit(const QString &resourceDir, const QString &address, int timeLimitMs)
{
    const CommandResult result = run(resourceDir, {QStringLiteral("connect"), address}, {timeLimitMs, {}});
    ConnectAttempt attempt{connectVerdict(result), result.output};
    if (attempt.verdict == ConnectVerdict::AlreadyConnected) {
        const DeviceList listed = parseDeviceListing(run(resourceDir, {QStringLiteral("devices")}).output);
        attempt.verdict = listedAsDevice(listed, address) ? ConnectVerdict::Connected : ConnectVerdict::Failed;
    }
    if (attempt.verdict != ConnectVerdict::Connected && attempt.verdict != ConnectVerdict::NeedsAuthorization)
        (void)run(resourceDir, {QStringLiteral("disconnect"), address});
    return attempt;
}

QString networkAuthorizationText()
{
    return QStringLiteral("Подтвердите отладку на экране автомобиля. Когда вы нажмёте «Разрешить», "
                          "автомобиль появится в списке сам.");
}

QString connectLogText(const ConnectAttempt &attempt, const QString &address)
{
    switch (attempt.verdict) {
    case ConnectVerdict::Connected:
        return {};
    case ConnectVerdict::NeedsAuthorization:
        return networkAuthorizationText();
    case ConnectVerdict::TimedOut:
        return QStringLiteral("Нет ответа от %1 за 15 секунд. Проверьте адрес и что автомобиль и компьютер "
                              "в одной сети Wi-Fi.")
            .arg(address);
    case ConnectVerdict::AlreadyConnected:
    case ConnectVerdict::Failed:
        break;
    }
    return QStringLiteral("Не удалось подключиться к %1:\n").arg(address) + trimmed(attempt.output)
           + QStringLiteral("\nПроверьте, что автомобиль и компьютер в одной сети Wi-Fi и что на автомобиле "
                            "включена отладка по сети.");
}

} // namespace adb
