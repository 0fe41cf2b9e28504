#include "mail/tls_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <memory>

#include "mail/exceptions.h"
#include "mail/socket_errors.h"
#include "platform/paths.h"

namespace tzn {

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE on a connection the
// peer has reset; the host application must not die of that, so the bytes go through
// send(MSG_NOSIGNAL) here.
int SocketOf(BIO* b) {
    return *static_cast<const int*>(BIO_get_data(b));
}

int BioWrite(BIO* b, const char* data, size_t size, size_t* written) {
    BIO_clear_retry_flags(b);
    for (;;) {
        ssize_t n = ::send(SocketOf(b), data, size, MSG_NOSIGNAL);
        if (n >= 0) {
            *written = static_cast<size_t>(n);
            return 1;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(b);
        return 0;
    }
}

int BioRead(BIO* b, char* data, size_t size, size_t* readBytes) {
    BIO_clear_retry_flags(b);
    for (;;) {
        ssize_t n = ::recv(SocketOf(b), data, size, 0);
        if (n > 0) {
            *readBytes = static_cast<size_t>(n);
            return 1;
        }
        if (n == 0) {
            BIO_set_flags(b, BIO_FLAGS_IN_EOF);
            return 0;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(b);
        return 0;
    }
}

long BioCtrl(BIO* b, int cmd, long, void*) {
    switch (cmd) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return BIO_test_flags(b, BIO_FLAGS_IN_EOF) ? 1 : 0;
    default:
        return 0;
    }
}

BIO_METHOD* SocketMethod() {
    // Freed when the library is unloaded: a host that loads the plug-in again and again must
    // not keep one per load.
    static const std::unique_ptr<BIO_METHOD, decltype(&BIO_meth_free)> method(
        [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tzn socket");
            BIO_meth_set_write_ex(m, BioWrite);
            BIO_meth_set_read_ex(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            return m;
        }(),
        &BIO_meth_free);
    return method.get();
}

// The reason OpenSSL queued for the last failure, as one line.
std::string TakeOpenSslError() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        const char* reason = ERR_reason_error_string(e);
        if (!text.empty())
            text += "; ";
        text += reason ? reason : buf;
    }
    return text;
}

std::string NameLine(const X509_NAME* name) {
    if (!name)
        return {};
    BIO* mem = BIO_new(BIO_s_mem());
    X509_NAME_print_ex(mem, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long len = BIO_get_mem_data(mem, &data);
    std::string text(data, static_cast<size_t>(len > 0 ? len : 0));
    BIO_free(mem);
    return text;
}

bool IsIpAddress(const std::string& host) {
    unsigned char buf[16];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

} // namespace

struct TMxTLSSession::TMxImpl {
    SSL_CTX* Ctx = nullptr;
    SSL* Ssl = nullptr;
    int Fd = -1; // the socket the BIO reads and writes
    ~TMxImpl() {
        if (Ssl)
            SSL_free(Ssl);
        if (Ctx)
            SSL_CTX_free(Ctx);
    }
};

TMxTLSSession::TMxTLSSession(int fd, const std::string& host, const std::string& caFile)
    : FImpl(std::make_unique<TMxImpl>()), FHost(host) {
    ERR_clear_error();
    FImpl->Ctx = SSL_CTX_new(TLS_client_method());
    if (!FImpl->Ctx)
        throw EMxTLSError("TLS cannot be set up: " + TakeOpenSslError());
    SSL_CTX_set_min_proto_version(FImpl->Ctx, TLS1_2_VERSION);
    // A peer that drops the connection without close_notify ends the session like a close;
    // the mail protocols mark their own ends, so nothing can be cut off unnoticed.
    SSL_CTX_set_options(FImpl->Ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_mode(FImpl->Ctx,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(FImpl->Ctx, SSL_VERIFY_PEER, nullptr);
    if (!caFile.empty()) {
        const std::string native = NativePath(caFile).string();
        if (SSL_CTX_load_verify_locations(FImpl->Ctx, native.c_str(), nullptr) != 1)
            throw EMxTLSError("The CA file " + caFile + " cannot be read: " + TakeOpenSslError());
    } else if (SSL_CTX_set_default_verify_paths(FImpl->Ctx) != 1) {
        throw EMxTLSError("The system's CA store cannot be read: " + TakeOpenSslError());
    }

    FImpl->Ssl = SSL_new(FImpl->Ctx);
    if (!FImpl->Ssl)
        throw EMxTLSError("TLS cannot be set up: " + TakeOpenSslError());
    X509_VERIFY_PARAM* param = SSL_get0_param(FImpl->Ssl);
    if (IsIpAddress(host)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(FImpl->Ssl, host.c_str());
        SSL_set_tlsext_host_name(FImpl->Ssl, host.c_str());
    }

    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL, 0) | O_NONBLOCK);
    BIO* bio = BIO_new(SocketMethod());
    FImpl->Fd = fd;
    BIO_set_data(bio, &FImpl->Fd);
    BIO_set_init(bio, 1);
    SSL_set_bio(FImpl->Ssl, bio, bio);
}

TMxTLSSession::~TMxTLSSession() = default;

void TMxTLSSession::RaiseFailure(int sslError, const char* what) {
    const int saved = errno;
    std::string reason = TakeOpenSslError();
    if (sslError == SSL_ERROR_SYSCALL && reason.empty()) {
        if (saved != 0)
            RaiseSocketError(saved);
        throw EMxConnClosedGracefully();
    }
    if (std::string(what) == "handshake") {
        const long verify = SSL_get_verify_result(FImpl->Ssl);
        if (verify != X509_V_OK)
            throw EMxTLSError("TLS handshake with " + FHost + " failed: certificate refused: " +
                              X509_verify_cert_error_string(verify));
    }
    throw EMxTLSError(std::string("TLS ") + what + " with " + FHost +
                      " failed: " + (reason.empty() ? "protocol error" : reason));
}

int TMxTLSSession::Handshake() {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(FImpl->Ssl);
    if (rc == 1)
        return Done;
    const int err = SSL_get_error(FImpl->Ssl, rc);
    if (err == SSL_ERROR_WANT_READ)
        return WantRead;
    if (err == SSL_ERROR_WANT_WRITE)
        return WantWrite;
    if (err == SSL_ERROR_SYSCALL && errno == 0 && ERR_peek_error() == 0)
        throw EMxTLSError("TLS handshake with " + FHost +
                          " failed: the server closed the connection");
    RaiseFailure(err, "handshake");
}

int TMxTLSSession::Unfinished(const char* what) {
    const int err = SSL_get_error(FImpl->Ssl, 0);
    switch (err) {
    case SSL_ERROR_WANT_READ:
        return WantRead;
    case SSL_ERROR_WANT_WRITE:
        return WantWrite;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    default:
        RaiseFailure(err, what);
    }
}

int TMxTLSSession::Read(char* buffer, int size) {
    ERR_clear_error();
    errno = 0;
    size_t got = 0;
    if (SSL_read_ex(FImpl->Ssl, buffer, static_cast<size_t>(size), &got) == 1)
        return static_cast<int>(got);
    return Unfinished("read");
}

long TMxTLSSession::Write(const char* data, size_t size) {
    ERR_clear_error();
    errno = 0;
    size_t done = 0;
    if (SSL_write_ex(FImpl->Ssl, data, size, &done) == 1)
        return static_cast<long>(done);
    return Unfinished("write");
}

void TMxTLSSession::Shutdown() {
    ERR_clear_error();
    SSL_shutdown(FImpl->Ssl);
    ERR_clear_error();
}

TMxTLSInfo TMxTLSSession::Info() const {
    TMxTLSInfo info;
    info.Encrypted = true;
    info.Version = SSL_get_version(FImpl->Ssl);
    const char* cipher = SSL_get_cipher_name(FImpl->Ssl);
    info.Cipher = cipher ? cipher : "";
    if (X509* cert = SSL_get1_peer_certificate(FImpl->Ssl)) {
        info.Subject = NameLine(X509_get_subject_name(cert));
        info.Issuer = NameLine(X509_get_issuer_name(cert));
        X509_free(cert);
    }
    return info;
}

} // namespace tzn
