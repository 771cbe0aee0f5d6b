#pragma once

// TLS (1.2 and newer, OpenSSL) over a connected non-blocking socket.
//
// The channel reads and writes the socket itself (SSL_set_fd): it never
// waits. A call that needs the socket to become readable or writable first
// returns -1 with errno EAGAIN and names the poll() event in `wait`, so the
// transport waits in its own poll with the wake-up descriptor, the time-out
// and the pump, as it does for plain sockets. A read may have to write and a
// write may have to read (key updates), hence `wait` both ways.
//
// The server's certificate must chain to the system's trust store (OpenSSL's
// default paths, so SSL_CERT_FILE and SSL_CERT_DIR apply) and name the host
// the channel was made for: a DNS name, or an IP address among the
// certificate's IP addresses. Nothing turns the check off.

#include "net/sockettransport.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

struct ssl_st;

namespace vexor::net {

// A handshake or certificate check that failed, or a TLS protocol error
// later on. Code is ErrTlsHandshake or ErrTlsCertificate (sockerrors.h).
class ETlsError : public ESockError {
public:
    ETlsError(std::int32_t code, const std::string& text) : ESockError(text), Code(code) {}
    std::int32_t Code;
};

class TlsChannel {
public:
    // `serverName`: host name, dotted IPv4 or IPv6 literal (brackets allowed).
    // Raises ETlsError when OpenSSL cannot be set up.
    TlsChannel(int fd, const std::string& serverName);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // One step of the handshake: true when it is complete, false when the
    // socket must first report `wait`. Raises ETlsError ("Certificate verify
    // failed: certificate has expired (vendor.example.com)", "TLS handshake
    // failed: ...").
    bool Handshake(short& wait);
    // As recv()/send(): bytes moved, 0 when the server ended the stream with
    // its closing alert, -1 with errno (EAGAIN: wait for `wait`). A bare
    // close raises ETlsError "Transfer incomplete". Read fills the buffer from as many
    // records as are already in; with `peek` it consumes nothing. Protocol
    // errors raise ETlsError.
    ssize_t Read(char* buffer, std::size_t size, bool peek, short& wait);
    ssize_t Write(const char* data, std::size_t size, short& wait);
    // Sends the closing alert if the socket takes it at once; never waits.
    void Close();

private:
    [[noreturn]] void Fail(int sslError, const char* what);
    // The stream ended without the server's closing alert: raises
    // "Transfer incomplete".
    [[noreturn]] void Truncated();
    ssize_t Outcome(int result, short& wait, const char* what);

    ssl_st* m_ssl = nullptr;
    std::string m_name;
    bool m_broken = false;
};

}  // namespace vexor::net
