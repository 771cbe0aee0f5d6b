// Faults the reliability runs found, each held by a test: a kill during the
// settings write left old and new keys mixed; a kill during a list
// replacement could leave no list at all; a server that never ends a body
// filled the disk; a runtime folder that cannot hold the lock crashed the
// client.
#include "app/constants.h"
#include "app/settings.h"
#include "cyclehost.h"
#include "platform/fileops.h"
#include "sync/cachefiles.h"
#include "sync/downloadthread.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <chrono>
#include <vector>

namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "vexor-regression-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern + "/";
    }
    ~Folder() { fs::remove_all(m_path); }
    const std::string& path() const { return m_path; }
    void write(const std::string& relative, const std::string& text) const
    {
        fs::create_directories(fs::path(m_path + relative).parent_path());
        std::ofstream(m_path + relative, std::ios::binary) << text;
    }
    std::string read(const std::string& relative) const
    {
        std::string text;
        vexor::platform::readWholeFile(m_path + relative, text);
        return text;
    }

private:
    std::string m_path;
};

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
class EndlessServer {
public:
    static constexpr std::size_t GuardBytes = 4 * vexor::sync::MaxDownloadBytes;

    EndlessServer() : m_listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~EndlessServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd ready{m_listener, POLLIN, 0};
            if (::poll(&ready, 1, 50) <= 0)
                continue;
            const int peer = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            char request[4096];
            (void)::recv(peer, request, sizeof request, 0);
            const std::string header = "HTTP/1.0 200 OK\r\n\r\n[Languages]\r\n";
            bool ok = ::send(peer, header.data(), header.size(), MSG_NOSIGNAL) > 0;
            const std::string block(65536, 'x');
            for (std::size_t sent = 0; ok && !m_stop && sent < GuardBytes; sent += block.size())
                ok = ::send(peer, block.data(), block.size(), MSG_NOSIGNAL) > 0;
            ::close(peer);
        }
    }

    int m_listener;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(HostileServer, EndlessBodyStopsAtTheDownloadLimit)
{
    Folder folder;
    for (const char* sub : {"Languages", "advs", "modules"})
        fs::create_directories(folder.path() + sub);
    EndlessServer server;
    vexor::Constants shared;
    vexor::InitializeConstants(shared, folder.path());
    shared.ServerHost = server.host();
    vexor::reliability::CycleHost host(shared);
    vexor::sync::TDownloadThread thread(shared, host, std::chrono::seconds(20));
    ASSERT_TRUE(thread.TryConnect());
    EXPECT_EQ(host.serveUntil(thread, std::chrono::steady_clock::now() + std::chrono::seconds(60), 1), 1);

    std::uintmax_t largest = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
        if (entry.is_regular_file())
            largest = std::max(largest, entry.file_size());
    EXPECT_GT(largest, 0u) << "the bodies reached the disk";
    EXPECT_LE(largest, static_cast<std::uintmax_t>(vexor::sync::MaxDownloadBytes) + 65536);
    EXPECT_FALSE(fs::exists(folder.path() + "Languages/lang.ini")) << "a cut-off list is never put in place";
    EXPECT_FALSE(fs::exists(folder.path() + "modules/modl.ini"));
}

#ifdef VEXOR_CLIENT_EXE
TEST(StartUp, UnusableRuntimeFolderEndsWithAMessageNotACrash)
{
    Folder folder;
    folder.write("plain-file", "x");
    const std::string errors = folder.path() + "stderr.txt";
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("XDG_RUNTIME_DIR=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0)
            env.push_back(entry);
    }
    // A folder below a plain file: the lock file cannot be created.
    env.push_back("XDG_RUNTIME_DIR=" + folder.path() + "plain-file/run");
    env.push_back("XDG_CONFIG_HOME=" + folder.path() + "config");
    env.push_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string exe = VEXOR_CLIENT_EXE;
    char* argv[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    ASSERT_EQ(::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            FAIL() << "the client did not end";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    EXPECT_NE(folder.read("stderr.txt").find("vexor: Unable to create the lock file " + folder.path() + "plain-file/run/Vexor.lock"),
              std::string::npos)
        << folder.read("stderr.txt");
}
#endif

}  // namespace
