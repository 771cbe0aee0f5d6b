#pragma once

// The stand-in vendor server (vexor-server) as a child process on a loopback
// port of the system's choosing, with a content folder written by the caller
// and a request log read back as parsed lines. Shared by the whole-cycle tests
// and the cycle benchmark.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace vexor::sync {

// One line of the server's request log: the query pairs of a script request.
struct ServerLogLine {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::string value(const std::string& key) const;
    std::string action() const { return value("A"); }
};

// Writes a content folder: lang.ini, modl.ini, version.txt, lineups/<n>.txt
// (one per entry of `lineUps`, each "ten ids and the interval in decimal") and
// banners/<id>.gif and .htm for every id in the line-ups (except 000000), whose
// bytes are BannerImage(id, imageBytes) and BannerPage(id).
void WriteVendorContent(const std::string& folder, const std::vector<std::string>& lineUps,
                        std::size_t imageBytes = 64);
std::string BannerImage(const std::string& id, std::size_t bytes);
std::string BannerPage(const std::string& id);

class VendorProcess {
public:
    // Starts `executable` on 127.0.0.1 port 0 with the content folder and a log
    // file; waits for its "listening on" line (at most 20 s). Throws
    // std::runtime_error when it does not come.
    VendorProcess(const std::string& executable, const std::string& contentFolder, const std::string& logFile,
                  const std::vector<std::string>& extraArguments = {});
    ~VendorProcess();  // SIGTERM, then waits for the process
    VendorProcess(const VendorProcess&) = delete;
    VendorProcess& operator=(const VendorProcess&) = delete;

    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    int port() const { return m_port; }

    // The script requests logged so far, in order.
    std::vector<ServerLogLine> log() const;

private:
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_logFile;
};

}  // namespace vexor::sync
