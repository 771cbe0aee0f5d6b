#include "platform/registry.h"

#include "tempfolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built vexor-reg with `args`, stdout and stderr caught in files.
class VexorReg : public testing::Test {
protected:
    ToolRun run(std::vector<std::string> args, bool withFile = true)
    {
        if (withFile)
            args.insert(args.begin(), {"--file", file});
        args.insert(args.begin(), VEXOR_REG_EXE);
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (folder / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, (folder / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = -1;
        ToolRun result;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        result.out = readText(folder / "out");
        result.err = readText(folder / "err");
        return result;
    }

    TempFolder folder;
    std::string file = folder / "registry.reg";
};

}  // namespace

TEST_F(VexorReg, Help)
{
    ToolRun r = run({"--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: vexor-reg"), std::string::npos);
    EXPECT_NE(r.out.find("--if-missing"), std::string::npos);
}

TEST_F(VexorReg, BadCommandLinesExitWithTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frob", "Software\\Vexor"},
        {"query"},
        {"query", "A", "B"},
        {"query", "Software\\Vexor", "--bogus"},
        {"add", "Software\\Vexor", "--data", "x"},          // --data without --value
        {"add", "Software\\Vexor", "--value"},              // --value without its name
        {"query", "Software\\Vexor", "--if-missing"},
        {"delete", "Software\\Vexor", "--raw"},
        {"add", "HKLM\\Software\\Vexor", "--value", "A"},
        {"query", "HKEY_LOCAL_MACHINE\\Software"},
        {"delete", "HKCU"},
        {"delete", "HKEY_CURRENT_USER\\"},
        {"add", "Software\\Vexor\nX"},
        {"query", "Software", "--help=yes"},
    };
    for (const auto& args : cases) {
        ToolRun r = run(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err.find("vexor-reg: "), std::string::npos);
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
    EXPECT_NE(::access(file.c_str(), F_OK), 0);  // nothing written
}

TEST_F(VexorReg, AddQueryAndTheSpellingsOfAKey)
{
    EXPECT_EQ(run({"add", "HKCU\\Software\\Vexor\\Notes", "--value", "ModulePath", "--data", "/opt/notes/"}).status, 0);
    EXPECT_EQ(run({"add", "HKEY_CURRENT_USER/Software/Vexor/Notes", "--value=ACTIVE", "--data=Y"}).status, 0);
    EXPECT_EQ(run({"add", "software\\vexor\\clock"}).status, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor", "--value", "VexorID", "--data", "7"}).status, 0);

    ToolRun r = run({"query", "Software/Vexor/Notes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\\Notes\n"
                     "    ModulePath    REG_SZ    /opt/notes/\n"
                     "    ACTIVE    REG_SZ    Y\n");
    r = run({"query", "HKCU\\Software\\Vexor"});
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\n"
                     "    VexorID    REG_SZ    7\n\n"
                     "HKEY_CURRENT_USER\\Software\\Vexor\\Notes\n"
                     "HKEY_CURRENT_USER\\Software\\Vexor\\clock\n");

    // What the tool wrote, the client reads.
    vexor::platform::Registry registry(file);
    EXPECT_EQ(registry.readString("Software\\Vexor\\Notes", "Active"), "Y");
    EXPECT_EQ(registry.subKeyNames("Software\\Vexor"), (std::vector<std::string>{"Notes", "clock"}));
}

TEST_F(VexorReg, RawQueryOfAnyText)
{
    const std::string data = "C:\\Mods\\ \"quoted\" \xC3\xA9 ;=[x]";
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "Odd \"name\"", "--data", data}).status, 0);
    ToolRun r = run({"query", "Software\\Vexor\\Notes", "--value", "odd \"NAME\"", "--raw"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, data + "\n");
    EXPECT_EQ(run({"add", "Software\\Vexor", "--value", "", "--data", "dflt"}).status, 0);
    r = run({"query", "Software\\Vexor", "--value", ""});
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\n    (Default)    REG_SZ    dflt\n");
}

TEST_F(VexorReg, IfMissingKeepsWhatIsThere)
{
    writeText(file, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\n\"Default\"=\"N\"\n\"Count\"=dword:0000000a\n");
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "DEFAULT", "--data", "Y", "--if-missing"}).status, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "Count", "--data", "1", "--if-missing"}).status, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "ACTIVE", "--data", "Y", "--if-missing"}).status, 0);
    ToolRun r = run({"query", "Software\\Vexor\\Notes"});
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\\Notes\n"
                     "    Default    REG_SZ    N\n"
                     "    Count    REG_DWORD    0xa\n"
                     "    ACTIVE    REG_SZ    Y\n");
}

TEST_F(VexorReg, NotFoundExitsWithOne)
{
    EXPECT_EQ(run({"query", "Software\\Vexor"}).status, 1);  // no file yet
    run({"add", "Software\\Vexor\\Notes", "--value", "A", "--data", "1"});
    ToolRun r = run({"query", "Software\\Vexor\\Clock"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vexor-reg: key not found: HKEY_CURRENT_USER\\Software\\Vexor\\Clock\n");
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "B"}).status, 1);
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Notes", "--value", "B"}).status, 1);
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Clock"}).status, 1);
}

TEST_F(VexorReg, DeleteValueAndKey)
{
    run({"add", "Software\\Vexor\\Notes", "--value", "A", "--data", "1"});
    run({"add", "Software\\Vexor\\Notes", "--value", "B", "--data", "2"});
    run({"add", "Software\\Vexor\\Notes\\Sub", "--value", "C", "--data", "3"});
    run({"add", "Software\\Vexor\\Notes2", "--value", "D", "--data", "4"});
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Notes", "--value", "a"}).status, 0);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "A"}).status, 1);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "B"}).status, 0);
    EXPECT_EQ(run({"delete", "software\\vexor\\notes"}).status, 0);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes\\Sub"}).status, 1);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes2", "--value", "D", "--raw"}).out, "4\n");
}

TEST_F(VexorReg, WriteErrorExitsWithThree)
{
    writeText(folder / "plain", "");
    file = folder / "plain/registry.reg";
    ToolRun r = run({"add", "Software\\Vexor", "--value", "A", "--data", "1"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "vexor-reg: Unable to write to " + file + "\n");
}

TEST_F(VexorReg, DefaultFileUnderXdgConfigHome)
{
    ::setenv("XDG_CONFIG_HOME", (folder / "cfg").c_str(), 1);
    ToolRun r = run({"add", "Software\\Vexor", "--value", "VexorID", "--data", "5"}, false);
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(vexor::platform::Registry(folder / "cfg/vexor/registry.reg").readString("Software\\Vexor", "VexorID"), "5");
}
