// sync_cycler: runs download-thread cycles one after another into a program
// folder, for the crash check of scripts/reliability (which kills it at
// random moments and then checks the folder's files).
//
//   sync_cycler DIR HOST [HOST2] [CYCLES]
//
// DIR is a program folder with Languages/, advs/ and modules/. Cycle n talks
// to HOST when n is even and to HOST2 (default HOST) when n is odd, so that two
// servers with different content make every cycle replace the lists and the
// banners. Prints "cycle N ended" after each; runs until killed when CYCLES
// is 0 or missing. Exit status 1 when cycles overlapped.
#include "fakemainthread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: sync_cycler DIR HOST [HOST2] [CYCLES]\n");
        return 2;
    }
    std::string dir = argv[1];
    if (dir.back() != '/')
        dir += '/';
    const std::string hosts[2] = {argv[2], argc > 3 ? argv[3] : argv[2]};
    const long cycles = argc > 4 ? std::atol(argv[4]) : 0;

    vexor::Constants shared;
    vexor::InitializeConstants(shared, dir);
    vexor::testkit::FakeMainThread host(shared);
    for (long n = 0; cycles == 0 || n < cycles; ++n) {
        // The server host is fixed for a thread's life, so each cycle gets
        // its own thread; the banner state carries over in `shared`.
        shared.ServerHost = hosts[n % 2];
        vexor::sync::TDownloadThread thread(shared, host, std::chrono::seconds(5));
        host.attach(&thread);
        if (!host.runCycle(std::chrono::seconds(60)))
            return 1;
        host.attach(nullptr);
        std::printf("cycle %ld ended\n", n);
        std::fflush(stdout);
    }
    return host.overlaps() == 0 ? 0 : 1;
}
