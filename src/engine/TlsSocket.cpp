#include "engine/TlsSocket.h"

#include "engine/Tls.h"

#include <QHostAddress>
#include <QPointer>

#include <algorithm>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <memory>

using namespace Qt::StringLiterals;

namespace tessaly {

namespace {

// Encrypted records are gathered up to this much before they go to the
// kernel in one call: a whole article of the usual size is one system call
// and one wake-up of the reader, not six.
constexpr int kOutBatch = 1024 * 1024;

// The batch is one buffer for every connection on the thread. Every call
// into OpenSSL ends with the batch handed to the kernel, so no connection
// finds another's records in it, and one buffer stays in the cache where
// one per connection would not.
char *outBatch()
{
    thread_local std::unique_ptr<char[]> batch;
    if (!batch)
        batch = std::make_unique<char[]>(kOutBatch);
    return batch.get();
}

int socketIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

QString openSslErrors()
{
    QStringList parts;
    char text[256];
    while (const unsigned long e = ERR_get_error()) {
        ERR_error_string_n(e, text, sizeof text);
        parts << QString::fromLatin1(text);
    }
    return parts.isEmpty() ? u"unknown TLS error"_s : parts.join(u"; "_s);
}

QSslCertificate toQt(X509 *certificate)
{
    if (!certificate)
        return QSslCertificate();
    unsigned char *der = nullptr;
    const int n = i2d_X509(certificate, &der);
    if (n <= 0)
        return QSslCertificate();
    QSslCertificate c(QByteArray(reinterpret_cast<const char *>(der), n), QSsl::Der);
    OPENSSL_free(der);
    return c;
}

// OpenSSL's verdicts in the words users know from Qt's TLS sockets.
// Why a handshake the server answered failed, in words a person can act on.
QString handshakeVerdict(int reason, const QByteArray &firstBytes, const QString &details)
{
    // A news server greeting in plain text ("200 ...") on the port given for TLS.
    const bool plainText = firstBytes.size() >= 4 && firstBytes.at(0) >= '1' && firstBytes.at(0) <= '5'
        && std::all_of(firstBytes.begin(), firstBytes.begin() + 3, [](char ch) { return ch >= ' ' && ch < 127; });
    if (plainText) {
        QByteArray line = firstBytes.left(firstBytes.indexOf('\r') >= 0 ? firstBytes.indexOf('\r') : 40);
        for (char &ch : line)
            if (ch < ' ' || ch >= 127)
                ch = '?';
        return u"This port does not speak TLS: the server answered in plain text (\"%1\"). Give the server's TLS "
               u"port (usually 563), or turn SSL off for this one."_s.arg(QString::fromLatin1(line));
    }
    switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_TLSV1_ALERT_PROTOCOL_VERSION:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
        return u"The server offers only TLS versions older than 1.2, which are not safe to use; it cannot be posted "
               u"to over TLS (%1)."_s.arg(details);
    default:
        return u"The server's answer is not a TLS handshake this program can complete (%1). Check the port and the "
               u"SSL setting."_s.arg(details);
    }
}

QSslError::SslError toQt(int code)
{
    switch (code) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT: return QSslError::UnableToGetIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE: return QSslError::UnableToDecryptCertificateSignature;
    case X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY: return QSslError::UnableToDecodeIssuerPublicKey;
    case X509_V_ERR_CERT_SIGNATURE_FAILURE: return QSslError::CertificateSignatureFailed;
    case X509_V_ERR_CERT_NOT_YET_VALID: return QSslError::CertificateNotYetValid;
    case X509_V_ERR_CERT_HAS_EXPIRED: return QSslError::CertificateExpired;
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD: return QSslError::InvalidNotBeforeField;
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD: return QSslError::InvalidNotAfterField;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return QSslError::SelfSignedCertificate;
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN: return QSslError::SelfSignedCertificateInChain;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY: return QSslError::UnableToGetLocalIssuerCertificate;
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return QSslError::UnableToVerifyFirstCertificate;
    case X509_V_ERR_CERT_REVOKED: return QSslError::CertificateRevoked;
    case X509_V_ERR_INVALID_CA: return QSslError::InvalidCaCertificate;
    case X509_V_ERR_PATH_LENGTH_EXCEEDED: return QSslError::PathLengthExceeded;
    case X509_V_ERR_INVALID_PURPOSE: return QSslError::InvalidPurpose;
    case X509_V_ERR_CERT_UNTRUSTED: return QSslError::CertificateUntrusted;
    case X509_V_ERR_CERT_REJECTED: return QSslError::CertificateRejected;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return QSslError::HostNameMismatch;
    default: return QSslError::UnspecifiedError;
    }
}

} // namespace

