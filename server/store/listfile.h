#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The language list (lang.ini, header "[Languages]") and the module list
// (modl.ini, "[Modules]") as the store keeps them: the file's text, which
// LANGL and MODL answer as it is, and its entries for the console.
namespace vexor::server {

inline constexpr std::string_view LanguagesHeader = "[Languages]";
inline constexpr std::string_view ModulesHeader = "[Modules]";

using ListEntries = std::vector<std::pair<std::string, std::string>>;

// The "key=value" lines of the section `header` (given with its brackets),
// in file order; blank lines, ";" comments and lines without "=" are skipped.
ListEntries parseListFile(std::string_view text, std::string_view header);

// The header and one "key=value" line per entry, each ending in CR LF.
std::string renderListFile(std::string_view header, const ListEntries& entries);

// Empty when `key` and `value` can stand in a list line, else why not.
std::string listEntryProblem(std::string_view key, std::string_view value);

// Six upper-case letters or digits from the system's random source, never
// "000000".
std::string randomBannerId();

} // namespace vexor::server
