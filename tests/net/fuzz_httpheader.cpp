// Fuzz target: a server's reply (status line, header lines, body) fed through
// a socketpair into ReadHeader and the body capture.

#include "net/httpclient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexor::net;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return 0;
    // Whatever fits into the pair's buffer is the reply; the rest is cut off.
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t sent = 0;
    while (sent < input.size()) {
        const auto n = ::send(fds[1], input.data() + sent, input.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);

    THttpClient client;
    client.TimeOut = 1000;
    client.MaxCaptureBytes = 1u << 16;
    client.AttachSocket(fds[0]);
    bool failed = false;
    try {
        client.ReplyCode = 0;
        client.ReadHeader();
        client.CaptureString(client.Body, -1);
    } catch (const ESockError&) {
        failed = true;
    }
    client.Disconnect();

    // The header is stored as received: always a prefix of the reply. When it
    // ended with its empty line, header and body together are the reply.
    const std::string sentText = input.substr(0, sent);
    if (sentText.compare(0, client.Header.size(), client.Header) != 0)
        std::abort();
    const bool terminated = std::count(client.Header.begin(), client.Header.end(), '\n') >= 2
        && (client.Header.ends_with("\n\n") || client.Header.ends_with("\n\r\n"));
    if (!failed && terminated && client.Header + client.Body != sentText)
        std::abort();
    if (client.ContentLength < 0)
        std::abort();
    return 0;
}
