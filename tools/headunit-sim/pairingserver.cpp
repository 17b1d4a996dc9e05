#include "pairingserver.h"

#include <openssl/aead.h>
#include <openssl/base64.h>
#include <openssl/bn.h>
#include <openssl/curve25519.h>
#include <openssl/digest.h>
#include <openssl/ec_key.h>
#include <openssl/evp.h>
#include <openssl/hkdf.h>
#include <openssl/nid.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

// What adb's pairing exchange is made of, as adb's own client expects it:
// - TLS 1.3, each side with a certificate the other takes unchecked;
// - both sides derive the SPAKE2 password from the code followed by 64 bytes of the TLS
//   session's exported keying material, so a code is worth nothing outside its session;
// - SPAKE2 messages are swapped, then each side's 8192-byte "peer info" goes out sealed
//   with AES-128-GCM under a key derived from the SPAKE2 result. With a wrong code the two
//   keys differ and the host cannot open ours: that is how it learns of a wrong code.
// Every message is framed by a 6-byte header: version, type, payload length (big-endian).
namespace {

constexpr quint8 kHeaderVersion = 1;
constexpr quint8 kSpake2Message = 0;
constexpr quint8 kPeerInfo = 1;
constexpr quint32 kPeerInfoSize = 8192;
constexpr quint32 kLargestPayload = 2 * kPeerInfoSize;
constexpr quint8 kHostPublicKey = 0; // peer info types
constexpr quint8 kUnitGuid = 1;
constexpr size_t kExportedKeyBytes = 64;
// The terminating zeros belong to the label and the names: adb passes sizeof of each.
constexpr char kExporterLabel[] = "adb-label";
constexpr uint8_t kHostName[] = "adb pair client";
constexpr uint8_t kUnitName[] = "adb pair server";
constexpr char kCipherKeyInfo[] = "adb pairing_auth aes-128-gcm key";
// A host that stops answering mid-pairing must not hold the screen for good.
constexpr int kHostSilenceSeconds = 10;

bssl::UniquePtr<EVP_PKEY> makeKey()
{
    bssl::UniquePtr<EC_KEY> ec(EC_KEY_new_by_curve_name(NID_X9_62_prime256v1));
    bssl::UniquePtr<EVP_PKEY> key(EVP_PKEY_new());
    if (!ec || !key || !EC_KEY_generate_key(ec.get()) || !EVP_PKEY_assign_EC_KEY(key.get(), ec.release()))
        return nullptr;
    return key;
}

bssl::UniquePtr<X509> makeSelfSignedCertificate(EVP_PKEY *key)
{
    bssl::UniquePtr<X509> cert(X509_new());
    if (!cert || !X509_set_version(cert.get(), X509_VERSION_3)
        || !ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1)
        || !X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0)
        || !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600))
        return nullptr;
    X509_NAME *name = X509_get_subject_name(cert.get());
    if (!X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const uint8_t *>("headunit-sim"), -1, -1, 0)
        || !X509_set_issuer_name(cert.get(), name) || !X509_set_pubkey(cert.get(), key)
        || !X509_sign(cert.get(), key, EVP_sha256()))
        return nullptr;
    return cert;
}

// adb's nonce: the message counter of that direction, little-endian, zero-padded to 12 bytes.
std::array<uint8_t, 12> nonceFor(quint64 counter)
{
    std::array<uint8_t, 12> nonce{};
    for (int i = 0; i < 8; ++i)
        nonce[size_t(i)] = uint8_t(counter >> (8 * i));
    return nonce;
}

class Session
{
public:
    explicit Session(SSL *ssl) : m_ssl(ssl) {}

    bool writeMessage(quint8 type, const QByteArray &payload)
    {
        QByteArray header(6, '\0');
        header[0] = char(kHeaderVersion);
        header[1] = char(type);
        const quint32 length = htonl(quint32(payload.size()));
        std::memcpy(header.data() + 2, &length, 4);
        return writeAll(header + payload);
    }