// The write side of the connection as OpenSSL sees it: records go to the
// socket's batch, and from there to the TCP socket.
struct TlsSocketBio
{
    static TlsSocket *socket(BIO *b) { return static_cast<TlsSocket *>(BIO_get_data(b)); }
    static int write(BIO *b, const char *data, int size)
    {
        BIO_clear_retry_flags(b);
        TlsSocket *s = socket(b);
        return s && s->toKernel(data, size) >= 0 ? size : -1;
    }
    static int read(BIO *, char *, int) { return -1; }
    static long control(BIO *, int command, long, void *) { return command == BIO_CTRL_FLUSH ? 1 : 0; }
    static int create(BIO *b)
    {
        BIO_set_init(b, 1);
        return 1;
    }
    static int destroy(BIO *) { return 1; }
    static BIO_METHOD *method()
    {
        static BIO_METHOD *m = [] {
            BIO_METHOD *x = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tessaly-socket");
            BIO_meth_set_write(x, &TlsSocketBio::write);
            BIO_meth_set_read(x, &TlsSocketBio::read);
            BIO_meth_set_ctrl(x, &TlsSocketBio::control);
            BIO_meth_set_create(x, &TlsSocketBio::create);
            BIO_meth_set_destroy(x, &TlsSocketBio::destroy);
            return x;
        }();
        return m;
    }
    // Every problem with the chain is noted and the handshake goes on; the
    // verdict comes when it is over.
    static int verify(int ok, X509_STORE_CTX *store)
    {
        if (ok)
            return 1;
        auto *ssl = static_cast<SSL *>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        if (auto *s = ssl ? static_cast<TlsSocket *>(SSL_get_ex_data(ssl, socketIndex())) : nullptr) {
            const QSslError e(toQt(X509_STORE_CTX_get_error(store)), toQt(X509_STORE_CTX_get_current_cert(store)));
            if (!s->errors_.contains(e))
                s->errors_ << e;
        }
        return 1;
    }
    // One context while the authorities to trust stay the same (the system's,
    // and those SSL_CERT_FILE and SSL_CERT_DIR add, read when it is made).
    static SSL_CTX *context()
    {
        static SSL_CTX *ctx = nullptr;
        static QByteArray madeFor;
        const QByteArray key = qgetenv("SSL_CERT_FILE") + '\n' + qgetenv("SSL_CERT_DIR");
        if (ctx && key == madeFor)
            return ctx;
        SSL_CTX *c = SSL_CTX_new(TLS_client_method());
        if (!c)
            return nullptr;
        SSL_CTX_set_min_proto_version(c, TLS1_2_VERSION);
        SSL_CTX_set_default_verify_paths(c);
        SSL_CTX_set_verify(c, SSL_VERIFY_PEER, &TlsSocketBio::verify);
        SSL_CTX_set_options(c, SSL_OP_NO_RENEGOTIATION);
        // TLS 1.3 suites, AES-128-GCM first (as browsers ask): as safe, and
        // its fewer rounds are the cheapest thing per byte posted.
        SSL_CTX_set_ciphersuites(c, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
        if (ctx)
            SSL_CTX_free(ctx);
        ctx = c;
        madeFor = key;
        return ctx;
    }
};

TlsSocket::TlsSocket(QObject *parent) : QTcpSocket(parent), plain_(new QTcpSocket(this))
{
    connect(plain_, &QTcpSocket::connected, this, &TlsSocket::onPlainConnected);
    connect(plain_, &QTcpSocket::readyRead, this, &TlsSocket::onPlainReadyRead);
    connect(plain_, &QTcpSocket::bytesWritten, this, &TlsSocket::onPlainBytesWritten);
    connect(plain_, &QTcpSocket::errorOccurred, this, &TlsSocket::onPlainError);
    connect(plain_, &QTcpSocket::disconnected, this, &TlsSocket::onPlainDisconnected);
    connect(plain_, &QTcpSocket::stateChanged, this, [this](QAbstractSocket::SocketState s) {
        if (s == HostLookupState || s == ConnectingState) {
            setSocketState(s);
            emit stateChanged(s);
        }
    });
}

TlsSocket::~TlsSocket()
{
    plain_->blockSignals(true);
    teardown();
    setSocketState(UnconnectedState); // nothing left for the base class to close
}

void TlsSocket::connectToHostEncrypted(const QString &host, quint16 port, const QString &pinned,
                                       std::function<void(const QString &)> refused)
{
    close();
    host_ = host;
    pinned_ = pinned;
    refused_ = std::move(refused);
    setSocketError(UnknownSocketError);
    setErrorString(QString());
    setOpenMode(ReadWrite | Unbuffered);
    setPeerName(host);
    setPeerPort(port);
    plain_->connectToHost(host, port, ReadWrite | Unbuffered);
}

void TlsSocket::connectToHost(const QString &hostName, quint16 port, OpenMode, NetworkLayerProtocol)
{
    connectToHostEncrypted(hostName, port, QString(), {});
}

qint64 TlsSocket::bytesAvailable() const
{
    return decrypted_.size() + QIODevice::bytesAvailable();
}

qintptr TlsSocket::transportDescriptor() const
{
    return plain_->socketDescriptor();
}

qint64 TlsSocket::bytesToWrite() const
{
    return early_.size() + outLen_ + plain_->bytesToWrite();
}

void TlsSocket::close()
{
    const bool wasConnected = state() == ConnectedState || state() == ClosingState;
    const bool wasOpen = state() != UnconnectedState;
    teardown();
    setSocketState(UnconnectedState);
    QPointer<TlsSocket> self(this);
    if (wasOpen)
        emit stateChanged(UnconnectedState);
    if (self && wasConnected)
        emit disconnected();
    if (self)
        QIODevice::close();
}

void TlsSocket::disconnectFromHost()
{
    if (ssl_ && encrypted_) {
        SSL_shutdown(ssl_); // close_notify
        flushOut();
    }
    if (plain_->state() == UnconnectedState) {
        onPlainDisconnected();
        return;
    }
    setSocketState(ClosingState);
    emit stateChanged(ClosingState);
    plain_->disconnectFromHost(); // after what is still to go
}

qint64 TlsSocket::readData(char *data, qint64 maxSize)
{
    const qint64 n = std::min<qint64>(maxSize, decrypted_.size());
    if (n <= 0)
        return state() == ConnectedState ? 0 : -1;
    std::memcpy(data, decrypted_.constData(), std::size_t(n));
    if (n == decrypted_.size())
        decrypted_.clear();
    else
        decrypted_.remove(0, n);
    return n;
}

qint64 TlsSocket::writeData(const char *data, qint64 size)
{
    if (state() != ConnectedState || !ssl_) {
        setErrorString(u"The connection is not open"_s);
        return -1;
    }
    if (!encrypted_) {
        early_.append(data, size); // goes out when the handshake is over
        return size;
    }
    return encryptAndSend(data, size) ? size : -1;
}

void TlsSocket::onPlainConnected()
{
    setSocketState(ConnectedState);
    setLocalAddress(plain_->localAddress());
    setLocalPort(plain_->localPort());
    setPeerAddress(plain_->peerAddress());
    emit stateChanged(ConnectedState);
    startHandshake();
    if (ssl_)
        emit connected();
}

void TlsSocket::startHandshake()
{
    SSL_CTX *ctx = TlsSocketBio::context();
    ssl_ = ctx ? SSL_new(ctx) : nullptr;
    if (!ssl_) {
        fail(SslInternalError, u"TLS could not be set up: "_s + openSslErrors());
        return;
    }
    in_ = BIO_new(BIO_s_mem());
    BIO *out = BIO_new(TlsSocketBio::method());
    BIO_set_data(out, this);
    SSL_set_bio(ssl_, in_, out); // both belong to the connection now
    SSL_set_ex_data(ssl_, socketIndex(), this);
    SSL_set_connect_state(ssl_);
    const QByteArray name = host_.toUtf8();
    X509_VERIFY_PARAM *param = SSL_get0_param(ssl_);
    if (!QHostAddress(host_).isNull()) {
        X509_VERIFY_PARAM_set1_ip_asc(param, name.constData());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        X509_VERIFY_PARAM_set1_host(param, name.constData(), std::size_t(name.size()));
        // SNI (what SSL_set_tlsext_host_name expands to, without its C cast)
        SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char *>(name.constData()));
    }
    continueHandshake();
}

