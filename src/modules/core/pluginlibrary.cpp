#include "modules/core/pluginlibrary.h"

#include <algorithm>
#include <cstring>

namespace vexor::modules {

namespace {

std::string moduleFolder(const std::string& appDir, const std::string& modulePath)
{
    return !modulePath.empty() && modulePath.front() == '/' ? modulePath : appDir + modulePath;
}

}  // namespace

std::string LibraryFileName(const std::string& appDir, const std::string& modulePath,
                            const std::string& moduleName)
{
    return moduleFolder(appDir, modulePath) + moduleName + ".mdl";
}

std::string IconFileName(const std::string& appDir, const std::string& modulePath)
{
    return moduleFolder(appDir, modulePath) + "icon.bmp";
}

ShortString255 MakeShortString(std::string_view text)
{
    ShortString255 value{};
    const std::size_t length = std::min<std::size_t>(text.size(), sizeof value.text);
    value.length = static_cast<std::uint8_t>(length);
    std::memcpy(value.text, text.data(), length);
    return value;
}

std::string ShortStringText(const ShortString255& value)
{
    return std::string(value.text, value.length);
}

// dlsym hands out object pointers; POSIX guarantees they convert to function
// pointers, which C++ allows through reinterpret_cast.
template <typename Function>
static Function entry(platform::LibraryHandle library, const char* name)
{
    return reinterpret_cast<Function>(platform::libraryEntry(library, name));
}

ModuleEntries LookUpEntries(platform::LibraryHandle library)
{
    ModuleEntries entries;
    if (!library)
        return entries;
    entries.DajOkno = entry<VexorDajOknoFn>(library, "DajOkno");
    entries.SetProxyParameters = entry<VexorSetProxyParametersFn>(library, "SetProxyParameters");
    entries.ZavriOkno = entry<VexorZavriOknoFn>(library, "ZavriOkno");
    return entries;
}

VexorModuleWindow* CallDajOkno(VexorDajOknoFn entry, const VexorHost* host, const std::string& appDir,
                               const std::string& clientId, const std::string& userId,
                               bool autoConnect)
{
    if (!entry)
        return nullptr;
    // Fresh copies for this call only; the module copies what it keeps.
    const ShortString255 client = MakeShortString(clientId);
    const ShortString255 user = MakeShortString(userId);
    return entry(host, appDir.c_str(), &client, &user, autoConnect ? 1 : 0);
}

void CallSetProxyParameters(VexorSetProxyParametersFn entry, const ProxySettings& proxy)
{
    if (!entry)
        return;
    const ShortString255 name = MakeShortString(proxy.ProxyName);
    const ShortString255 user = MakeShortString(proxy.ProxyUser);
    const ShortString255 pass = MakeShortString(proxy.ProxyPass);
    entry(&name, &user, &pass, proxy.ProxyPort);
}

void ShowModuleWindow(VexorModuleWindow* window)
{
    if (window && window->show)
        window->show(window);
}

void CloseModuleWindow(VexorModuleWindow* window)
{
    if (window && window->close)
        window->close(window);
}

void DestroyModuleWindow(VexorModuleWindow* window)
{
    if (window && window->destroy)
        window->destroy(window);
}

std::int32_t ModuleWindowHandle(const VexorModuleWindow* window)
{
    if (!window || !window->native_handle)
        return 0;
    return window->native_handle(window);
}

}  // namespace vexor::modules
