#include "net/tlschannel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace vexor::net {

namespace {

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

SSL_CTX* newClientContext()
{
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx)
        return nullptr;
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // An HTTP/1.0 body ends when the server closes, and many servers close
    // without the closing alert: a close without it ends the stream like the
    // alert, as a close ends a plain HTTP body.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION);
    // Writes behave like send(): part of a buffer may go out, and the rest
    // is offered again later, not necessarily from the same address.
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Whole blocks from the socket instead of a header and a body per record.
    SSL_CTX_set_read_ahead(ctx, 1);
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

// Reading the trust store costs milliseconds, so the context is shared and
// made again only when SSL_CERT_FILE or SSL_CERT_DIR changed. Each SSL holds
// its own reference, so an old context lives on as long as a channel uses it.
// The cache itself is never freed: OpenSSL's own clean-up at exit may run
// before any static destructor would.
SSL* newClientSsl()
{
    struct Cache {
        std::mutex mutex;
        std::string key;
        SSL_CTX* ctx = nullptr;
    };
    static Cache* const cache = new Cache;
    const std::string key = environmentValue("SSL_CERT_FILE") + '\n' + environmentValue("SSL_CERT_DIR");
    std::lock_guard lock(cache->mutex);
    if (!cache->ctx || cache->key != key) {
        SSL_CTX* fresh = newClientContext();
        if (!fresh)
            return nullptr;
        SSL_CTX_free(cache->ctx);
        cache->ctx = fresh;
        cache->key = key;
    }
    return SSL_new(cache->ctx);
}

// OpenSSL's socket BIO writes with write(), which raises SIGPIPE when the
// server has gone; this one sends with MSG_NOSIGNAL and is otherwise the same.
int sendWithoutSignal(BIO* bio, const char* data, int size)
{
    const int fd = static_cast<int>(BIO_get_fd(bio, nullptr));
    BIO_clear_retry_flags(bio);
    const ssize_t n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && BIO_sock_should_retry(static_cast<int>(n)))
        BIO_set_retry_write(bio);
    return static_cast<int>(n);
}

// Made once and kept for the life of the process, like the trust store cache.
BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const method = [] {
        const BIO_METHOD* plain = BIO_s_socket();
        BIO_METHOD* m = BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (m) {
            BIO_meth_set_write(m, sendWithoutSignal);
            BIO_meth_set_read(m, BIO_meth_get_read(plain));
            BIO_meth_set_puts(m, BIO_meth_get_puts(plain));
            BIO_meth_set_ctrl(m, BIO_meth_get_ctrl(plain));
            BIO_meth_set_create(m, BIO_meth_get_create(plain));
            BIO_meth_set_destroy(m, BIO_meth_get_destroy(plain));
        }
        return m;
    }();
    return method;
}

bool attachSocket(SSL* ssl, int fd)
{
    BIO_METHOD* method = socketMethod();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!bio)
        return false;
    BIO_set_fd(bio, fd, BIO_NOCLOSE);
    SSL_set_bio(ssl, bio, bio);  // the SSL owns it from here
    return true;
}

std::string unbracketed(const std::string& name)
{
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        return name.substr(1, name.size() - 2);
    return name;
}

bool ipLiteral(const std::string& name)
{
    unsigned char address[16];
    return ::inet_pton(AF_INET, name.c_str(), address) == 1
        || ::inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// The reason OpenSSL queued last ("unsupported protocol", "tlsv1 alert
// protocol version", ...), or what the socket said.
std::string reasonText(int sslError, int savedErrno)
{
    if (const unsigned long code = ERR_peek_last_error(); code != 0) {
        if (const char* reason = ERR_reason_error_string(code))
            return reason;
        return "error " + std::to_string(ERR_GET_REASON(code));
    }
    if (sslError == SSL_ERROR_SYSCALL && savedErrno != 0)
        return std::strerror(savedErrno);
    return "connection closed by the server";
}

}  // namespace

