#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The text of a REGEDIT4 file in memory: the reader and editor behind
// platform::Registry, usable on its own (tests, fuzzing, vexor-reg).
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Vexor\Calc]
//   "ModulePath"="/opt/calc/"
//   "Counter"=dword:00000001
//   @="default value"
//
// Reading never fails: CR LF, LF or CR line ends, a UTF-8 byte-order mark,
// ";" comments, blank lines, "@" default values and hex values continued over
// several lines ("\" at the end of a line) are understood; a line that makes
// no sense is skipped, and so is every section outside HKEY_CURRENT_USER
// (HKCU is accepted as its short name). Editing changes only the lines that it
// must: comments, unknown lines and foreign sections keep their bytes.
//
// Keys are given relative to HKEY_CURRENT_USER with "\" between components
// ("Software\Vexor\Calc"); empty components are ignored, so "\Software\Vexor"
// is the same key; "" is HKEY_CURRENT_USER itself. Key and value names compare
// without regard to case (ASCII). A key exists when a section names it or any
// key below it. When the same value is given more than once (repeated
// sections), the last one counts, as when the file is imported; `"Name"=-`
// removes a value given before it.
namespace vexor::platform {

struct RegValue {
    std::string name;  // "" for the default value ("@")
    std::string type;  // "REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY", "REG_MULTI_SZ", "REG_QWORD", "REG_NONE", "REG_HEX(n)"
    std::string data;  // REG_SZ: the text (unescaped); REG_EXPAND_SZ: the decoded text;
                       // others: the raw text after "dword:" or "hex...:" with blanks and
                       // line continuations removed ("01,02,ff")
    bool isString() const { return type == "REG_SZ" || type == "REG_EXPAND_SZ"; }
};

class RegFile {
public:
    // An empty registry (the text "REGEDIT4" once something is written).
    RegFile();
    // Reads any text; never throws except std::bad_alloc.
    static RegFile parse(std::string_view text);

    // The file's text: unchanged lines byte for byte, new lines in the file's
    // own line-break style (LF for a new file).
    std::string text() const;

    bool keyExists(std::string_view key) const;
    // Direct subkeys of `key` in the order of their first appearance, each in
    // the spelling of that appearance; empty when the key does not exist.
    std::vector<std::string> subKeyNames(std::string_view key) const;
    // Values of `key` in the order of their first appearance, with the data of
    // their last definition.
    std::vector<RegValue> values(std::string_view key) const;
    std::optional<RegValue> findValue(std::string_view key, std::string_view name) const;

    // The edits return false when there was nothing to do. Key names must be
    // valid (validKey); setString on a key that does not exist creates it.
    void setString(std::string_view key, std::string_view name, std::string_view value);
    bool createKey(std::string_view key);
    bool deleteKey(std::string_view key);
    bool deleteValue(std::string_view key, std::string_view name);

    // A key path that can be written: no CR, LF or NUL, and no component that
    // would end a section header early (a "]" is fine; the header ends at the
    // last "]" of its line).
    static bool validKey(std::string_view key);
    // The key path in canonical form: components joined by "\", no empty ones.
    static std::string normalizeKey(std::string_view key);
    // Quoted and escaped as in a .reg file: "\" -> "\\", '"' -> "\"", and, so
    // that a value stays on its line, CR -> "\r", LF -> "\n", NUL -> "\0".
    static std::string quote(std::string_view text);

private:
    // What a line (or a value continued over several lines) means.
    struct Entry {
        bool isSection = false;       // else a value
        bool visible = false;         // in (or is) a section of HKEY_CURRENT_USER
        std::size_t firstLine = 0;
        std::size_t lastLine = 0;
        std::string key;              // normalized key of the section
        RegValue value;               // a value's name, type and data
        bool removal = false;         // "Name"=-
    };
    void reindex();
    std::vector<std::size_t> sectionsOf(std::string_view key, bool withSubkeys) const;
    std::optional<std::size_t> lastDefinition(std::string_view key, std::string_view name) const;
    void insertLines(std::size_t at, const std::vector<std::string>& lines);
    void eraseLines(std::size_t first, std::size_t last);
    std::size_t appendSection(std::string_view key);

    std::string m_bom;
    std::string m_eol = "\n";
    bool m_endsWithBreak = true;
    std::vector<std::string> m_lines;  // without their line breaks
    std::vector<Entry> m_entries;      // what the lines mean, rebuilt after each edit
};

}  // namespace vexor::platform
