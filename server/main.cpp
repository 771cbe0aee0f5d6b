// vexor-server: the stand-in for the vendor's server. See README.md beside this file.
#include "cachedstore.h"
#include "console/service.h"
#include "content.h"
#include "importer.h"
#include "options.h"
#include "pgstore.h"
#include "requestlog.h"
#include "source.h"
#include "store.h"
#include "vendorscript.h"
#include "vendorserver.h"

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace fs = std::filesystem;
using namespace vexor::server;

namespace {

constexpr int ExitUsage = 2;
constexpr int ExitFailure = 1;

fs::path defaultContentDir()
{
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto beside = exe.parent_path() / "content";
        if (fs::is_directory(beside, ec))
            return beside;
    }
    return VEXOR_SERVER_SOURCE_CONTENT;
}

// Written under a temporary name and renamed, so that whoever waits for the
// file never reads half a number.
bool writePortFile(const std::string& path, int port)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << '\n';
        if (!out.flush())
            return false;
    }
    std::error_code ec;
    fs::rename(temporary, path, ec);
    return !ec;
}

void warnAboutMissingBanners(const ContentStore& content, const std::vector<Lineup>& lineups)
{
    for (std::size_t n = 0; n < lineups.size(); ++n) {
        for (const auto& id : lineups[n].ids) {
            if (id != EmptySlotId && (!content.bannerImage(id) || !content.bannerPage(id)))
                std::cerr << "vexor-server: warning: line-up " << n + 1 << " names banner " << id
                          << ", but banners/" << id << ".gif or .htm is missing\n";
        }
    }
}

std::string hostForDisplay(const std::string& address)
{
    return address.find(':') != std::string::npos ? "[" + address + "]" : address;
}

// SIGINT and SIGTERM are blocked in every thread and taken by one watcher,
// which stops the server outside any signal handler. A signal that arrives
// before the server has started listening is not lost: the watcher waits for
// listening to begin, then stops it.
class SignalWatcher {
public:
    explicit SignalWatcher(httplib::Server& server)
        : m_server(server)
    {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_thread = std::thread([this] { run(); });
    }

    ~SignalWatcher()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_listenEnded = true;
        }
        m_ended.notify_all();
        // Wakes the watcher if no signal came; it then finds listening over.
        pthread_kill(m_thread.native_handle(), SIGTERM);
        m_thread.join();
    }

private:
    void run()
    {
        int signal = 0;
        sigwait(&m_signals, &signal);
        std::unique_lock lock(m_mutex);
        // stop() does nothing before listening has begun, and must be called
        // only once after: it gives up the listening socket.
        while (!m_listenEnded && !m_server.is_running())
            m_ended.wait_for(lock, std::chrono::milliseconds(20));
        if (!m_listenEnded)
            m_server.stop();
    }

    httplib::Server& m_server;
    sigset_t m_signals {};
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_listenEnded = false;
    std::thread m_thread;
};

int fail(const std::string& message)
{
    std::cerr << "vexor-server: " << message << '\n';
    return ExitFailure;
}

template <class Server>
int serve(Server& server, const ServerOptions& options, Store* store)
{
    SignalWatcher watcher(server);
    // Started once the signals are blocked, so that its threads never take them.
    console::ConsoleService console;
    if (store && !options.consoleAddress.empty() && !console.startFor(*store, options))
        return ExitFailure;
    const auto shownAddress = hostForDisplay(options.listenAddress);
    const int port = server.bind(options.listenAddress, options.port);
    if (port == 0)
        return fail("cannot listen on " + shownAddress + ':' + std::to_string(options.port)
            + " (address in use or not available)");
    // The port file first: whoever waits for the line below may read it at once.
    if (!options.portFile.empty() && !writePortFile(options.portFile, port))
        return fail("cannot write the port file " + options.portFile);
    std::cout << "listening on " << shownAddress << ':' << port << std::endl;
    server.listen_after_bind();
    return 0;
}

