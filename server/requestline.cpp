#include "requestline.h"

#include <algorithm>
#include <cctype>

namespace vexor::server {

namespace {

constexpr std::string_view AbsolutePrefix = "http://";

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
        && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// "http://host:port/path?q" -> "/path?q"; "http://host?q" -> "/?q".
std::string originForm(std::string_view target)
{
    if (!startsWithNoCase(target, AbsolutePrefix))
        return std::string(target);
    const auto rest = target.substr(AbsolutePrefix.size());
    const auto pathStart = rest.find_first_of("/?");
    if (pathStart == std::string_view::npos)
        return "/";
    if (rest[pathStart] == '?')
        return "/" + std::string(rest.substr(pathStart));
    return std::string(rest.substr(pathStart));
}

} // namespace

std::string repairRequestLine(std::string_view line)
{
    const auto first = line.find(' ');
    const auto last = line.rfind(' ');
    if (first == std::string_view::npos || first == last)
        return std::string(line);
    const auto version = line.substr(last + 1);
    if (!version.starts_with("HTTP/"))
        return std::string(line);
    const auto method = line.substr(0, first);
    const auto target = originForm(line.substr(first + 1, last - first - 1));
    return std::string(method) + ' ' + target + ' ' + std::string(version);
}

} // namespace vexor::server
