// vexor-server: the stand-in for the vendor's server. See README.md beside this file.
#include "console/service.h"
#include "content.h"
#include "options.h"
#include "requestlog.h"
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

// The console, when asked for and a console user exists; started by serve()
// once the signals are blocked, so that its threads never take them.
struct ConsoleStart {
    Store* store = nullptr;
    console::ConsoleService service;

    bool start(const ServerOptions& options)
    {
        if (!store)
            return true;
        if (!store->hasUsers()) {
            std::cout << "console: off, no console user yet (add one with: vexor-server passwd --store "
                      << options.storeFile << " USER)" << std::endl;
            return true;
        }
        std::string error;
        const int port = service.start(*store, options.consoleAddress, options.consolePort, options.certFile,
            options.keyFile, {}, error);
        if (port == 0) {
            fail(error);
            return false;
        }
        std::cout << "console on " << (options.certFile.empty() ? "http://" : "https://")
                  << hostForDisplay(options.consoleAddress) << ':' << port << "/console/" << std::endl;
        return true;
    }
};

template <class Server>
int serve(Server& server, const ServerOptions& options, ConsoleStart& console)
{
    SignalWatcher watcher(server);
    if (!console.start(options))
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

int run(const ServerOptions& options)
{
    const ContentStore content(options.contentDir ? fs::path(*options.contentDir) : defaultContentDir());
    if (!fs::is_directory(content.root()))
        return fail("the content folder " + content.root().string() + " does not exist");
    auto load = content.loadLineups();
    if (!load.error.empty())
        return fail(load.error);
    warnAboutMissingBanners(content, load.lineups);
    std::string error;
    const auto log = RequestLog::open(options.logFile, error);
    if (!log)
        return fail(error);
    LineupRotation rotation(std::move(load.lineups), options.rotateEvery);
    VendorScript script(content, rotation, options.versionAnswer);
    std::unique_ptr<Store> store;
    if (!options.storeFile.empty())
        store = openStore(options.storeFile);
    ConsoleStart console;
    if (!options.consoleAddress.empty())
        console.store = store.get();
    if (options.certFile.empty()) {
        VendorServer server(script, *log);
        return serve(server, options, console);
    }
    TlsVendorServer server(script, *log, options.certFile.c_str(), options.keyFile.c_str());
    if (!server.is_valid())
        return fail("cannot load the certificate " + options.certFile + " or its key " + options.keyFile);
    return serve(server, options, console);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "passwd")
        return console::runPasswd(std::vector<std::string>(argv + 2, argv + argc), std::cin);
    const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
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
