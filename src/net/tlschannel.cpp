#include "net/tlschannel.h"

#include "net/tlssessions.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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

// OpenSSL is loaded when the first channel is made, not at start: most runs
// speak plain HTTP only, and the two libraries cost every process that links
// them some 1.7 MB of resident pages (relocations, symbol tables). Every call
// goes through this table; OpenSSL's macros are written out as the calls they
// stand for.
#define VEXOR_OPENSSL_FUNCTIONS(X)                                                                        \
    X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl) X(SSL_CTX_set_verify)             \
    X(SSL_CTX_set_options) X(SSL_CTX_set_default_verify_paths) X(SSL_new) X(SSL_free) X(SSL_ctrl)         \
    X(SSL_set_bio) X(SSL_get0_param) X(SSL_set_hostflags) X(SSL_set1_host) X(SSL_set_connect_state)       \
    X(SSL_get_verify_result) X(SSL_is_init_finished) X(SSL_do_handshake) X(SSL_get_error) X(SSL_peek_ex)  \
    X(SSL_read_ex) X(SSL_write_ex) X(SSL_shutdown) X(X509_VERIFY_PARAM_set1_ip_asc)                       \
    X(X509_verify_cert_error_string) X(ERR_clear_error) X(ERR_peek_error) X(ERR_peek_last_error)          \
    X(ERR_reason_error_string) X(BIO_ctrl) X(BIO_int_ctrl) X(BIO_set_flags) X(BIO_clear_flags)            \
    X(BIO_sock_should_retry) X(BIO_s_socket) X(BIO_new) X(BIO_meth_new) X(BIO_meth_set_write)             \
    X(BIO_meth_set_read) X(BIO_meth_set_puts) X(BIO_meth_set_ctrl) X(BIO_meth_set_create)                 \
    X(BIO_meth_set_destroy) X(BIO_meth_get_read) X(BIO_meth_get_puts) X(BIO_meth_get_ctrl)                \
    X(BIO_meth_get_create) X(BIO_meth_get_destroy) X(OPENSSL_init_ssl) X(SSL_CTX_sess_set_new_cb)         \
    X(SSL_set_ex_data) X(SSL_get_ex_data) X(SSL_set_session) X(SSL_session_reused) X(SSL_SESSION_free)    \
    X(SSL_SESSION_is_resumable) X(SSL_SESSION_get_protocol_version)

struct OpenSsl {
#define VEXOR_DECLARE(name) decltype(&::name) name = nullptr;
    VEXOR_OPENSSL_FUNCTIONS(VEXOR_DECLARE)
#undef VEXOR_DECLARE
};

// The table, loaded once (libssl brings libcrypto); null when the library or
// one of its functions is missing. Neither is ever unloaded.
const OpenSsl* loadOpenSsl()
{
    static const OpenSsl* const loaded = []() -> const OpenSsl* {
        const std::string file = "libssl.so." + std::to_string(OPENSSL_SHLIB_VERSION);
        void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        auto* table = new OpenSsl;
        bool complete = true;
#define VEXOR_RESOLVE(name)                                                               \
    table->name = reinterpret_cast<decltype(table->name)>(::dlsym(library, #name)); \
    complete = complete && table->name != nullptr;
        VEXOR_OPENSSL_FUNCTIONS(VEXOR_RESOLVE)
#undef VEXOR_RESOLVE
        if (complete)
            return table;
        delete table;
        return nullptr;
    }();
    return loaded;
}

// The table once a channel exists (its constructor loaded it).
const OpenSsl& ossl()
{
    return *loadOpenSsl();
}

std::string environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

SSL_CTX* newClientContext()
{
    const OpenSsl& o = ossl();
    SSL_CTX* ctx = o.SSL_CTX_new(o.TLS_client_method());
    if (!ctx)
        return nullptr;
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    o.SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // An HTTP/1.0 body ends when the server closes, and many servers close
    // without the closing alert: a close without it ends the stream like the
    // alert, as a close ends a plain HTTP body.
    o.SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_COMPRESSION);
    // Writes behave like send(): part of a buffer may go out, and the rest
    // is offered again later, not necessarily from the same address.
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_MODE, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER, nullptr);
    // Whole blocks from the socket instead of a header and a body per record.
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_READ_AHEAD, 1, nullptr);
    // Sessions are kept per server by the channels (tlssessions.h); OpenSSL's
    // own store knows no host names. SSL_CTX_set_session_cache_mode:
    o.SSL_CTX_ctrl(ctx, SSL_CTRL_SET_SESS_CACHE_MODE, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE,
                   nullptr);
    o.SSL_CTX_sess_set_new_cb(ctx, TlsChannel::SessionArrived);
    if (o.SSL_CTX_set_default_verify_paths(ctx) != 1) {
        o.SSL_CTX_free(ctx);
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
        ossl().SSL_CTX_free(cache->ctx);
        cache->ctx = fresh;
        cache->key = key;
    }
    return ossl().SSL_new(cache->ctx);
}

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

