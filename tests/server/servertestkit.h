#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// Helpers for the tests of vexor-server: temporary folders, the server as a
// child process on a free port, and raw HTTP exchanges over loopback.
namespace vexor::server::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view data);

// The shipped demo content in the source tree.
std::filesystem::path shippedContent();

// A child process running the vexor-server binary of this build.
class ServerProcess {
public:
    // Starts the server with "--port 0 --log <dir>/server.log" plus `args` and
    // waits (at most a few seconds) for its "listening on ADDR:PORT" line.
    // started() is false when the process ended or never said it listens.
    explicit ServerProcess(std::vector<std::string> args);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool started() const { return m_port > 0; }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    bool running();
    std::filesystem::path logPath() const { return m_dir.path() / "server.log"; }
    std::vector<std::string> logLines() const;
    std::string errorOutput() const;

    // Sends `signal` and waits for the end; the exit status, or -1 when the
    // process did not end in time (it is then killed) or ended by a signal.
    int stop(int signal);

private:
    TempDir m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_stdout = -1;
};

// Runs the binary to its end with `args` (for the command-line checks).
struct RunResult {
    int exitStatus = -1; // -1: killed after the time-out, or ended by a signal
    std::string out;
    std::string err;
};
RunResult runServer(const std::vector<std::string>& args, std::chrono::milliseconds timeout);

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

// A GET of `target` as the client sends it: HTTP/1.0, a Host line, no escaping.
RawResponse get(int port, std::string_view target);

// The script URL path with the query `query` appended after "?".
std::string scriptTarget(std::string_view query);

// The script URL path for `action` with the client's fixed keys
// ("A=<action>&MID=1&MCID=1131&MUID=1") and then `rest` ("&L=English").
std::string query(const std::string& action, const std::string& rest = "");

} // namespace vexor::server::test
