#pragma once

// The stand-in vendor server (vexor-server) as a child process on a loopback
// port of the system's choosing, with its request log and standard error in
// a folder of its own; and the content folders the tests give it.

#include "process.h"
#include "tempdir.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexor::testkit {

// One script request of the server's log: its query pairs, in order.
struct ServerLogLine {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string value(const std::string& key) const;
    std::string action() const { return value("A"); }
    std::string keys() const;  // "A,MID,MCID,..." in order
};

// The actions of `log` from `from` on: "LANGL", "LOGO:100001", ...
template <typename Line>
std::vector<std::string> actionNames(const std::vector<Line>& log, std::size_t from = 0)
{
    std::vector<std::string> names;
    for (std::size_t i = from; i < log.size(); ++i) {
        const std::string id = log[i].value("LOGOID");
        names.push_back(id.empty() ? log[i].action() : log[i].action() + ":" + id);
    }
    return names;
}

class VendorServer {
public:
    // Starts `executable` with "--port 0 --log <own folder>/server.log" (the
    // log left out without `log`) and `args` (its default address is
    // 127.0.0.1) and waits (at most 20 s) for its "listening on ADDR:PORT"
    // line. started() is false when the process ended first or never said it
    // listens; errorOutput() then says why.
    VendorServer(const std::string& executable, std::vector<std::string> args, bool log = true);
    ~VendorServer() = default;  // SIGTERM, then waited for

    bool started() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    pid_t pid() const { return m_process->pid(); }
    bool running() { return m_process->running(); }
    // Sends `signal` and waits for the end: the exit status, or -1.
    int stop(int signal) { return m_process->stop(signal); }

    std::string logPath() const { return m_dir / "server.log"; }
    std::vector<std::string> logLines() const { return readLines(logPath()); }
    // The script requests logged so far, in order (page requests left out).
    std::vector<ServerLogLine> scriptRequests() const;
    long countAction(const std::string& action) const;
    std::string errorOutput() const { return m_dir.read("stderr.txt"); }

private:
    TempDir m_dir;
    std::unique_ptr<ChildProcess> m_process;
    int m_port = 0;
};

// Writes a content folder: lang.ini, modl.ini, version.txt, lineups/<n>.txt
// (one per entry of `lineUps`, each "ten ids and the interval in decimal") and
// banners/<id>.gif and .htm for every id in the line-ups (except 000000), whose
// bytes are bannerImage(id, imageBytes) and bannerPage(id).
void writeVendorContent(const std::string& folder, const std::vector<std::string>& lineUps,
                        std::size_t imageBytes = 64);
std::string bannerImage(const std::string& id, std::size_t bytes);
std::string bannerPage(const std::string& id);

}  // namespace vexor::testkit
