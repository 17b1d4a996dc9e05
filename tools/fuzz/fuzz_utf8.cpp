// Strict UTF-8 decoding of adb's output, checked against a validator written from
// RFC 3629 (no overlong forms, no surrogates, nothing above U+10FFFF, nothing cut off).

#include "commandrunner.h"
#include "fuzzsupport.h"

namespace {

bool isValidUtf8(const uint8_t *data, size_t size)
{
    size_t i = 0;
    while (i < size) {
        const uint8_t lead = data[i];
        size_t length = 0;
        char32_t minimum = 0;
        char32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2; minimum = 0x80; code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3; minimum = 0x800; code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4; minimum = 0x10000; code = lead & 0x07;
        } else {
            return false;
        }
        if (size - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (data[i + k] & 0x3F);
        }
        if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const std::optional<QString> text = adb::decodeUtf8Strict(bytes);
    const bool valid = isValidUtf8(data, size);
    FUZZ_CHECK(text.has_value() == valid, QString::fromLatin1(bytes.toHex()),
               valid ? QStringLiteral("valid input rejected") : QStringLiteral("invalid input accepted"));
    if (text) {
        // Valid input comes back byte for byte, a leading byte-order mark included.
        FUZZ_CHECK(text->toUtf8() == bytes, QString::fromLatin1(bytes.toHex()), *text);
    }
    return 0;
}