int serveScript(ScriptSource& source, RequestLog* log, const ServerOptions& options, Store* store = nullptr)
{
    VendorScript script(source, options.versionAnswer);
    if (options.certFile.empty()) {
        VendorServer server(script, log);
        return serve(server, options, store);
    }
    TlsVendorServer server(script, log, options.certFile.c_str(), options.keyFile.c_str());
    if (!server.is_valid())
        return fail("cannot load the certificate " + options.certFile + " or its key " + options.keyFile);
    return serve(server, options, store);
}

// The store holds the reports, so it logs requests only when asked to.
std::unique_ptr<RequestLog> openLog(const ServerOptions& options, std::string& error)
{
    if (options.store && options.logFile.empty())
        return nullptr;
    return RequestLog::open(options.logFile, error);
}

int runWithStore(const ServerOptions& options)
{
    std::unique_ptr<Store> store;
    try {
        store = openStore(*options.store);
    } catch (const StoreError& e) {
        return fail(std::string("cannot open the store: ") + e.what());
    }
    std::string error;
    const auto log = openLog(options, error);
    if (!error.empty())
        return fail(error);
    // Another server's content changes show here within the cache's time;
    // the console writes through the same cache, so its own show at once.
    CachedStore cached(*store, std::chrono::milliseconds(options.cacheMilliseconds));
    Store& served = options.cacheMilliseconds > 0 ? static_cast<Store&>(cached) : *store;
    StoreSource source(served, options.rotateEvery);
    return serveScript(source, log.get(), options, &served);
}

int run(const ServerOptions& options)
{
    if (options.store)
        return runWithStore(options);
    const ContentStore content(options.contentDir ? fs::path(*options.contentDir) : defaultContentDir());
    if (!fs::is_directory(content.root()))
        return fail("the content folder " + content.root().string() + " does not exist");
    auto load = content.loadLineups();
    if (!load.error.empty())
        return fail(load.error);
    warnAboutMissingBanners(content, load.lineups);
    std::string error;
    const auto log = openLog(options, error);
    if (!log)
        return fail(error);
    LineupRotation rotation(std::move(load.lineups), options.rotateEvery);
    ContentSource source(content, rotation);
    return serveScript(source, log.get(), options);
}

// A store the import created is removed again when the import fails.
int runImport(const ImportOptions& options)
{
    const ContentStore content(options.contentDir);
    if (!fs::is_directory(content.root()))
        return fail("the content folder " + content.root().string() + " does not exist");
    std::error_code ec;
    // A database is the vendor's own: only a file made here is removed.
    const bool existed = isPostgresLocation(options.store) || fs::exists(options.store, ec);
    ImportResult result;
    try {
        const auto store = openStore(options.store);
        result = importContent(content, *store);
    } catch (const std::exception& e) {
        result.error = e.what();
    }
    if (!result.error.empty()) {
        if (!existed) {
            for (const char* suffix : { "", "-wal", "-shm" })
                fs::remove(options.store + suffix, ec);
        }
        return fail("import: " + result.error);
    }
    std::cout << "imported " << result.banners << " banners, " << result.lineups << " line-ups and "
              << result.languageFiles << " language files into " << options.store << std::endl;
    return 0;
}

int importMain(const std::vector<std::string>& args)
{
    const auto parsed = parseImportOptions(args);
    if (parsed.help) {
        std::cout << importUsageText();
        return 0;
    }
    if (!parsed.options) {
        std::cerr << "vexor-server: " << parsed.error << '\n';
        return ExitUsage;
    }
    return runImport(*parsed.options);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Subcommands come first; everything else starts the server.
    if (!args.empty() && args[0] == "import")
        return importMain({ args.begin() + 1, args.end() });
    if (!args.empty() && args[0] == "passwd")
        return console::runPasswd({ args.begin() + 1, args.end() }, std::cin);
    const auto parsed = parseOptions(args);
    if (parsed.help) {
        std::cout << usageText();
        return 0;
    }
    if (!parsed.options) {
        std::cerr << "vexor-server: " << parsed.error << '\n';
        return ExitUsage;
    }
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(*parsed.options);
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
