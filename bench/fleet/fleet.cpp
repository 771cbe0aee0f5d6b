#include "fleet.h"

#include "days.h"
#include "loopbackserver.h"
#include "peers.h"
#include "store.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace vexor::fleet {

namespace {

using namespace vexor::testkit;

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// utime, stime, cutime and cstime of /proc/<pid>/stat, in seconds.
double ownCpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    // After the name: state is field 3; utime is field 14.
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int n = 3; n <= 17 && fields >> field; ++n) {
        if (n >= 14)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::vector<pid_t> children(pid_t pid)
{
    std::vector<pid_t> found;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (!dir)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream in(tasks + "/" + entry->d_name + "/children");
        for (pid_t child = 0; in >> child;)
            found.push_back(child);
    }
    ::closedir(dir);
    return found;
}

std::string fleetLineup()
{
    std::string text;
    for (const char* id : FleetBannerIds)
        text += std::string(id) + " ";
    return text + "5000";
}

} // namespace

std::string testSite(const std::string& deployedSite, const std::vector<int>& serverPorts, std::uint16_t httpPort,
    std::uint16_t tlsPort, const std::string& certificate, const std::string& key)
{
    std::istringstream lines(deployedSite);
    std::string site;
    bool upstreamWritten = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[::]") != std::string::npos)
            continue;
        if (line.starts_with("    server 127.0.0.1:")) {
            const std::string options = line.substr(line.find(' ', 15));
            for (std::size_t n = 0; !upstreamWritten && n < serverPorts.size(); ++n)
                site += "    server 127.0.0.1:" + std::to_string(serverPorts[n]) + options + "\n";
            upstreamWritten = true;
            continue;
        }
        site += line + "\n";
    }
    site = replaceAll(site, "listen 80;", "listen 127.0.0.1:" + std::to_string(httpPort) + ";");
    site = replaceAll(site, "listen 443 ssl;", "listen 127.0.0.1:" + std::to_string(tlsPort) + " ssl;");
    site = replaceAll(site, "/etc/vexor/tls/fullchain.pem", certificate);
    return replaceAll(site, "/etc/vexor/tls/privkey.pem", key);
}

VendorSetup::VendorSetup(SetupOptions options)
    : m_options(std::move(options))
{
    if (m_options.store.empty())
        m_options.store = m_dir / "store.db";
    m_ready = importContent() && startServers() && (!m_options.nginx || startNginx());
}

VendorSetup::~VendorSetup()
{
    // nginx first: it would otherwise log every server's end as an error.
    m_nginx.reset();
    m_servers.clear();
}

bool VendorSetup::importContent()
{
    const std::string content = m_dir / "content";
    writeVendorContent(content, { fleetLineup() }, m_options.imageBytes);
    const auto result = runToEnd({ VEXOR_SERVER_EXE, "import", "--store", m_options.store, "--content", content });
    if (result.exitStatus != 0)
        m_problem = "import: " + result.err;
    return result.exitStatus == 0;
}

bool VendorSetup::startServers()
{
    for (int n = 0; n < m_options.servers; ++n) {
        // No request log: the store holds the reports.
        m_servers.push_back(std::make_unique<VendorServer>(
            VEXOR_SERVER_EXE, std::vector<std::string> { "--store", m_options.store }, false));
        if (!m_servers.back()->started()) {
            m_problem = "vexor-server did not start: " + m_servers.back()->errorOutput();
            return false;
        }
    }
    return true;
}

