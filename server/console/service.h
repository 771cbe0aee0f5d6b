#pragma once

#include "console.h"
#include "options.h"

#include <memory>
#include <string>
#include <thread>

// The console as a part of the running vexor-server: its own listening
// socket and thread pool beside the query script's.
namespace vexor::server::console {

class ConsoleService {
public:
    ConsoleService() = default;
    ~ConsoleService(); // stops and joins
    ConsoleService(const ConsoleService&) = delete;
    ConsoleService& operator=(const ConsoleService&) = delete;

    // Binds `address`:`port` (0: any free port), over TLS when `certFile` is
    // set, and serves the console on a thread of its own. The port, or 0 with
    // `error` set. Call from a thread that blocks the signals the process
    // waits for: the console's threads inherit that.
    int start(Store& store, const std::string& address, int port, const std::string& certFile,
        const std::string& keyFile, ConsoleOptions options, std::string& error);

    // The console as --console asks for it, over `store`: off, with a line
    // saying so, while the store has no console user. False (with a message
    // on standard error) when it cannot start.
    bool startFor(Store& store, const ServerOptions& options);

private:
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
};

// What LCOUNT answers a client now: the query script's own choice. With
// --rotate-every the standing line-ups take turns; the first one's turn is
// shown.
LineupChooser storeLineupChooser(Store& store, std::uint64_t rotateEvery);

// `vexor-server passwd --store FILE USER`: the exit status; the password is
// the first line of `in`.
int runPasswd(const std::vector<std::string>& args, std::istream& in);

} // namespace vexor::server::console
