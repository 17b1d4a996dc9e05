#include "trackdevices.h"

#include "commandrunner.h"

#include <QSet>

#include <algorithm>

namespace adb {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

QSet<QString> keys(const DeviceList &listing)
{
    QSet<QString> set;
    for (const DeviceInfo &row : listing)
        set.insert(row.serial() + u'\t' + row.state());
    return set;
}

} // namespace

TrackedStep takeTrackedMessage(QByteArrayView bytes)
{
    TrackedStep step;
    if (bytes.size() < 4)
        return step;
    qsizetype length = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        const int digit = hexDigit(bytes.at(i));
        if (digit < 0) {
            step.kind = TrackedStep::Kind::Malformed;
            return step;
        }
        length = length * 16 + digit;
    }
    if (bytes.size() < 4 + length)
        return step;

    const std::optional<QString> payload = decodeUtf8Strict(bytes.sliced(4, length).toByteArray());
    if (!payload) {
        step.kind = TrackedStep::Kind::Malformed;
        return step;
    }
    // Unlike "adb devices" there is no header line: every line with a TAB is a unit.
    for (const QString &line : payload->split(u'\n', Qt::SkipEmptyParts)) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab > 0)
            step.listing.append(DeviceInfo(line.left(tab), line.mid(tab + 1)));
    }
    step.kind = TrackedStep::Kind::Message;
    step.consumed = 4 + length;
    return step;
}

bool sameListing(const DeviceList &a, const DeviceList &b)
{
    return a.size() == b.size() && keys(a) == keys(b);
}

bool listedAsDevice(const DeviceList &listing, const QString &serial)
{
    return std::any_of(listing.cbegin(), listing.cend(), [&](const DeviceInfo &row) {
        return row.serial() == serial && row.state() == QLatin1String("device");
    });
}

bool isNetworkSerial(const QString &serial)
{
    return serial.contains(u':');
}

} // namespace adb