TlsChannel::TlsChannel(int fd, const std::string& serverName) : m_name(unbracketed(serverName))
{
    ERR_clear_error();
    m_ssl = newClientSsl();
    if (!m_ssl)
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: cannot set up TLS (" + m_name + ")");
    bool ok = attachSocket(m_ssl, fd);
    if (ipLiteral(m_name)) {
        // No server name indication for an address; the certificate must
        // carry the address itself.
        ok = ok && X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(m_ssl), m_name.c_str()) == 1;
    } else {
        SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        ok = ok && SSL_set_tlsext_host_name(m_ssl, m_name.c_str()) == 1
            && SSL_set1_host(m_ssl, m_name.c_str()) == 1;
    }
    if (!ok) {
        SSL_free(m_ssl);
        ERR_clear_error();
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: invalid host name (" + m_name + ")");
    }
    SSL_set_connect_state(m_ssl);
}

TlsChannel::~TlsChannel()
{
    SSL_free(m_ssl);
    // What a failed call left in this thread's error queue must not be read
    // as the reason of the next one.
    ERR_clear_error();
}

void TlsChannel::Fail(int sslError, const char* what)
{
    const int savedErrno = errno;
    m_broken = true;
    std::int32_t code = ErrTlsHandshake;
    std::string text;
    const long verify = SSL_get_verify_result(m_ssl);
    if (verify != X509_V_OK && !SSL_is_init_finished(m_ssl)) {
        code = ErrTlsCertificate;
        text = std::string("Certificate verify failed: ") + X509_verify_cert_error_string(verify);
    } else {
        text = std::string(what) + ": " + reasonText(sslError, savedErrno);
    }
    ERR_clear_error();
    throw ETlsError(code, text + " (" + m_name + ")");
}

bool TlsChannel::Handshake(short& wait)
{
    ERR_clear_error();
    const int result = SSL_do_handshake(m_ssl);
    if (result == 1)
        return true;
    const int error = SSL_get_error(m_ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        wait = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        return false;
    }
    Fail(error, "TLS handshake failed");
}

ssize_t TlsChannel::Outcome(int result, short& wait, const char* what)
{
    const int savedErrno = errno;
    const int error = SSL_get_error(m_ssl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        wait = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        errno = EAGAIN;
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SYSCALL:
        if (ERR_peek_error() == 0) {
            // The socket failed: the caller reports it like a plain one.
            m_broken = true;
            errno = savedErrno != 0 ? savedErrno : ECONNRESET;
            return -1;
        }
        [[fallthrough]];
    default:
        Fail(error, what);
    }
}

ssize_t TlsChannel::Read(char* buffer, std::size_t size, bool peek, short& wait)
{
    std::size_t total = 0;
    while (total < size) {
        ERR_clear_error();
        std::size_t got = 0;
        const int result = peek ? SSL_peek_ex(m_ssl, buffer, size, &got)
                                : SSL_read_ex(m_ssl, buffer + total, size - total, &got);
        if (result == 1) {
            total += got;
            if (peek)
                break;  // a peek sees one record; the caller peeks again later
            continue;
        }
        // What is in already is returned; the next call meets the cause.
        if (total > 0)
            break;
        return Outcome(result, wait, "TLS error");
    }
    return static_cast<ssize_t>(total);
}

ssize_t TlsChannel::Write(const char* data, std::size_t size, short& wait)
{
    ERR_clear_error();
    std::size_t written = 0;
    const int result = SSL_write_ex(m_ssl, data, size, &written);
    if (result == 1)
        return static_cast<ssize_t>(written);
    return Outcome(result, wait, "TLS error");
}

void TlsChannel::Close()
{
    // OpenSSL forbids a shutdown after a fatal error.
    if (m_broken || !SSL_is_init_finished(m_ssl))
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
}

}  // namespace vexor::net
