#include "platform/singleinstance.h"

#include "platform/exception.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vexor::platform;
using namespace vexor::testkit;

namespace {

// Runs `body` in a child process and returns its exit status (-1 on a signal).
template <typename Body>
int inChild(Body body)
{
    pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What tryAcquire says in another process: 1 acquired, 0 refused, 2 threw.
int acquireElsewhere(const std::string& dir)
{
    return inChild([&] {
        try {
            SingleInstance other("Vexor", dir);
            return other.tryAcquire() ? 1 : 0;
        } catch (...) {
            return 2;
        }
    });
}

}  // namespace

TEST(SingleInstance, OneHolderAtATimeEvenInOneProcess)
{
    TempDir folder;
    SingleInstance first("Vexor", folder.path());
    SingleInstance second("Vexor", folder.path());
    EXPECT_EQ(first.lockFilePath(), folder / "Vexor.lock");
    EXPECT_FALSE(first.held());
    EXPECT_TRUE(first.tryAcquire());
    EXPECT_TRUE(first.tryAcquire());  // holding it already
    EXPECT_TRUE(first.held());
    EXPECT_FALSE(second.tryAcquire());
    EXPECT_EQ(acquireElsewhere(folder.path()), 0);
    first.release();
    EXPECT_FALSE(first.held());
    EXPECT_TRUE(second.tryAcquire());
    EXPECT_EQ(fileMode(folder / "Vexor.lock"), 0600u);
}

TEST(SingleInstance, OtherNamesDoNotCollide)
{
    TempDir folder;
    SingleInstance vexor("Vexor", folder.path());
    SingleInstance other("Other", folder.path());
    SingleInstance hostile("../escape", folder.path());  // not a plain name: "Vexor"
    EXPECT_TRUE(vexor.tryAcquire());
    EXPECT_TRUE(other.tryAcquire());
    EXPECT_EQ(hostile.lockFilePath(), folder / "Vexor.lock");
    EXPECT_FALSE(hostile.tryAcquire());
}

TEST(SingleInstance, ReleasedWhenTheHolderIsKilled)
{
    TempDir folder;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        SingleInstance lock("Vexor", folder.path());
        char held = lock.tryAcquire() ? 'y' : 'n';
        (void)::write(ready[1], &held, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(held, 'y');

    SingleInstance me("Vexor", folder.path());
    EXPECT_FALSE(me.tryAcquire());
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(me.tryAcquire());  // no stale lock
}

TEST(SingleInstance, ProgramsStartedByTheHolderDoNotKeepIt)
{
    TempDir folder;
    auto holder = std::make_unique<SingleInstance>("Vexor", folder.path());
    ASSERT_TRUE(holder->tryAcquire());
    // The pipe's write end is close-on-exec: EOF on it means the exec is done
    // (until then the forked child still shares the lock's descriptor).
    int execDone[2];
    ASSERT_EQ(::pipe2(execDone, O_CLOEXEC), 0);
    pid_t started = ::fork();
    ASSERT_GE(started, 0);
    if (started == 0) {
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(execDone[1]);
    char byte;
    EXPECT_EQ(::read(execDone[0], &byte, 1), 0);
    ::close(execDone[0]);
    holder.reset();  // the client ends; what it started runs on
    EXPECT_EQ(acquireElsewhere(folder.path()), 1);
    ::kill(started, SIGKILL);
    ::waitpid(started, nullptr, 0);
}

TEST(SingleInstance, DefaultFolderIsTheRuntimeFolder)
{
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/4242");
        EXPECT_EQ(SingleInstance::defaultLockDir(), "/run/user/4242");
    }
    ScopedEnv runtime("XDG_RUNTIME_DIR", "relative");
    std::string fallback = "/tmp/vexor-" + std::to_string(::getuid());
    EXPECT_EQ(SingleInstance::defaultLockDir(), fallback);
    EXPECT_EQ(fileMode(fallback), 0700u);
}

TEST(SingleInstance, PrivateFolderChecks)
{
    TempDir folder;
    EXPECT_EQ(SingleInstance::privateFolder(folder / "new"), folder / "new");
    EXPECT_EQ(fileMode(folder / "new"), 0700u);

    ::mkdir((folder / "loose").c_str(), 0777);
    ::chmod((folder / "loose").c_str(), 0777);
    SingleInstance::privateFolder(folder / "loose");
    EXPECT_EQ(fileMode(folder / "loose"), 0700u);

    ASSERT_EQ(::symlink((folder / "new").c_str(), (folder / "link").c_str()), 0);
    EXPECT_THROW(SingleInstance::privateFolder(folder / "link"), vexor::Exception);
    writeFile(folder / "file", "");
    EXPECT_THROW(SingleInstance::privateFolder(folder / "file"), vexor::Exception);
    EXPECT_THROW(SingleInstance::privateFolder(folder / "missing/deeper"), vexor::Exception);
    if (::geteuid() == 0) {  // only root can give a folder away
        ::mkdir((folder / "theirs").c_str(), 0700);
        ASSERT_EQ(::chown((folder / "theirs").c_str(), 65534, 65534), 0);
        EXPECT_THROW(SingleInstance::privateFolder(folder / "theirs"), vexor::Exception);
    }
}

TEST(SingleInstance, UnusableFolderIsReportedNotTakenForAnotherInstance)
{
    TempDir folder;
    SingleInstance lock("Vexor", folder / "missing");
    EXPECT_THROW(lock.tryAcquire(), vexor::Exception);
    // A symlink planted under the lock's name is refused.
    ASSERT_EQ(::symlink((folder / "target").c_str(), (folder / "Vexor.lock").c_str()), 0);
    SingleInstance planted("Vexor", folder.path());
    EXPECT_THROW(planted.tryAcquire(), vexor::Exception);
    EXPECT_NE(::access((folder / "target").c_str(), F_OK), 0);
}
