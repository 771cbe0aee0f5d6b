#include "servertestkit.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace vexor::server::test {

namespace {

constexpr auto StartTimeout = 10s;
constexpr auto StopTimeout = 10s;

// Reads what `fd` offers until `deadline`, the end of the stream, or (with
// `untilNewline`) a line end; appends to `out`. True when the stream ended.
bool readSome(int fd, std::string& out, std::chrono::steady_clock::time_point deadline, bool untilNewline)
{
    char block[4096];
    for (;;) {
        if (untilNewline && out.find('\n') != std::string::npos)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p { fd, POLLIN, 0 };
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        out.append(block, static_cast<std::size_t>(n));
    }
}

// Waits for `pid` until `timeout`; the exit status, or -1 (killed or signalled).
int waitForExit(pid_t pid, std::chrono::milliseconds timeout)
{
    // A pidfd becomes readable when the process ends.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidFd >= 0) {
        pollfd p { pidFd, POLLIN, 0 };
        int ready;
        do
            ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        while (ready < 0 && errno == EINTR);
        ::close(pidFd);
        if (ready == 0)
            ::kill(pid, SIGKILL);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Spawned {
    pid_t pid = -1;
    int out = -1;
};

Spawned spawnServer(const std::vector<std::string>& args, const fs::path& errFile)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all { VEXOR_SERVER_BINARY };
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Spawned spawned;
    const int rc = ::posix_spawn(&spawned.pid, VEXOR_SERVER_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " VEXOR_SERVER_BINARY);
    }
    spawned.out = pipeFds[0];
    return spawned;
}

int portFromBanner(const std::string& line)
{
    const std::string prefix = "listening on ";
    const auto colon = line.rfind(':');
    if (!line.starts_with(prefix) || colon == std::string::npos)
        return 0;
    return std::atoi(line.c_str() + colon + 1);
}

std::string lower(std::string text)
{
    for (auto& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void parseResponse(RawResponse& r)
{
    const auto headEnd = r.raw.find("\r\n\r\n");
    if (!r.raw.starts_with("HTTP/") || headEnd == std::string::npos)
        return;
    const auto firstEnd = r.raw.find("\r\n");
    const std::string statusLine = r.raw.substr(0, firstEnd);
    const auto blank = statusLine.find(' ');
    if (blank != std::string::npos)
        r.status = std::atoi(statusLine.c_str() + blank + 1);
    std::size_t pos = firstEnd + 2;
    while (pos < headEnd) {
        const auto end = r.raw.find("\r\n", pos);
        const std::string line = r.raw.substr(pos, end - pos);
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            r.headers[lower(line.substr(0, colon))] = line.substr(line.find_first_not_of(' ', colon + 1));
        pos = end + 2;
    }
    r.body = r.raw.substr(headEnd + 4);
}

} // namespace

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "vexor-server-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, std::string_view data)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

fs::path shippedContent()
{
    return fs::path(VEXOR_SOURCE_DIR) / "server" / "content";
}

ServerProcess::ServerProcess(std::vector<std::string> args)
{
    args.insert(args.begin(), { "--port", "0", "--log", logPath().string() });
    const auto spawned = spawnServer(args, m_dir.path() / "stderr.txt");
    m_pid = spawned.pid;
    m_stdout = spawned.out;
    std::string out;
    readSome(m_stdout, out, std::chrono::steady_clock::now() + StartTimeout, true);
    m_port = portFromBanner(out.substr(0, out.find('\n')));
}

ServerProcess::~ServerProcess()
{
    if (m_pid > 0)
        stop(SIGKILL);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

bool ServerProcess::running()
{
    int status = 0;
    return m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == 0;
}

std::vector<std::string> ServerProcess::logLines() const
{
    std::vector<std::string> lines;
    std::ifstream in(logPath());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string ServerProcess::errorOutput() const
{
    return readFile(m_dir.path() / "stderr.txt");
}

int ServerProcess::stop(int signal)
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, signal);
    const int status = waitForExit(m_pid, StopTimeout);
    m_pid = -1;
    return status;
}

RunResult runServer(const std::vector<std::string>& args, std::chrono::milliseconds timeout)
{
    TempDir dir;
    const auto spawned = spawnServer(args, dir.path() / "stderr.txt");
    RunResult result;
    readSome(spawned.out, result.out, std::chrono::steady_clock::now() + timeout, false);
    ::close(spawned.out);
    result.exitStatus = waitForExit(spawned.pid, timeout);
    result.err = readFile(dir.path() / "stderr.txt");
    return result;
}

RawResponse exchange(int port, std::string_view request, bool halfClose, std::chrono::milliseconds timeout)
{
    RawResponse response;
    const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(sock);
        return response;
    }
    // A server that answers early and closes may reset the rest of a long
    // request; what it sent before is still read below.
    std::size_t sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(sock, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    if (halfClose)
        ::shutdown(sock, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char block[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p { sock, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(sock, block, sizeof block, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            response.ended = true;
            response.reset = n < 0;
            break;
        }
        if (n < 0)
            break;
        response.raw.append(block, static_cast<std::size_t>(n));
    }
    ::close(sock);
    parseResponse(response);
    return response;
}

std::string RawResponse::header(const std::string& name) const
{
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

RawResponse get(int port, std::string_view target)
{
    std::string request = "GET ";
    request += target;
    request += " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    return exchange(port, request, false);
}

std::string scriptTarget(std::string_view query)
{
    return "/cgi-bin/script/vexor_parser.pl?" + std::string(query);
}

std::string query(const std::string& action, const std::string& rest)
{
    return scriptTarget("A=" + action + "&MID=1&MCID=1131&MUID=1" + rest);
}

} // namespace vexor::server::test
