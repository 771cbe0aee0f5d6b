// Load on vexor-server: whole client cycles (24 requests: LANGL with STARTUP,
// VERSION, MODL, LCOUNT with a report, ten LOGO and HTML pairs), each request
// on a new loopback connection as the client makes it, from several
// connections at once for a fixed time; against the server answering from
// the shipped content folder (the ceiling: nothing recorded) and from a store
// imported from it (every report recorded). Runs alternate so that both see
// the same load on a shared machine. Then one million reports written into a
// store of their own: its size, and the time of the console's overview
// (dayTotals for 30 days and bannerDays for 30 days).
//
//   bench_server_load [seconds per run] [connections] [reports]

#include "process.h"
#include "sqlitestore.h"
#include "days.h"
#include "tempdir.h"
#include "vendorserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace vexor::testkit;
using Clock = std::chrono::steady_clock;

const char* const Ids[] = { "100001", "100002", "100003", "100004", "100005", "100006", "100007", "100008", "100001",
    "100002" };

std::string target(const std::string& action, const std::string& client, const std::string& rest)
{
    return "/cgi-bin/script/vexor_parser.pl?A=" + action + "&MID=1&MCID=" + client + "&MUID=1" + rest;
}

std::vector<std::string> cycle(const std::string& client, std::mt19937& rng)
{
    std::string ids;
    std::string log;
    std::uniform_int_distribution<int> count(0, 400);
    for (const char* id : Ids) {
        ids += id;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06X", count(rng));
        log += hex;
    }
    std::vector<std::string> targets = { target("LANGL", client, "&L=English&STARTUP=1"),
        target("VERSION", client, "&L=English"), target("MODL", client, "&L=English"),
        target("LCOUNT", client, "&LOGOIDS=" + ids + "&LOG=" + log + "&LF=2") };
    for (const char* id : Ids) {
        targets.push_back(target("LOGO", client, std::string("&LOGOID=") + id));
        targets.push_back(target("HTML", client, std::string("&LOGOID=") + id));
    }
    return targets;
}

// One HTTP/1.0 request on a new connection; true for a 200 answer read to its end.
bool request(int port, const std::string& path)
{
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    const std::string text = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    ok = ok && ::send(sock, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
    std::string answer;
    char block[16384];
    for (ssize_t n; ok && (n = ::recv(sock, block, sizeof block, 0)) > 0;)
        answer.append(block, static_cast<std::size_t>(n));
    ::close(sock);
    return ok && answer.starts_with("HTTP/1.1 200");
}

struct Figures {
    std::size_t requests = 0;
    std::size_t errors = 0;
    double seconds = 0;
    std::vector<double> latencies; // milliseconds
};

Figures load(int port, double seconds, int connections, int run)
{
    Figures total;
    std::vector<Figures> parts(static_cast<std::size_t>(connections));
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&, c] {
            auto& mine = parts[static_cast<std::size_t>(c)];
            std::mt19937 rng(static_cast<unsigned>(run * 1000 + c));
            for (int n = 0; Clock::now() < end; ++n) {
                // A few thousand installations, each with its own id.
                const auto client = std::to_string(c * 100000 + run * 10000 + n % 5000);
                for (const auto& path : cycle(client, rng)) {
                    const auto sent = Clock::now();
                    if (!request(port, path))
                        ++mine.errors;
                    mine.latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                    ++mine.requests;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    total.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& part : parts) {
        total.requests += part.requests;
        total.errors += part.errors;
        total.latencies.insert(total.latencies.end(), part.latencies.begin(), part.latencies.end());
    }
    return total;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

void print(const char* name, const Figures& f)
{
    std::printf("%-26s %9.0f requests/s %8.1f cycles/s   p50 %6.2f ms   p99 %6.2f ms   errors %zu\n", name,
        static_cast<double>(f.requests) / f.seconds, static_cast<double>(f.requests) / 24 / f.seconds,
        percentile(f.latencies, 0.50), percentile(f.latencies, 0.99), f.errors);
}

void merge(Figures& into, Figures part)
{
    into.requests += part.requests;
    into.errors += part.errors;
    into.seconds += part.seconds;
    into.latencies.insert(into.latencies.end(), part.latencies.begin(), part.latencies.end());
}

double millisecondsOf(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A million reports from 20,000 installations over 30 days, ten slots each,
// straight into the store (the same calls the query script makes).
void millionReports(const std::string& folder, long reports)
{
    using namespace vexor::server;
    const std::string path = folder + "/million.db";
    SqliteStore store(path);
    const auto today = *dayNumber(utcDay(std::time(nullptr)));
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> count(0, 400);
    const auto start = Clock::now();
    for (long n = 0; n < reports; ++n) {
        DisplayReport report;
        for (int slot = 0; slot < SlotCount; ++slot) {
            report.ids[slot] = Ids[slot];
            report.counts[slot] = static_cast<std::uint32_t>(count(rng));
        }
        const auto day = dayFromNumber(today - (n * 30) / reports);
        const auto client = std::to_string(n % 20000);
        store.recordDisplays(report, client, day);
    }
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    const auto from = dayFromNumber(today - 29);
    const auto to = dayFromNumber(today);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i)
        times.push_back(millisecondsOf([&] {
            store.dayTotals(from, to);
            store.bannerDays(from, to, "");
        }));
    namespace fs = std::filesystem;
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec) + (fs::exists(path + "-wal") ? fs::file_size(path + "-wal", ec) : 0);
    std::printf("%ld reports written in %.1f s (%.0f reports/s, one transaction each)\n", reports, writeSeconds,
        static_cast<double>(reports) / writeSeconds);
    std::printf("store size after them: %.1f MB (file and write-ahead log)\n", static_cast<double>(bytes) / 1e6);
    std::printf("overview (dayTotals 30 days + bannerDays 30 days): median %.2f ms of 5\n", percentile(times, 0.5));
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10;
    const int connections = argc > 2 ? std::atoi(argv[2]) : 8;
    const long reports = argc > 3 ? std::atol(argv[3]) : 1000000;
    TempDir dir;
    const std::string content = std::string(VEXOR_SOURCE_DIR) + "/server/content";
    const std::string store = dir / "store.db";
    const auto import = runToEnd({ VEXOR_SERVER_EXE, "import", "--store", store, "--content", content });
    if (import.exitStatus != 0) {
        std::fprintf(stderr, "import failed: %s", import.err.c_str());
        return 1;
    }
    VendorServer ceiling(VEXOR_SERVER_EXE, { "--content", content });
    VendorServer recording(VEXOR_SERVER_EXE, { "--store", store });
    if (!ceiling.started() || !recording.started()) {
        std::fprintf(stderr, "a server did not start: %s%s", ceiling.errorOutput().c_str(), recording.errorOutput().c_str());
        return 1;
    }
    std::printf("%d connections, 2 x %.0f s per server, whole cycles of 24 requests\n", connections, seconds / 2);
    Figures content1, store1;
    for (int run = 0; run < 2; ++run) {
        merge(content1, load(ceiling.port(), seconds / 2, connections, run * 2));
        merge(store1, load(recording.port(), seconds / 2, connections, run * 2 + 1));
    }
    print("content folder (ceiling)", content1);
    print("store, recording", store1);
    const double ratio = (static_cast<double>(store1.requests) / store1.seconds)
        / (static_cast<double>(content1.requests) / content1.seconds);
    std::printf("store / ceiling throughput: %.2f (goal: at least 0.80)\n", ratio);
    if (reports > 0)
        millionReports(dir.path(), reports);
    return 0;
}
