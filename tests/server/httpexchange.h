#pragma once

#include "process.h"
#include "tempdir.h"
#include "vendorserver.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Helpers for the tests of vexor-server: the binary run to its end, the
// shipped content, and raw HTTP exchanges over loopback.
namespace vexor::server::test {

using namespace vexor::testkit;

// The shipped demo content in the source tree.
std::filesystem::path shippedContent();

// Runs the binary to its end with `args` (for the command-line checks).
RunResult runServer(std::vector<std::string> args, std::chrono::milliseconds timeout);

struct RawResponse {
    bool ended = false;          // the server closed (or reset) within the time-out
    bool reset = false;          // it ended with a connection reset
    std::string raw;             // every byte received
    int status = 0;              // from the status line; 0 when there was none
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    // The value of the header `name` (lower case), empty when absent.
    std::string header(const std::string& name) const;
};

// Connects to 127.0.0.1:`port`, sends `request` and reads until the server
// closes or `timeout` passes. With `halfClose` the sending side is shut after
// the request, so the server meets the end of a request it finds incomplete.
RawResponse exchange(int port, std::string_view request, bool halfClose = true,
    std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Connects to 127.0.0.1:`port`, sends `request` and reads until what arrived
// ends with `until` or `timeout` passes, leaving the connection open (for
// tests of connections that stay open). `sock` is -1 when none was made.
struct KeptExchange {
    int sock = -1;       // close it
    bool answered = false; // what arrived ends with `until`
};
KeptExchange keptExchange(int port, std::string_view request, std::string_view until,
    std::chrono::milliseconds timeout = std::chrono::seconds(3));

// A GET of `target` as the client sends it: HTTP/1.0, a Host line, no escaping.
RawResponse get(int port, std::string_view target);

// The script URL path with the query `query` appended after "?".
std::string scriptTarget(std::string_view query);

// The script URL path for `action` with the client's fixed keys
// ("A=<action>&MID=1&MCID=1131&MUID=1") and then `rest` ("&L=English").
std::string query(const std::string& action, const std::string& rest = "");

} // namespace vexor::server::test
