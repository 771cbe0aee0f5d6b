#include "app/core/constants.h"

#include "vexor/buildconfig.h"

#include <cstdlib>

namespace vexor {

Constants::Constants(const Constants& other)
{
    *this = other;
}

Constants& Constants::operator=(const Constants& other)
{
    if (this == &other)
        return *this;
    AppDir = other.AppDir;
    LangIndexFile = other.LangIndexFile;
    LangDir = other.LangDir;
    LogoDir = other.LogoDir;
    BannerDir = other.BannerDir;
    ModulesListFile = other.ModulesListFile;
    ClientId = other.ClientId;
    UserId = other.UserId;
    InstallFlag = other.InstallFlag;
    AutoConnect = other.AutoConnect;
    FirstActivation = other.FirstActivation;
    StartUps = other.StartUps;
    BannerPos = other.BannerPos;
    BannerIds = other.BannerIds;
    BannerCounts = other.BannerCounts;
    RotationInterval = other.RotationInterval;
    ServerHost = other.ServerHost;
    WebHost = other.WebHost;
    SetProxy(other.Proxy());
    return *this;
}

ProxySettings Constants::Proxy() const
{
    std::lock_guard lock(m_proxyMutex);
    return m_proxy;
}

void Constants::SetProxy(const ProxySettings& proxy)
{
    std::lock_guard lock(m_proxyMutex);
    m_proxy = proxy;
}

namespace {

std::string hostFromEnvironment(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    return (value && *value) ? std::string(value) : std::string(fallback);
}

}  // namespace

void InitializeConstants(Constants& c, const std::string& appDir)
{
    std::string dir = appDir;
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    c.AppDir = dir;
    c.LangIndexFile = dir + "Languages/lang.ini";
    c.LangDir = dir + "languages/";
    c.LogoDir = dir + "advs/";
    c.BannerDir = dir + "advs/";
    c.ModulesListFile = dir + "modules/modl.ini";
    c.ClientId = "1131";
    c.UserId = "1";
    c.SetProxy(ProxySettings{});
    c.BannerIds.fill(EmptyBannerId);
    c.BannerCounts.fill(0);
    c.RotationInterval = 10000;
    c.BannerPos = 0;
    c.StartUps = 1;
    c.InstallFlag = false;
    c.AutoConnect = false;
    c.FirstActivation = true;
    c.ServerHost = hostFromEnvironment("VEXOR_SERVER_HOST", build::ServerHost);
    c.WebHost = hostFromEnvironment("VEXOR_WEB_HOST", build::WebHost);
}

Constants& GlobalConstants()
{
    static Constants instance;
    return instance;
}

void InitializeConstants(const std::string& appDir)
{
    InitializeConstants(GlobalConstants(), appDir);
}

}  // namespace vexor
