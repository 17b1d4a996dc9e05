// Taking messages off the "adb track-devices" stream, one after another, the way the
// watcher does:
//   0018127.0.0.1:42841<TAB>offline<LF>0017127.0.0.1:42841<TAB>device<LF>0000
// Input: the bytes adb wrote, in one piece.

#include "deviceinfo.h"
#include "fuzzsupport.h"
#include "trackdevices.h"

#include <optional>

namespace {

// The declared payload length, read here from adb's framing rather than shared with the
// code under test: four hex digits, either case, nothing else.
std::optional<qsizetype> declaredLength(QByteArrayView bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    qsizetype length = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        const char c = bytes.at(i);
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return std::nullopt;
        length = length * 16 + digit;
    }
    return length;
}

QString rowsAsText(const DeviceList &rows)
{
    QString text;
    for (const DeviceInfo &row : rows)
        text += row.serial() + u'\t' + row.state() + u'|';
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QString input = QString::fromLatin1(bytes.toByteArray());
    using Kind = adb::TrackedStep::Kind;

    qsizetype offset = 0;
    for (;;) {
        const QByteArrayView rest = bytes.sliced(offset);
        const adb::TrackedStep step = adb::takeTrackedMessage(rest);
        const std::optional<qsizetype> length = declaredLength(rest);
        const QString where = QString::number(offset);

        if (step.kind != Kind::Message) {
            FUZZ_CHECK(step.consumed == 0 && step.listing.isEmpty(), input, where);
            // Four hex digits and their whole payload are always enough to decide.
            if (step.kind == Kind::Incomplete)
                FUZZ_CHECK(length ? rest.size() < 4 + *length : rest.size() < 4, input, where);
            else
                FUZZ_CHECK(rest.size() >= 4, input, where);
            break;
        }

        FUZZ_CHECK(length.has_value(), input, where);
        FUZZ_CHECK(step.consumed == 4 + *length, input, where);
        FUZZ_CHECK(step.consumed >= 4 && step.consumed <= adb::kMaxTrackedMessage, input, where);
        FUZZ_CHECK(step.consumed <= rest.size(), input, where);

        // A message is taken only once its last byte is there, and what follows it does not
        // change it.
        const adb::TrackedStep alone = adb::takeTrackedMessage(rest.first(step.consumed));
        FUZZ_CHECK(alone.kind == Kind::Message && alone.consumed == step.consumed, input, where);
        FUZZ_CHECK(rowsAsText(alone.listing) == rowsAsText(step.listing), input, rowsAsText(step.listing));
        const adb::TrackedStep cut = adb::takeTrackedMessage(rest.first(step.consumed - 1));
        FUZZ_CHECK(cut.kind == Kind::Incomplete, input, where);

        // Every row is one whole "SERIAL<TAB>STATE<LF>" line of the payload (the last LF may be missing).
        const QString payload = QString::fromUtf8(rest.sliced(4, *length).toByteArray());
        FUZZ_CHECK(step.listing.size() <= payload.count(u'\n') + 1, input, rowsAsText(step.listing));
        for (const DeviceInfo &row : step.listing) {
            FUZZ_CHECK(!row.serial().isEmpty() && !row.serial().contains(u'\t'), input, row.serial());
            FUZZ_CHECK(!row.serial().contains(u'\n') && !row.state().contains(u'\n'), input, rowsAsText(step.listing));
            const QString line = row.serial() + u'\t' + row.state();
            FUZZ_CHECK(payload == line || payload.startsWith(line + u'\n') || payload.endsWith(u'\n' + line)
                           || payload.contains(u'\n' + line + u'\n'),
                       input, line);
        }
        offset += step.consumed;
    }
    return 0;
}
