#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// The shared start-up state: folders and files under the program folder, the
// identifiers sent to the server, the proxy settings, the flags and counters,
// and the banner slot table. One process-wide instance (GlobalConstants());
// classes take it by reference so tests can build their own.
//
// Everything here belongs to the GUI thread, except the proxy settings: the
// download thread reads them at the start of every cycle, so they are kept
// behind a lock and read as one snapshot.
namespace vexor {

inline constexpr int BannerSlotCount = 10;
// A banner id is six characters; a slot's counter in the settings is six
// hexadecimal digits, the same width.
inline constexpr std::size_t BannerIdLength = 6;
inline constexpr const char* EmptyBannerId = "000000";

struct ProxySettings {
    std::string ProxyName;
    std::int32_t ProxyPort = 0;
    std::string ProxyUser;
    std::string ProxyPass;

    bool operator==(const ProxySettings&) const = default;
};

class Constants {
public:
    Constants() { BannerIds.fill(EmptyBannerId); }
    Constants(const Constants& other);
    Constants& operator=(const Constants& other);

    // Folders and files; paths use "/" and folders end with "/".
    std::string AppDir;           // the executable's folder
    std::string LangIndexFile;    // AppDir + "Languages/lang.ini"
    std::string LangDir;          // AppDir + "languages/" (same folder, any case)
    std::string LogoDir;          // AppDir + "advs/"
    std::string BannerDir;        // AppDir + "advs/"
    std::string ModulesListFile;  // AppDir + "modules/modl.ini"

    std::string ClientId = "1131";  // sent as MCID; replaced from the registry
    std::string UserId = "1";       // sent as MUID

    bool InstallFlag = false;
    bool AutoConnect = false;
    bool FirstActivation = true;
    std::int32_t StartUps = 1;
    std::int32_t BannerPos = 0;

    std::array<std::string, BannerSlotCount> BannerIds{};
    std::array<std::int32_t, BannerSlotCount> BannerCounts{};
    std::int32_t RotationInterval = 10000;  // milliseconds

    // Where the vendor's query script and web pages live ("host[:port]",
    // "https://host[:port]" for TLS).
    std::string ServerHost;
    std::string WebHost;

    // Proxy settings: thread-safe snapshot and update.
    ProxySettings Proxy() const;
    void SetProxy(const ProxySettings& proxy);

private:
    mutable std::mutex m_proxyMutex;
    ProxySettings m_proxy;
};

// Sets every field of `c` to its start-up value for a program whose executable
// lies in `appDir` (a folder path; a trailing "/" is added when missing). The
// hosts come from the build settings, overridden by the environment variables
// VEXOR_SERVER_HOST and VEXOR_WEB_HOST when they are set (for test set-ups).
void InitializeConstants(Constants& c, const std::string& appDir);

// The process-wide instance.
Constants& GlobalConstants();
// Initialises the process-wide instance.
void InitializeConstants(const std::string& appDir);

}  // namespace vexor
