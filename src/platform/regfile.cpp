#include "platform/regfile.h"

#include "platform/asciitext.h"
#include "platform/exception.h"

#include <algorithm>

namespace vexor::platform {

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view text)
{
    return trimmed(text, " \t");
}

// The key below `parent` that `key` lies in, as its first component, or
// nullopt when `key` is not strictly below `parent` (both normalized).
std::optional<std::string_view> childOf(std::string_view key, std::string_view parent)
{
    if (!parent.empty()) {
        if (key.size() <= parent.size() + 1 || key[parent.size()] != '\\'
            || !startsWithNoCase(key, parent))
            return std::nullopt;
        key.remove_prefix(parent.size() + 1);
    }
    if (key.empty())
        return std::nullopt;
    return key.substr(0, key.find('\\'));
}

bool isUnder(std::string_view key, std::string_view parent)
{
    return equalsNoCase(key, parent) || childOf(key, parent).has_value();
}

// Reads a quoted string starting at text[at] == '"'; `at` ends after the
// closing quote. nullopt when it is not closed.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& at)
{
    std::string result;
    for (std::size_t i = at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            at = i + 1;
            return result;
        }
        if (c != '\\') {
            result += c;
            continue;
        }
        if (++i >= text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\': result += '\\'; break;
        case '"': result += '"'; break;
        case 'n': result += '\n'; break;
        case 'r': result += '\r'; break;
        case '0': result += '\0'; break;
        default:  // unknown escapes stay as written
            result += '\\';
            result += text[i];
        }
    }
    return std::nullopt;
}

// After a value's data only blanks and a ";" comment may follow.
bool onlyCommentLeft(std::string_view rest)
{
    rest = trim(rest);
    return rest.empty() || rest.front() == ';';
}

// "01,02,ff" (blanks allowed around bytes, a trailing comma tolerated) into
// bytes; nullopt when anything else is there.
std::optional<std::string> parseHexBytes(std::string_view list, std::string& canonical)
{
    std::string bytes;
    canonical.clear();
    list = trim(list);
    while (!list.empty()) {
        auto comma = list.find(',');
        std::string_view item = trim(list.substr(0, comma));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        if (item.empty() && list.empty() && comma != std::string_view::npos)
            break;  // trailing comma
        if (item.size() != 2 || hexValue(item[0]) < 0 || hexValue(item[1]) < 0)
            return std::nullopt;
        bytes += static_cast<char>(hexValue(item[0]) * 16 + hexValue(item[1]));
        if (!canonical.empty())
            canonical += ',';
        canonical += lowerAscii(item[0]);
        canonical += lowerAscii(item[1]);
    }
    return bytes;
}

std::string hexTypeName(std::string_view kind)
{
    if (kind.empty() || kind == "3")
        return "REG_BINARY";
    static const std::pair<const char*, const char*> names[] = {
        {"0", "REG_NONE"}, {"1", "REG_SZ"}, {"2", "REG_EXPAND_SZ"}, {"4", "REG_DWORD"},
        {"5", "REG_DWORD_BIG_ENDIAN"}, {"6", "REG_LINK"}, {"7", "REG_MULTI_SZ"}, {"b", "REG_QWORD"}};
    for (const auto& [code, name] : names)
        if (equalsNoCase(kind, code))
            return name;
    return "REG_HEX(" + std::string(kind) + ")";
}

// "[HKEY_CURRENT_USER\\key]". "[-KEY]" (delete on import), a foreign root or
// a header without its "]" opens a section whose values are not ours.
void parseHeader(std::string_view line, bool& visible, std::string& key)
{
    std::string_view inner = line.back() == ']' ? line.substr(1, line.size() - 2) : "-";
    auto slash = inner.find('\\');
    std::string_view root = inner.substr(0, slash);
    visible = equalsNoCase(root, "HKEY_CURRENT_USER") || equalsNoCase(root, "HKCU");
    key = visible ? RegFile::normalizeKey(slash == std::string_view::npos ? "" : inner.substr(slash + 1)) : "";
}