TlsChannel::TlsChannel(int fd, const std::string& serverName, std::int32_t port)
    : m_name(unbracketed(serverName)), m_sessionKey(SessionKey(m_name, port))
{
    if (!loadOpenSsl())
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: cannot load OpenSSL (" + m_name + ")");
    const OpenSsl& o = ossl();
    o.ERR_clear_error();
    m_ssl = newClientSsl();
    if (!m_ssl)
        throw ETlsError(ErrTlsHandshake, "TLS handshake failed: cannot set up TLS (" + m_name + ")");
    bool ok = attachSocket(m_ssl, fd);
    // A resumed handshake ends with two small writes, the client's Finished
    // and the request: with Nagle's algorithm the request waits for the
    // server's delayed acknowledgement of the Finished (40 ms on Linux).
    // Records go out whole anyway. A socket that is not TCP (tests) refuses.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    if (ipLiteral(m_name)) {
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
    OfferSession();
}

void TlsChannel::OfferSession()
{
    const OpenSsl& o = ossl();
    o.SSL_set_ex_data(m_ssl, 0, this);  // for SessionArrived
    // A session OpenSSL refuses (a protocol this build no longer speaks)
    // leaves a full handshake.
    Sessions().offer(m_sessionKey, [&](SSL_SESSION* session) {
        if (o.SSL_set_session(m_ssl, session) != 1)
            o.ERR_clear_error();
    });
}

TlsSessionCache& TlsChannel::Sessions()
{
    struct Held {
        Held()
        {
            if (loadOpenSsl())
                ossl().OPENSSL_init_ssl(0, nullptr);
        }
        TlsSessionCache cache;
    };
    static Held held;
    return held.cache;
}

std::string TlsChannel::SessionKey(const std::string& serverName, std::int32_t port)
{
    return unbracketed(serverName) + '\0' + std::to_string(port) + '\0' + environmentValue("SSL_CERT_FILE") + '\0'
        + environmentValue("SSL_CERT_DIR");
}

int TlsChannel::SessionArrived(SSL* ssl, SSL_SESSION* session)
{
    const OpenSsl& o = ossl();
    auto* channel = static_cast<TlsChannel*>(o.SSL_get_ex_data(ssl, 0));
    // Only a server that passed the checks; TLS 1.2 calls this at the end
    // of the handshake, TLS 1.3 for each ticket that arrives after it.
    if (!channel || o.SSL_get_verify_result(ssl) != X509_V_OK || !o.SSL_SESSION_is_resumable(session))
        return 0;
    const bool ticket = o.SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION;
    // A full handshake: the server no longer takes what the cache held.
    const bool replace = !channel->m_keptSession && !o.SSL_session_reused(ssl);
    Sessions().keep(channel->m_sessionKey, session, o.SSL_SESSION_free, ticket, replace);
    channel->m_keptSession = true;
    return 1;
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
    if (result == 1) {
        countTlsHandshake(o.SSL_session_reused(m_ssl) == 1);
        return true;
    }
    const int error = o.SSL_get_error(m_ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        wait = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
        return false;
    }
    // Whatever the cause (another certificate, a server that forgot its
    // keys, a cut connection), the next handshake starts afresh.
    Sessions().drop(m_sessionKey);
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
    case SSL_ERROR_SYSCALL:
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

ssize_t TlsChannel::Read(char* buffer, std::size_t size, bool peek, short& wait)
{
    const OpenSsl& o = ossl();
    std::size_t total = 0;
    while (total < size) {
        o.ERR_clear_error();
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
