#include "net/httpparse.h"

#include "platform/exception.h"

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

int StatusOfLine(std::string_view statusLine)
{
    const std::string_view line = WithoutLineEnd(statusLine);
    if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || !isDigit(line[5]) || line[6] != '.'
        || !isDigit(line[7]) || line[8] != ' ' || line[9] < '1' || line[9] > '9' || !isDigit(line[10])
        || !isDigit(line[11]) || (line.size() > 12 && line[12] != ' '))
        return -1;
    return (line[9] - '0') * 100 + (line[10] - '0') * 10 + (line[11] - '0');
}

std::int64_t ContentLengthValue(std::string_view value)
{
    const auto first = value.find_first_not_of(" \t");
    const auto last = value.find_last_not_of(" \t");
    if (first == std::string_view::npos || last - first + 1 > 18)
        return -1;
    std::int64_t length = 0;
    for (const char c : value.substr(first, last - first + 1)) {
        if (!isDigit(c))
            return -1;
        length = length * 10 + (c - '0');
    }
    return length;
}

HeaderField FieldOf(std::string_view line)
{
    line = WithoutLineEnd(line);
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return {};
    const auto trim = [](std::string_view text) {
        const auto first = text.find_first_not_of(" \t");
        if (first == std::string_view::npos)
            return std::string_view();
        return text.substr(first, text.find_last_not_of(" \t") - first + 1);
    };
    return {UpperAscii(trim(line.substr(0, colon))), trim(line.substr(colon + 1))};
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
