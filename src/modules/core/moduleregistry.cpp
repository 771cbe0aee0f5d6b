#include "modules/core/moduleregistry.h"

#include "platform/asciitext.h"
#include "platform/fileops.h"

#include <algorithm>
#include <unordered_map>

namespace vexor::modules {

std::string ModuleKey(const std::string& name)
{
    return std::string(ProductKey) + "\\" + name;
}

std::vector<std::string> ListModuleNames(const platform::Registry& registry)
{
    try {
        if (!registry.keyExists(ProductKey))
            return {};
        return registry.subKeyNames(ProductKey);
    } catch (...) {
        // An unreadable registry file is the same as no product key.
        return {};
    }
}

std::optional<std::string> FindModuleValue(const platform::Registry& registry,
                                           const std::string& name, const std::string& value)
{
    try {
        return registry.findString(ModuleKey(name), value);
    } catch (...) {
        // A dword or binary value where a string belongs reads as missing.
        return std::nullopt;
    }
}

std::string ReadModuleValue(const platform::Registry& registry, const std::string& name,
                            const std::string& value)
{
    return FindModuleValue(registry, name, value).value_or(std::string());
}

static bool keyOpens(const platform::Registry& registry, const std::string& name)
{
    try {
        return registry.keyExists(ModuleKey(name));
    } catch (...) {
        return false;
    }
}

void DropInactive(const platform::Registry& registry, std::vector<std::string>& names)
{
    std::erase_if(names, [&](const std::string& name) {
        return !keyOpens(registry, name) || ReadModuleValue(registry, name, "ACTIVE") == "N";
    });
}

std::vector<std::string> ReadModulesMenuCaptions(const std::string& modulesListFile)
{
    // Read whole rather than through a stream: a file stream would set up the
    // C++ locale machinery at start-up for this one small file.
    std::string contents;
    if (!platform::readWholeFile(modulesListFile, contents))
        return {};
    struct Line {
        bool hasValue;
        std::string key;  // the name, lower-cased
        std::string value;
    };
    std::vector<Line> lines;
    bool header = true;
    for (std::size_t start = 0; start < contents.size();) {
        const std::size_t end = std::min(contents.find('\n', start), contents.size());
        std::string text = contents.substr(start, end - start);
        start = end + 1;
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (header) {
            header = false;
            continue;
        }
        const auto eq = text.find('=');
        if (eq == std::string::npos)
            lines.push_back({false, {}, {}});
        else
            lines.push_back({true, platform::lowerAscii(text.substr(0, eq)), text.substr(eq + 1)});
    }
    // A repeated name shows the value of its first line.
    std::unordered_map<std::string, std::string> firstValue;
    for (const Line& line : lines)
        if (line.hasValue)
            firstValue.try_emplace(line.key, line.value);
    std::vector<std::string> captions;
    captions.reserve(lines.size());
    for (const Line& line : lines)
        captions.push_back(line.hasValue ? firstValue[line.key] : std::string());
    return captions;
}

}  // namespace vexor::modules
