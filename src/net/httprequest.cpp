// The request side of THttpClient: splitting the URL and building the header.

#include "net/httpclient.h"

#include "net/address.h"
#include "net/httpparse.h"
#include "net/uuencoder.h"
#include "platform/asciitext.h"

#include <sys/stat.h>

namespace vexor::net {

namespace {

struct Method {
    const char* text;        // with its trailing blank; empty for a raw request
    const char* extraHeader; // name of the extra line, or nullptr
    bool contentLength;
    bool sendsData;
};

const Method& methodOf(CmdType command)
{
    static const Method Methods[] = {
        {"GET ", nullptr, false, false},     {"OPTIONS ", nullptr, false, false},
        {"HEAD ", nullptr, false, false},    {"POST ", nullptr, true, true},
        {"PUT ", nullptr, true, true},       {"PATCH ", nullptr, true, true},
        {"COPY ", "URI-header", false, false}, {"MOVE ", "URI-header", false, false},
        {"DELETE ", nullptr, false, false},  {"LINK ", "Link", true, false},
        {"UNLINK ", "Link", true, false},    {"TRACE ", nullptr, true, true},
        {"", nullptr, true, true},
    };
    return Methods[static_cast<std::size_t>(command)];
}

// Position of the n-th "/" (1-based) of the text, or npos.
std::size_t nthSlash(const std::string& text, int n)
{
    std::size_t at = std::string::npos;
    for (int i = 0; i < n; ++i) {
        at = text.find('/', at == std::string::npos ? 0 : at + 1);
        if (at == std::string::npos)
            break;
    }
    return at;
}

// Splits "host", "host:port", "[v6]" or "[v6]:port"; sets `port` when given.
std::string hostWithoutPort(const std::string& part, std::int32_t& port)
{
    std::string host = part;
    std::string rest;
    if (!part.empty() && part.front() == '[') {
        const auto close = part.find(']');
        if (close == std::string::npos || (close + 1 < part.size() && part[close + 1] != ':'))
            throw vexor::Exception("Invalid host in URL: " + part);
        host = part.substr(0, close + 1);
        rest = part.substr(close + 1);
    } else if (const auto colon = part.find(':'); colon != std::string::npos) {
        host = part.substr(0, colon);
        rest = part.substr(colon);
    }
    if (!rest.empty())
        port = http::PortOf(rest.substr(1));
    // Blanks, tabs or other bytes in a host would reach the request and the
    // CONNECT line as they are.
    if (!host.empty() && !validUrlHost(host))
        throw vexor::Exception("Invalid host in URL: " + part);
    return host;
}

bool safeHeaderLine(const std::string& line)
{
    return line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

}  // namespace

void THttpClient::ParseUrl()
{
    if (Url.empty())
        throw vexor::Exception("Empty URL");
    if (Port == 0)
        Port = 80;
    const bool schemeForm = Url.find("//") != std::string::npos;
    const std::size_t first = nthSlash(Url, 1);
    const std::size_t third = nthSlash(Url, 3);
    if (schemeForm)
        RequestPath = third == std::string::npos ? std::string() : Url.substr(third);
    else
        RequestPath = first == std::string::npos ? std::string() : Url.substr(first);
    if (const auto colon = Url.find(':'); colon != std::string::npos) {
        const std::string scheme = platform::lowerAscii(Url.substr(0, colon));
        m_secure = scheme == "https";
        Port = m_secure ? 443 : scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : 80;
    } else {
        m_secure = false;
    }
    std::string hostPart;
    if (schemeForm) {
        const std::size_t second = nthSlash(Url, 2);
        if (second != std::string::npos)
            hostPart = Url.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1);
    } else if (Url.front() != '/') {
        hostPart = Url.substr(0, first);
    }
    hostPart = hostWithoutPort(hostPart, Port);
    if (!hostPart.empty())
        Host = hostPart;
    if (RequestPath.empty()) {
        RequestPath = "/";
        Url += "/";
    }
}

void THttpClient::BuildHeader()
{
    const Method& method = methodOf(Command);
    RequestHeader.Clear();
    if (Command != CmdType::RawRequest) {
        std::string line = std::string(method.text) + (Forwarding() ? Url : RequestPath) + " HTTP/1.0";
        if (line.size() > MaxRequestLine)
            throw vexor::Exception("Request line longer than " + std::to_string(MaxRequestLine) + " bytes");
        RequestHeader.Add(line);
    }
    if (Forwarding()) {
        RequestHeader.Add("Proxy-Connection: Keep-Alive");
        RequestHeader.Add("Host: " + Host);
    }
    RequestHeader.SetValue("Host", Host);
    RequestHeader.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    RequestHeader.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    if (!HeaderInfo.LocalProgram.empty())
        RequestHeader.SetValue("User-Agent", HeaderInfo.LocalProgram);
    if (!HeaderInfo.LocalMailAddress.empty())
        RequestHeader.SetValue("From", HeaderInfo.LocalMailAddress);
    // A cookie that came over https stays off a plain request.
    if (!HeaderInfo.Cookie.empty() && (m_secure || HeaderInfo.Cookie != m_secureCookie))
        RequestHeader.SetValue("Cookie", HeaderInfo.Cookie);
    if (!HeaderInfo.Referer.empty())
        RequestHeader.SetValue("Referer", HeaderInfo.Referer);
    // The credentials are the proxy's and go to the proxy alone: as
    // Proxy-Authorization on a request it forwards, on the CONNECT of a
    // tunnel (httpsecure.cpp), and never to the origin server, which would
    // learn the password (in the clear, over plain http).
    if (Forwarding() && !HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty())
        RequestHeader.SetValue("Proxy-Authorization",
                               "Basic " + TUUProcessor::Base64(HeaderInfo.UserId + ":" + HeaderInfo.Password));
    RequestHeader.Add("Content-type: application/x-www-form-urlencoded");
    if (method.extraHeader)
        RequestHeader.Add(std::string(method.extraHeader) + ": " + ExtraHeaderValue);
    if (method.contentLength) {
        std::int64_t length = static_cast<std::int64_t>(SendData.size());
        if (OutputFileMode) {
            struct stat info {};
            if (::stat(SendData.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                throw vexor::Exception(vexor::formatMessage("Cannot open file %s", SendData));
            length = info.st_size;
        }
        RequestHeader.Add("Content-Length: " + std::to_string(length));
    }
    // A CR, LF or zero byte in a value would end the line or the text early
    // and let a URL or a server's cookie inject header lines.
    for (const auto& line : RequestHeader.Lines()) {
        if (!safeHeaderLine(line))
            throw vexor::Exception("Invalid character in request header");
    }
}

}  // namespace vexor::net