// hex:01,02 or hex(N):..., continued over the following lines while a line
// ends with "\\"; `lastLine` moves to the last line taken.
bool parseHexData(std::string_view rest, const std::vector<std::string>& lines, std::size_t& lastLine,
                  RegValue& value)
{
    std::string_view kind;
    std::size_t colon = 3;
    if (rest.size() > 3 && rest[3] == '(') {
        auto close = rest.find(')');
        if (close == std::string_view::npos)
            return false;
        kind = rest.substr(4, close - 4);
        colon = close + 1;
    }
    if (colon >= rest.size() || rest[colon] != ':')
        return false;
    std::string list(rest.substr(colon + 1));
    list = std::string(trim(list.substr(0, list.find(';'))));
    // A line that starts something else ends the value even after a "\\".
    while (!list.empty() && list.back() == '\\' && lastLine + 1 < lines.size()) {
        std::string_view next = trim(lines[lastLine + 1]);
        if (next.empty() || next.front() == '[' || next.front() == '"' || next.front() == '@')
            break;
        list.pop_back();
        ++lastLine;
        list += trim(next.substr(0, next.find(';')));
    }
    std::string canonical;
    auto bytes = parseHexBytes(list, canonical);
    if (!bytes)
        return false;
    value.type = hexTypeName(kind);
    if (value.isString()) {
        while (!bytes->empty() && bytes->back() == '\0')
            bytes->pop_back();
        value.data = std::move(*bytes);
    } else {
        value.data = std::move(canonical);
    }
    return true;
}

bool parseDwordData(std::string_view rest, RegValue& value)
{
    std::string_view digits = trim(rest.substr(6));
    digits = trim(digits.substr(0, digits.find(';')));
    if (digits.empty() || digits.size() > 8
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return hexValue(c) >= 0; }))
        return false;
    value.type = "REG_DWORD";
    value.data = std::string(digits);
    return true;
}

// "Name"=data or @=data, where data is "text", -, dword:... or hex...:...
bool parseValue(std::string_view line, const std::vector<std::string>& lines, std::size_t& lastLine,
                RegValue& value, bool& removal)
{
    std::size_t pos = 1;
    if (line.front() == '"') {
        pos = 0;
        auto name = readQuoted(line, pos);
        if (!name)
            return false;
        value.name = std::move(*name);
    }
    std::string_view rest = trim(line.substr(pos));
    if (rest.empty() || rest.front() != '=')
        return false;
    rest = trim(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
        std::size_t end = 0;
        auto data = readQuoted(rest, end);
        if (!data || !onlyCommentLeft(rest.substr(end)))
            return false;
        value.type = "REG_SZ";
        value.data = std::move(*data);
        return true;
    }
    if (!rest.empty() && rest.front() == '-') {
        removal = true;
        return onlyCommentLeft(rest.substr(1));
    }
    if (startsWithNoCase(rest, "dword:"))
        return parseDwordData(rest, value);
    if (startsWithNoCase(rest, "hex"))
        return parseHexData(rest, lines, lastLine, value);
    return false;
}

}  // namespace

RegFile::RegFile() = default;

RegFile RegFile::parse(std::string_view text)
{
    RegFile file;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        file.m_bom = text.substr(0, 3);
        text.remove_prefix(3);
    }
    auto firstBreak = text.find_first_of("\r\n");
    if (firstBreak != std::string_view::npos)
        file.m_eol = (text.substr(firstBreak, 2) == "\r\n") ? "\r\n" : text.substr(firstBreak, 1);
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            file.m_lines.emplace_back(text.substr(at));
            file.m_endsWithBreak = false;
            break;
        }
        file.m_lines.emplace_back(text.substr(at, end - at));
        at = end + ((text.substr(end, 2) == "\r\n") ? 2 : 1);
    }
    file.reindex();
    return file;
}