    std::optional<QByteArray> readMessage(quint8 type)
    {
        const std::optional<QByteArray> header = readExactly(6);
        if (!header || quint8(header->at(0)) != kHeaderVersion || quint8(header->at(1)) != type)
            return std::nullopt;
        quint32 length = 0;
        std::memcpy(&length, header->constData() + 2, 4);
        length = ntohl(length);
        if (length == 0 || length > kLargestPayload)
            return std::nullopt;
        return readExactly(length);
    }

private:
    bool writeAll(const QByteArray &bytes)
    {
        for (qsizetype done = 0; done < bytes.size();) {
            const int n = SSL_write(m_ssl, bytes.constData() + done, int(bytes.size() - done));
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    std::optional<QByteArray> readExactly(quint32 size)
    {
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        for (qsizetype done = 0; done < bytes.size();) {
            const int n = SSL_read(m_ssl, bytes.data() + done, int(bytes.size() - done));
            if (n <= 0)
                return std::nullopt;
            done += n;
        }
        return bytes;
    }

    SSL *m_ssl;
};

// The AES-128-GCM of one pairing, with a message counter per direction.
class Cipher
{
public:
    explicit Cipher(const QByteArray &spake2Key)
    {
        uint8_t key[16];
        m_ready = HKDF(key, sizeof key, EVP_sha256(), reinterpret_cast<const uint8_t *>(spake2Key.constData()),
                       size_t(spake2Key.size()), nullptr, 0, reinterpret_cast<const uint8_t *>(kCipherKeyInfo),
                       sizeof kCipherKeyInfo - 1)
                  && EVP_AEAD_CTX_init(m_ctx.get(), EVP_aead_aes_128_gcm(), key, sizeof key,
                                       EVP_AEAD_DEFAULT_TAG_LENGTH, nullptr);
    }

    std::optional<QByteArray> seal(const QByteArray &plain)
    {
        QByteArray out(plain.size() + qsizetype(EVP_AEAD_max_overhead(EVP_aead_aes_128_gcm())), Qt::Uninitialized);
        const auto nonce = nonceFor(m_sent);
        size_t written = 0;
        if (!m_ready
            || !EVP_AEAD_CTX_seal(m_ctx.get(), reinterpret_cast<uint8_t *>(out.data()), &written, size_t(out.size()),
                                  nonce.data(), nonce.size(), reinterpret_cast<const uint8_t *>(plain.constData()),
                                  size_t(plain.size()), nullptr, 0))
            return std::nullopt;
        ++m_sent;
        out.resize(qsizetype(written));
        return out;
    }

    std::optional<QByteArray> open(const QByteArray &sealed)
    {
        QByteArray out(sealed.size(), Qt::Uninitialized);
        const auto nonce = nonceFor(m_received);
        size_t written = 0;
        if (!m_ready
            || !EVP_AEAD_CTX_open(m_ctx.get(), reinterpret_cast<uint8_t *>(out.data()), &written, size_t(out.size()),
                                  nonce.data(), nonce.size(), reinterpret_cast<const uint8_t *>(sealed.constData()),
                                  size_t(sealed.size()), nullptr, 0))
            return std::nullopt;
        ++m_received;
        out.resize(qsizetype(written));
        return out;
    }

private:
    bssl::ScopedEVP_AEAD_CTX m_ctx;
    bool m_ready = false;
    quint64 m_sent = 0;
    quint64 m_received = 0;
};

// The SPAKE2 key of the unit's side, or nothing when the host's message is malformed.
std::optional<QByteArray> agreeOnKey(Session &session, const QByteArray &password)
{
    bssl::UniquePtr<SPAKE2_CTX> spake(
        SPAKE2_CTX_new(spake2_role_bob, kUnitName, sizeof kUnitName, kHostName, sizeof kHostName));
    uint8_t ours[SPAKE2_MAX_MSG_SIZE];
    size_t oursSize = 0;
    if (!spake
        || !SPAKE2_generate_msg(spake.get(), ours, &oursSize, sizeof ours,
                                reinterpret_cast<const uint8_t *>(password.constData()), size_t(password.size()))
        || !session.writeMessage(kSpake2Message, QByteArray(reinterpret_cast<const char *>(ours), qsizetype(oursSize))))
        return std::nullopt;
    const std::optional<QByteArray> theirs = session.readMessage(kSpake2Message);
    uint8_t key[SPAKE2_MAX_KEY_SIZE];
    size_t keySize = 0;
    if (!theirs || theirs->size() > qsizetype(SPAKE2_MAX_MSG_SIZE)
        || !SPAKE2_process_msg(spake.get(), key, &keySize, sizeof key,
                               reinterpret_cast<const uint8_t *>(theirs->constData()), size_t(theirs->size())))
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(key), qsizetype(keySize));
}

// adb's public key: base64 of a little-endian record, the modulus' size in 32-bit words, a
// Montgomery constant, the modulus, R² mod n (both little-endian, 256 bytes for RSA-2048)
// and the public exponent.
bssl::UniquePtr<RSA> decodeAdbPublicKey(const QByteArray &base64)
{
    constexpr size_t kModulusBytes = 256;
    constexpr size_t kRecordBytes = 4 + 4 + 2 * kModulusBytes + 4;
    size_t size = 0;
    if (!EVP_DecodedLength(&size, size_t(base64.size())))
        return nullptr;
    QByteArray record(qsizetype(size), Qt::Uninitialized);
    auto *bytes = reinterpret_cast<uint8_t *>(record.data());
    if (!EVP_DecodeBase64(bytes, &size, size_t(record.size()), reinterpret_cast<const uint8_t *>(base64.constData()),
                          size_t(base64.size()))
        || size != kRecordBytes || bytes[0] != kModulusBytes / 4)
        return nullptr;
    const uint32_t exponent = uint32_t(bytes[kRecordBytes - 4]) | uint32_t(bytes[kRecordBytes - 3]) << 8
                              | uint32_t(bytes[kRecordBytes - 2]) << 16 | uint32_t(bytes[kRecordBytes - 1]) << 24;
    bssl::UniquePtr<RSA> rsa(RSA_new());
    BIGNUM *n = BN_le2bn(bytes + 8, kModulusBytes, nullptr);
    BIGNUM *e = BN_new();
    if (!rsa || !n || !e || !BN_set_word(e, exponent) || !RSA_set0_key(rsa.get(), n, e, nullptr)) {
        BN_free(n);
        BN_free(e);
        return nullptr;
    }
    return rsa;
}

int acceptAnyCertificate(X509_STORE_CTX *, void *)
{
    return 1;
}

} // namespace

