#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexor::server {

inline constexpr int DefaultPort = 8431;

// "ADDR:PORT" or "[IPv6]:PORT" of --console; nothing when it is not one.
std::optional<std::pair<std::string, int>> parseHostPort(const std::string& text);

struct ServerOptions {
    std::string listenAddress = "127.0.0.1";
    int port = DefaultPort;            // 0: any free port
    std::optional<std::string> contentDir; // unset: the default folder
    std::optional<std::string> store;  // answer from this store and record the reports
    std::string logFile;               // empty: standard output (no log with a store)
    std::uint64_t rotateEvery = 0;     // LCOUNT answers per line-up; 0: no rotation
    std::uint64_t cacheMilliseconds = 2000; // how long the script's reads of a store are kept; 0: not kept
    std::string portFile;              // empty: none
    std::optional<std::string> versionAnswer;
    std::string certFile;              // with keyFile: serve TLS; empty: plain HTTP
    std::string keyFile;
    std::string consoleAddress;        // empty: no console
    int consolePort = 0;
};

struct OptionsParse {
    std::optional<ServerOptions> options; // empty on error or --help
    bool help = false;
    std::string error; // one line, e.g. "--port: \"x\" is not a port number (0 to 65535)"
};

// Reads the arguments after the program name. Every option takes a value,
// given as the next argument or after "=" ("--port 0", "--port=0").
OptionsParse parseOptions(const std::vector<std::string>& args);

std::string usageText();

// "vexor-server import --store FILE --content DIR": both needed.
struct ImportOptions {
    std::string store;
    std::string contentDir;
};

struct ImportParse {
    std::optional<ImportOptions> options;
    bool help = false;
    std::string error;
};

// Reads the arguments after "import".
ImportParse parseImportOptions(const std::vector<std::string>& args);

std::string importUsageText();

} // namespace vexor::server