bool VendorSetup::startNginx()
{
    const std::string dir = m_dir / "nginx";
    const std::string make = VEXOR_SOURCE_DIR "/scripts/make-tls-certs " + dir + " > " + dir + "/certs.log 2>&1";
    std::filesystem::create_directories(dir);
    if (std::system(make.c_str()) != 0) {
        m_problem = "make-tls-certs failed: " + readFile(dir + "/certs.log");
        return false;
    }
    std::vector<int> ports;
    for (const auto& server : m_servers)
        ports.push_back(server->port());
    m_httpPort = freePort();
    m_tlsPort = freePort();
    const std::string site = testSite(readFile(VEXOR_SOURCE_DIR "/server/deploy/nginx/vexor"), ports, m_httpPort,
        m_tlsPort, dir + "/good.pem", dir + "/good.key");
    m_nginx = testkit::startNginx(dir, site);
    if (!m_nginx->waitAccepts(m_httpPort) || !m_nginx->waitAccepts(m_tlsPort)) {
        m_problem = "nginx did not start: " + readFile(dir + "/nginx-error.log") + readFile(dir + "/nginx.out");
        return false;
    }
    return true;
}

LoadTarget VendorSetup::target() const
{
    LoadTarget target;
    if (!m_options.nginx) {
        target.port = static_cast<std::uint16_t>(m_servers.at(0)->port());
        return target;
    }
    target.port = m_options.tls ? m_tlsPort : m_httpPort;
    target.tls = m_options.tls;
    target.caFile = m_dir / "nginx/ca.pem";
    return target;
}

std::vector<pid_t> VendorSetup::servingProcesses() const
{
    std::vector<pid_t> pids;
    for (const auto& server : m_servers)
        pids.push_back(server->pid());
    if (m_nginx)
        pids.push_back(m_nginx->pid());
    return pids;
}

FleetPostgres::FleetPostgres()
{
    if (!PostgresCluster::binaries().empty())
        m_cluster = std::make_unique<PostgresCluster>(m_dir.path());
}

FleetPostgres::~FleetPostgres() = default;

std::string FleetPostgres::why() const
{
    if (!m_cluster)
        return "PostgreSQL is not installed (Debian package postgresql)";
    return "the PostgreSQL cluster did not start: " + m_cluster->diagnostics();
}

double FleetPostgres::cpu() const
{
    const int pid = m_cluster ? m_cluster->serverPid() : 0;
    return pid > 0 ? cpuSeconds(pid) : 0;
}

double cpuSeconds(pid_t pid)
{
    double seconds = ownCpuSeconds(pid);
    for (pid_t child : children(pid))
        seconds += cpuSeconds(child);
    return seconds;
}

Reported storedTotals(const std::string& location)
{
    using namespace vexor::server;
    const auto store = openStore(location);
    const auto today = *dayNumber(utcDay(std::time(nullptr)));
    Reported stored;
    for (const auto& day : store->dayTotals(dayFromNumber(today - 1), dayFromNumber(today + 1))) {
        stored.startups += day.startups;
        stored.installs += day.installs;
        stored.displays += day.displays;
    }
    return stored;
}

StoreCheck checkStore(const std::string& store, const LoadTotals& load, const Reported& inFlight)
{
    StoreCheck check;
    Reported stored;
    try {
        stored = storedTotals(store);
    } catch (const std::exception& e) {
        check.text = std::string("    cannot read the store: ") + e.what() + "\n";
        return check;
    }
    check.fine = true;
    const auto line = [&](const char* what, std::int64_t sent, std::int64_t unknown, std::int64_t held) {
        const bool fine = held >= sent && held <= sent + unknown;
        char text[200];
        std::snprintf(text, sizeof text, "    %-10s answered %10lld  stored %10lld  %s", what,
            static_cast<long long>(sent), static_cast<long long>(held),
            fine ? "ok" : (held < sent ? "LOST" : "COUNTED TWICE"));
        check.text += text;
        if (fine && held > sent)
            check.text += " (" + std::to_string(held - sent) + " in requests without an answer or under way at the fault)";
        check.text += "\n";
        check.fine = check.fine && fine;
    };
    line("start-ups", load.answered.startups, load.unanswered.startups + inFlight.startups, stored.startups);
    line("installs", load.answered.installs, load.unanswered.installs + inFlight.installs, stored.installs);
    line("displays", load.answered.displays, load.unanswered.displays + inFlight.displays, stored.displays);
    return check;
}

} // namespace vexor::fleet
