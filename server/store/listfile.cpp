#include "listfile.h"

#include "store.h"

#include <sys/random.h>

#include <algorithm>
#include <cerrno>

namespace vexor::server {

namespace {

std::string_view trimLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

bool hasLineBreakOrNul(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

} // namespace

ListEntries parseListFile(std::string_view text, std::string_view header)
{
    ListEntries entries;
    bool inSection = false;
    while (!text.empty()) {
        const auto end = text.find_first_of("\r\n");
        const auto line = trimLineEnd(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.starts_with('[')) {
            inSection = line == header;
            continue;
        }
        const auto eq = line.find('=');
        if (!inSection || line.empty() || line.front() == ';' || eq == std::string_view::npos)
            continue;
        entries.emplace_back(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
    }
    return entries;
}

std::string renderListFile(std::string_view header, const ListEntries& entries)
{
    std::string text(header);
    text += "\r\n";
    for (const auto& [key, value] : entries)
        text += key + "=" + value + "\r\n";
    return text;
}

std::string listEntryProblem(std::string_view key, std::string_view value)
{
    if (key.empty())
        return "a name is needed";
    if (key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';')
        return "a name may not hold \"=\" or begin with \"[\" or \";\"";
    if (hasLineBreakOrNul(key) || hasLineBreakOrNul(value))
        return "line breaks are not allowed";
    if (value.empty())
        return "a value is needed";
    return {};
}

std::string randomBannerId()
{
    static constexpr std::string_view Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    // The largest multiple of 36 below 256: bytes above it are drawn again,
    // so that every character is equally likely.
    constexpr unsigned Limit = 252;
    std::string id;
    while (id.size() < 6 || id == "000000") {
        if (id.size() == 6)
            id.clear();
        unsigned char byte = 0;
        const auto n = getrandom(&byte, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != 1)
            throw StoreError("no random bytes for a banner id");
        if (byte < Limit)
            id += Alphabet[byte % Alphabet.size()];
    }
    return id;
}

} // namespace vexor::server
