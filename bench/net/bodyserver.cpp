// Serves bodies of any size from memory for the transfer benchmark:
// GET /<bytes> answers an HTTP/1.0 reply with that many bytes and closes.
// Prints its port on the first line of stdout, then serves until killed.
//   bodyserver                  plain HTTP
//   bodyserver <cert> <key>     HTTPS with that certificate chain and key (PEM)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <signal.h>
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

SSL_CTX* tlsContext = nullptr;  // set: every connection speaks TLS

// One connection, plain or TLS.
struct Connection {
    int fd;
    SSL* ssl = nullptr;
    long receive(char* buffer, std::size_t size)
    {
        return ssl ? SSL_read(ssl, buffer, static_cast<int>(size)) : ::recv(fd, buffer, size, 0);
    }
    long send(const char* data, std::size_t size)
    {
        return ssl ? SSL_write(ssl, data, static_cast<int>(size)) : ::send(fd, data, size, MSG_NOSIGNAL);
    }
    ~Connection()
    {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
    }
};

bool sendAll(Connection& connection, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto n = connection.send(data, size);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void serve(int fd)
{
    Connection connection{fd};
    if (tlsContext) {
        connection.ssl = SSL_new(tlsContext);
        SSL_set_fd(connection.ssl, fd);
        if (SSL_accept(connection.ssl) != 1)
            return;
    }
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
        const auto n = connection.receive(buffer, sizeof buffer);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    const auto slash = request.find('/');
    const unsigned long long size = std::strtoull(request.c_str() + slash + 1, nullptr, 10);
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(size)
        + "\r\nContent-Type: application/octet-stream\r\n\r\n";
    bool ok = sendAll(connection, header.data(), header.size());
    for (unsigned long long left = size; ok && left > 0;) {
        const std::size_t chunk = std::min<unsigned long long>(left, block().size());
        ok = sendAll(connection, block().data(), chunk);
        left -= chunk;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::signal(SIGPIPE, SIG_IGN);
    if (argc == 3) {
        tlsContext = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_chain_file(tlsContext, argv[1]) != 1
            || SSL_CTX_use_PrivateKey_file(tlsContext, argv[2], SSL_FILETYPE_PEM) != 1) {
            std::fprintf(stderr, "bodyserver: cannot load %s or %s\n", argv[1], argv[2]);
            return 1;
        }
    }
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
