// Times one synchronisation cycle that fills ten empty slots (24 requests)
// against vexor-server on loopback, and curl fetching the same 24 URLs one
// after another in one process; then both again through Squid with Basic
// credentials (which keeps the connections open: curl reuses one, the client
// ends each body at its length); then both over TLS against the server
// started with a certificate, each cycle starting without a kept session as
// curl's process does, with the number of handshakes that resumed one. Runs
// alternate so that both see the same load on a shared machine; the medians
// and their ratios are printed.
//
//   bench_sync_cycle [runs] [image bytes]

#include "fakemainthread.h"
#include "net/tlschannel.h"
#include "net/tlssessions.h"
#include "peers.h"
#include "process.h"
#include "sync/downloadthread.h"
#include "sync/protocol.h"
#include "tempdir.h"
#include "vendorserver.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace vexor::sync;
using namespace vexor::testkit;
using Clock = std::chrono::steady_clock;

const std::array<std::string, 10> Ids = {"100001", "100002", "100003", "100004", "100005",
                                         "100006", "100007", "100008", "100009", "100010"};

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One way to the server.
struct Way {
    const char* title;
    std::string host;
    vexor::ProxySettings proxy;
    std::vector<std::string> curlOptions;
    int tlsPort = 0;  // the server's, over TLS; 0 for plain HTTP
    pid_t server = 0;  // whose processor time is counted, when not 0
};

