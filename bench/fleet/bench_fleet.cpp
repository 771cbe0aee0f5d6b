// The fleet benchmark: simulated installations (distinct client ids, whole
// cycles with reports) against the vendor's set-ups on this machine, as fast
// as each allows for a fixed time, then the store checked against what the
// installations reported in answered requests. Settings from the
// environment (bench/fleet/run lists them).

#include "fleet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
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
    double cpuPerCycle = 0; // milliseconds, serving processes (and the database)
    bool postgres = false;
};

struct RowSpec {
    std::string name;
    bool postgres = false;
    int servers = 1;
    bool nginx = false;
    bool tls = false;
    bool resume = false;
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
    load.installations = static_cast<int>(envNumber("FLEET_INSTALLATIONS", 2000));
    load.connections = static_cast<int>(envNumber("FLEET_CONNECTIONS", 16));
    load.seconds = envNumber("FLEET_SECONDS", 15);
    load.newLineupShare = envNumber("FLEET_NEW_LINEUP", 1.0);
    const auto cpu = [&] {
        double seconds = databaseCpu ? databaseCpu() : 0;
        for (pid_t pid : setup.servingProcesses())
            seconds += cpuSeconds(pid);
        return seconds;
    };
    const double cpuBefore = cpu();
    FleetLoad fleet(target, load);
    const LoadTotals totals = fleet.run();
    const double cpuUsed = cpu() - cpuBefore;
    Row row { spec.name, totals.cyclesPerSecond(),
        totals.cycles > 0 ? cpuUsed * 1000 / static_cast<double>(totals.cycles) : 0, spec.postgres };
    std::printf("%-34s %8.1f %8.0f %7.2f %7.2f %7lld %9.2f", spec.name.c_str(), row.cyclesPerSecond,
        static_cast<double>(totals.requests) / totals.seconds, totals.percentile(0.5), totals.percentile(0.99),
        static_cast<long long>(totals.errors), row.cpuPerCycle);
    if (totals.handshakes > 0)
        std::printf("   resumed %lld of %lld handshakes", static_cast<long long>(totals.resumed),
            static_cast<long long>(totals.handshakes));
    std::printf("\n");
    for (const auto& sample : totals.errorSamples)
        std::printf("    error: %s\n", sample.c_str());
    const auto check = checkStore(setup.store(), totals);
    std::printf("%s", check.text.c_str());
    storeFine = check.fine && storeFine;
    return row;
}

void printProjection(const std::vector<Row>& rows)
{
    const double peak = 1e6 / 3600.0;
    std::printf("\nProjection (one cycle per installation per sync; figures from this 2-core machine,\n"
                "where the load generator takes a share of the same cores):\n");
    std::printf("%-34s %14s %14s %14s   Monday peak: 1,000,000 in one hour (%.0f cycles/s)\n", "set-up",
        "sync every 15m", "every 60m", "every 240m", peak);
    for (const auto& row : rows) {
        const auto carried = [&](double minutes) { return row.cyclesPerSecond * 60 * minutes; };
        const double cores = peak * row.cpuPerCycle / 1000;
        std::printf("%-34s %14.0f %14.0f %14.0f   %.1f x this set-up, %.1f cores at %.2f ms CPU per cycle\n",
            row.name.c_str(), carried(15), carried(60), carried(240),
            row.cyclesPerSecond > 0 ? peak / row.cyclesPerSecond : 0, cores, row.cpuPerCycle);
    }
    std::printf("A client that syncs only at start makes one cycle per start: the Monday peak is\n"
                "then the whole need. Twice the peak rate (half the installations in 15 minutes)\n"
                "needs twice the figures above.\n");
}

} // namespace

int main()
{
    auto postgres = startPostgres();
    const std::vector<RowSpec> specs = {
        { "1 server, SQLite", false, 1, false, false, false },
        { "2 servers, SQLite, nginx", false, 2, true, false, false },
        { "1 server, PostgreSQL", true, 1, false, false, false },
        { "2 servers, PostgreSQL, nginx", true, 2, true, false, false },
        { "2 servers, PostgreSQL, nginx TLS", true, 2, true, true, false },
        { "  the same, sessions resumed", true, 2, true, true, true },
    };
    std::printf("%d installations, %d connections, %.0f s per row, %.0f%% of cycles find a new line-up\n",
        static_cast<int>(envNumber("FLEET_INSTALLATIONS", 2000)), static_cast<int>(envNumber("FLEET_CONNECTIONS", 16)),
        envNumber("FLEET_SECONDS", 15), envNumber("FLEET_NEW_LINEUP", 1.0) * 100);
    std::printf("%-34s %8s %8s %7s %7s %7s %9s\n", "set-up", "cycles/s", "req/s", "p50 ms", "p99 ms", "errors",
        "CPU ms/cy");
    std::vector<Row> rows;
    bool storeFine = true;
    int database = 0;
    for (const auto& spec : specs) {
        if (spec.postgres && !postgres.ready()) {
            std::printf("%-34s skipped: %s\n", spec.name.c_str(), postgres.why().c_str());
            continue;
        }
        const std::string store = spec.postgres ? postgres.freshDatabase(++database) : std::string();
        const auto row = runRow(spec, store, spec.postgres ? postgres.cpu() : std::function<double()>(), storeFine);
        if (row)
            rows.push_back(*row);
    }
    if (!rows.empty() && !rows[0].postgres) {
        for (const auto& row : rows) {
            if (row.postgres)
                std::printf("%-34s %.2f x SQLite's cycles per second (goal: at least 0.80)\n", row.name.c_str(),
                    row.cyclesPerSecond / rows[0].cyclesPerSecond);
        }
    }
    std::printf("store check: %s\n", storeFine ? "nothing lost, nothing counted twice in any row" : "FAILED");
    printProjection(rows);
    return storeFine ? 0 : 1;
}
