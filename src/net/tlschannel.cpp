#include "net/tlschannel.h"

#include "net/address.h"
#include "net/openssllib.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace vexor::net {

namespace {

// OpenSSL's socket BIO writes with write(), which raises SIGPIPE when the
// server has gone; this one sends with MSG_NOSIGNAL and is otherwise the same.
int sendWithoutSignal(BIO* bio, const char* data, int size)
{
    const OpenSsl& o = ossl();
    const int fd = static_cast<int>(o.BIO_ctrl(bio, BIO_C_GET_FD, 0, nullptr));
    o.BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    const ssize_t n = ::send(fd, data, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (n < 0 && o.BIO_sock_should_retry(static_cast<int>(n)))
        o.BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
    return static_cast<int>(n);
}

// Made once and kept for the life of the process, like the trust store cache.
BIO_METHOD* socketMethod()
{
    static BIO_METHOD* const method = [] {
        const OpenSsl& o = ossl();
        const BIO_METHOD* plain = o.BIO_s_socket();
        BIO_METHOD* m = o.BIO_meth_new(BIO_TYPE_SOCKET, "socket without SIGPIPE");
        if (m) {
            o.BIO_meth_set_write(m, sendWithoutSignal);
            o.BIO_meth_set_read(m, o.BIO_meth_get_read(plain));
            o.BIO_meth_set_puts(m, o.BIO_meth_get_puts(plain));
            o.BIO_meth_set_ctrl(m, o.BIO_meth_get_ctrl(plain));
            o.BIO_meth_set_create(m, o.BIO_meth_get_create(plain));
            o.BIO_meth_set_destroy(m, o.BIO_meth_get_destroy(plain));
        }
        return m;
    }();
    return method;
}

bool attachSocket(SSL* ssl, int fd)
{
    BIO_METHOD* method = socketMethod();
    BIO* bio = method ? ossl().BIO_new(method) : nullptr;
    if (!bio)
        return false;
    ossl().BIO_int_ctrl(bio, BIO_C_SET_FD, BIO_NOCLOSE, fd);
    ossl().SSL_set_bio(ssl, bio, bio);  // the SSL owns it from here
    return true;
}

// The reason OpenSSL queued last ("unsupported protocol", "tlsv1 alert
// protocol version", ...), or what the socket said.
std::string reasonText(int sslError, int savedErrno)
{
    if (const unsigned long code = ossl().ERR_peek_last_error(); code != 0) {
        if (const char* reason = ossl().ERR_reason_error_string(code))
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
    if (!loadOpenSsl())
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: cannot load OpenSSL (" + m_name + ")");
    const OpenSsl& o = ossl();
    o.ERR_clear_error();
    m_ssl = newClientSsl();
    if (!m_ssl)
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: cannot set up TLS (" + m_name + ")");
    bool ok = attachSocket(m_ssl, fd);
    if (isIpLiteral(m_name)) {
        // No server name indication for an address; the certificate must
        // carry the address itself.
        ok = ok && o.X509_VERIFY_PARAM_set1_ip_asc(o.SSL_get0_param(m_ssl), m_name.c_str()) == 1;
    } else {
        o.SSL_set_hostflags(m_ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        // SSL_set_tlsext_host_name
        ok = ok
            && o.SSL_ctrl(m_ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, m_name.data()) == 1
            && o.SSL_set1_host(m_ssl, m_name.c_str()) == 1;
    }
    if (!ok) {
        o.SSL_free(m_ssl);
        o.ERR_clear_error();
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: invalid host name (" + m_name + ")");
    }
    o.SSL_set_connect_state(m_ssl);
}

TlsChannel::~TlsChannel()
{
    ossl().SSL_free(m_ssl);
    // What a failed call left in this thread's error queue must not be read
    // as the reason of the next one.
    ossl().ERR_clear_error();
}

void TlsChannel::Fail(int sslError, const char* what)
{
    const int savedErrno = errno;
    m_broken = true;
    std::int32_t code = ErrTlsHandshake;
    std::string text;
    const OpenSsl& o = ossl();
    const long verify = o.SSL_get_verify_result(m_ssl);
    if (verify != X509_V_OK && !o.SSL_is_init_finished(m_ssl)) {
        code = ErrTlsCertificate;
        text = std::string("Certificate verify failed: ") + o.X509_verify_cert_error_string(verify);
    } else {
        text = std::string(what) + ": " + reasonText(sslError, savedErrno);
    }
    o.ERR_clear_error();
    throw ETlsError(code, text + " (" + m_name + ")");
}

bool TlsChannel::Handshake(short& wait)
{
    const OpenSsl& o = ossl();
    o.ERR_clear_error();
    const int result = o.SSL_do_handshake(m_ssl);
    if (result == 1)
        return true;
    const int error = o.SSL_get_error(m_ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        wait = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        return false;
    }
    Fail(error, "TLS handshake failed");
}

ssize_t TlsChannel::Outcome(int result, short& wait, const char* what)
{
    const int savedErrno = errno;
    const int error = ossl().SSL_get_error(m_ssl, result);
    switch (error) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        wait = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        errno = EAGAIN;
        return -1;
    case SSL_ERROR_ZERO_RETURN:
        return 0;
    case SSL_ERROR_SSL:
        if (ERR_GET_REASON(ossl().ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
            Truncated();
        Fail(error, what);
    case SSL_ERROR_SYSCALL:
        // A close without the closing alert (the socket read gave 0, errno
        // cleared before the call stays 0): the stream was cut.
        if (ossl().ERR_peek_error() == 0 && savedErrno == 0)
            Truncated();
        if (ossl().ERR_peek_error() == 0) {
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

void TlsChannel::Truncated()
{
    m_broken = true;
    ossl().ERR_clear_error();
    throw ETlsError(ErrTlsTruncated, "Transfer incomplete");
}

ssize_t TlsChannel::Read(char* buffer, std::size_t size, bool peek, short& wait)
{
    const OpenSsl& o = ossl();
    std::size_t total = 0;
    while (total < size) {
        o.ERR_clear_error();
        errno = 0;
        std::size_t got = 0;
        const int result = peek ? o.SSL_peek_ex(m_ssl, buffer, size, &got)
                                : o.SSL_read_ex(m_ssl, buffer + total, size - total, &got);
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
    ossl().ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    const int result = ossl().SSL_write_ex(m_ssl, data, size, &written);
    if (result == 1)
        return static_cast<ssize_t>(written);
    return Outcome(result, wait, "TLS error");
}

void TlsChannel::Close()
{
    // OpenSSL forbids a shutdown after a fatal error.
    const OpenSsl& o = ossl();
    if (m_broken || !o.SSL_is_init_finished(m_ssl))
        return;
    o.ERR_clear_error();
    o.SSL_shutdown(m_ssl);
    o.ERR_clear_error();
}

}  // namespace vexor::net