bool TlsSocket::continueHandshake()
{
    const int r = SSL_do_handshake(ssl_);
    flushOut();
    if (r == 1) {
        finishHandshake();
        return ssl_ != nullptr;
    }
    if (SSL_get_error(ssl_, r) == SSL_ERROR_WANT_READ && !writeFailed_)
        return true;
    if (writeFailed_) {
        fail(SslHandshakeFailedError, u"The TLS handshake failed: "_s + openSslErrors());
        return false;
    }
    // The server answered, and not with a TLS this program can use: trying
    // again will not change that, so it is said as a refusal a person can act on.
    // The reason is read before openSslErrors() empties the error queue.
    const int reason = ERR_GET_REASON(ERR_peek_last_error());
    const QString why = handshakeVerdict(reason, firstBytes_, openSslErrors());
    const auto refused = refused_;
    QPointer<TlsSocket> self(this);
    if (refused)
        refused(why);
    if (self)
        fail(SslHandshakeFailedError, why);
    return false;
}

void TlsSocket::finishHandshake()
{
    const QSslCertificate peer = toQt(SSL_get0_peer_certificate(ssl_));
    if (peer.isNull())
        errors_ << QSslError(QSslError::NoPeerCertificate);
    const TlsVerdict verdict = judgeCertificate(errors_, peer, pinned_);
    if (!verdict.accepted) {
        const auto refused = refused_;
        QPointer<TlsSocket> self(this);
        if (refused)
            refused(verdict.reason);
        if (self)
            fail(SslHandshakeFailedError, verdict.reason);
        return;
    }
    encrypted_ = true;
    if (!early_.isEmpty()) {
        const QByteArray early = std::exchange(early_, {});
        if (!encryptAndSend(early.constData(), early.size()))
            return;
    }
    emit encrypted();
}

