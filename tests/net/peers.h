#pragma once

// Real HTTP peers from the distribution for tests and benchmarks: Apache 2.4
// running a query script of ours as a CGI program, and Squid 5 as a proxy that
// asks for Basic credentials. Each is started the way a normal user would
// start it: its own configuration, pid and log files in the caller's folder,
// a free loopback port, no daemon. Run as root (CI), both serve as "nobody",
// so the folder is made readable for everyone. Stopped when the object goes.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vexor::net::testing {

// A child process ended (SIGTERM, then waited for) when the object goes.
class PeerProcess {
public:
    // Standard output and error go to `log`.
    PeerProcess(std::vector<std::string> args, const std::filesystem::path& log);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Waits until the peer accepts connections on `port` (at most 10 s) or exits.
    bool WaitReady(std::uint16_t port);

private:
    pid_t m_pid = -1;
};

// Apache serving `folder`/www on 127.0.0.1. Its script
// /cgi-bin/script/vexor_parser.pl answers VERSION, LCOUNT and LANGC from the
// files content/version.txt, content/lineup.txt and content/languages/<L>
// itself (a CGI answer: no Content-Length, the connection closes), and hands
// LANGL, MODL, LOGO and HTML over by internal redirect as the static files
// content/lang.ini, content/modl.ini, content/<LOGOID>.gif and .htm (with
// Content-Length). Every request's query, decoded, is one line of Queries():
// "key=value" pairs separated by TAB, values as the bytes they decode to.
class ApachePeer {
public:
    static bool Available();
    explicit ApachePeer(const std::filesystem::path& folder);
    bool Ready() const { return m_ready; }
    std::string Diagnostics() const;  // the peer's own output and error log
    std::uint16_t Port() const { return m_port; }
    std::string Host() const;  // "127.0.0.1:<port>"
    std::filesystem::path Content() const { return m_folder / "www" / "content"; }
    std::vector<std::string> Queries() const;

private:
    std::filesystem::path m_folder;
    std::uint16_t m_port = 0;
    std::unique_ptr<PeerProcess> m_process;
    bool m_ready = false;
};

// Squid on 127.0.0.1 that passes requests of `user`:`password` (Basic) and
// refuses all others with 407. Nothing is cached; client connections are kept
// alive as Squid does by default.
class SquidPeer {
public:
    static bool Available();
    SquidPeer(const std::filesystem::path& folder, const std::string& user, const std::string& password);
    bool Ready() const { return m_ready; }
    std::string Diagnostics() const;
    std::uint16_t Port() const { return m_port; }

private:
    std::filesystem::path m_folder;
    std::uint16_t m_port = 0;
    std::unique_ptr<PeerProcess> m_process;
    bool m_ready = false;
};

}  // namespace vexor::net::testing
