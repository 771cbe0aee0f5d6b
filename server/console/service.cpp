#include "service.h"

#include "auth.h"
#include "lineupchoice.h"

#include <iostream>

namespace vexor::server::console {

ConsoleService::~ConsoleService()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

int ConsoleService::start(Store& store, const std::string& address, int port, const std::string& certFile,
    const std::string& keyFile, ConsoleOptions options, std::string& error)
{
    options.tls = !certFile.empty();
    if (options.tls) {
        auto tls = std::make_unique<httplib::SSLServer>(certFile.c_str(), keyFile.c_str());
        if (!tls->is_valid()) {
            error = "cannot load the certificate " + certFile + " or its key " + keyFile;
            return 0;
        }
        SSL_CTX_set_min_proto_version(tls->ssl_context(), TLS1_2_VERSION);
        m_server = std::move(tls);
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    mountConsole(*m_server, store, std::move(options));
    const int bound = port == 0 ? m_server->bind_to_any_port(address) : (m_server->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + " for the console (address in use or not available)";
        m_server.reset();
        return 0;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return bound;
}

LineupChooser storeLineupChooser(Store& store, std::uint64_t rotateEvery)
{
    return [&store, rotateEvery](const std::string& clientId, UnixTime now) {
        const auto lineups = store.lineups();
        const auto* chosen = chooseStoredLineup(lineups, now, clientId, 0, rotateEvery);
        return LineupChoice { countAnswer(chooseLineup(lineups, now, clientId, 0, rotateEvery)), chosen ? chosen->id : 0 };
    };
}

bool ConsoleService::startFor(Store& store, const ServerOptions& options)
{
    const std::string shown = options.consoleAddress.find(':') != std::string::npos
        ? "[" + options.consoleAddress + "]" : options.consoleAddress;
    if (!store.hasUsers()) {
        std::cout << "console: off, no console user yet (add one with: vexor-server passwd --store "
                  << options.store.value_or("FILE") << " USER)" << std::endl;
        return true;
    }
    ConsoleOptions consoleOptions;
    consoleOptions.chooseLineup = storeLineupChooser(store, options.rotateEvery);
    std::string error;
    const int port = start(store, options.consoleAddress, options.consolePort, options.certFile, options.keyFile,
        std::move(consoleOptions), error);
    if (port == 0) {
        std::cerr << "vexor-server: " << error << '\n';
        return false;
    }
    std::cout << "console on " << (options.certFile.empty() ? "http://" : "https://") << shown << ':' << port
              << "/console/" << std::endl;
    return true;
}

int runPasswd(const std::vector<std::string>& args, std::istream& in)
{
    if (args.size() != 3 || args[0] != "--store") {
        std::cerr << "vexor-server: usage: vexor-server passwd --store FILE USER (the password on standard input)\n";
        return 2;
    }
    std::string password;
    std::getline(in, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    try {
        const auto store = openStore(args[1]);
        if (const auto problem = setPassword(*store, args[2], password)) {
            std::cerr << "vexor-server: passwd: " << *problem << '\n';
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "vexor-server: passwd: " << e.what() << '\n';
        return 1;
    }
    std::cout << "password set for " << args[2] << '\n';
    return 0;
}

} // namespace vexor::server::console
