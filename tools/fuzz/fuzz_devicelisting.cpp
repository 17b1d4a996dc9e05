// Parsing "adb devices" output:
//   List of devices attached
//   0123456789ABCDEF<TAB>device
// Input: the whole output as adb printed it (the runner doesn't trim it).

#include "deviceinfo.h"
#include "discovery.h"
#include "fuzzsupport.h"

namespace {

QStringList rowsAsText(const DeviceList &rows)
{
    QStringList text;
    for (const DeviceInfo &row : rows)
        text << row.serial() + QLatin1Char('\t') + row.state();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzz::textFromBytes(data, size);
    const DeviceList rows = adb::parseDeviceListing(text);

    FUZZ_CHECK(rows.size() <= text.count(u'\n'), text, rowsAsText(rows).join(u'|'));
    for (const DeviceInfo &row : rows) {
        for (const QString &field : {row.serial(), row.state()}) {
            FUZZ_CHECK(!field.isEmpty(), text, field);
            FUZZ_CHECK(!field.contains(u'\t'), text, field);
            FUZZ_CHECK(text.contains(field), text, field);
            // An LF inside a field can only be the second half of a CR LF character, which
            // is not the LF the listing is split at.
            for (qsizetype i = 0; i < field.size(); ++i) {
                if (field.at(i) == u'\n')
                    FUZZ_CHECK(i > 0 && field.at(i - 1) == u'\r', text, field);
            }
        }
        // A listed row is never probed.
        FUZZ_CHECK(row.model == kNoValue && row.size == kNoValue && !row.installed, text, row.serial());
    }

    // A well-formed device line appended after the output is read as one more row, and
    // takes nothing away from the rows before it. (After a CR the LF would join it.)
    if (!text.endsWith(u'\r')) {
        const QString header = QStringLiteral("List of devices attached\n");
        const QStringList before = rowsAsText(adb::parseDeviceListing(header + text));
        const QString extended = header + text + QStringLiteral("\nZX1\tdevice\n");
        const QStringList after = rowsAsText(adb::parseDeviceListing(extended));
        FUZZ_CHECK(after == before + QStringList{QStringLiteral("ZX1\tdevice")}, extended, after.join(u'|'));
    }
    return 0;
}