void TlsSocket::onPlainReadyRead()
{
    // The TCP socket is unbuffered: a read of -1 is the only word that the
    // server closed the connection (it sends no signal of its own then).
    bool closed = false;
    char chunk[16384];
    for (;;) {
        const qint64 n = plain_->read(chunk, sizeof chunk);
        if (n > 0 && ssl_) {
            BIO_write(in_, chunk, int(n));
            if (!encrypted_ && firstBytes_.size() < 64)
                firstBytes_.append(chunk, int(std::min<qint64>(n, 64 - firstBytes_.size())));
        }
        if (n == qint64(sizeof chunk))
            continue;
        closed = n < 0;
        break;
    }
    const quint64 generation = generation_;
    if (ssl_ && !encrypted_ && BIO_pending(in_) > 0)
        if (!continueHandshake() || generation != generation_)
            return;
    if (ssl_ && encrypted_ && !decrypt())
        return;
    if (closed && generation == generation_ && state() != UnconnectedState)
        onPlainError(plain_->error() == UnknownSocketError ? RemoteHostClosedError : plain_->error());
}

bool TlsSocket::decrypt()
{
    const qint64 before = decrypted_.size();
    for (;;) {
        const qint64 at = decrypted_.size();
        decrypted_.resize(at + 16384);
        std::size_t n = 0;
        const int r = SSL_read_ex(ssl_, decrypted_.data() + at, 16384, &n);
        decrypted_.resize(at + qint64(n));
        if (r == 1)
            continue;
        const int e = SSL_get_error(ssl_, r);
        flushOut(); // a reply OpenSSL owes the server (a key update)
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_ZERO_RETURN) // ZERO_RETURN: the server said goodbye
            break;
        fail(SslInternalError, u"Reading from the TLS connection failed: "_s + openSslErrors());
        return false;
    }
    if (decrypted_.size() == before)
        return true;
    const quint64 generation = generation_;
    emit readyRead();
    return generation == generation_;
}

