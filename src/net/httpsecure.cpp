// The https side of THttpClient: the tunnel through a proxy, the handshake,
// and the refusal of a redirect that would leave TLS.

#include "net/httpclient.h"

#include "net/httpparse.h"
#include "net/uuencoder.h"

#include <algorithm>

namespace vexor::net {

void THttpClient::SecureConnection()
{
    if (!Proxy.empty())
        OpenTunnel();
    StartTls(Host);
}

// "CONNECT host:port HTTP/1.0"; any answer but 2xx ends the request with its
// status line. The answer's header is read line by line (ReadLn never reads
// past a line), so the first TLS byte stays in the socket.
void THttpClient::OpenTunnel()
{
    const std::string target = Host + ":" + std::to_string(Port);
    std::string request = "CONNECT " + target + " HTTP/1.0\r\nHost: " + target + "\r\n";
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()) {
        const std::string credentials = HeaderInfo.UserId + ":" + HeaderInfo.Password;
        request += "Proxy-Authorization: Basic " + TUUProcessor::Base64(credentials) + "\r\n";
    }
    Write(request + "\r\n");
    const std::string status = ReadLn();
    ReplyCode = static_cast<std::int16_t>(std::max(http::StatusOfLine(status), 0));
    std::string line = status;
    for (std::size_t count = 0; !line.empty() && line != "\r\n" && line != "\n"; ++count) {
        if (count > MaxHeaderLines)
            throw ESockError("Proxy answer to CONNECT has more than " + std::to_string(MaxHeaderLines)
                             + " lines");
        line = ReadLn();
    }
    if (ReplyCode >= 200 && ReplyCode <= 299)
        return;
    if (OnConnectionFailed)
        OnConnectionFailed();
    const std::string answer(http::WithoutLineEnd(status));
    throw ESockError("Proxy refused the tunnel to " + target + ": "
                     + (answer.empty() ? std::string("no answer") : answer));
}

// Following it would send the next request, and read its answer, in the
// clear; the reply's body is not read either, so nothing of it is written.
void THttpClient::RefuseInsecureRedirect(int hops)
{
    if (!m_secure || hops >= MaxRedirects || !RedirectWanted(ReplyCode))
        return;
    const std::string next = http::ResolveLocation(RedirectLocation, Host, Port, RequestPath, true);
    if (http::UpperAscii(next.substr(0, 8)) == "HTTPS://")
        return;
    if (OnConnectionFailed)
        OnConnectionFailed();
    throw ESockError("Redirect from https to http refused: " + next);
}

}  // namespace vexor::net
