// The fleet benchmark: simulated installations (distinct client ids, whole
// cycles with reports) against the vendor's set-ups on this machine, as fast
// as each allows for a fixed time, then the store checked against what the
// installations reported in answered requests. Settings from the
// environment (bench/fleet/run lists them).

#include "fleet.h"

#include <algorithm>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vexor::fleet;

double envNumber(const char* name, double fallback)
{
    const char* value = std::getenv(name);
    return value && *value ? std::atof(value) : fallback;
}

struct Row {
    std::string name;
    double cyclesPerSecond = 0;
    double serveCpu = 0;    // milliseconds per cycle: vexor-server and nginx
    double databaseCpu = 0; // milliseconds per cycle: PostgreSQL (SQLite's share is in the server's)
    bool postgres = false;
    std::string shape; // servers, nginx, TLS, resumption: rows of one shape differ in the store only
};

struct RowSpec {
    std::string name;
    bool postgres = false;
    int servers = 1;
    bool nginx = false;
    bool tls = false;
    bool resume = false;
    // A fault halfway through the row (a row with one is left out of the
    // goal and the projection).
    std::function<void(VendorSetup&)> fault = {};
};

std::optional<Row> runRow(const RowSpec& spec, const std::string& store, const std::function<double()>& databaseCpu,
    bool& storeFine)
{
    SetupOptions options;
    options.store = store;
    options.servers = spec.servers;
    options.nginx = spec.nginx;
    options.tls = spec.tls;
    VendorSetup setup(options);
    if (!setup.ready()) {
        std::printf("%-34s did not start: %s\n", spec.name.c_str(), setup.diagnostics().c_str());
        storeFine = false;
        return std::nullopt;
    }
    auto target = setup.target();
    target.resumeSessions = spec.resume;
    LoadOptions load;
    load.installations = static_cast<int>(envNumber("FLEET_INSTALLATIONS", 200));
    load.connections = static_cast<int>(envNumber("FLEET_CONNECTIONS", 16));
    load.seconds = envNumber("FLEET_SECONDS", 15);
    load.newLineupShare = envNumber("FLEET_NEW_LINEUP", 1.0);
    const auto serveCpu = [&] {
        double seconds = 0;
        for (pid_t pid : setup.servingProcesses())
            seconds += cpuSeconds(pid);
        return seconds;
    };
    const double serveBefore = serveCpu();
    const double databaseBefore = databaseCpu();
    FleetLoad fleet(target, load);
    auto running = std::async(std::launch::async, [&] { return fleet.run(); });
    std::chrono::steady_clock::time_point faultFrom, faultTo;
    if (spec.fault) {
        std::this_thread::sleep_for(std::chrono::duration<double>(load.seconds / 2));
        faultFrom = std::chrono::steady_clock::now();
        spec.fault(setup);
        faultTo = std::chrono::steady_clock::now();
    }
    const LoadTotals totals = running.get();
    const double perCycle = totals.cycles > 0 ? 1000 / static_cast<double>(totals.cycles) : 0;
    const Row row { spec.name, totals.cyclesPerSecond(), (serveCpu() - serveBefore) * perCycle,
        (databaseCpu() - databaseBefore) * perCycle, spec.postgres,
        std::to_string(spec.servers) + (spec.nginx ? "n" : "") + (spec.tls ? "t" : "") + (spec.resume ? "r" : "") };
    // A restarted database is a new process: its CPU before is gone.
    char database[16] = "     n/a";
    if (row.databaseCpu >= 0)
        std::snprintf(database, sizeof database, "%8.2f", row.databaseCpu);
    std::printf("%-34s %8.1f %8.0f %7.2f %7.2f %7lld %8.2f %s", spec.name.c_str(), row.cyclesPerSecond,
        static_cast<double>(totals.requests) / totals.seconds, totals.percentile(0.5), totals.percentile(0.99),
        static_cast<long long>(totals.errors), row.serveCpu, database);
    if (totals.handshakes > 0)
        std::printf("   resumed %lld of %lld handshakes", static_cast<long long>(totals.resumed),
            static_cast<long long>(totals.handshakes));
    std::printf("\n");
    for (const auto& sample : totals.errorSamples)
        std::printf("    error: %s\n", sample.c_str());
    const auto check = checkStore(setup.store(), totals,
        spec.fault ? totals.carriedBetween(faultFrom, faultTo) : Reported {});
    std::printf("%s", check.text.c_str());
    storeFine = check.fine && storeFine;
    return row;
}

