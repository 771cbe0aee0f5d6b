#include "platform/registry.h"

#include "platform/exception.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

using namespace vexor::platform;
using namespace vexor::testkit;

namespace {

const std::string Vexor = "Software\\Vexor";

}  // namespace

TEST(RegistryPath, DefaultFollowsXdgConfigHome)
{
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg/here");
        EXPECT_EQ(Registry::defaultFilePath(), "/cfg/here/vexor/registry.reg");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "relative/is/ignored");
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(Registry::defaultFilePath(), "/home/someone/.config/vexor/registry.reg");
    }
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", "/home/other");
        EXPECT_EQ(Registry::defaultFilePath(), "/home/other/.config/vexor/registry.reg");
    }
}

TEST(Registry, FirstWriteCreatesAPrivateFolderAndFile)
{
    TempDir folder;
    Registry registry(folder / "config/vexor/registry.reg");
    EXPECT_FALSE(registry.keyExists(Vexor));
    EXPECT_TRUE(registry.subKeyNames(Vexor).empty());
    registry.writeString(Vexor, "VexorID", "4711");
    EXPECT_EQ(fileMode(folder / "config"), 0700u);
    EXPECT_EQ(fileMode(folder / "config/vexor"), 0700u);
    EXPECT_EQ(fileMode(folder / "config/vexor/registry.reg"), 0600u);
    EXPECT_EQ(readFile(folder / "config/vexor/registry.reg"),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vexor]\n\"VexorID\"=\"4711\"\n");
}

TEST(Registry, ReadsAndTypes)
{
    TempDir folder;
    writeFile(folder / "r.reg",
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vexor]\r\n\"VexorID\"=dword:00000001\r\n"
              "\"Path\"=hex(2):2f,00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\r\n\"ACTIVE\"=\"n\"\r\n");
    Registry registry(folder / "r.reg");
    EXPECT_TRUE(registry.keyExists("software\\VEXOR"));
    EXPECT_EQ(registry.readString("Software\\Vexor\\Notes", "Active"), "n");
    EXPECT_EQ(registry.readString("Software\\Vexor\\Notes", "Missing"), "");
    EXPECT_EQ(registry.readString("Software\\Vexor\\Nope", "ACTIVE"), "");
    EXPECT_EQ(registry.findString("Software\\Vexor\\Notes", "Missing"), std::nullopt);
    EXPECT_EQ(registry.readString(Vexor, "Path"), "/");  // an expandable string is a string
    try {
        registry.readString(Vexor, "vexorid");
        FAIL() << "no exception";
    } catch (const vexor::Exception& error) {
        EXPECT_EQ(std::string(error.what()), "Invalid data type for 'vexorid'");
    }
    auto values = registry.values(Vexor);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].type, "REG_DWORD");
}

TEST(Registry, WritesOfOthersAreSeenAtOnce)
{
    TempDir folder;
    Registry mine(folder / "r.reg");
    Registry installer(folder / "r.reg");
    EXPECT_EQ(mine.readString(Vexor, "VexorID"), "");
    installer.writeString(Vexor, "VexorID", "9");
    EXPECT_EQ(mine.readString(Vexor, "VexorID"), "9");
    installer.writeString("Software\\Vexor\\Clock", "ModulePath", "/opt/clock/");
    EXPECT_EQ(mine.subKeyNames(Vexor), std::vector<std::string>{"Clock"});
    EXPECT_TRUE(installer.deleteKey("Software\\Vexor\\Clock"));
    EXPECT_FALSE(mine.keyExists("Software\\Vexor\\Clock"));
}

TEST(Registry, EditsReportWhatTheyDid)
{
    TempDir folder;
    Registry registry(folder / "r.reg");
    EXPECT_TRUE(registry.createKey("Software\\Vexor\\Notes"));
    EXPECT_FALSE(registry.createKey("software\\vexor\\notes"));
    EXPECT_TRUE(registry.writeStringIfMissing("Software\\Vexor\\Notes", "Default", "Y"));
    EXPECT_FALSE(registry.writeStringIfMissing("Software\\Vexor\\Notes", "DEFAULT", "N"));
    EXPECT_EQ(registry.readString("Software\\Vexor\\Notes", "Default"), "Y");
    EXPECT_TRUE(registry.deleteValue("Software\\Vexor\\Notes", "default"));
    EXPECT_FALSE(registry.deleteValue("Software\\Vexor\\Notes", "default"));
    EXPECT_TRUE(registry.deleteKey("Software"));
    EXPECT_FALSE(registry.deleteKey("Software"));
    EXPECT_FALSE(registry.keyExists("Software\\Vexor\\Notes"));
}

TEST(Registry, UnwritableFileRaisesWithThePathAndKeepsTheOldFile)
{
    TempDir folder;
    writeFile(folder / "file", "not a folder");
    Registry blocked(folder / "file/registry.reg");
    try {
        blocked.writeString(Vexor, "A", "1");
        FAIL() << "no exception";
    } catch (const vexor::Exception& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + folder / "file/registry.reg");
    }
    // The registry file is a folder: it cannot be replaced.
    ::mkdir((folder / "dir.reg").c_str(), 0700);
    EXPECT_THROW(Registry(folder / "dir.reg").writeString(Vexor, "A", "1"), vexor::Exception);
}

// Two processes each write 200 values into the same key at the same moment;
// the lock around read-modify-write keeps every one of them.
TEST(Registry, ConcurrentWritersLoseNothing)
{
    TempDir folder;
    const std::string file = folder / "registry.reg";
    constexpr int Writers = 2;
    constexpr int PerWriter = 200;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[Writers];
    for (int w = 0; w < Writers; ++w) {
        children[w] = ::fork();
        ASSERT_GE(children[w], 0);
        if (children[w] == 0) {
            ::close(go[1]);
            char byte;
            (void)::read(go[0], &byte, 1);  // both start when the pipe closes
            try {
                Registry registry(file);
                for (int i = 0; i < PerWriter; ++i)
                    registry.writeString(Vexor, "w" + std::to_string(w) + "_" + std::to_string(i), std::to_string(i));
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
    }
    ::close(go[0]);
    ::close(go[1]);
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Registry registry(file);
    EXPECT_EQ(registry.values(Vexor).size(), static_cast<std::size_t>(Writers * PerWriter));
    for (int w = 0; w < Writers; ++w)
        for (int i = 0; i < PerWriter; ++i)
            EXPECT_EQ(registry.readString(Vexor, "w" + std::to_string(w) + "_" + std::to_string(i)), std::to_string(i));
}