void TlsSocket::onPlainBytesWritten()
{
    if (unreported_ > 0 && plain_->bytesToWrite() == 0)
        reportWritten();
}

void TlsSocket::onPlainError(QAbstractSocket::SocketError error)
{
    setSocketError(error);
    setErrorString(error == RemoteHostClosedError ? u"The remote host closed the connection"_s : plain_->errorString());
    QPointer<TlsSocket> self(this);
    emit errorOccurred(error);
    // A connection that could not be made ends here; a closed one with the
    // TCP socket's own disconnected().
    if (self && plain_->state() == UnconnectedState && state() != UnconnectedState)
        close();
}

void TlsSocket::onPlainDisconnected()
{
    close();
}

bool TlsSocket::encryptAndSend(const char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        std::size_t n = 0;
        const int r = SSL_write_ex(ssl_, data + done, std::size_t(std::min<qint64>(size - done, 1 << 30)), &n);
        if (r != 1 || writeFailed_) {
            flushOut();
            if (state() != UnconnectedState)
                fail(writeFailed_ ? plain_->error() : SslInternalError,
                 writeFailed_ ? plain_->errorString() : u"Writing to the TLS connection failed: "_s + openSslErrors());
            return false;
        }
        done += qint64(n);
    }
    flushOut();
    unreported_ += size;
    // Announced from the event loop, as sockets do, once the kernel has it all.
    if (!reportQueued_) {
        reportQueued_ = true;
        QMetaObject::invokeMethod(this, [this] {
            reportQueued_ = false;
            if (unreported_ > 0 && plain_->bytesToWrite() == 0)
                reportWritten();
        }, Qt::QueuedConnection);
    }
    return true;
}

void TlsSocket::reportWritten()
{
    const qint64 n = std::exchange(unreported_, 0);
    emit bytesWritten(n);
}

qint64 TlsSocket::toKernel(const char *data, qint64 size)
{
    if (writeFailed_)
        return -1;
    if (outLen_ + size > kOutBatch)
        flushOut();
    if (size > kOutBatch) {
        if (plain_->write(data, size) < 0)
            writeFailed_ = true;
    } else {
        std::memcpy(outBatch() + outLen_, data, std::size_t(size));
        outLen_ += size;
    }
    return writeFailed_ ? -1 : size;
}

void TlsSocket::flushOut()
{
    if (outLen_ == 0)
        return;
    const qint64 n = std::exchange(outLen_, 0);
    // Unbuffered: what the kernel takes now goes at once, the rest waits in
    // the TCP socket until it can go.
    if (plain_->write(outBatch(), n) < 0)
        writeFailed_ = true;
}

void TlsSocket::fail(QAbstractSocket::SocketError error, const QString &text)
{
    const bool wasConnected = state() == ConnectedState || state() == ClosingState;
    teardown();
    setSocketError(error);
    setErrorString(text);
    setSocketState(UnconnectedState);
    QPointer<TlsSocket> self(this);
    emit errorOccurred(error);
    if (self && wasConnected) {
        emit stateChanged(UnconnectedState);
        emit disconnected();
    }
}

void TlsSocket::teardown()
{
    ++generation_;
    if (ssl_)
        SSL_free(ssl_); // and both BIOs with it
    ssl_ = nullptr;
    in_ = nullptr;
    encrypted_ = false;
    writeFailed_ = false;
    errors_.clear();
    decrypted_.clear();
    early_.clear();
    outLen_ = 0;
    unreported_ = 0;
    ERR_clear_error();
    const bool blocked = plain_->blockSignals(true);
    plain_->abort();
    plain_->blockSignals(blocked);
}

} // namespace tessaly
