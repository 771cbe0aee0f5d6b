#pragma once

#include "html.h"
#include "store/store.h"

#include <httplib.h>

#include <functional>
#include <string>

// The vendor's console: web pages on their own address, served by the same
// process as the query script, over the same store.
namespace vexor::server::console {

inline constexpr std::size_t MaxBodyBytes = 2 * 1024 * 1024;
inline constexpr const char* SessionCookie = "vexor_session";

// What a client would get now: the LCOUNT answer for a client id, and which
// line-up gives it (0: none stored, the built-in empty one). The query
// script's own choice, so that the console never tells another story.
struct LineupChoice {
    std::string answer;
    std::int64_t lineupId = 0;
};
using LineupChooser = std::function<LineupChoice(const std::string& clientId, UnixTime now)>;

struct ConsoleOptions {
    bool tls = false;             // the session cookie is then Secure
    LineupChooser chooseLineup;   // unset: the view says it is not available
    std::function<UnixTime()> clock; // unset: the system clock
    std::string chartScript = "/usr/share/javascript/chart.js/chart.min.js";
};

// Adds the console's routes, its limits and its security headers to `server`,
// which serves nothing else. `store` must outlive the server's listening.
void mountConsole(httplib::Server& server, Store& store, ConsoleOptions options);

} // namespace vexor::server::console