void printProjection(const std::vector<Row>& rows)
{
    const double minutes = envNumber("FLEET_SYNC_MINUTES", 60);
    const double peak = 1e6 / 3600.0;
    std::printf("\nProjection. An installation makes one cycle at start and one every %.0f minutes\n"
                "(FLEET_SYNC_MINUTES). Monday morning: 1,000,000 installations start within an hour,\n"
                "%.0f cycles/s on average. Cores at the CPU per cycle measured above.\n",
        minutes, peak);
    std::printf("%-34s %13s %14s %10s %10s\n", "set-up", "installations", "Monday: x this", "serving", "database");
    std::printf("%-34s %13s %14s %10s %10s\n", "", "carried", "set-up", "cores", "cores");
    for (const auto& row : rows) {
        std::printf("%-34s %13.0f %14.1f %10.1f %10.1f\n", row.name.c_str(), row.cyclesPerSecond * 60 * minutes,
            row.cyclesPerSecond > 0 ? peak / row.cyclesPerSecond : 0, peak * row.serveCpu / 1000,
            peak * row.databaseCpu / 1000);
    }
    std::printf("Installations that all start at once, not spread over the hour, need more: half of\n"
                "them within 15 minutes doubles every figure of the Monday columns.\n");
}

} // namespace

int main()
{
    FleetPostgres postgres;
    const std::vector<RowSpec> specs = {
        { "1 server, SQLite", false, 1, false, false, false },
        { "2 servers, SQLite, nginx", false, 2, true, false, false },
        { "2 servers, SQLite, nginx TLS", false, 2, true, true, false },
        { "  the same, sessions resumed", false, 2, true, true, true },
        { "1 server, PostgreSQL", true, 1, false, false, false },
        { "2 servers, PostgreSQL, nginx", true, 2, true, false, false },
        { "2 servers, PostgreSQL, nginx TLS", true, 2, true, true, false },
        { "  the same, sessions resumed", true, 2, true, true, true },
        { "fault: 1 of the 2 killed halfway", true, 2, true, false, false,
            [](VendorSetup& setup) { setup.server(0).stop(SIGKILL); } },
        { "fault: PostgreSQL restarted halfway", true, 2, true, false, false,
            [&](VendorSetup&) { postgres.cluster().stop() && postgres.cluster().start(); } },
    };
    std::printf("%d installations, %d connections, %.0f s per row, %.0f%% of cycles find a new line-up\n",
        static_cast<int>(envNumber("FLEET_INSTALLATIONS", 200)), static_cast<int>(envNumber("FLEET_CONNECTIONS", 16)),
        envNumber("FLEET_SECONDS", 15), envNumber("FLEET_NEW_LINEUP", 1.0) * 100);
    std::printf("%-34s %8s %8s %7s %7s %7s %8s %8s\n", "", "", "", "request", "request", "", "CPU ms/cycle", "");
    std::printf("%-34s %8s %8s %7s %7s %7s %8s %8s\n", "set-up", "cycles/s", "req/s", "p50 ms", "p99 ms", "errors",
        "serving", "database");
    std::vector<Row> rows;
    bool storeFine = true;
    for (const auto& spec : specs) {
        if (spec.postgres && !postgres.ready()) {
            std::printf("%-34s skipped: %s\n", spec.name.c_str(), postgres.why().c_str());
            continue;
        }
        const std::string store = spec.postgres ? postgres.freshDatabase() : std::string();
        const auto databaseCpu = [&] { return spec.postgres ? postgres.cpu() : 0.0; };
        const auto row = runRow(spec, store, databaseCpu, storeFine);
        if (row && !spec.fault)
            rows.push_back(*row);
    }
    // Each PostgreSQL row against one SQLite server, and against the SQLite
    // row of its own shape: behind nginx, the proxy's share is the same for
    // both stores.
    if (!rows.empty() && !rows[0].postgres) {
        std::printf("cycles per second of PostgreSQL (goal: at least 0.80 x SQLite's)\n%-34s %10s %12s\n", "",
            "x 1 SQLite", "x SQLite of");
        std::printf("%-34s %10s %12s\n", "", "server", "this shape");
        for (const auto& row : rows) {
            if (!row.postgres)
                continue;
            const auto twin = std::find_if(rows.begin(), rows.end(),
                [&](const Row& other) { return !other.postgres && other.shape == row.shape; });
            std::printf("%-34s %10.2f", row.name.c_str(), row.cyclesPerSecond / rows[0].cyclesPerSecond);
            if (twin != rows.end() && twin->cyclesPerSecond > 0)
                std::printf(" %12.2f", row.cyclesPerSecond / twin->cyclesPerSecond);
            std::printf("\n");
        }
    }
    std::printf("store check: %s\n",
        storeFine ? "every row holds each answered report once, and besides at most the reports whose answer\n"
                    "             never came (fault rows: those under way at the fault)"
                  : "FAILED");
    printProjection(rows);
    return storeFine ? 0 : 1;
}
