#include "httpexchange.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vexor::server::test {

namespace {

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

fs::path shippedContent()
{
    return fs::path(VEXOR_SOURCE_DIR) / "server" / "content";
}

RunResult runServer(std::vector<std::string> args, std::chrono::milliseconds timeout)
{
    args.insert(args.begin(), VEXOR_SERVER_EXE);
    return runToEnd(std::move(args), timeout);
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

KeptExchange keptExchange(int port, std::string_view request, std::string_view until, std::chrono::milliseconds timeout)
{
    KeptExchange kept;
    kept.sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(kept.sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::send(kept.sock, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()))
        return kept;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string answer;
    char block[4096];
    while (!answer.ends_with(until)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p { kept.sock, POLLIN, 0 };
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        const ssize_t n = ::recv(kept.sock, block, sizeof block, 0);
        if (n <= 0)
            break;
        answer.append(block, static_cast<std::size_t>(n));
    }
    kept.answered = answer.ends_with(until);
    return kept;
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
