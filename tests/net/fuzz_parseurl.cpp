// Fuzz target: URL splitting, request building and Location resolution.

#include "net/httpclient.h"
#include "net/httpparse.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexor::net;
    const std::string url(reinterpret_cast<const char*>(data), size);
    THttpClient client;
    client.Host = "previous.example";
    client.Port = size > 0 ? data[0] : 0;
    client.Proxy = size % 2 ? "proxy.example" : "";
    client.HeaderInfo.UserId = "u";
    client.HeaderInfo.Password = "p";
    client.Url = url;
    try {
        client.ParseUrl();
    } catch (const vexor::Exception&) {
        return 0;
    }
    if (client.RequestPath.empty() || client.RequestPath.front() != '/')
        std::abort();
    if (client.Port < 0 || client.Port > 65535)
        std::abort();
    if (client.Host.empty() || (client.Host.front() != '[' && client.Host.find(':') != std::string::npos))
        std::abort();
    try {
        client.BuildHeader();
        for (const auto& line : client.RequestHeader.Lines()) {
            if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
                std::abort();
        }
    } catch (const vexor::Exception&) {
    }
    const std::string next = http::ResolveLocation(url, client.Host, client.Port, client.RequestPath);
    if (next.empty())
        std::abort();
    (void)http::StatusOfLine(url);
    if (http::ContentLengthValue(url) < -1)
        std::abort();
    (void)http::FieldOf(url);
    return 0;
}
