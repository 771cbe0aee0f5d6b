#include "modules/core/moduleregistry.h"

#include "modulestestsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexor::modules {
namespace {

using testing::ModuleProgram;
using Names = std::vector<std::string>;

TEST(ModuleRegistry, ListsSubkeysInRegistryOrderAndNothingWithoutTheProductKey)
{
    ModuleProgram program;
    EXPECT_TRUE(ListModuleNames(program.registry()).empty()) << "no registry file at all";

    program.registry().writeString("Software\\Vexor", "VexorID", "42");
    EXPECT_TRUE(ListModuleNames(program.registry()).empty()) << "values of the product key are no modules";

    program.register_("Zeta", "/z/");
    program.register_("Alpha", "/a/");
    program.register_("Mid", "/m/");
    EXPECT_EQ(ListModuleNames(program.registry()), (Names{"Zeta", "Alpha", "Mid"}));
}

TEST(ModuleRegistry, OnlyExactlyCapitalNDropsAModule)
{
    ModuleProgram program;
    struct Row {
        const char* name;
        const char* active;  // nullptr: no value
        bool kept;
    };
    const Row rows[] = {
        {"Upper", "N", false}, {"Adjacent", "N", false}, {"Lower", "n", true}, {"Yes", "Y", true},
        {"Word", "No", true},  {"Spaced", " N", true},   {"Empty", "", true},  {"Missing", nullptr, true},
        {"Last", "N", false},
    };
    Names names;
    Names expected;
    for (const Row& row : rows) {
        program.registry().writeString(ModuleKey(row.name), "ModulePath", "/x/");
        if (row.active)
            program.registry().writeString(ModuleKey(row.name), "ACTIVE", row.active);
        names.push_back(row.name);
        if (row.kept)
            expected.push_back(row.name);
    }
    DropInactive(program.registry(), names);
    EXPECT_EQ(names, expected);
}

TEST(ModuleRegistry, ValueNamesIgnoreCaseAndValuesThatAreNotStringsReadAsMissing)
{
    ModuleProgram program;
    testing::writeFile(program.registry().filePath(),
                       "REGEDIT4\r\n\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Vexor\\Counter]\r\n"
                       "\"ACTIVE\"=dword:0000004e\r\n"
                       "\"ModulePath\"=hex:2f,00\r\n"
                       "[HKEY_CURRENT_USER\\Software\\Vexor\\Mixed]\r\n"
                       "\"Active\"=\"N\"\r\n"
                       "\"modulepath\"=\"/m/\"\r\n");
    EXPECT_EQ(FindModuleValue(program.registry(), "Counter", "ACTIVE"), std::nullopt);
    EXPECT_EQ(ReadModuleValue(program.registry(), "Counter", "ModulePath"), "");
    EXPECT_EQ(ReadModuleValue(program.registry(), "Mixed", "ModulePath"), "/m/");
    EXPECT_EQ(FindModuleValue(program.registry(), "Gone", "ModulePath"), std::nullopt);

    Names names = ListModuleNames(program.registry());
    ASSERT_EQ(names, (Names{"Counter", "Mixed"}));
    DropInactive(program.registry(), names);
    EXPECT_EQ(names, Names{"Counter"}) << "a dword ACTIVE is no \"N\"; \"Active\" is the same value as \"ACTIVE\"";
}

TEST(ModuleRegistry, NamesWhoseKeyIsGoneAreDropped)
{
    ModuleProgram program;
    program.register_("Here", "/h/");
    Names names{"Here", "Gone", "Here"};
    DropInactive(program.registry(), names);
    EXPECT_EQ(names, (Names{"Here", "Here"}));
}

TEST(ModuleRegistry, BrokenRegistryFileGivesNoModulesAndNoCrash)
{
    ModuleProgram program;
    testing::writeFile(program.registry().filePath(), std::string("\xEF\xBB\xBF\0\0garbage[[[\n\"=\"\n", 20));
    EXPECT_TRUE(ListModuleNames(program.registry()).empty());
    Names names{"A"};
    DropInactive(program.registry(), names);
    EXPECT_TRUE(names.empty());
}

struct CaptionCase {
    const char* label;
    std::string file;
    Names captions;
};

class ModulesMenuCaptions : public ::testing::TestWithParam<CaptionCase> {};

TEST_P(ModulesMenuCaptions, ReadsTheValueOfTheFirstLineOfEachName)
{
    ModuleProgram program;
    const std::string path = program.dir() + "modules/modl.ini";
    testing::writeFile(path, GetParam().file);
    EXPECT_EQ(ReadModulesMenuCaptions(path), GetParam().captions);
}

const std::string longCaption(100000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Files, ModulesMenuCaptions,
    ::testing::Values(
        CaptionCase{"plain", "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\nCalc=Calculator\r\n",
                    {"Notes", "Clock", "Calculator"}},
        CaptionCase{"lf_only_no_final_newline", "[Modules]\nNotes=Notes\nClock=Clock", {"Notes", "Clock"}},
        CaptionCase{"empty", "", {}},
        CaptionCase{"header_only", "[Modules]\r\n", {}},
        CaptionCase{"bom_on_header", "\xEF\xBB\xBF[Modules]\r\nA=B\r\n", {"B"}},
        CaptionCase{"repeated_name_any_case", "[Modules]\r\nNotes=First\r\nNOTES=Second\r\nnotes=Third\r\n",
                    {"First", "First", "First"}},
        CaptionCase{"no_separator", "[Modules]\r\nJustText\r\nA=B\r\n", {"", "B"}},
        CaptionCase{"separator_in_value", "[Modules]\r\nA=B=C\r\n", {"B=C"}},
        CaptionCase{"empty_name_and_value", "[Modules]\r\n=Nameless\r\nEmpty=\r\n", {"Nameless", ""}},
        CaptionCase{"ampersand_kept", "[Modules]\r\nRD=R&&D\r\nNotes=&Notes\r\n", {"R&&D", "&Notes"}},
        CaptionCase{"bytes_above_127", "[Modules]\r\nUhr=\xC3\x9Chr\xFF\r\n", {"\xC3\x9Chr\xFF"}},
        CaptionCase{"overlong_line", "[Modules]\r\nLong=" + longCaption + "\r\n", {longCaption}},
        CaptionCase{"duplicate_section_is_a_line", "[Modules]\r\n[Modules]\r\nA=B\r\n", {"", "B"}},
        CaptionCase{"blank_lines", "[Modules]\r\n\r\nA=B\r\n\r\n", {"", "B", ""}}),
    [](const ::testing::TestParamInfo<CaptionCase>& info) { return std::string(info.param.label); });

TEST(ModulesMenuCaptionsFile, MissingFileGivesNoCaptions)
{
    EXPECT_TRUE(ReadModulesMenuCaptions("/nonexistent/vexor/modl.ini").empty());
    ModuleProgram program;
    EXPECT_TRUE(ReadModulesMenuCaptions(program.dir()).empty()) << "a folder is no list file";
}

}  // namespace
}  // namespace vexor::modules
