#pragma once

#include "requestlog.h"
#include "vendorscript.h"

#include <httplib.h>

namespace vexor::server {

// The HTTP side of the stand-in server: every request is logged, then
// answered by the VendorScript (GET and HEAD; other methods get 405), and the
// connection is closed after one answer. The client reads every body until
// the server closes, and it opens a new connection per request anyway.
//
// Bind with bind(), then serve with the inherited listen_after_bind; stop()
// ends listen_after_bind from any thread.
class VendorServer : public httplib::Server {
public:
    VendorServer(VendorScript& script, RequestLog& log);

    // Binds `address` and `port` (0: any free port) and starts listening;
    // the port, or 0 when the address cannot be bound.
    int bind(const std::string& address, int port);

private:
    HandlerResponse dispatch(const httplib::Request& req, httplib::Response& res);
    bool process_and_close_socket(::socket_t sock) override;

    VendorScript& m_script;
    RequestLog& m_log;
};

} // namespace vexor::server
