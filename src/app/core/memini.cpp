#include "app/core/memini.h"

#include "platform/asciitext.h"
#include "platform/exception.h"
#include "platform/fileops.h"

#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>

namespace vexor {

namespace {

using platform::equalsNoCase;

// The key of a line without copying it (empty when there is no "=").
std::string_view keyView(std::string_view line)
{
    auto at = line.find('=');
    return at == std::string_view::npos ? std::string_view() : line.substr(0, at);
}

// A line matches when its first "=" stands right after a case-insensitive copy
// of the key; testing that position first spares a search through every
// line. A line without "=" has no key that a lookup could find, not even the
// empty one, and a key that holds "=" matches no line.
std::optional<std::string_view> lookupValue(const std::vector<std::string>& lines, std::string_view key)
{
    if (key.find('=') != std::string_view::npos)
        return std::nullopt;
    const std::size_t n = key.size();
    for (const std::string& line : lines) {
        if (line.size() > n && line[n] == '=' && equalsNoCase(std::string_view(line).substr(0, n), key))
            return std::string_view(line).substr(n + 1);
    }
    return std::nullopt;
}

// Something is there (a folder, a file without read permission) as opposed to
// nothing at all; a link that leads nowhere counts as nothing.
bool somethingExists(const std::string& path)
{
    std::error_code error;
    return std::filesystem::status(path, error).type() != std::filesystem::file_type::not_found && !error;
}

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

}  // namespace

TMemIniFile::TMemIniFile(const std::string& path)
{
    const std::string resolved = platform::resolvePath(path);
    if (!somethingExists(resolved))
        return;  // a missing file reads as an empty one
    std::string contents;
    std::error_code error;
    if (std::filesystem::is_directory(resolved, error) || !platform::readWholeFile(resolved, contents))
        throw Exception(formatMessage("Unable to read %s", path));
    parse(contents);
}

TMemIniFile TMemIniFile::fromText(std::string_view text)
{
    TMemIniFile ini;
    ini.parse(text);
    return ini;
}

void TMemIniFile::parse(std::string_view text)
{
    // Editors on the user's side may save with a UTF-8 byte-order mark; left in
    // place it would hide the first section header.
    if (text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());

    Section* current = nullptr;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // A plain loop: find_first_of would call memchr once per byte.
        std::size_t end = pos;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        std::string_view line = text.substr(pos, end - pos);
        // CR LF is one line end; a CR or a LF alone is one too.
        pos = (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? end + 2 : end + 1;

        if (line.empty() || line.front() == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &m_sections.emplace_back(Section { std::string(line.substr(1, line.size() - 2)), {} });
            continue;
        }
        if (current)
            current->lines.emplace_back(line);
    }
}

const TMemIniFile::Section* TMemIniFile::findSection(const std::string& name) const
{
    for (const Section& section : m_sections) {
        if (equalsNoCase(section.name, name))
            return &section;
    }
    return nullptr;
}

bool TMemIniFile::hasSection(const std::string& section) const
{
    return findSection(section) != nullptr;
}

std::vector<std::string> TMemIniFile::sectionLines(const std::string& section) const&
{
    const Section* found = findSection(section);
    return found ? found->lines : std::vector<std::string>();
}

std::vector<std::string> TMemIniFile::sectionLines(const std::string& section) &&
{
    const Section* found = findSection(section);
    return found ? std::move(const_cast<Section*>(found)->lines) : std::vector<std::string>();
}

std::string TMemIniFile::readString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const
{
    const Section* found = findSection(section);
    if (!found)
        return defaultValue;
    auto value = lookupValue(found->lines, key);
    return value ? std::string(*value) : defaultValue;
}

std::string lineKey(const std::string& line)
{
    return std::string(keyView(line));
}

std::string lineValue(const std::string& line)
{
    auto at = line.find('=');
    return at == std::string::npos ? std::string() : line.substr(at + 1);
}

std::string valueOfKey(const std::vector<std::string>& lines, const std::string& key)
{
    return std::string(lookupValue(lines, key).value_or(std::string_view()));
}

}  // namespace vexor
