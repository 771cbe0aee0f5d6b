// vexor-reg: query and edit the per-user registry of Vexor from the command
// line, for installers and people. Exit status: 0 done, 1 key or value not
// found, 2 bad command line, 3 the registry file could not be written.
#include "platform/asciitext.h"
#include "platform/exception.h"
#include "platform/registry.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using vexor::platform::equalsNoCase;
using vexor::platform::Registry;
using vexor::platform::RegFile;
using vexor::platform::RegValue;

enum ExitCode { Ok = 0, NotFound = 1, UsageError = 2, WriteError = 3 };

constexpr const char* HelpText =
    "Usage: vexor-reg [--file PATH] COMMAND KEY [OPTIONS]\n"
    "Query and edit the per-user registry of Vexor (HKEY_CURRENT_USER).\n"
    "\n"
    "Commands:\n"
    "  query KEY [--value NAME [--raw]]\n"
    "      List the values and subkeys of KEY, or show one value.\n"
    "      --raw prints only the value's data.\n"
    "  add KEY [--value NAME [--data TEXT] [--if-missing]]\n"
    "      Create KEY, or set the string value NAME of KEY to TEXT (empty\n"
    "      without --data), creating the key. --if-missing leaves a value\n"
    "      that exists already as it is.\n"
    "  delete KEY [--value NAME]\n"
    "      Delete KEY with all its subkeys and values, or one value.\n"
    "\n"
    "KEY is HKCU\\Software\\Vexor\\Notes, HKEY_CURRENT_USER\\Software\\Vexor\\Notes\n"
    "or Software\\Vexor\\Notes; \"/\" may stand for \"\\\". Key and value names\n"
    "compare without regard to case. NAME \"\" is the default value.\n"
    "\n"
    "Options:\n"
    "  --file PATH   the registry file (default: $XDG_CONFIG_HOME/vexor/registry.reg,\n"
    "                or ~/.config/vexor/registry.reg)\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 done, 1 key or value not found, 2 bad command line,\n"
    "3 the registry file could not be written.\n";

struct CommandLine {
    std::string file;
    std::string command;
    std::string key;  // relative to HKEY_CURRENT_USER, normalized
    std::optional<std::string> value;
    std::optional<std::string> data;
    bool ifMissing = false;
    bool raw = false;
    bool help = false;
};

struct UsageFailure {
    std::string message;
};

// The key relative to HKEY_CURRENT_USER: the root name, when given, must be
// HKCU or HKEY_CURRENT_USER.
std::string parseKey(std::string text)
{
    if (!RegFile::validKey(text))
        throw UsageFailure{"a key name cannot hold a line break"};
    std::replace(text.begin(), text.end(), '/', '\\');
    std::string key = RegFile::normalizeKey(text);
    std::string_view first = std::string_view(key).substr(0, key.find('\\'));
    if (equalsNoCase(first, "HKCU") || equalsNoCase(first, "HKEY_CURRENT_USER"))
        return key.size() > first.size() ? key.substr(first.size() + 1) : std::string();
    static const char* const otherRoots[] = {"HKLM", "HKCR", "HKU", "HKCC"};
    bool otherRoot = first.substr(0, 5) == "HKEY_"
        || std::any_of(std::begin(otherRoots), std::end(otherRoots),
                       [&](const char* root) { return equalsNoCase(first, root); });
    if (otherRoot)
        throw UsageFailure{"only HKEY_CURRENT_USER is supported: " + text};
    return key;
}

