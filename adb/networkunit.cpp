#include "networkunit.h"

#include "discovery.h"
#include "textrules.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>

namespace adb {

namespace {

bool isIpv4(const QString &host)
{
    static const QRegularExpression part(QStringLiteral("\\A(0|[1-9][0-9]{0,2})\\z"));
    const QStringList parts = host.split(u'.');
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), [](const QString &p) {
               return part.match(p).hasMatch() && p.toInt() <= 255;
           });
}

bool isHostName(const QString &host)
{
    static const QRegularExpression label(QStringLiteral("\\A[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?\\z"));
    if (host.isEmpty() || host.size() > 253)
        return false;
    const QStringList labels = host.split(u'.');
    if (!std::all_of(labels.cbegin(), labels.cend(), [](const QString &l) { return label.match(l).hasMatch(); }))
        return false;
    static const QRegularExpression number(QStringLiteral("\\A([0-9]+|0[xX].*)\\z"));
    return !number.match(labels.last()).hasMatch();
}

// Counts the 16-bit groups of one side of "::", or -1 when it is not made of groups; a
// dotted IPv4 tail counts as two.
int ipv6Groups(const QString &side, bool mayEndInIpv4)
{
    if (side.isEmpty())
        return 0;
    static const QRegularExpression group(QStringLiteral("\\A[0-9A-Fa-f]{1,4}\\z"));
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

std::optional<QString> normalisedAddress(const QString &text, PortRule portRule)
{
    const QString address = trimmed(text);
    // The port follows the last colon outside any brackets.
    const qsizetype bracketEnd = address.lastIndexOf(u']');
    const qsizetype colon = address.lastIndexOf(u':');
    QString host = address;
    int port = kDefaultAdbPort;
    if (colon > bracketEnd) {
        host = address.left(colon);
        static const QRegularExpression digits(QStringLiteral("\\A[1-9][0-9]{0,4}\\z"));
        const QString portText = address.mid(colon + 1);
        if (!digits.match(portText).hasMatch() || portText.toInt() > 65535)
            return std::nullopt;
        port = portText.toInt();
    } else if (portRule == PortRule::Required) {
        return std::nullopt;
    }
    if (!isIpv4(host) && !isHostName(host) && !isBracketedIpv6(host))
        return std::nullopt;
    return host + u':' + QString::number(port);
}

QString addressRefusal(const QString &text, PortRule port)
{
    const QString typed = trimmed(text);
    if (typed.isEmpty() || normalisedAddress(typed, port))
        return {};
    const bool portRequired = port == PortRule::Required;
    if (typed.contains(u',')) {
        QString mended = typed;
        mended.replace(u',', u'.');
        if (!normalisedAddress(mended, port))
            mended = portRequired ? QStringLiteral("192.168.1.50:37123") : QStringLiteral("192.168.1.50");
        return QStringLiteral("Используйте точки, а не запятые: ") + mended;
    }
    return portRequired ? QStringLiteral("Адрес и порт вида 192.168.1.50:37123")
                        : QStringLiteral("Адрес вида 192.168.1.50 или 192.168.1.50:5555");
}

bool isPairingCode(const QString &text)
{
    static const QRegularExpression sixDigits(QStringLiteral("\\A[0-9]{6}\\z"));
    return sixDigits.match(text).hasMatch();
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

ListedConnection listedConnection(const DeviceList &listing, const QString &address)
{
    const auto row = std::find_if(listing.cbegin(), listing.cend(),
                                  [&](const DeviceInfo &info) { return info.serial() == address; });
    if (row == listing.cend())
        return ListedConnection::Unusable;
    const QString &state = row->state();
    if (state == QLatin1String("device"))
        return ListedConnection::Ready;
    if (state == QLatin1String("unauthorized") || state == QLatin1String("authorizing"))
        return ListedConnection::WaitingForAllow;
    if (state == QLatin1String("offline"))
        return ListedConnection::Stale;
    return ListedConnection::Unusable;
}

ConnectAttempt connectNetworkUnit(const QString &resourceDir, const QString &address, const Timing &timing,
                                  int connectLimitMs)
{
    QElapsedTimer clock;
    clock.start();
    const RunLimits commandLimits{timing.scanCommandMs, {}};
    const auto disconnect = [&] { (void)run(resourceDir, {QStringLiteral("disconnect"), address}, commandLimits); };
    ConnectAttempt attempt;
    bool retried = false;
    while (true) {
        const qint64 left = connectLimitMs - clock.elapsed();
        if (left <= 0) {
            // Only after a stale entry was dropped, so nothing is left to disconnect.
            attempt.verdict = ConnectVerdict::TimedOut;
            return attempt;
        }
        const CommandResult result = run(resourceDir, {QStringLiteral("connect"), address}, {int(left), {}});
        attempt = {connectVerdict(result), result.output};
        if (attempt.verdict != ConnectVerdict::AlreadyConnected)
            break;
        const CommandResult listed = run(resourceDir, {QStringLiteral("devices")}, commandLimits);
        const ListedConnection entry = listedConnection(parseDeviceListing(listed.output), address);
        if (entry == ListedConnection::Stale && !retried) {
            disconnect();
            retried = true;
            continue;
        }
        attempt.verdict = entry == ListedConnection::Ready             ? ConnectVerdict::Connected
                          : entry == ListedConnection::WaitingForAllow ? ConnectVerdict::NeedsAuthorization
                                                                       : ConnectVerdict::Failed;
        break;
    }
    if (attempt.verdict != ConnectVerdict::Connected && attempt.verdict != ConnectVerdict::NeedsAuthorization)
        disconnect();
    return attempt;
}


QString networkAuthorizationText()
{
    return QStringLiteral("Подтвердите отладку на экране автомобиля. Когда вы нажмёте «Разрешить», "
                          "автомобиль появится в списке сам.");
}

QString connectFailureExplanation(const QString &output)
{
    const auto says = [&](const char *words) { return output.contains(QLatin1String(words)); };
    if (says("Connection refused"))
        return QStringLiteral("Автомобиль не принимает подключения на этом порту. Включите на нём отладку по сети "
                              "и проверьте номер порта.");
    if (says("No route to host") || says("Network is unreachable") || says("Host is unreachable"))
        return QStringLiteral("Компьютер не видит этот адрес. Проверьте, что автомобиль и компьютер в одной сети Wi-Fi.");
    if (says("failed to resolve host"))
        return QStringLiteral("Такого имени в сети нет. Введите IP-адрес автомобиля из настроек Wi-Fi на автомобиле.");
    return QStringLiteral("Проверьте, что автомобиль и компьютер в одной сети Wi-Fi и что на автомобиле включена "
                          "отладка по сети.");
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
    // Laid out as the install failures are: what went wrong, what to do, then adb's own words.
    const QString said = trimmed(attempt.output);
    return QStringLiteral("Не удалось подключиться к %1:\n").arg(address) + connectFailureExplanation(attempt.output)
           + (said.isEmpty() ? QString() : QStringLiteral("\n\n") + said);
}

QString connectedText(const QString &address)
{
    return QStringLiteral("Подключено: %1.").arg(address);
}

} // namespace adb
