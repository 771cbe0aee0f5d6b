#include "query.h"

#include "platform/asciitext.h"

namespace vexor::server {

using platform::hexValue;

namespace {

QueryPair splitPair(std::string_view piece)
{
    const auto eq = piece.find('=');
    if (eq == std::string_view::npos)
        return { percentDecode(piece), {} };
    return { percentDecode(piece.substr(0, eq)), percentDecode(piece.substr(eq + 1)) };
}

} // namespace

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0
            && hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<QueryPair> parseQuery(std::string_view target)
{
    std::vector<QueryPair> pairs;
    const auto question = target.find('?');
    if (question == std::string_view::npos)
        return pairs;
    std::string_view rest = target.substr(question + 1);
    while (!rest.empty()) {
        const auto amp = rest.find('&');
        const auto piece = rest.substr(0, amp);
        if (!piece.empty())
            pairs.push_back(splitPair(piece));
        if (amp == std::string_view::npos)
            break;
        rest.remove_prefix(amp + 1);
    }
    return pairs;
}

const std::string* findValue(const std::vector<QueryPair>& pairs, std::string_view key)
{
    for (const auto& pair : pairs) {
        if (pair.key == key)
            return &pair.value;
    }
    return nullptr;
}

std::string escapeForLog(std::string_view text, std::string_view alsoEscape)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%' || alsoEscape.find(c) != std::string_view::npos) {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace vexor::server
