#pragma once

#include "requestlog.h"
#include "vendorscript.h"

#include <httplib.h>

#include <atomic>
#include <utility>

namespace vexor::server {

class RepairingSocketStream;

// The HTTP side of the stand-in server: every request is logged (when there
// is a log), then
// answered by the VendorScript (GET and HEAD; other methods get 405), and the
// connection is closed after one answer. The client reads every body until
// the server closes, and it opens a new connection per request anyway.
//
// Bind with bind(), then serve with the inherited listen_after_bind; stop()
// ends listen_after_bind from any thread. Base is httplib::Server (plain
// HTTP, VendorServer) or httplib::SSLServer (https, TlsVendorServer).
template <class Base>
class BasicVendorServer : public Base {
public:
    template <class... BaseArgs>
    BasicVendorServer(VendorScript& script, RequestLog* log, BaseArgs&&... baseArgs)
        : Base(std::forward<BaseArgs>(baseArgs)...)
        , m_script(script)
        , m_log(log)
    {
        setUp();
    }

    // Binds `address` and `port` (0: any free port) and starts listening;
    // the port, or 0 when the address cannot be bound.
    int bind(const std::string& address, int port);

protected:
    // Whether an accepted connection waits for a thread.
    bool waitingConnections() const;

private:
    void setUp();
    httplib::Server::HandlerResponse dispatch(const httplib::Request& req, httplib::Response& res);

    VendorScript& m_script;
    RequestLog* m_log;
    std::atomic<int> m_openConnections { 0 }; // accepted, not closed yet
};

// Plain HTTP. It reads the request line itself (RepairingSocketStream), so
// that the client's unescaped blanks and a proxy's absolute URL are served.
class VendorServer : public BasicVendorServer<httplib::Server> {
public:
    using BasicVendorServer::BasicVendorServer;

private:
    bool process_and_close_socket(::socket_t sock) override;
    bool awaitNextRequest(const RepairingSocketStream& stream) const;
};

// https (TLS 1.2 and newer) with cpp-httplib's TLS server, constructed with
// the certificate chain and key files; is_valid() is false when they did not
// load. Requests reach the parser as they came.
using TlsVendorServer = BasicVendorServer<httplib::SSLServer>;

extern template class BasicVendorServer<httplib::Server>;
extern template class BasicVendorServer<httplib::SSLServer>;

} // namespace vexor::server
