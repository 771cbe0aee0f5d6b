#pragma once

// A vendor's set-up on this machine, for the fleet benchmark and the fault
// tests: one or more vexor-server processes sharing one store, alone or
// behind nginx configured from server/deploy/nginx/vexor (plain or TLS), with
// the benchmark's content imported into the store.

#include "loadgen.h"
#include "postgres.h"
#include "process.h"
#include "tempdir.h"
#include "vendorserver.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vexor::fleet {

// Ten distinct banners in one standing line-up (5 s), images of `imageBytes`.
inline constexpr const char* FleetBannerIds[] = { "F00001", "F00002", "F00003", "F00004", "F00005", "F00006",
    "F00007", "F00008", "F00009", "F00010" };

struct SetupOptions {
    std::string store;        // a SQLite file or a postgresql:// URL; imported into when empty
    int servers = 1;
    bool nginx = false;       // false: the load goes straight to the one server
    bool tls = false;         // nginx terminates TLS (needs nginx)
    std::size_t imageBytes = 8192;
};

// The nginx site of server/deploy for this machine's test: the upstream
// servers at `serverPorts`, the plain listener at `httpPort`, the TLS one at
// `tlsPort` with `certificate` and `key`; the console's server and every IPv6
// listener left out.
std::string testSite(const std::string& deployedSite, const std::vector<int>& serverPorts, std::uint16_t httpPort,
    std::uint16_t tlsPort, const std::string& certificate, const std::string& key);

class VendorSetup {
public:
    // Imports the content, starts the servers and nginx. ready() says whether
    // all came up; diagnostics() says why not.
    explicit VendorSetup(SetupOptions options);
    ~VendorSetup();

    bool ready() const { return m_ready; }
    const std::string& diagnostics() const { return m_problem; }
    LoadTarget target() const;
    const std::string& store() const { return m_options.store; }
    testkit::VendorServer& server(std::size_t n) { return *m_servers.at(n); }
    // The processes that serve: the servers and nginx (not the database).
    std::vector<pid_t> servingProcesses() const;

private:
    bool importContent();
    bool startServers();
    bool startNginx();

    SetupOptions m_options;
    testkit::TempDir m_dir;
    std::vector<std::unique_ptr<testkit::VendorServer>> m_servers;
    std::unique_ptr<testkit::ChildProcess> m_nginx;
    std::uint16_t m_httpPort = 0;
    std::uint16_t m_tlsPort = 0;
    bool m_ready = false;
    std::string m_problem;
};

// A PostgreSQL cluster of the test kit for the rows and cases that need one,
// in a folder of its own; each asks for an empty database.
class FleetPostgres {
public:
    FleetPostgres(); // starts the cluster, when PostgreSQL is installed
    ~FleetPostgres();

    bool ready() const { return m_cluster && m_cluster->ready(); }
    std::string why() const;
    // The URL of a new, empty database; "" when that failed.
    std::string freshDatabase() { return m_cluster->createDatabase(); }
    // The CPU seconds of the cluster's processes so far.
    double cpu() const;
    testkit::PostgresCluster& cluster() { return *m_cluster; }

private:
    testkit::TempDir m_dir;
    std::unique_ptr<testkit::PostgresCluster> m_cluster;
};

// User and system CPU seconds of a process and its live children so far,
// from /proc (the children that ended and were waited for included).
double cpuSeconds(pid_t pid);

// What the store holds for the days around today: start-ups, installations
// and displays. Throws what the store throws.
Reported storedTotals(const std::string& store);

// The store against what a load reported: every report answered 200 is held
// once; one without a 200 answer may be held or not (the server may have
// recorded it before the failure), and so may `inFlight` a second time (the
// reports under way when a server was killed). `text` has a line per figure.
struct StoreCheck {
    bool fine = false;
    std::string text;
};
StoreCheck checkStore(const std::string& store, const LoadTotals& load, const Reported& inFlight = {});

} // namespace vexor::fleet
