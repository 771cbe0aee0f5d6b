// Fetches one URL with THttpClient, for the transfer benchmark.
//   fetch memory <url>          body kept in memory
//   fetch file <url> <path>     body streamed to a file
//   fetch touch <bytes>         no transfer: writes that many bytes of fresh
//                               memory, the floor of any in-memory body
// Prints "<bytes> <seconds> <max RSS KiB>" on success.

#include "net/httpclient.h"

#include <openssl/ssl.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

void report(long long bytes, std::chrono::steady_clock::time_point start)
{
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%lld %.6f %ld\n", bytes, elapsed.count(), usage.ru_maxrss);
}

int touch(std::size_t bytes)
{
    const std::string block(65536, 'x');
    const auto start = std::chrono::steady_clock::now();
    std::string memory;
    memory.reserve(bytes);
    while (memory.size() < bytes)
        memory.append(block, 0, std::min(block.size(), bytes - memory.size()));
    report(static_cast<long long>(memory.size()), start);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    if (mode == "touch")
        return touch(std::stoull(argv[2]));
    if ((mode != "memory" && mode != "file") || (mode == "file" && argc < 4)) {
        std::fprintf(stderr, "usage: fetch memory <url> | fetch file <url> <path>\n");
        return 2;
    }
    // curl's time_total begins after curl_global_init, which starts OpenSSL
    // (configuration file, providers); the clock here begins after the same.
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_CONFIG, nullptr);
    vexor::net::THttpClient client;
    client.InputFileMode = mode == "file";
    if (client.InputFileMode)
        client.Body = argv[3];
    const auto start = std::chrono::steady_clock::now();
    try {
        client.Get(argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fetch: %s\n", error.what());
        return 1;
    }
    report(static_cast<long long>(client.BytesReceived), start);
    return client.ReplyCode == 200 ? 0 : 1;
}
