// Fuzz target: the bytes are a registry file. Parses it, walks its keys,
// then writes, deletes and re-reads values and checks the results.
#include "platform/regfile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace vexor::platform;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Visits keys below `key` (a few levels, a few subkeys each) and their values.
void walk(const RegFile& file, const std::string& key, int depth)
{
    check(file.keyExists(key));
    for (const RegValue& value : file.values(key)) {
        auto found = file.findValue(key, value.name);
        check(found && found->type == value.type && found->data == value.data);
    }
    if (depth == 0)
        return;
    int visited = 0;
    for (const std::string& sub : file.subKeyNames(key)) {
        if (++visited > 8)
            break;
        walk(file, key.empty() ? sub : key + "\\" + sub, depth - 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    RegFile file = RegFile::parse(text);
    walk(file, "", 4);

    // Printing and parsing again changes nothing more.
    std::string printed = file.text();
    check(RegFile::parse(printed).text() == printed);

    const std::string key = "Software\\Vexor\\Fuzz";
    const std::string value = text.substr(size > 32 ? size - 32 : 0);
    auto siblings = file.subKeyNames("Software\\Vexor");
    auto other = file.findValue("Software\\Vexor", "VexorID");

    file.setString(key, "Name", value);
    RegFile again = RegFile::parse(file.text());
    auto written = again.findValue(key, "NAME");
    check(written && written->type == "REG_SZ" && written->data == value);
    auto otherAfter = again.findValue("Software\\Vexor", "VexorID");
    check(other.has_value() == otherAfter.has_value());
    check(!other || (other->type == otherAfter->type && other->data == otherAfter->data));
    auto siblingsAfter = again.subKeyNames("Software\\Vexor");
    check(siblingsAfter.size() >= siblings.size());
    for (std::size_t i = 0; i < siblings.size(); ++i)
        check(siblingsAfter[i] == siblings[i]);

    check(again.deleteValue(key, "name"));
    check(!again.findValue(key, "Name"));
    check(again.deleteKey(key));
    check(!again.keyExists(key));
    check(!RegFile::parse(again.text()).keyExists(key));
    return 0;
}