struct PairingServer::Tls {
    bssl::UniquePtr<SSL_CTX> context;
};

PairingServer::PairingServer(QByteArray code, QByteArray guid, PairedHandler onPaired)
    : m_code(std::move(code))
    , m_guid(std::move(guid))
    , m_onPaired(std::move(onPaired))
    , m_tls(std::make_unique<Tls>())
{
}

PairingServer::~PairingServer()
{
    if (m_thread.joinable()) {
        const char wake = 0;
        (void)!::write(m_wakeFds[1], &wake, 1);
        const int host = m_hostFd.load();
        if (host >= 0)
            ::shutdown(host, SHUT_RDWR);
        m_thread.join();
    }
    for (const int fd : {m_listenFd, m_wakeFds[0], m_wakeFds[1]})
        if (fd >= 0)
            ::close(fd);
}

bool PairingServer::signedBy(const QByteArray &hostPublicKey, const QByteArray &token, const QByteArray &signature)
{
    const bssl::UniquePtr<RSA> rsa = decodeAdbPublicKey(hostPublicKey);
    // adb signs the token itself as though it were a SHA-1 digest.
    return rsa && !token.isEmpty()
           && RSA_verify(NID_sha1, reinterpret_cast<const uint8_t *>(token.constData()), size_t(token.size()),
                         reinterpret_cast<const uint8_t *>(signature.constData()), size_t(signature.size()), rsa.get());
}

