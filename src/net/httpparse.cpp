#include "net/httpparse.h"

#include "platform/exception.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace vexor::net::http {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isSchemeChar(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '+' || c == '-' || c == '.';
}

bool hasScheme(const std::string& location)
{
    const auto colon = location.find("://");
    if (colon == std::string::npos || colon == 0)
        return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!isSchemeChar(location[i]))
            return false;
    }
    return true;
}

}  // namespace

std::string UpperAscii(std::string_view text)
{
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

std::string_view WithoutLineEnd(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

std::int16_t StatusCodeOf(std::string_view statusLine)
{
    statusLine = WithoutLineEnd(statusLine);
    std::size_t at = 0;
    std::string_view word;
    for (int index = 0; index < 2; ++index) {
        while (at < statusLine.size() && statusLine[at] == ' ')
            ++at;
        const std::size_t end = std::min(statusLine.find(' ', at), statusLine.size());
        word = statusLine.substr(at, end - at);
        at = end;
    }
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (word.empty() || error != std::errc() || end != word.data() + word.size())
        return 0;
    if (value < std::numeric_limits<std::int16_t>::min() || value > std::numeric_limits<std::int16_t>::max())
        return 0;
    return static_cast<std::int16_t>(value);
}

std::int64_t ContentLengthOf(std::string_view upperLine)
{
    const auto name = upperLine.find("ENGTH:");
    if (name == std::string_view::npos)
        return 0;
    // Everything up to and including the character after "ENGTH:" goes.
    std::size_t at = name + 7;
    while (at < upperLine.size() && !isDigit(upperLine[at]))
        ++at;
    std::int64_t value = 0;
    constexpr auto Max = std::numeric_limits<std::int64_t>::max();
    for (; at < upperLine.size() && isDigit(upperLine[at]); ++at) {
        const int digit = upperLine[at] - '0';
        if (value > (Max - digit) / 10)
            return Max;
        value = value * 10 + digit;
    }
    return value;
}

std::int32_t PortOf(const std::string& text)
{
    std::int64_t value = 0;
    bool number = !text.empty() && text.size() <= 18;
    for (const char c : text)
        number = number && isDigit(c);
    if (!number)
        throw vexor::Exception("'" + text + "' is not a valid integer value");
    for (const char c : text)
        value = value * 10 + (c - '0');
    if (value > 65535)
        throw vexor::Exception("'" + text + "' is not a valid port number");
    return static_cast<std::int32_t>(value);
}

std::string ResolveLocation(const std::string& location, const std::string& host, std::int32_t port,
                            const std::string& requestPath, bool secure)
{
    if (hasScheme(location))
        return location;
    const std::string scheme = secure ? "https:" : "http:";
    if (location.rfind("//", 0) == 0)
        return scheme + location;
    std::string origin = scheme + "//" + host;
    if (port != (secure ? 443 : 80))
        origin += ":" + std::to_string(port);
    if (!location.empty() && location.front() == '/')
        return origin + location;
    // Relative to the folder of the current path (its query does not count).
    const std::string path = requestPath.substr(0, requestPath.find('?'));
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
    return origin + folder + location;
}

}  // namespace vexor::net::http
