#include "platform/registry.h"

#include "process.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>


namespace {

using namespace vexor::testkit;

// Runs the built vexor-reg with `args`, stdout and stderr caught.
class VexorReg : public testing::Test {
protected:
    RunResult run(std::vector<std::string> args, bool withFile = true)
    {
        if (withFile)
            args.insert(args.begin(), {"--file", file});
        args.insert(args.begin(), VEXOR_REG_EXE);
        return runToEnd(args);
    }

    TempDir folder;
    std::string file = folder / "registry.reg";
};

}  // namespace

TEST_F(VexorReg, Help)
{
    RunResult r = run({"--help"}, false);
    EXPECT_EQ(r.exitStatus, 0);
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
        RunResult r = run(args);
        EXPECT_EQ(r.exitStatus, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err.find("vexor-reg: "), std::string::npos);
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
    EXPECT_NE(::access(file.c_str(), F_OK), 0);  // nothing written
}

TEST_F(VexorReg, AddQueryAndTheSpellingsOfAKey)
{
    EXPECT_EQ(run({"add", "HKCU\\Software\\Vexor\\Notes", "--value", "ModulePath", "--data", "/opt/notes/"}).exitStatus, 0);
    EXPECT_EQ(run({"add", "HKEY_CURRENT_USER/Software/Vexor/Notes", "--value=ACTIVE", "--data=Y"}).exitStatus, 0);
    EXPECT_EQ(run({"add", "software\\vexor\\clock"}).exitStatus, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor", "--value", "VexorID", "--data", "7"}).exitStatus, 0);

    RunResult r = run({"query", "Software/Vexor/Notes"});
    EXPECT_EQ(r.exitStatus, 0);
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
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "Odd \"name\"", "--data", data}).exitStatus, 0);
    RunResult r = run({"query", "Software\\Vexor\\Notes", "--value", "odd \"NAME\"", "--raw"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, data + "\n");
    EXPECT_EQ(run({"add", "Software\\Vexor", "--value", "", "--data", "dflt"}).exitStatus, 0);
    r = run({"query", "Software\\Vexor", "--value", ""});
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\n    (Default)    REG_SZ    dflt\n");
}

TEST_F(VexorReg, IfMissingKeepsWhatIsThere)
{
    writeFile(file, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\n\"Default\"=\"N\"\n\"Count\"=dword:0000000a\n");
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "DEFAULT", "--data", "Y", "--if-missing"}).exitStatus, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "Count", "--data", "1", "--if-missing"}).exitStatus, 0);
    EXPECT_EQ(run({"add", "Software\\Vexor\\Notes", "--value", "ACTIVE", "--data", "Y", "--if-missing"}).exitStatus, 0);
    RunResult r = run({"query", "Software\\Vexor\\Notes"});
    EXPECT_EQ(r.out, "HKEY_CURRENT_USER\\Software\\Vexor\\Notes\n"
                     "    Default    REG_SZ    N\n"
                     "    Count    REG_DWORD    0xa\n"
                     "    ACTIVE    REG_SZ    Y\n");
}

TEST_F(VexorReg, NotFoundExitsWithOne)
{
    EXPECT_EQ(run({"query", "Software\\Vexor"}).exitStatus, 1);  // no file yet
    run({"add", "Software\\Vexor\\Notes", "--value", "A", "--data", "1"});
    RunResult r = run({"query", "Software\\Vexor\\Clock"});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "vexor-reg: key not found: HKEY_CURRENT_USER\\Software\\Vexor\\Clock\n");
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "B"}).exitStatus, 1);
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Notes", "--value", "B"}).exitStatus, 1);
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Clock"}).exitStatus, 1);
}

TEST_F(VexorReg, DeleteValueAndKey)
{
    run({"add", "Software\\Vexor\\Notes", "--value", "A", "--data", "1"});
    run({"add", "Software\\Vexor\\Notes", "--value", "B", "--data", "2"});
    run({"add", "Software\\Vexor\\Notes\\Sub", "--value", "C", "--data", "3"});
    run({"add", "Software\\Vexor\\Notes2", "--value", "D", "--data", "4"});
    EXPECT_EQ(run({"delete", "Software\\Vexor\\Notes", "--value", "a"}).exitStatus, 0);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "A"}).exitStatus, 1);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes", "--value", "B"}).exitStatus, 0);
    EXPECT_EQ(run({"delete", "software\\vexor\\notes"}).exitStatus, 0);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes\\Sub"}).exitStatus, 1);
    EXPECT_EQ(run({"query", "Software\\Vexor\\Notes2", "--value", "D", "--raw"}).out, "4\n");
}

TEST_F(VexorReg, WriteErrorExitsWithThree)
{
    writeFile(folder / "plain", "");
    file = folder / "plain/registry.reg";
    RunResult r = run({"add", "Software\\Vexor", "--value", "A", "--data", "1"});
    EXPECT_EQ(r.exitStatus, 3);
    EXPECT_EQ(r.err, "vexor-reg: Unable to write to " + file + "\n");
}

TEST_F(VexorReg, DefaultFileUnderXdgConfigHome)
{
    RunResult r;
    {
        ScopedEnv config("XDG_CONFIG_HOME", folder / "cfg");
        r = run({"add", "Software\\Vexor", "--value", "VexorID", "--data", "5"}, false);
    }
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(vexor::platform::Registry(folder / "cfg/vexor/registry.reg").readString("Software\\Vexor", "VexorID"), "5");
}