bool PairingServer::listen(QString *error)
{
    bssl::UniquePtr<EVP_PKEY> key = makeKey();
    bssl::UniquePtr<X509> cert = key ? makeSelfSignedCertificate(key.get()) : nullptr;
    m_tls->context.reset(SSL_CTX_new(TLS_method()));
    SSL_CTX *context = m_tls->context.get();
    if (!cert || !context || !SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION)
        || !SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION) || !SSL_CTX_use_certificate(context, cert.get())
        || !SSL_CTX_use_PrivateKey(context, key.get())) {
        *error = QStringLiteral("cannot set up TLS for pairing");
        return false;
    }
    // adb's client refuses a server that does not ask for its certificate; neither side
    // checks the other's, the code does that.
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    SSL_CTX_set_cert_verify_callback(context, acceptAnyCertificate, nullptr);

    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listenFd, 8) != 0
        || ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || ::pipe2(m_wakeFds, O_CLOEXEC) != 0) {
        *error = QStringLiteral("cannot listen for pairing on 127.0.0.1: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
    return true;
}

void PairingServer::serve()
{
    // A host that hangs up while the unit writes must not end the unit by SIGPIPE; the
    // signals the unit answers (SIGTERM, SIGINT, SIGUSR1) are the main thread's to take.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int signal : {SIGPIPE, SIGTERM, SIGINT, SIGUSR1})
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        m_hostFd = fd;
        pairOne(fd);
        m_hostFd = -1;
        ::close(fd);
    }
}

void PairingServer::pairOne(int fd)
{
    const timeval silence{kHostSilenceSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &silence, sizeof silence);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &silence, sizeof silence);
    bssl::UniquePtr<SSL> ssl(SSL_new(m_tls->context.get()));
    if (!ssl || !SSL_set_fd(ssl.get(), fd) || SSL_accept(ssl.get()) != 1)
        return;

    QByteArray exported(qsizetype(kExportedKeyBytes), Qt::Uninitialized);
    if (!SSL_export_keying_material(ssl.get(), reinterpret_cast<uint8_t *>(exported.data()), size_t(exported.size()),
                                    kExporterLabel, sizeof kExporterLabel, nullptr, 0, 0))
        return;
    Session session(ssl.get());
    const std::optional<QByteArray> key = agreeOnKey(session, m_code + exported);
    if (!key)
        return;
    Cipher cipher(*key);

    QByteArray ourInfo(kPeerInfoSize, '\0');
    ourInfo[0] = char(kUnitGuid);
    ourInfo.replace(1, std::min(m_guid.size(), qsizetype(kPeerInfoSize - 2)), m_guid);
    const std::optional<QByteArray> sealed = cipher.seal(ourInfo);
    if (!sealed || !session.writeMessage(kPeerInfo, *sealed))
        return;
    // A wrong code shows here: what the host sealed does not open.
    const std::optional<QByteArray> theirSealed = session.readMessage(kPeerInfo);
    const std::optional<QByteArray> theirInfo = theirSealed ? cipher.open(*theirSealed) : std::nullopt;
    if (theirInfo && theirInfo->size() == qsizetype(kPeerInfoSize) && quint8(theirInfo->at(0)) == kHostPublicKey) {
        const char *data = theirInfo->constData() + 1;
        const QByteArray publicKey(data, qsizetype(qstrnlen(data, kPeerInfoSize - 1))); // a C string
        if (!publicKey.isEmpty())
            m_onPaired(publicKey);
    }
    SSL_shutdown(ssl.get());
}
