// Times one synchronisation cycle that fills ten empty slots (24 requests)
// against vexor-server on loopback, and curl fetching the same 24 URLs one
// after another in one process; then both again through Squid with Basic
// credentials (which keeps the connections open: curl reuses one, the client
// ends each body at its length). Runs alternate so that both see the same
// load on a shared machine; the medians and their ratios are printed.
//
//   bench_sync_cycle [runs] [image bytes]

#include "fakevendor.h"
#include "peers.h"
#include "programfolder.h"
#include "sync/downloadthread.h"
#include "sync/protocol.h"
#include "vendorprocess.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using namespace vexor::sync;
using Clock = std::chrono::steady_clock;

const std::array<std::string, 10> Ids = {"100001", "100002", "100003", "100004", "100005",
                                         "100006", "100007", "100008", "100009", "100010"};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One cycle in a fresh program folder, so all ten banners are new.
double timeCycle(const std::string& host, const vexor::ProxySettings& proxy)
{
    TestFolder program(true);
    vexor::Constants shared;
    vexor::InitializeConstants(shared, program.path());
    shared.ServerHost = host;
    shared.SetProxy(proxy);
    FakeMainThread main(shared);
    TDownloadThread thread(shared, main);
    main.attach(&thread);
    const auto start = Clock::now();
    if (!main.runCycle() || shared.BannerIds != Ids) {
        std::fprintf(stderr, "the cycle did not complete\n");
        std::exit(1);
    }
    return millisecondsSince(start);
}

// The URLs of the same cycle, as the thread builds them.
std::vector<std::string> cycleUrls(const std::string& host)
{
    const ClientIdentity who{"1131", "1"};
    std::array<std::string, 10> empty;
    empty.fill("000000");
    std::vector<std::string> urls = {LanglUrl(host, who, "English", 1, false), VersionUrl(host, who, "English"),
                                     ModlUrl(host, who, "English"), LcountUrl(host, who, empty, {})};
    for (const std::string& id : Ids) {
        urls.push_back(LogoUrl(host, who, id));
        urls.push_back(HtmlUrl(host, who, id));
    }
    return urls;
}

struct CurlTimes {
    double wall = 0;       // the curl process from start to exit, milliseconds
    double transfers = 0;  // the sum of curl's own time_total of the 24 transfers
};

CurlTimes timeCurl(const std::vector<std::string>& urls, const std::vector<std::string>& options)
{
    std::vector<std::string> arguments = {"curl", "-s", "-w", "%{time_total}\\n"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    for (const std::string& url : urls) {
        arguments.push_back("-o");
        arguments.push_back("/dev/null");
        arguments.push_back(url);
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
        std::exit(1);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const auto start = Clock::now();
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, "curl", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start curl\n");
        std::exit(1);
    }
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    CurlTimes times;
    times.wall = millisecondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        times.transfers += std::atof(text.substr(at, end - at).c_str()) * 1000.0;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return times;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Both figures for one way to the server, printed under `title`.
void measure(const char* title, int runs, std::size_t imageBytes, const std::string& host,
             const vexor::ProxySettings& proxy, const std::vector<std::string>& curlOptions)
{
    const std::vector<std::string> urls = cycleUrls(host);
    // One of each first: page cache, server threads, dynamic linking.
    timeCycle(host, proxy);
    timeCurl(urls, curlOptions);
    std::vector<double> cycles, curls, transfers;
    for (int i = 0; i < runs; ++i) {
        cycles.push_back(timeCycle(host, proxy));
        const CurlTimes curl = timeCurl(urls, curlOptions);
        curls.push_back(curl.wall);
        transfers.push_back(curl.transfers);
    }
    const double cycle = median(cycles), curl = median(curls), curlTransfers = median(transfers);
    std::printf("%s\n", title);
    std::printf("  one cycle, 24 requests, ten %zu-byte images: median %.2f ms (best %.2f ms) over %d runs\n",
                imageBytes, cycle, *std::min_element(cycles.begin(), cycles.end()), runs);
    std::printf("  curl, the same 24 URLs in one process:       median %.2f ms (best %.2f ms)\n", curl,
                *std::min_element(curls.begin(), curls.end()));
    std::printf("    of which curl's own transfer times:         median %.2f ms (best %.2f ms)\n", curlTransfers,
                *std::min_element(transfers.begin(), transfers.end()));
    std::printf("  cycle / curl process: %.2fx (goal: at most 1.2x)\n", cycle / curl);
    std::printf("  cycle / curl transfers alone (start-up left out): %.2fx\n", cycle / curlTransfers);
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::size_t imageBytes = argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 16384;

    TestFolder server;
    std::string lineUp;
    for (const std::string& id : Ids)
        lineUp += id + " ";
    WriteVendorContent(server.path() + "content", {lineUp + "5000"}, imageBytes);
    VendorProcess vendor(VEXOR_SERVER_EXE, server.path() + "content", server.path() + "requests.log");
    measure("direct:", runs, imageBytes, vendor.host(), {}, {});

    // Squid may serve as "nobody": its folder must be open to it.
    std::string squidDir = (std::filesystem::temp_directory_path() / "vexor-bench-squid-XXXXXX").string();
    if (!::mkdtemp(squidDir.data()))
        return 1;
    std::filesystem::permissions(squidDir, std::filesystem::perms(0755));
    int status = 0;
    {
        vexor::net::testing::SquidPeer squid(squidDir, "vexor", "bench pass");
        if (squid.ready()) {
            const std::string proxy = "127.0.0.1:" + std::to_string(squid.port());
            measure("through Squid with credentials:", runs, imageBytes, vendor.host(),
                    {"127.0.0.1", squid.port(), "vexor", "bench pass"}, {"-x", proxy, "-U", "vexor:bench pass"});
        } else {
            std::fprintf(stderr, "squid did not start:\n%s\n", squid.diagnostics().c_str());
            status = 1;
        }
    }
    std::filesystem::remove_all(squidDir);
    return status;
}
