#include "platform/profileini.h"

#include "platform/asciitext.h"
#include "platform/exception.h"
#include "platform/fileops.h"

#include <optional>
#include <string_view>
#include <vector>

namespace vexor::platform {

namespace {

// Blanks as the profile functions see them around names and values.
constexpr std::string_view Blanks = " \t\v\f\r";

std::string_view trim(std::string_view text)
{
    return trimmed(text, Blanks);
}

// One line of the file: [begin, end) is its text, [end, next) its line break.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
};

std::vector<Line> splitLines(std::string_view text, std::size_t start)
{
    std::vector<Line> lines;
    std::size_t at = start;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string_view::npos) {
            lines.push_back({at, text.size(), text.size()});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n')
            ++next;
        lines.push_back({at, end, next});
        at = next;
    }
    return lines;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
    std::size_t valueStart = 0;  // offset in the file just after the "="
};

// "[name]" (the last "]" closes it; a line without one is no header),
// "key=value" (the first "=" separates), ";comment", or anything else.
ParsedLine parseLine(std::string_view text, const Line& line)
{
    ParsedLine parsed;
    std::string_view body = text.substr(line.begin, line.end - line.begin);
    std::string_view content = trim(body);
    if (content.empty() || content.front() == ';')
        return parsed;
    if (content.front() == '[') {
        auto close = content.rfind(']');
        if (close != std::string_view::npos) {
            parsed.kind = LineKind::Section;
            parsed.name = trim(content.substr(1, close - 1));
            return parsed;
        }
    }
    auto equals = body.find('=');
    if (equals == std::string_view::npos)
        return parsed;
    parsed.kind = LineKind::Key;
    parsed.name = trim(body.substr(0, equals));
    parsed.value = trim(body.substr(equals + 1));
    parsed.valueStart = line.begin + equals + 1;
    return parsed;
}

// The file's text after a UTF-8 byte-order mark.
std::size_t contentStart(std::string_view text)
{
    return text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// Where a section and a key sit in the file.
struct Location {
    std::optional<std::size_t> keyLine;       // the first line holding the key
    std::optional<std::size_t> sectionLine;   // header of the first matching section
    std::optional<std::size_t> insertAfter;   // last key line of that section, or its header
};

Location locate(std::string_view text, const std::vector<Line>& lines,
                std::string_view section, std::string_view key)
{
    Location where;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        ParsedLine parsed = parseLine(text, lines[i]);
        if (parsed.kind == LineKind::Section) {
            inSection = equalsNoCase(parsed.name, section);
            inFirstSection = inSection && !where.sectionLine;
            if (inFirstSection) {
                where.sectionLine = i;
                where.insertAfter = i;
            }
        } else if (parsed.kind == LineKind::Key && inSection) {
            if (inFirstSection)
                where.insertAfter = i;
            if (equalsNoCase(parsed.name, key)) {
                where.keyLine = i;
                return where;
            }
        }
    }
    return where;
}

// The file's own line break; text files the program starts end lines with
// CR LF, as the vendor's other tools expect.
std::string_view lineBreakOf(std::string_view text, const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (line.next > line.end)
            return text.substr(line.end, line.next - line.end);
    return "\r\n";
}

// A name that the file format cannot hold would corrupt the file or be read
// back under another name.
bool writableName(std::string_view name, bool isSection)
{
    if (name.empty())
        return false;
    for (char c : name) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
        if (!isSection && c == '=')
            return false;
    }
    return isSection || (name.front() != ';' && name.front() != '[');
}

// Line breaks inside a value would split it into lines of their own; they
// become blanks.
std::string storableValue(const std::string& value)
{
    std::string stored = value;
    for (char& c : stored)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return stored;
}

std::string cutToBuffer(std::string_view value)
{
    return std::string(value.substr(0, ProfileBufferSize - 1));
}

}  // namespace

std::string profileReadIn(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& contents)
{
    std::string_view fallback = defaultValue;
    fallback = fallback.substr(0, fallback.find_last_not_of(Blanks) + 1);
    std::string_view text = contents;
    auto lines = splitLines(text, contentStart(text));
    Location where = locate(text, lines, trim(section), trim(key));
    if (!where.keyLine || trim(key).empty())
        return cutToBuffer(fallback);
    return cutToBuffer(parseLine(text, lines[*where.keyLine]).value);
}

std::string profileWriteIn(const std::string& sectionName, const std::string& keyName,
                           const std::string& value, const std::string& contents)
{
    // Names are looked up trimmed, so they are stored trimmed.
    std::string section(trim(sectionName));
    std::string key(trim(keyName));
    if (!writableName(section, true) || !writableName(key, false))
        throw Exception(formatMessage("Invalid profile key name '%s'", "[" + sectionName + "] " + keyName));
    std::string_view text = contents;
    auto lines = splitLines(text, contentStart(text));
    Location where = locate(text, lines, section, key);
    std::string stored = storableValue(value);
    std::string result;

    if (where.keyLine) {
        // Only the text after "=" changes; the key keeps its spelling and
        // indentation, every other byte of the file stays as it was.
        const Line& line = lines[*where.keyLine];
        std::size_t valueStart = parseLine(text, line).valueStart;
        result.append(text.substr(0, valueStart));
        result.append(stored);
        result.append(text.substr(line.end));
        return result;
    }

    std::string_view eol = lineBreakOf(text, lines);
    std::string keyLine = key + "=" + stored;
    if (where.insertAfter) {
        const Line& line = lines[*where.insertAfter];
        result.append(text.substr(0, line.end));
        result.append(eol);
        result.append(keyLine);
        if (line.next > line.end)
            result.append(text.substr(line.end));  // the line's own break, then the rest
        else
            result.append(eol);
        return result;
    }

    result.assign(contents);
    if (!lines.empty() && lines.back().next == lines.back().end)
        result.append(eol);  // the last line had no break of its own
    if (!lines.empty())
        result.append(eol);  // one blank line between sections
    result.append("[" + section + "]");
    result.append(eol);
    result.append(keyLine);
    result.append(eol);
    return result;
}

std::string profileReadString(const std::string& section, const std::string& key,
                              const std::string& defaultValue, const std::string& file)
{
    std::string contents;
    readWholeFile(file, contents);
    return profileReadIn(section, key, defaultValue, contents);
}

void profileWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file)
{
    std::string contents;
    bool existed = readWholeFile(file, contents);
    if (!existed && fileExists(file))
        throw Exception(formatMessage("Unable to write to %s", file));  // there but unreadable
    std::string updated = profileWriteIn(section, key, value, contents);
    if (existed && updated == contents)
        return;  // nothing changed: spare the disk a rewrite
    if (!writeFileAtomic(file, updated, 0600))
        throw Exception(formatMessage("Unable to write to %s", file));
}

}  // namespace vexor::platform
