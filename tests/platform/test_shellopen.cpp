#include "platform/shellopen.h"

#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexor::platform;
using namespace vexor::testkit;

namespace {

// Waits up to five seconds for `path` to appear (the helper runs detached).
bool waitForFile(const std::string& path)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (::access(path.c_str(), F_OK) == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace

TEST(OpenUrl, LogFileGetsOneLinePerUrl)
{
    TempDir folder;
    ScopedEnv log("VEXOR_OPEN_URL_LOG", (folder / "urls.log").c_str());
    EXPECT_TRUE(openUrl("http://localhost:8431/update/index.php?MCID=1131"));
    EXPECT_TRUE(openUrl("http://example.invalid/a b"));
    EXPECT_EQ(readFile(folder / "urls.log"),
              "http://localhost:8431/update/index.php?MCID=1131\nhttp://example.invalid/a b\n");
}

TEST(OpenUrl, RefusesWhatCannotBeOneArgument)
{
    TempDir folder;
    ScopedEnv log("VEXOR_OPEN_URL_LOG", (folder / "urls.log").c_str());
    EXPECT_FALSE(openUrl(""));
    EXPECT_FALSE(openUrl("--help"));
    EXPECT_FALSE(openUrl("http://x/\nhttp://y/"));
    EXPECT_FALSE(openUrl(std::string("http://x/\0y", 11)));
    EXPECT_NE(::access((folder / "urls.log").c_str(), F_OK), 0);
}

TEST(OpenUrl, UnwritableLogIsAFailure)
{
    TempDir folder;
    ScopedEnv log("VEXOR_OPEN_URL_LOG", (folder / "missing/urls.log").c_str());
    EXPECT_FALSE(openUrl("http://localhost/"));
}

// A stand-in xdg-open records its arguments and its open descriptors: the URL
// arrives as one argument, untouched by any shell, and none of our
// descriptors comes along.
TEST(OpenUrl, StartsTheHelperDetachedWithTheUrlAsOneArgument)
{
    TempDir folder;
    std::string out = folder / "out";
    writeFile(folder / "xdg-open",
              "#!/bin/sh\n"
              "{ echo \"$#\"; printf '%s\\n' \"$1\"; /bin/ls /proc/$$/fd; } > '" + out + ".tmp'\n"
              "/bin/mv '" + out + ".tmp' '" + out + "'\n");
    ::chmod((folder / "xdg-open").c_str(), 0755);
    ScopedEnv log("VEXOR_OPEN_URL_LOG", nullptr);
    ScopedEnv path("PATH", folder.path().c_str());

    int leaked = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 57), 57);
    ::close(leaked);
    const std::string url = "http://localhost/?a=1&b=$(touch PWNED);`id` 'q'";
    EXPECT_TRUE(openUrl(url));
    ::close(57);

    ASSERT_TRUE(waitForFile(out));
    std::string text = readFile(out);
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1), "1\n" + url + "\n");
    std::string fds = "\n" + text.substr(text.find('\n', text.find('\n') + 1) + 1);
    EXPECT_EQ(fds.find("\n57\n"), std::string::npos) << fds;
}

TEST(OpenUrl, FalseWhenTheHelperIsMissing)
{
    TempDir folder;
    ScopedEnv log("VEXOR_OPEN_URL_LOG", nullptr);
    ScopedEnv path("PATH", folder.path().c_str());
    EXPECT_FALSE(openUrl("http://localhost/"));
}
