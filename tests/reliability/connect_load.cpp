// connect_load: many connect requests (CM_TRYCONNECT reaches the download
// thread as TryConnect) posted from the main thread while cycles run.
//
//   connect_load DIR SERVER_EXE [POSTS] [GAP_US]
//
// Starts SERVER_EXE (vexor-server) on a loopback port with its demo content
// and cycles into the program folder DIR/app/. Posts TryConnect POSTS times
// (default 10000), serving the thread's main-thread steps for GAP_US
// microseconds (default 300) between two posts, then waits for the last
// cycle. Prints one line of figures:
//   posts accepted refused_while_idle cycles finished overlaps
//   rss_kb (after the first tenth of the posts, at the end)
//   threads and fds (the same two moments)
//   langl: the cycles the server saw
// Exit status 0 when every accepted post gave exactly one cycle (also on the
// server's side), no post was
// refused while the thread was idle, no cycles overlapped, and neither the
// thread nor the descriptor count grew.
#include "fakemainthread.h"
#include "procstats.h"
#include "vendorserver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: connect_load DIR SERVER_EXE [POSTS] [GAP_US]\n");
        return 2;
    }
    std::string work = std::filesystem::absolute(argv[1]).string() + "/";
    const std::string dir = work + "app/";
    for (const char* folder : {"Languages", "advs", "modules"})
        std::filesystem::create_directories(dir + folder);
    vexor::testkit::VendorServer server(argv[2], {});
    if (!server.started()) {
        std::fprintf(stderr, "vexor-server did not start: %s\n", server.errorOutput().c_str());
        return 1;
    }
    const long posts = argc > 3 ? std::atol(argv[3]) : 10000;
    const auto gap = std::chrono::microseconds(argc > 4 ? std::atol(argv[4]) : 300);

    vexor::Constants shared;
    vexor::InitializeConstants(shared, dir);
    shared.ServerHost = server.host();
    vexor::testkit::FakeMainThread host(shared);
    vexor::reliability::ProcStats early;
    long accepted = 0;
    long refusedWhileIdle = 0;
    {
        vexor::sync::TDownloadThread thread(shared, host, std::chrono::seconds(5));
        host.attach(&thread);
        for (long i = 0; i < posts; ++i) {
            if (i == posts / 10)
                early = vexor::reliability::readProcStats();
            // Only this thread starts cycles, so an idle thread stays idle
            // until the call below: it must accept.
            const bool idle = thread.Idle();
            const bool ok = thread.TryConnect();
            accepted += ok;
            refusedWhileIdle += idle && !ok;
            host.serveUntil([&] { return host.cyclesEnded() >= accepted + 1; }, gap);
        }
        host.serveUntil([&] { return host.cyclesEnded() >= accepted; }, std::chrono::seconds(30));
        host.attach(nullptr);
    }
    const vexor::reliability::ProcStats late = vexor::reliability::readProcStats();
    const long cycles = host.cyclesEnded();
    const long langl = server.countAction("LANGL");
    std::printf("posts=%ld accepted=%ld refused_while_idle=%ld cycles=%ld prepared=%ld finished=%ld overlaps=%ld "
                "langl=%ld rss_kb=%ld->%ld threads=%ld->%ld fds=%ld->%ld\n",
                posts, accepted, refusedWhileIdle, cycles, long{host.prepares()}, long{host.finishes()}, long{host.overlaps()}, langl,
                early.rssKb, late.rssKb, early.threads, late.threads, early.fds, late.fds);
    // The thread is gone at the end: one thread fewer than while it ran.
    const bool ok = cycles == accepted && host.prepares() == accepted && langl == accepted && refusedWhileIdle == 0
        && host.overlaps() == 0 && late.threads == early.threads - 1 && late.fds <= early.fds;
    return ok ? 0 : 1;
}
