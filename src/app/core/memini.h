#pragma once

#include <string>
#include <string_view>
#include <vector>

// The in-memory INI reader of the language index and the language files.
//  1. A missing file reads as an empty file; no error.
//  2. Lines are taken as they stand, without trimming. Empty lines and lines
//     whose first character is ";" are skipped. A line ends at CR LF, LF or CR.
//  3. A line that starts with "[" and ends with "]" opens a section named by
//     the text between them.
//  4. Other lines belong to the section opened last; lines before the first
//     section are dropped. A line without "=" is kept, with an empty key.
//  5. Section names compare without regard to case; of two sections with one
//     name only the first is found.
//  6. A key is the text before the first "=" of a line, compared without
//     regard to case and without trimming; the first matching line wins and
//     its value is everything after that "=". A line without "=" is never
//     found by a lookup.
// Case is folded for ASCII letters only; bytes above 127 must match exactly.
// A UTF-8 byte-order mark at the very start of the text is dropped. NUL bytes
// and overlong lines are kept as they stand.
namespace vexor {

class TMemIniFile {
public:
    TMemIniFile() = default;
    // Reads `path` (through platform::resolvePath, so the case of folder names
    // does not matter). Throws vexor::Exception "Unable to read <path>" when
    // something exists at the path but cannot be read as a file (a folder, no
    // read permission); the caller turns that into its own message.
    explicit TMemIniFile(const std::string& path);

    static TMemIniFile fromText(std::string_view text);

    bool hasSection(const std::string& section) const;
    // The lines of the first section of that name, in file order. On a
    // temporary reader the lines are moved out instead of copied.
    std::vector<std::string> sectionLines(const std::string& section) const&;
    std::vector<std::string> sectionLines(const std::string& section) &&;
    // Value of `key` in `section`, or `defaultValue`.
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& defaultValue = {}) const;

private:
    struct Section {
        std::string name;
        std::vector<std::string> lines;
    };
    void parse(std::string_view text);
    const Section* findSection(const std::string& name) const;
    std::vector<Section> m_sections;
};

// Key and value of one "key=value" line (both empty when there is no "=").
std::string lineKey(const std::string& line);
std::string lineValue(const std::string& line);
// First line of `lines` whose key equals `key` without regard to case; its
// value, or empty.
std::string valueOfKey(const std::vector<std::string>& lines, const std::string& key);

}  // namespace vexor
