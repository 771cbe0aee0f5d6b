#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

namespace vexor::server {

// One accepted connection as cpp-httplib's server reads and writes it, with
// one difference from the library's own stream: the request line is read
// first and passed through repairRequestLine, so that a proxy's absolute URL
// reaches the parser in a form it accepts.
// Reads and writes wait at most the given time-outs; the stream does not own
// the socket.
class RepairingSocketStream final : public httplib::Stream {
public:
    RepairingSocketStream(int sock, std::chrono::microseconds readTimeout, std::chrono::microseconds writeTimeout);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    ::socket_t socket() const override { return m_sock; }

    // The longest request line that is repaired; a longer one goes to the
    // parser as it came, which rejects it as too long.
    static constexpr std::size_t MaxRequestLine = 8192;

    // Bytes of a following request already received (a kept connection).
    bool hasBuffered() const { return m_offset < m_buffer.size(); }
    // The request is answered: the next one's request line is repaired too.
    void nextRequest();
    // Whether the request (its line read now if need be) is HTTP/1.1, the
    // version that may keep the connection for another one.
    bool http11();

private:
    void readRequestLine();
    // Receives up to `size` bytes into `ptr`: bytes read, 0 at the end of the
    // stream, -1 on error or time-out.
    ssize_t receive(char* ptr, std::size_t size) const;

    int m_sock;
    std::chrono::microseconds m_readTimeout;
    std::chrono::microseconds m_writeTimeout;
    bool m_lineDone = false;
    bool m_http11 = false;
    std::string m_buffer; // bytes received but not yet handed to the parser
    std::size_t m_offset = 0;
};

// Waits until `sock` is readable (POLLIN) or writable (POLLOUT) or the time
// is up; retries on EINTR. True when ready.
bool waitForSocket(int sock, short events, std::chrono::microseconds timeout);

} // namespace vexor::server