CommandLine parseArguments(int argc, char** argv)
{
    CommandLine line;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto takeValue = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= argc)
                throw UsageFailure{arg + " needs a value"};
            return argv[++i];
        };
        auto flag = [&] {
            if (inlineValue)
                throw UsageFailure{arg + " takes no value"};
            return true;
        };
        if (arg == "--help")
            line.help = flag();
        else if (arg == "--file")
            line.file = takeValue();
        else if (arg == "--value")
            line.value = takeValue();
        else if (arg == "--data")
            line.data = takeValue();
        else if (arg == "--if-missing")
            line.ifMissing = flag();
        else if (arg == "--raw")
            line.raw = flag();
        else
            throw UsageFailure{"unknown option " + arg};
    }
    if (line.help)
        return line;
    if (positional.empty())
        throw UsageFailure{"no command given"};
    line.command = positional[0];
    if (line.command != "query" && line.command != "add" && line.command != "delete")
        throw UsageFailure{"unknown command " + line.command};
    if (positional.size() < 2)
        throw UsageFailure{line.command + " needs a KEY"};
    if (positional.size() > 2)
        throw UsageFailure{"unexpected argument " + positional[2]};
    line.key = parseKey(positional[1]);
    if (line.file.empty() && !line.help)
        line.file = Registry::defaultFilePath();

    if (line.data && (line.command != "add" || !line.value))
        throw UsageFailure{"--data belongs to add --value"};
    if (line.ifMissing && (line.command != "add" || !line.value))
        throw UsageFailure{"--if-missing belongs to add --value"};
    if (line.raw && (line.command != "query" || !line.value))
        throw UsageFailure{"--raw belongs to query --value"};
    if (line.command == "delete" && line.key.empty() && !line.value)
        throw UsageFailure{"HKEY_CURRENT_USER itself cannot be deleted"};
    return line;
}

std::string fullName(const std::string& key)
{
    return key.empty() ? "HKEY_CURRENT_USER" : "HKEY_CURRENT_USER\\" + key;
}

std::string displayData(const RegValue& value)
{
    if (value.type == "REG_DWORD") {
        char text[16];
        std::snprintf(text, sizeof text, "0x%lx", std::strtoul(value.data.c_str(), nullptr, 16));
        return text;
    }
    return value.data;
}

void printValue(const RegValue& value)
{
    std::string name = value.name.empty() ? "(Default)" : value.name;
    std::printf("    %s    %s    %s\n", name.c_str(), value.type.c_str(), displayData(value).c_str());
}

int notFound(const std::string& what)
{
    std::fprintf(stderr, "vexor-reg: %s\n", what.c_str());
    return NotFound;
}

int query(const CommandLine& line)
{
    RegFile file = Registry(line.file).read();
    if (!file.keyExists(line.key))
        return notFound("key not found: " + fullName(line.key));
    if (line.value) {
        auto value = file.findValue(line.key, *line.value);
        if (!value)
            return notFound("value not found: " + *line.value + " in " + fullName(line.key));
        if (line.raw) {
            std::fwrite(value->data.data(), 1, value->data.size(), stdout);
            std::fputc('\n', stdout);
        } else {
            std::printf("%s\n", fullName(line.key).c_str());
            printValue(*value);
        }
        return Ok;
    }
    std::printf("%s\n", fullName(line.key).c_str());
    for (const RegValue& value : file.values(line.key))
        printValue(value);
    auto subKeys = file.subKeyNames(line.key);
    if (!subKeys.empty())
        std::printf("\n");
    for (const std::string& sub : subKeys)
        std::printf("%s\\%s\n", fullName(line.key).c_str(), sub.c_str());
    return Ok;
}

int add(const CommandLine& line)
{
    Registry registry(line.file);
    if (!line.value) {
        registry.createKey(line.key);
    } else if (line.ifMissing) {
        registry.writeStringIfMissing(line.key, *line.value, line.data.value_or(std::string()));
    } else {
        registry.writeString(line.key, *line.value, line.data.value_or(std::string()));
    }
    return Ok;
}

int remove(const CommandLine& line)
{
    Registry registry(line.file);
    if (!registry.keyExists(line.key))
        return notFound("key not found: " + fullName(line.key));
    if (line.value) {
        if (!registry.deleteValue(line.key, *line.value))
            return notFound("value not found: " + *line.value + " in " + fullName(line.key));
        return Ok;
    }
    if (!registry.deleteKey(line.key))
        return notFound("key not found: " + fullName(line.key));
    return Ok;
}

}  // namespace

int main(int argc, char** argv)
{
    CommandLine line;
    try {
        line = parseArguments(argc, argv);
    } catch (const UsageFailure& failure) {
        std::fprintf(stderr, "vexor-reg: %s\nTry 'vexor-reg --help'.\n", failure.message.c_str());
        return UsageError;
    }
    if (line.help) {
        std::fputs(HelpText, stdout);
        return Ok;
    }
    try {
        if (line.command == "query")
            return query(line);
        if (line.command == "add")
            return add(line);
        return remove(line);
    } catch (const vexor::Exception& error) {
        std::fprintf(stderr, "vexor-reg: %s\n", error.what());
        return WriteError;
    }
}
