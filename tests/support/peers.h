#pragma once

// Real HTTP peers from the distribution for tests and benchmarks: Apache 2.4
// running a query script of ours as a CGI program, Squid 5 and tinyproxy as
// proxies that ask for Basic credentials, and nginx. Each is started the way
// a normal user would start it: its own configuration, pid and log files in
// the caller's folder, a free loopback port, no daemon. Run as root (CI),
// Apache and Squid serve as "nobody", so their folder is made readable for
// everyone. Stopped when the object goes.

#include "process.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vexor::testkit {

// A peer's process: standard output and error appended to `log`, in a
// process group of its own; SIGTERM and waited for when the object goes.
std::unique_ptr<ChildProcess> startPeer(std::vector<std::string> args, const std::string& log);

// Apache serving `folder`/www on 127.0.0.1. Its script
// /cgi-bin/script/vexor_parser.pl answers VERSION, LCOUNT and LANGC from the
// files content/version.txt, content/lineup.txt and content/languages/<L>
// itself (a CGI answer: no Content-Length, the connection closes), and hands
// LANGL, MODL, LOGO and HTML over by internal redirect as the static files
// content/lang.ini, content/modl.ini, content/<LOGOID>.gif and .htm (with
// Content-Length). Every request's query, decoded, is one line of queries():
// "key=value" pairs separated by TAB, values as the bytes they decode to.
class ApachePeer {
public:
    static bool available();
    explicit ApachePeer(const std::filesystem::path& folder);
    bool ready() const { return m_ready; }
    std::string diagnostics() const;  // the peer's own output and error log
    std::uint16_t port() const { return m_port; }
    std::string host() const;  // "127.0.0.1:<port>"
    std::filesystem::path content() const { return m_folder / "www" / "content"; }
    std::vector<std::string> queries() const;

private:
    std::filesystem::path m_folder;
    std::uint16_t m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
    bool m_ready = false;
};

// Squid on 127.0.0.1 that passes requests of `user`:`password` (Basic) and
// refuses all others with 407. Nothing is cached; client connections are kept
// alive as Squid does by default.
class SquidPeer {
public:
    static bool available();
    SquidPeer(const std::filesystem::path& folder, const std::string& user, const std::string& password);
    bool ready() const { return m_ready; }
    std::string diagnostics() const;
    std::uint16_t port() const { return m_port; }

private:
    std::filesystem::path m_folder;
    std::uint16_t m_port = 0;
    std::unique_ptr<ChildProcess> m_process;
    bool m_ready = false;
};

inline constexpr const char* NginxBinary = "/usr/sbin/nginx";

// The site the nginx tests serve from `dir`/www: small.txt ("small file\n")
// and big.bin, 3 MiB of random bytes from `seed`, which it returns.
std::string writeNginxSite(const std::filesystem::path& dir, unsigned seed);

// nginx with the given server blocks inside "http", run as a normal user
// would: pid, logs and temporary folders in `dir`.
std::unique_ptr<ChildProcess> startNginx(const std::filesystem::path& dir, const std::string& servers);

// tinyproxy on 127.0.0.1:`port` asking for the Basic credentials
// vexor / s3cret-pass, its files in `dir`; nullptr when it did not come up.
std::unique_ptr<ChildProcess> startTinyproxy(const std::filesystem::path& dir, std::uint16_t port);

}  // namespace vexor::testkit
