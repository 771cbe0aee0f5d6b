#include "vendorserver.h"

#include "socketstream.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <type_traits>

namespace vexor::server {

namespace {

// Requests one kept connection may carry before it is closed.
constexpr std::size_t KeptRequestsPerConnection = 1000;
// Connections served at once: nginx keeps up to its "keepalive" idle
// connections per worker process (server/deploy/nginx/vexor: 8), spread over
// the servers, and each holds a thread here while it waits.
constexpr std::size_t Threads = 64;

using std::chrono::microseconds;
using std::chrono::seconds;

// After the answer, unread bytes of the request (a body nobody asked for) are
// drained for a moment before the close, so that the close does not reset
// the connection and destroy the answer on its way to the client.
constexpr auto LingerTime = std::chrono::milliseconds(200);
constexpr std::size_t LingerBytes = 64 * 1024;

void lingeringClose(int sock)
{
    ::shutdown(sock, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + LingerTime;
    std::size_t drained = 0;
    char block[4096];
    while (drained < LingerBytes) {
        const auto left = std::chrono::duration_cast<microseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitForSocket(sock, POLLIN, left))
            break;
        const ssize_t n = ::recv(sock, block, sizeof block, 0);
        if (n <= 0)
            break;
        drained += static_cast<std::size_t>(n);
    }
    ::close(sock);
}

const char* reasonText(int status)
{
    switch (status) {
    case 400:
        return "bad request";
    case 404:
        return "not found";
    case 405:
        return "method not allowed";

    case 414:
        return "request line too long";
    default:
        return "error";
    }
}

void setAnswer(httplib::Response& res, Answer answer)
{
    res.status = answer.status;
    if (!answer.location.empty())
        res.set_header("Location", answer.location);
    res.set_content(std::move(answer.body), answer.contentType.c_str());
}

} // namespace

// The library's thread pool, counting the accepted connections that are
// not closed yet, served or waiting for a thread: past the number of
// threads, a kept connection that is idle gives its thread up
// (VendorServer::awaitNextRequest).
class CountingThreadPool final : public httplib::TaskQueue {
public:
    CountingThreadPool(std::size_t threads, std::atomic<int>& open)
        : m_open(open)
        , m_pool(threads)
    {
    }

    void enqueue(std::function<void()> fn) override
    {
        ++m_open;
        m_pool.enqueue([this, fn = std::move(fn)] {
            fn();
            --m_open;
        });
    }
    void shutdown() override { m_pool.shutdown(); }

private:
    std::atomic<int>& m_open;
    httplib::ThreadPool m_pool;
};

template <class Base>
void BasicVendorServer<Base>::setUp()
{
    // The clients speak HTTP/1.0: one request per connection, closed after
    // the answer. A proxy in front (nginx's upstream "keepalive") may send
    // one HTTP/1.1 request after another on the same plain connection
    // instead; over TLS only clients come (nginx ends TLS itself), so every
    // answer there closes, with "Connection: close".
    // The library serves a kept connection on one of its threads until it
    // closes or stays idle for five seconds, so there are threads for the
    // proxy's idle connections besides the busy ones; past them, an idle one
    // gives its thread up (VendorServer::awaitNextRequest).
    this->set_keep_alive_max_count(std::is_same_v<Base, httplib::SSLServer> ? 1 : KeptRequestsPerConnection);
    this->new_task_queue = [this] { return new CountingThreadPool(Threads, m_openConnections); };
    if constexpr (std::is_same_v<Base, httplib::SSLServer>) {
        if (this->is_valid())
            SSL_CTX_set_min_proto_version(this->ssl_context(), TLS1_2_VERSION);
    }
    // The library's default also sets SO_REUSEPORT, which would let a second
    // server start on a port that is already taken; keep only SO_REUSEADDR.
    // TCP_NODELAY, which accepted connections inherit: the library writes
    // an answer's header and body apart, and on a kept connection the body
    // would otherwise wait for the proxy's delayed acknowledgement (40 ms).
    this->set_socket_options([](::socket_t sock) {
        int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    });
    this->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        return dispatch(req, res);
    });
    // Answers the library makes itself (a request line it cannot parse, one
    // that is too long) get a short text like every other error.
    using Server = httplib::Server;
    this->set_error_handler(Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty())
            return Server::HandlerResponse::Unhandled;
        res.set_content(std::string(reasonText(res.status)) + "\n", "text/plain");
        return Server::HandlerResponse::Handled;
    }));
    this->set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        res.status = 500;
        res.set_content("internal error\n", "text/plain");
    });
}

