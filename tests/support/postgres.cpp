#include "postgres.h"

#include "loopbackserver.h"
#include "process.h"
#include "tempdir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace vexor::testkit {

namespace {

namespace fs = std::filesystem;

const char* const DebianRoot = "/usr/lib/postgresql";
const char* const Superuser = "vexor";
constexpr int StartAttempts = 3;

bool executable(const fs::path& path)
{
    return ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

fs::path PostgresCluster::binaries()
{
    fs::path best;
    int bestMajor = -1;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(DebianRoot, ec)) {
        const fs::path bin = entry.path() / "bin";
        const int major = std::atoi(entry.path().filename().c_str());
        if (major > bestMajor && executable(bin / "initdb") && executable(bin / "pg_ctl")
            && executable(bin / "postgres") && executable(bin / "createdb")) {
            best = bin;
            bestMajor = major;
        }
    }
    return best;
}

PostgresCluster::PostgresCluster(const fs::path& folder) : m_folder(folder / "pg"), m_bin(binaries())
{
    if (m_bin.empty()) {
        m_said = "PostgreSQL is not installed (no " + std::string(DebianRoot) + "/*/bin/initdb)\n";
        return;
    }
    fs::create_directories(m_folder);
    // initdb and the server refuse to run as root: as root they run as
    // "nobody", who must own the cluster's folder and reach it.
    if (::geteuid() == 0) {
        fs::permissions(folder, fs::perms(0755));
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(m_folder.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_said = "cannot give " + m_folder.string() + " to nobody\n";
            return;
        }
    }
    if (!runAsOwner("initdb", {"-D", (m_folder / "data").string(), "-U", Superuser, "-A", "trust", "-E", "UTF8",
                               "--locale=C", "--no-sync", "--no-instructions"}))
        return;
    // Another process may take a free port before the server binds it.
    for (int attempt = 0; attempt < StartAttempts && !m_running; ++attempt) {
        m_port = freePort();
        start();
    }
    m_ready = m_running;
}

PostgresCluster::~PostgresCluster()
{
    if (m_running && !stop())
        runAsOwner("pg_ctl", {"-D", (m_folder / "data").string(), "-m", "immediate", "stop"});
}

std::string PostgresCluster::diagnostics() const
{
    return m_said + readFile((m_folder / "server.log").string());
}

std::string PostgresCluster::url(const std::string& database) const
{
    return "postgresql://" + std::string(Superuser) + "@127.0.0.1:" + std::to_string(m_port) + "/" + database;
}

std::string PostgresCluster::createDatabase()
{
    const std::string name = "store" + std::to_string(++m_databases);
    const auto result = runToEnd({(m_bin / "createdb").string(), "-h", "127.0.0.1", "-p", std::to_string(m_port), "-U",
                                  Superuser, name});
    m_said += result.out + result.err;
    return result.exitStatus == 0 ? url(name) : "";
}

int PostgresCluster::serverPid() const
{
    // The first line of postmaster.pid, while the server runs.
    return m_running ? std::atoi(readFile((m_folder / "data" / "postmaster.pid").string()).c_str()) : 0;
}

bool PostgresCluster::start()
{
    // Durability is not under test: no fsync keeps a cluster quick to use.
    const std::string options = "-p " + std::to_string(m_port) + " -k '" + m_folder.string()
                                + "' -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off";
    m_running = runAsOwner("pg_ctl", {"-D", (m_folder / "data").string(), "-l", (m_folder / "server.log").string(),
                                      "-w", "-t", "60", "-o", options, "start"});
    return m_running;
}

bool PostgresCluster::stop()
{
    const bool stopped = runAsOwner("pg_ctl", {"-D", (m_folder / "data").string(), "-m", "fast", "-w", "-t", "60", "stop"});
    m_running = m_running && !stopped;
    return stopped;
}

bool PostgresCluster::runAsOwner(const std::string& program, std::vector<std::string> args)
{
    std::vector<std::string> command;
    if (::geteuid() == 0)
        command = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
    command.push_back((m_bin / program).string());
    command.insert(command.end(), args.begin(), args.end());
    const auto result = runToEnd(command, std::chrono::seconds(90));
    m_said += result.out + result.err;
    return result.exitStatus == 0;
}

}  // namespace vexor::testkit
