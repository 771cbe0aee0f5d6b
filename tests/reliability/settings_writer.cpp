// settings_writer: drives the client's settings write (WriteSettings, the body
// of the main window's close query) for the crash and full-disk checks of
// scripts/reliability.
//
//   settings_writer loop DIR       writes state A, then B, A, B, ... into
//                                  DIR/settings.ini until killed; prints
//                                  "ready" once the first write is done
//   settings_writer once DIR A|B   one write; prints the error and exits 1
//                                  when it fails
//   settings_writer check DIR      "old-or-new" when DIR/settings.ini is
//                                  byte for byte what a whole write of A or
//                                  of B leaves and reads back as that state;
//                                  "mixed" when it reads back as neither;
//                                  exit 1 then
//   settings_writer self-test      loop, check and once on a temporary
//                                  folder (run by ctest)
#include "app/core/constants.h"
#include "app/core/settings.h"
#include "platform/exception.h"
#include "platform/fileops.h"
#include "tempdir.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using vexor::Constants;
using vexor::WindowSettings;

struct State {
    Constants c;
    WindowSettings window;
};

// Two states that differ in every key, so that a file holding some keys of
// one and some of the other is told apart from both.
void fill(State& s, const std::string& dir, bool b)
{
    vexor::InitializeConstants(s.c, dir);
    s.c.SetProxy({b ? "proxy-b.example" : "proxy-a.example", b ? 3128 : 8080, b ? "bob" : "alice",
                  b ? "secret-b" : "secret-a"});
    s.c.InstallFlag = b;
    s.c.AutoConnect = !b;
    for (std::size_t i = 0; i < s.c.BannerIds.size(); ++i) {
        s.c.BannerIds[i] = std::to_string((b ? 200000 : 100000) + static_cast<int>(i));
        s.c.BannerCounts[i] = static_cast<std::int32_t>(b ? 1000 + i : 7 * i + 1);
    }
    s.c.RotationInterval = b ? 4000 : 5000;
    s.c.BannerPos = b ? 7 : 2;
    s.c.StartUps = b ? 42 : 41;
    s.window.Language = b ? "Deutsch" : "English";
    s.window.Left = b ? 300 : 10;
    s.window.Top = b ? 200 : 20;
}

bool sameAsRead(const State& expected, const std::string& dir)
{
    State read;
    vexor::InitializeConstants(read.c, dir);
    const WindowSettings window = vexor::ReadSettings(read.c);
    return window.Language == expected.window.Language && window.Left == expected.window.Left
        && window.Top == expected.window.Top && read.c.Proxy() == expected.c.Proxy()
        && read.c.InstallFlag == expected.c.InstallFlag && read.c.AutoConnect == expected.c.AutoConnect
        && read.c.BannerIds == expected.c.BannerIds && read.c.BannerCounts == expected.c.BannerCounts
        && read.c.RotationInterval == expected.c.RotationInterval && read.c.BannerPos == expected.c.BannerPos
        && read.c.StartUps == expected.c.StartUps;
}

std::string withSlash(std::string dir)
{
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

// The file a whole write of `b` leaves after a whole write of the other state
// (the loop's start), made in a scratch folder.
std::string referenceText(bool b)
{
    const vexor::testkit::TempDir scratch;
    const std::string& dir = scratch.path();
    State first, second;
    fill(first, dir, !b);
    fill(second, dir, b);
    vexor::WriteSettings(first.c, first.window);
    vexor::WriteSettings(second.c, second.window);
    std::string text;
    vexor::platform::readWholeFile(dir + "settings.ini", text);
    return text;
}

int loop(const std::string& dir)
{
    State states[2];
    fill(states[0], dir, false);
    fill(states[1], dir, true);
    for (unsigned long n = 0;; ++n) {
        const State& s = states[n % 2];
        vexor::WriteSettings(s.c, s.window);
        if (n == 0) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
}

int once(const std::string& dir, bool b)
{
    State s;
    fill(s, dir, b);
    try {
        vexor::WriteSettings(s.c, s.window);
    } catch (const vexor::Exception& error) {
        std::printf("%s\n", error.what());
        return 1;
    }
    std::printf("written\n");
    return 0;
}

// 0: old or new; 1: anything else.
int check(const std::string& dir)
{
    std::string text;
    if (!vexor::platform::readWholeFile(dir + "settings.ini", text)) {
        std::printf("missing\n");
        return 1;
    }
    for (bool b : {false, true}) {
        State s;
        fill(s, dir, b);
        if (text == referenceText(b) && sameAsRead(s, dir)) {
            std::printf("old-or-new\n");
            return 0;
        }
    }
    std::printf("mixed\n");
    return 1;
}

// The modes above on a scratch folder: a loop killed after a moment leaves a
// file that passes the check, a file with one key changed fails it, and a
// write into a missing folder reports the path.
int selfTest()
{
    const vexor::testkit::TempDir scratch;
    const std::string& dir = scratch.path();
    int failures = 0;
    int ready[2];
    if (::pipe(ready) != 0)
        return 1;
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(ready[1], STDOUT_FILENO);
        loop(dir);
        _exit(0);
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;  // the first write is done
    ::close(ready[0]);
    ::usleep(20000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    failures += !started;
    failures += check(dir) != 0;

    std::string text;
    vexor::platform::readWholeFile(dir + "settings.ini", text);
    const auto at = text.find("StartUps=4");
    if (at == std::string::npos) {
        ++failures;
    } else {
        text[at + 10] = text[at + 10] == '1' ? '2' : '1';  // one key of the other state
        vexor::platform::writeFileAtomic(dir + "settings.ini", text);
        failures += check(dir) != 1;
    }
    failures += once(dir + "missing/", false) != 1;
    std::printf("self-test: %d failures\n", failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "self-test")
        return selfTest();
    if (argc < 3) {
        std::fprintf(stderr, "usage: settings_writer loop|once|check DIR [A|B] | self-test\n");
        return 2;
    }
    const std::string dir = withSlash(argv[2]);
    if (mode == "loop")
        return loop(dir);
    if (mode == "once")
        return once(dir, argc > 3 && std::string(argv[3]) == "B");
    if (mode == "check")
        return check(dir);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
