#pragma once

#include "platform/registry.h"

#include <optional>
#include <string>
#include <vector>

// The module registry: one subkey of "Software\Vexor" per installed module,
// with the string values "ModulePath", "ACTIVE" and "Default". Nothing here
// throws: a key or value that cannot be read reads as missing.
namespace vexor::modules {

// The product's registry key: the client id "VexorID" and the module keys
// live under it. The one spelling of it in the program.
inline constexpr const char* ProductKey = "Software\\Vexor";
inline constexpr int MaxModuleButtons = 12;

// "Software\Vexor\" + name.
std::string ModuleKey(const std::string& name);

// Subkey names of the product key in registry order; empty when the key is
// missing or the registry cannot be read.
std::vector<std::string> ListModuleNames(const platform::Registry& registry);

// The string value `value` of the module's key; std::nullopt when the key or
// the value is missing, the value is not a string, or the registry fails.
std::optional<std::string> FindModuleValue(const platform::Registry& registry,
                                           const std::string& name, const std::string& value);
// Like FindModuleValue, with missing read as "".
std::string ReadModuleValue(const platform::Registry& registry, const std::string& name,
                            const std::string& value);

// Removes, in place and keeping the order, every module whose "ACTIVE" is
// exactly "N", and every module whose key cannot be opened any more (listed
// by the enumeration but gone by now).
void DropInactive(const platform::Registry& registry, std::vector<std::string>& names);

// The captions of the Modules menu, read from the module list file (the
// section header line, then "name=caption" lines). For each line after the
// first, in file order: the caption of the first line whose name equals this
// line's name without regard to ASCII case; a line without "=" gives an empty
// caption. A missing or unreadable file gives no captions. CR before LF is
// dropped; a byte-order mark on the header line does not matter (it is the
// dropped line).
std::vector<std::string> ReadModulesMenuCaptions(const std::string& modulesListFile);

}  // namespace vexor::modules