std::string RegFile::text() const
{
    std::string result = m_bom;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        result += m_lines[i];
        if (i + 1 < m_lines.size() || m_endsWithBreak)
            result += m_eol;
    }
    return result;
}

void RegFile::reindex()
{
    m_entries.clear();
    bool visible = false;
    std::string key;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        std::string_view line = trim(m_lines[i]);
        if (line.empty() || line.front() == ';')
            continue;
        Entry entry;
        entry.firstLine = entry.lastLine = i;
        if (line.front() == '[') {
            parseHeader(line, visible, key);
            entry.isSection = true;
        } else if (line.front() == '"' || line.front() == '@') {
            bool parsed = parseValue(line, m_lines, entry.lastLine, entry.value, entry.removal);
            i = entry.lastLine;  // past the continuation lines, parsed or not
            if (!parsed)
                continue;
        } else {
            continue;
        }
        entry.visible = visible;
        entry.key = key;
        m_entries.push_back(std::move(entry));
    }
}

std::string RegFile::normalizeKey(std::string_view key)
{
    std::string result;
    std::size_t at = 0;
    while (at <= key.size()) {
        auto end = key.find('\\', at);
        if (end == std::string_view::npos)
            end = key.size();
        if (end > at) {
            if (!result.empty())
                result += '\\';
            result.append(key.substr(at, end - at));
        }
        at = end + 1;
    }
    return result;
}

bool RegFile::validKey(std::string_view key)
{
    return key.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string RegFile::quote(std::string_view text)
{
    std::string result = "\"";
    for (char c : text) {
        switch (c) {
        case '\\': result += "\\\\"; break;
        case '"': result += "\\\""; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        case '\0': result += "\\0"; break;
        default: result += c;
        }
    }
    return result + "\"";
}

bool RegFile::keyExists(std::string_view key) const
{
    std::string wanted = normalizeKey(key);
    if (wanted.empty())
        return true;  // HKEY_CURRENT_USER itself
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.isSection && e.visible && isUnder(e.key, wanted);
    });
}

std::vector<std::string> RegFile::subKeyNames(std::string_view key) const
{
    std::string parent = normalizeKey(key);
    std::vector<std::string> names;
    for (const Entry& e : m_entries) {
        if (!e.isSection || !e.visible)
            continue;
        auto child = childOf(e.key, parent);
        if (!child)
            continue;
        bool known = std::any_of(names.begin(), names.end(),
                                 [&](const std::string& n) { return equalsNoCase(n, *child); });
        if (!known)
            names.emplace_back(*child);
    }
    return names;
}

std::vector<RegValue> RegFile::values(std::string_view key) const
{
    std::string wanted = normalizeKey(key);
    std::vector<RegValue> result;
    for (const Entry& e : m_entries) {
        if (e.isSection || !e.visible || !equalsNoCase(e.key, wanted))
            continue;
        auto same = std::find_if(result.begin(), result.end(),
                                 [&](const RegValue& v) { return equalsNoCase(v.name, e.value.name); });
        if (e.removal) {
            if (same != result.end())
                result.erase(same);
        } else if (same != result.end()) {
            std::string name = same->name;  // listed under its first spelling
            *same = e.value;
            same->name = std::move(name);
        } else {
            result.push_back(e.value);
        }
    }
    return result;
}

std::optional<RegValue> RegFile::findValue(std::string_view key, std::string_view name) const
{
    auto last = lastDefinition(key, name);
    if (!last || m_entries[*last].removal)
        return std::nullopt;
    return m_entries[*last].value;
}

std::optional<std::size_t> RegFile::lastDefinition(std::string_view key, std::string_view name) const
{
    std::string wanted = normalizeKey(key);
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (!e.isSection && e.visible && equalsNoCase(e.key, wanted) && equalsNoCase(e.value.name, name))
            found = i;
    }
    return found;
}