// The processor time `pid` has used so far (all its threads), milliseconds;
// 0 without a pid.
double processorMilliseconds(pid_t pid)
{
    if (pid == 0)
        return 0;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command's closing parenthesis: state is field 3,
    // utime and stime fields 14 and 15.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number)
        if (number >= 14)
            ticks += std::atof(field.c_str());
    return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// One cycle in a fresh program folder, so all ten banners are new; over TLS
// without the session an earlier cycle left. Counts the handshakes that
// resumed a session into `resumed`.
double timeCycle(const Way& way, std::vector<double>* resumed = nullptr)
{
    if (way.tlsPort != 0)
        vexor::net::TlsChannel::Sessions().drop(vexor::net::TlsChannel::SessionKey("127.0.0.1", way.tlsPort));
    const vexor::net::TlsHandshakeCounts before = vexor::net::tlsHandshakeCounts();
    TempDir program("app", {"Languages", "advs", "modules"});
    vexor::Constants shared;
    vexor::InitializeConstants(shared, program.path());
    shared.ServerHost = way.host;
    shared.SetProxy(way.proxy);
    FakeMainThread main(shared);
    TDownloadThread thread(shared, main);
    main.attach(&thread);
    const auto start = Clock::now();
    if (!main.runCycle() || shared.BannerIds != Ids) {
        std::fprintf(stderr, "the cycle did not complete\n");
        std::exit(1);
    }
    const double elapsed = millisecondsSince(start);
    if (resumed)
        resumed->push_back(static_cast<double>(vexor::net::tlsHandshakeCounts().resumed - before.resumed));
    return elapsed;
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
    std::vector<std::string> arguments = {"/usr/bin/curl", "-s", "-w", "%{time_total}\\n"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    for (const std::string& url : urls) {
        arguments.push_back("-o");
        arguments.push_back("/dev/null");
        arguments.push_back(url);
    }
    ChildProcess::Options piped;
    piped.pipeOut = true;
    const auto start = Clock::now();
    ChildProcess curl(arguments, piped);
    std::string text;
    curl.readOutput(text, std::chrono::minutes(5), false);
    const int status = curl.wait();
    CurlTimes times;
    times.wall = millisecondsSince(start);
    if (status != 0) {
        std::fprintf(stderr, "curl failed (%s)\n", curl.started() ? "its exit status" : "did not start");
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

// Both figures for one way to the server, printed under its title.
void measure(const Way& way, int runs, std::size_t imageBytes)
{
    const std::vector<std::string> urls = cycleUrls(way.host);
    // One of each first: page cache, server threads, dynamic linking.
    timeCycle(way);
    timeCurl(urls, way.curlOptions);
    std::vector<double> cycles, curls, transfers, resumed;
    double serverForCycles = 0, serverForCurl = 0;
    for (int i = 0; i < runs; ++i) {
        const double before = processorMilliseconds(way.server);
        cycles.push_back(timeCycle(way, &resumed));
        const double between = processorMilliseconds(way.server);
        const CurlTimes curl = timeCurl(urls, way.curlOptions);
        serverForCycles += between - before;
        serverForCurl += processorMilliseconds(way.server) - between;
        curls.push_back(curl.wall);
        transfers.push_back(curl.transfers);
    }
    const double cycle = median(cycles), curl = median(curls), curlTransfers = median(transfers);
    std::printf("%s\n", way.title);
    std::printf("  one cycle, 24 requests, ten %zu-byte images: median %.2f ms (best %.2f ms) over %d runs\n",
                imageBytes, cycle, *std::min_element(cycles.begin(), cycles.end()), runs);
    std::printf("  curl, the same 24 URLs in one process:       median %.2f ms (best %.2f ms)\n", curl,
                *std::min_element(curls.begin(), curls.end()));
    std::printf("    of which curl's own transfer times:         median %.2f ms (best %.2f ms)\n", curlTransfers,
                *std::min_element(transfers.begin(), transfers.end()));
    std::printf("  cycle / curl process: %.2fx (goal: at most 1.2x)\n", cycle / curl);
    std::printf("  cycle / curl transfers alone (start-up left out): %.2fx\n", cycle / curlTransfers);
    if (way.tlsPort != 0)
        std::printf("  resumed TLS handshakes per cycle: %.0f of %zu (fewest %.0f; goal: %zu)\n", median(resumed),
                    urls.size(), *std::min_element(resumed.begin(), resumed.end()), urls.size() - 1);
    if (way.server != 0)
        std::printf("  the server's processor time per cycle: %.2f ms (for curl's 24 URLs: %.2f ms)\n",
                    serverForCycles / runs, serverForCurl / runs);
}

// The same over TLS: vexor-server with a certificate of the test authority,
// which both the client and curl trust alone.
int measureTls(int runs, std::size_t imageBytes, const TempDir& server)
{
    const std::string certs = server / "certs";
    std::filesystem::create_directories(certs);
    const std::string make = VEXOR_SOURCE_DIR "/scripts/make-tls-certs " + certs + " > /dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "scripts/make-tls-certs failed\n");
        return 1;
    }
    VendorServer vendor(VEXOR_SERVER_EXE,
                        {"--content", server / "content", "--cert", certs + "/good.pem", "--key", certs + "/good.key"});
    if (!vendor.started()) {
        std::fprintf(stderr, "vexor-server did not start with TLS:\n%s\n", vendor.errorOutput().c_str());
        return 1;
    }
    ::setenv("SSL_CERT_FILE", (certs + "/ca.pem").c_str(), 1);
    measure({"over TLS:", "https://" + vendor.host(), {}, {"--cacert", certs + "/ca.pem"}, vendor.port(),
             vendor.pid()},
            runs, imageBytes);
    ::unsetenv("SSL_CERT_FILE");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    const std::size_t imageBytes = argc > 2 ? static_cast<std::size_t>(std::atol(argv[2])) : 16384;

    TempDir server;
    std::string lineUp;
    for (const std::string& id : Ids)
        lineUp += id + " ";
    writeVendorContent(server / "content", {lineUp + "5000"}, imageBytes);
    VendorServer vendor(VEXOR_SERVER_EXE, {"--content", server / "content"});
    if (!vendor.started()) {
        std::fprintf(stderr, "vexor-server did not start:\n%s\n", vendor.errorOutput().c_str());
        return 1;
    }
    measure({"direct:", vendor.host(), {}, {}}, runs, imageBytes);

    int status = 0;
    {
        SquidPeer squid(server / "squid", "vexor", "bench pass");
        if (squid.ready()) {
            const std::string proxy = "127.0.0.1:" + std::to_string(squid.port());
            measure({"through Squid with credentials:", vendor.host(), {"127.0.0.1", squid.port(), "vexor", "bench pass"},
                     {"-x", proxy, "-U", "vexor:bench pass"}},
                    runs, imageBytes);
        } else {
            std::fprintf(stderr, "squid did not start:\n%s\n", squid.diagnostics().c_str());
            status = 1;
        }
    }
    return measureTls(runs, imageBytes, server) != 0 ? 1 : status;
}
