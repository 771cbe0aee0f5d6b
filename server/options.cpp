#include "options.h"

#include <charconv>
#include <functional>
#include <map>
#include <tuple>

namespace vexor::server {

namespace {

template <typename Number>
std::optional<Number> parseNumber(const std::string& text, Number max)
{
    Number value {};
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < Number {} || value > max)
        return std::nullopt;
    return value;
}

using Setter = std::function<std::optional<std::string>(ServerOptions&, const std::string&)>;

const std::map<std::string, Setter>& setters()
{
    static const std::map<std::string, Setter> table {
        { "--listen",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "an address is needed";
                o.listenAddress = v;
                return std::nullopt;
            } },
        { "--port",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                const auto port = parseNumber<int>(v, 65535);
                if (!port)
                    return "\"" + v + "\" is not a port number (0 to 65535)";
                o.port = *port;
                return std::nullopt;
            } },
        { "--content",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a folder is needed";
                o.contentDir = v;
                return std::nullopt;
            } },
        { "--store",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a file is needed";
                o.store = v;
                return std::nullopt;
            } },
        { "--log",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a file name is needed";
                o.logFile = v;
                return std::nullopt;
            } },
        { "--rotate-every",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                const auto every = parseNumber<std::uint64_t>(v, UINT64_MAX);
                if (!every)
                    return "\"" + v + "\" is not a count (0 or more)";
                o.rotateEvery = *every;
                return std::nullopt;
            } },
        { "--cache-ms",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                // An hour at most: longer would hide other servers' changes for good.
                const auto ms = parseNumber<std::uint64_t>(v, 3'600'000);
                if (!ms)
                    return "\"" + v + "\" is not a time in milliseconds (0 to 3600000)";
                o.cacheMilliseconds = *ms;
                return std::nullopt;
            } },
        { "--port-file",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a file name is needed";
                o.portFile = v;
                return std::nullopt;
            } },
        { "--cert",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a file name is needed";
                o.certFile = v;
                return std::nullopt;
            } },
        { "--key",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                if (v.empty())
                    return "a file name is needed";
                o.keyFile = v;
                return std::nullopt;
            } },
        { "--console",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                const auto hostPort = parseHostPort(v);
                if (!hostPort)
                    return "\"" + v + "\" is not ADDR:PORT (127.0.0.1:8432, [::1]:8432)";
                std::tie(o.consoleAddress, o.consolePort) = *hostPort;
                return std::nullopt;
            } },
        { "--version-answer",
            [](ServerOptions& o, const std::string& v) -> std::optional<std::string> {
                o.versionAnswer = v;
                return std::nullopt;
            } },
    };
    return table;
}

} // namespace

std::optional<std::pair<std::string, int>> parseHostPort(const std::string& text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return std::nullopt;
    std::string host = text.substr(0, colon);
    if (host.front() == '[' && host.back() == ']' && host.size() > 2)
        host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
        return std::nullopt;
    const auto port = parseNumber<int>(text.substr(colon + 1), 65535);
    if (!port)
        return std::nullopt;
    return std::make_pair(host, *port);
}

OptionsParse parseOptions(const std::vector<std::string>& args)
{
    ServerOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h")
            return { std::nullopt, true, {} };
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const auto setter = setters().find(name);
        if (setter == setters().end())
            return { std::nullopt, false, "unknown argument \"" + arg + "\" (see --help)" };
        std::string value;
        if (eq != std::string::npos)
            value = arg.substr(eq + 1);
        else if (i + 1 < args.size())
            value = args[++i];
        else
            return { std::nullopt, false, name + ": a value is missing" };
        if (const auto problem = setter->second(options, value))
            return { std::nullopt, false, name + ": " + *problem };
    }
    if (options.certFile.empty() != options.keyFile.empty())
        return { std::nullopt, false, "--cert and --key go together" };
    if (options.store && options.contentDir)
        return { std::nullopt, false,
            "--store and --content: one or the other (vexor-server import loads a content folder into a store)" };
    if (!options.consoleAddress.empty() && !options.store)
        return { std::nullopt, false, "--console needs --store" };
    return { options, false, {} };
}

ImportParse parseImportOptions(const std::vector<std::string>& args)
{
    ImportOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h")
            return { std::nullopt, true, {} };
        const auto eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        std::string* target = name == "--store" ? &options.store : name == "--content" ? &options.contentDir : nullptr;
        if (!target)
            return { std::nullopt, false, "import: unknown argument \"" + arg + "\" (see import --help)" };
        if (eq != std::string::npos)
            *target = arg.substr(eq + 1);
        else if (i + 1 < args.size())
            *target = args[++i];
        if (target->empty())
            return { std::nullopt, false, "import: " + name + ": a value is missing" };
    }
    if (options.store.empty() || options.contentDir.empty())
        return { std::nullopt, false, "import: --store FILE and --content DIR are needed" };
    return { options, false, {} };
}

std::string importUsageText()
{
    return "Usage: vexor-server import --store FILE --content DIR\n"
           "Loads a content folder (banners, line-ups, language and module lists, language\n"
           "files, version, web pages) into a store, created when missing. The store must\n"
           "hold no banners and no line-ups yet. FILE may be a postgresql:// URL.\n";
}

std::string usageText()
{
    return "Usage: vexor-server [options]\n"
           "       vexor-server import --store FILE --content DIR   (see import --help)\n"
           "Stands in for the vendor's server: answers the Vexor client's query script\n"
           "(/cgi-bin/script/vexor_parser.pl) and serves /update/index.php and /faq.\n"
           "\n"
           "  --listen ADDR          address to listen on (default 127.0.0.1)\n"
           "  --port N               port, 0 for any free one (default 8431)\n"
           "  --content DIR          content folder (default: content/ beside the program)\n"
           "  --store FILE           answer from this store and record what clients report: a\n"
           "                         SQLite file, or postgresql://... for PostgreSQL (instead of\n"
           "                         a content folder; see vexor-server import --help)\n"
           "  --log FILE             append one line per request to FILE (default: standard output;\n"
           "                         with --store none)\n"
           "  --rotate-every N       serve the next banner line-up after every N LCOUNT\n"
           "                         requests (default 0: always the first)\n"
           "  --cache-ms N           with --store: keep what the query script reads (banners,\n"
           "                         lists, line-ups) N milliseconds (default 2000; 0: never)\n"
           "  --port-file FILE       write the port to FILE once listening\n"
           "  --version-answer TEXT  answer VERSION with TEXT instead of the content's version.txt\n"
           "  --cert FILE            serve https (TLS 1.2 and newer): the certificate chain (PEM)\n"
           "  --key FILE             and its private key (PEM); both or neither\n"
           "  --console ADDR:PORT    serve the vendor's console there (needs --store and a\n"
           "                         console user; over https with --cert and --key)\n"
           "  --help                 show this text\n"
           "\n"
           "       vexor-server passwd --store FILE USER\n"
           "Sets the console password of USER to the first line of standard input.\n"
           "\n"
           "Once listening it prints \"listening on ADDR:PORT\". SIGINT or SIGTERM stop it.\n";
}

} // namespace vexor::server