std::vector<std::size_t> RegFile::sectionsOf(std::string_view key, bool withSubkeys) const
{
    std::string wanted = normalizeKey(key);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& e = m_entries[i];
        if (e.isSection && e.visible && (withSubkeys ? isUnder(e.key, wanted) : equalsNoCase(e.key, wanted)))
            found.push_back(i);
    }
    return found;
}

void RegFile::insertLines(std::size_t at, const std::vector<std::string>& lines)
{
    m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin(), lines.end());
    m_endsWithBreak = true;
    reindex();
}

void RegFile::eraseLines(std::size_t first, std::size_t last)
{
    m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(first),
                  m_lines.begin() + static_cast<std::ptrdiff_t>(last + 1));
    reindex();
}

std::size_t RegFile::appendSection(std::string_view key)
{
    std::vector<std::string> lines;
    if (m_lines.empty())
        lines.emplace_back("REGEDIT4");
    if ((m_lines.empty() && lines.size() == 1) || (!m_lines.empty() && !trim(m_lines.back()).empty()))
        lines.emplace_back("");
    std::string normalized = normalizeKey(key);
    lines.push_back("[HKEY_CURRENT_USER" + (normalized.empty() ? "" : "\\" + normalized) + "]");
    std::size_t header = m_lines.size() + lines.size() - 1;
    insertLines(m_lines.size(), lines);
    return header;
}

void RegFile::setString(std::string_view key, std::string_view name, std::string_view value)
{
    if (!validKey(key))
        throw Exception(formatMessage("Invalid registry key '%s'", std::string(key)));
    if (auto last = lastDefinition(key, name)) {
        // Replace the definition that counts; the value keeps its spelling.
        const Entry& e = m_entries[*last];
        std::string line = (e.value.name.empty() ? std::string("@") : quote(e.value.name)) + "=" + quote(value);
        std::size_t first = e.firstLine;
        eraseLines(first, e.lastLine);
        insertLines(first, {line});
        return;
    }
    std::string line = (name.empty() ? std::string("@") : quote(name)) + "=" + quote(value);
    auto sections = sectionsOf(key, false);
    std::size_t after = 0;
    if (sections.empty()) {
        after = appendSection(key);
    } else {
        // After the last value of the key's last section (before the blank line
        // that separates it from the next one).
        std::size_t s = sections.back();
        after = m_entries[s].firstLine;
        for (std::size_t i = s + 1; i < m_entries.size() && !m_entries[i].isSection; ++i)
            after = m_entries[i].lastLine;
    }
    insertLines(after + 1, {line});
}

bool RegFile::createKey(std::string_view key)
{
    if (!validKey(key))
        throw Exception(formatMessage("Invalid registry key '%s'", std::string(key)));
    if (keyExists(key))
        return false;
    appendSection(key);
    return true;
}

bool RegFile::deleteKey(std::string_view key)
{
    if (normalizeKey(key).empty())
        return false;  // HKEY_CURRENT_USER itself is never deleted
    auto sections = sectionsOf(key, true);
    // From the last to the first, so earlier line numbers stay valid. Each
    // section takes its lines up to the next header (any root).
    for (auto it = sections.rbegin(); it != sections.rend(); ++it) {
        std::size_t first = m_entries[*it].firstLine;
        std::size_t last = m_lines.size() - 1;
        for (std::size_t i = *it + 1; i < m_entries.size(); ++i) {
            if (m_entries[i].isSection) {
                last = m_entries[i].firstLine - 1;
                break;
            }
        }
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(first),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(last + 1));
    }
    reindex();
    return !sections.empty();
}

bool RegFile::deleteValue(std::string_view key, std::string_view name)
{
    bool existed = findValue(key, name).has_value();
    while (auto last = lastDefinition(key, name))
        eraseLines(m_entries[*last].firstLine, m_entries[*last].lastLine);
    return existed;
}

}  // namespace vexor::platform
