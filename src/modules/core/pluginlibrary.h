#pragma once

#include "app/core/constants.h"
#include "platform/library.h"
#include "vexor/module.h"

#include <cstdint>
#include <string>
#include <string_view>

// The host's side of the module library contract, apart from any window:
// file names, the short string form, and null-safe calls into a module.
// Everything here runs on the GUI thread (where all module calls happen).
namespace vexor::modules {

// ModulePath + ModuleName + ".mdl", joined as plain text. An empty or
// relative ModulePath is taken below the program folder `appDir` (as Windows
// looked in the program's folder first), never below the current folder,
// which is wherever the client was started from.
std::string LibraryFileName(const std::string& appDir, const std::string& modulePath,
                            const std::string& moduleName);
// ModulePath + "icon.bmp", resolved like the library.
std::string IconFileName(const std::string& appDir, const std::string& modulePath);

// A fresh short string: the first 255 bytes of `text`.
ShortString255 MakeShortString(std::string_view text);
// The text of a short string (for tests and modules written in C++).
std::string ShortStringText(const ShortString255& value);

// The three exports of a loaded library; each null when absent.
struct ModuleEntries {
    VexorDajOknoFn DajOkno = nullptr;
    VexorSetProxyParametersFn SetProxyParameters = nullptr;
    VexorZavriOknoFn ZavriOkno = nullptr;
};
ModuleEntries LookUpEntries(platform::LibraryHandle library);

// Calls "DajOkno" with the five arguments; null entry gives null.
VexorModuleWindow* CallDajOkno(VexorDajOknoFn entry, const VexorHost* host, const std::string& appDir,
                               const std::string& clientId, const std::string& userId,
                               bool autoConnect);
// Calls "SetProxyParameters" with the proxy settings; nothing for a null entry.
void CallSetProxyParameters(VexorSetProxyParametersFn entry, const ProxySettings& proxy);

// The window functions, each doing nothing for a null window or function.
void ShowModuleWindow(VexorModuleWindow* window);
void CloseModuleWindow(VexorModuleWindow* window);
void DestroyModuleWindow(VexorModuleWindow* window);
// The window's native handle; 0 (matches nothing) for a null window or function.
std::int32_t ModuleWindowHandle(const VexorModuleWindow* window);

}  // namespace vexor::modules
