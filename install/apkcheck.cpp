#include "apkcheck.h"

#include <QDir>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <memory>

namespace install {

QString apkPath(const QString &resourceDir)
{
    return QDir(resourceDir).filePath(QStringLiteral("ZorvikStore.apk"));
}

std::optional<QString> fileSha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;

    // Hashing as the bytes come in, a megabyte at a time, gives the same digest as hashing
    // the whole file at once, runs at the speed of the openssl tool (a mapping or one big
    // buffer costs a page fault per 4 KiB), and keeps memory flat for a large APK.
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(buffer.data(), buffer.size());
        if (count < 0)
            return std::nullopt;    // an I/O error, or not a readable file (e.g. a directory)
        if (count == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.constData(), static_cast<size_t>(count)) != 1)
            return std::nullopt;
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &digestLength) != 1 || digestLength != SHA256_DIGEST_LENGTH)
        return std::nullopt;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), digestLength).toHex());
}

bool digestMatches(const std::optional<QString> &digest, const QString &expected)
{
    return digest.has_value() && *digest == expected;
}

} // namespace install