template <class Base>
bool BasicVendorServer<Base>::waitingConnections() const
{
    return m_openConnections.load() > static_cast<int>(Threads);
}

template <class Base>
int BasicVendorServer<Base>::bind(const std::string& address, int port)
{
    if (port == 0)
        port = this->bind_to_any_port(address);
    else if (!this->bind_to_port(address, port))
        port = 0;
    if (port <= 0)
        return 0;
    // The library listens with a backlog of five; a burst of clients would see
    // their connections dropped and retried a second later.
    ::listen(this->svr_sock_, SOMAXCONN);
    return port;
}

template <class Base>
httplib::Server::HandlerResponse BasicVendorServer<Base>::dispatch(
    const httplib::Request& req, httplib::Response& res)
{
    const bool isScript = req.path == ScriptPath;
    LogEntry entry { std::chrono::system_clock::now(), req.remote_addr, req.method, req.path,
        isScript && req.method == "GET", parseQuery(req.target) };
    // Logged before the answer goes out: whoever has the answer finds the line.
    if (m_log)
        m_log->write(entry);
    if (req.method != "GET" && req.method != "HEAD")
        setAnswer(res, { 405, "text/plain", "method not allowed\n", {} });
    else if (isScript)
        setAnswer(res, m_script.answerQuery(entry.pairs));
    else
        setAnswer(res, m_script.answerPage(req.path, entry.pairs, req.method == "GET"));
    return httplib::Server::HandlerResponse::Handled;
}

template class BasicVendorServer<httplib::Server>;
template class BasicVendorServer<httplib::SSLServer>;

bool VendorServer::process_and_close_socket(::socket_t sock)
{
    bool handled = false;
    {
        RepairingSocketStream stream(sock, seconds(read_timeout_sec_) + microseconds(read_timeout_usec_),
            seconds(write_timeout_sec_) + microseconds(write_timeout_usec_));
        for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
            // An HTTP/1.0 request (the clients'), the last one allowed and one
            // that asks for it are answered with "Connection: close".
            bool connectionClosed = false;
            const bool last = left == 1 || !stream.http11();
            const bool answered = process_request(stream, last, connectionClosed, nullptr);
            handled = handled || answered;
            if (!answered || last || connectionClosed || !awaitNextRequest(stream))
                break;
            stream.nextRequest();
        }
    }
    lingeringClose(sock);
    return handled;
}

// Waits for the next request of a kept connection, as long as the library
// keeps idle connections, in short steps so that a stopping server does not
// wait for its idle connections. While another connection waits for a
// thread, an idle one is closed instead (nginx opens a new one when it needs
// it): with more idle connections than threads, the one in the queue would
// otherwise wait until an idle one timed out.
bool VendorServer::awaitNextRequest(const RepairingSocketStream& stream) const
{
    if (stream.hasBuffered())
        return true;
    const auto end = std::chrono::steady_clock::now() + seconds(keep_alive_timeout_sec_);
    while (is_running() && std::chrono::steady_clock::now() < end) {
        if (waitingConnections())
            return waitForSocket(stream.socket(), POLLIN, std::chrono::milliseconds(0));
        if (waitForSocket(stream.socket(), POLLIN, std::chrono::milliseconds(100)))
            return true;
    }
    return false;
}

} // namespace vexor::server
