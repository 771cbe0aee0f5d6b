// Serves bodies of any size from memory for the transfer benchmark:
// GET /<bytes> answers an HTTP/1.0 reply with that many bytes and closes.
// Prints its port on the first line of stdout, then serves until killed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::vector<char>& block()
{
    static const std::vector<char> data = [] {
        std::vector<char> bytes(1 << 20);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>('a' + i % 26);
        return bytes;
    }();
    return data;
}

bool sendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void serve(int fd)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            ::close(fd);
            return;
        }
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const auto slash = request.find('/');
    const unsigned long long size = std::strtoull(request.c_str() + slash + 1, nullptr, 10);
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size)
        + "\r\nContent-Type: application/octet-stream\r\n\r\n";
    bool ok = sendAll(fd, header.data(), header.size());
    for (unsigned long long left = size; ok && left > 0;) {
        const std::size_t chunk = std::min<unsigned long long>(left, block().size());
        ok = sendAll(fd, block().data(), chunk);
        left -= chunk;
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

}  // namespace

int main()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener, 16) != 0) {
        std::perror("bodyserver");
        return 1;
    }
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            std::thread(serve, fd).detach();
    }
}
