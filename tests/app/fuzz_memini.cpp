// libFuzzer target: the in-memory INI reader on arbitrary bytes, with lookups
// of keys and sections taken from the input itself.
#include "app/core/memini.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const vexor::TMemIniFile ini = vexor::TMemIniFile::fromText(text);

    // Keys to look up: the fixed ones and the first 16 bytes of the input.
    const std::string fromInput(text.substr(0, 16));
    for (const std::string& section : { std::string("Languages"), std::string("Texts"), fromInput }) {
        const std::vector<std::string> lines = ini.sectionLines(section);
        check(ini.hasSection(section) || lines.empty());
        for (const std::string& line : lines) {
            check(!line.empty() && line.front() != ';');
            check(line.find_first_of("\r\n") == std::string::npos);
            if (line.find('=') == std::string::npos)
                continue;
            // A key that a line holds is always found, and both lookups agree
            // on the first line that holds it.
            const std::string key = vexor::lineKey(line);
            const std::string found = ini.readString(section, key, "\x01");
            check(found == ini.readString(section, key, "\x02"));
            check(found == vexor::valueOfKey(lines, key));
        }
        for (const std::string& key : { std::string("MainCaption"), std::string(), fromInput })
            ini.readString(section, key);
    }
    return 0;
}
