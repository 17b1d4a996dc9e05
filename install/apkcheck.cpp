#include "apkcheck.h"

#include <QDir>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/sha.h>

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

    unsigned char digest[SHA256_DIGEST_LENGTH];
    unsigned int digestLength = 0;
    const qint64 size = file.size();
    // Mapping the file hands the whole contents to one digest update without copying it,
    // which keeps the check as fast as the openssl tool on large files. A file that can't
    // be mapped (empty, or not a regular file) is read into memory instead.
    uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    QByteArray contents;
    const unsigned char *data = mapped;
    size_t length = static_cast<size_t>(size);
    if (!mapped) {
        contents = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        data = reinterpret_cast<const unsigned char *>(contents.constData());
        length = static_cast<size_t>(contents.size());
    }
    const bool hashed = EVP_Digest(data, length, digest, &digestLength, EVP_sha256(), nullptr) == 1;
    if (mapped)
        file.unmap(mapped);
    if (!hashed || digestLength != SHA256_DIGEST_LENGTH)
        return std::nullopt;
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), digestLength).toHex());
}

bool digestMatches(const std::optional<QString> &digest, const QString &expected)
{
    return digest.has_value() && *digest == expected;
}

} // namespace install
