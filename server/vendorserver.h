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
// Bind and listen with the inherited bind_to_port / bind_to_any_port and
// listen_after_bind; stop() ends listen_after_bind from any thread.
class VendorServer : public httplib::Server {
public:
    VendorServer(VendorScript& script, RequestLog& log);

private:
    HandlerResponse dispatch(const httplib::Request& req, httplib::Response& res);
    bool process_and_close_socket(::socket_t sock) override;

    VendorScript& m_script;
    RequestLog& m_log;
};

} // namespace vexor::server
