// Faults the reliability runs found, each held by a test: a kill during the
// settings write left old and new keys mixed; a kill during a list
// replacement could leave no list at all; a server that never ends a body
// filled the disk; a runtime folder that cannot hold the lock crashed the
// client.
#include "app/core/constants.h"
#include "app/core/settings.h"
#include "fakemainthread.h"
#include "platform/fileops.h"
#include "sync/cachefiles.h"
#include "loopbackserver.h"
#include "process.h"
#include "sync/downloadthread.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Folder = vexor::testkit::TempDir;

// Records what happens to the names of one folder.
class FolderEvents {
public:
    explicit FolderEvents(const std::string& folder)
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        ::inotify_add_watch(m_fd, folder.c_str(), IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE);
    }
    ~FolderEvents() { ::close(m_fd); }

    // How many events of `mask` named `name` arrived so far.
    int count(std::uint32_t mask, const std::string& name)
    {
        alignas(inotify_event) char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                m_seen.push_back({event->mask, event->len ? std::string(event->name) : std::string()});
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        int matches = 0;
        for (const auto& [eventMask, eventName] : m_seen)
            matches += (eventMask & mask) && eventName == name;
        return matches;
    }

private:
    int m_fd;
    std::vector<std::pair<std::uint32_t, std::string>> m_seen;
};

TEST(CrashSafety, SettingsWriteReplacesTheFileInOneStep)
{
    Folder folder;
    folder.write("settings.ini", "[Settings]\r\nStartUps=3\r\nLanguage=Deutsch\r\nBanners=x\r\n");
    vexor::Constants c;
    vexor::InitializeConstants(c, folder.path());
    c.StartUps = 4;
    c.SetProxy({"proxy.example", 3128, "u", "p"});
    FolderEvents events(folder.path());
    vexor::WriteSettings(c, {"English", 10, 20});
    // Fourteen keys change; a kill between two separate replacements would
    // leave some of them old.
    EXPECT_EQ(events.count(IN_MOVED_TO, "settings.ini"), 1);
    const std::string text = folder.read("settings.ini");
    EXPECT_NE(text.find("StartUps=4\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("ProxyName=proxy.example\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Top=20\r\n"), std::string::npos) << text;

    vexor::WriteSettings(c, {"English", 10, 20});
    EXPECT_EQ(events.count(IN_MOVED_TO, "settings.ini"), 1) << "an unchanged write touches nothing";
}

TEST(CrashSafety, SettingsWriteFailureLeavesTheFileAsItWas)
{
    Folder folder;
    const std::string old = "[Settings]\nStartUps=3\n";
    folder.write("settings.ini", old);
    vexor::Constants c;
    vexor::InitializeConstants(c, folder.path());
    c.StartUps = 9;
    // A file size limit makes every write that grows the file past 40 bytes
    // fail (also for root): the first key alone would still fit.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 40;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        vexor::WriteSettings(c, {"English", 0, 0});
    } catch (const vexor::Exception& error) {
        threw = std::string(error.what()) == "Unable to write to " + folder.path() + "settings.ini";
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(folder.read("settings.ini"), old);
}

TEST(CrashSafety, ListReplacementNeverRemovesTheLiveList)
{
    Folder folder;
    folder.write("Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\n");
    folder.write("Languages/lang.inibak", "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
    folder.write("modules/modl.ini", "[Modules]\r\nNotes=Notes\r\n");
    folder.write("modules/modl.inibak", "[Modules]\r\nClock=Clock\r\n");
    FolderEvents languages(folder.path() + "Languages");
    FolderEvents modules(folder.path() + "modules");

    ASSERT_TRUE(vexor::sync::ReplaceLanguageList(folder.path() + "Languages/lang.ini"));
    ASSERT_TRUE(vexor::sync::ReplaceModuleList(folder.path() + "modules/modl.ini"));
    EXPECT_EQ(languages.count(IN_DELETE, "lang.ini"), 0);
    EXPECT_EQ(languages.count(IN_MOVED_TO, "lang.ini"), 1);
    EXPECT_EQ(modules.count(IN_DELETE, "modl.ini"), 0);
    EXPECT_EQ(modules.count(IN_MOVED_TO, "modl.ini"), 1);
    EXPECT_EQ(folder.read("Languages/lang.ini"), "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
    EXPECT_EQ(folder.read("modules/modl.ini"), "[Modules]\r\nClock=Clock\r\n");
    EXPECT_FALSE(fs::exists(folder.path() + "Languages/lang.inibak"));
}

// Answers every request with a header and then a body that goes on until
// the client stops reading (or GuardBytes, so that a client without a limit
// fails this test without filling the disk).
void answerEndlessly(vexor::testkit::ServerConnection& connection, int)
{
    constexpr std::size_t GuardBytes = 4 * vexor::sync::MaxDownloadBytes;
    connection.readRequest();
    bool ok = connection.send("HTTP/1.0 200 OK\r\n\r\n[Languages]\r\n");
    const std::string block(65536, 'x');
    for (std::size_t sent = 0; ok && sent < GuardBytes; sent += block.size())
        ok = connection.send(block);
}

TEST(HostileServer, EndlessBodyStopsAtTheDownloadLimit)
{
    Folder folder;
    for (const char* sub : {"Languages", "advs", "modules"})
        fs::create_directories(folder.path() + sub);
    vexor::testkit::LoopbackServer server(answerEndlessly);
    vexor::Constants shared;
    vexor::InitializeConstants(shared, folder.path());
    shared.ServerHost = server.host();
    vexor::testkit::FakeMainThread host(shared);
    vexor::sync::TDownloadThread thread(shared, host, std::chrono::seconds(20));
    host.attach(&thread);
    ASSERT_TRUE(host.runCycle(std::chrono::seconds(60)));
    EXPECT_EQ(host.cyclesEnded(), 1);

    std::uintmax_t largest = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
        if (entry.is_regular_file())
            largest = std::max(largest, entry.file_size());
    EXPECT_EQ(largest, 0u) << "a body cut at the limit leaves no file, not even a temporary";
    EXPECT_FALSE(fs::exists(folder.path() + "Languages/lang.ini")) << "a cut-off list is never put in place";
    EXPECT_FALSE(fs::exists(folder.path() + "modules/modl.ini"));
}

#ifdef VEXOR_CLIENT_EXE
TEST(StartUp, UnusableRuntimeFolderEndsWithAMessageNotACrash)
{
    Folder folder;
    folder.write("plain-file", "x");
    auto env = vexor::testkit::environmentWithout({"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"});
    // A folder below a plain file: the lock file cannot be created.
    env.push_back("XDG_RUNTIME_DIR=" + folder.path() + "plain-file/run");
    env.push_back("XDG_CONFIG_HOME=" + folder.path() + "config");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    const auto run = vexor::testkit::runToEnd({VEXOR_CLIENT_EXE}, std::chrono::seconds(30), env);
    EXPECT_EQ(run.exitStatus, 1) << "-1: ended by a signal, or did not end in time";
    EXPECT_NE(run.err.find("vexor: Unable to create the lock file " + folder.path() + "plain-file/run/Vexor.lock"),
              std::string::npos)
        << run.err;
}
#endif

}  // namespace
