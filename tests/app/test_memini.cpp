#include "app/core/memini.h"

#include "platform/exception.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

using vexor::TMemIniFile;
using vexor::testkit::TempDir;

namespace {

struct LookupCase {
    const char* name;
    std::string text;
    std::string section;
    std::string key;
    std::string expected;  // "<default>" when the key must not be found
};

const std::string NotFound = "<default>";

std::string operator""_s(const char* text, std::size_t size)
{
    return std::string(text, size);
}

const LookupCase LookupCases[] = {
    { "crlf", "[Texts]\r\nA=1\r\nB=2\r\n", "Texts", "B", "2" },
    { "lf_only", "[Texts]\nA=1\nB=2\n", "Texts", "B", "2" },
    { "cr_only", "[Texts]\rA=1\rB=2", "Texts", "B", "2" },
    { "cr_cr_is_two_ends", "[Texts]\r\rA=1\r\rB=2", "Texts", "A", "1" },
    { "lf_cr_is_two_ends", "[Texts]\n\rA=1\n\rB=2\n\r", "Texts", "B", "2" },
    { "no_line_end_at_eof", "[Texts]\r\nA=last", "Texts", "A", "last" },
    { "bom_before_header", "\xEF\xBB\xBF[Texts]\r\nA=1\r\n", "Texts", "A", "1" },
    { "bom_only_at_start", "[Texts]\r\n\xEF\xBB\xBF" "A=1\r\n", "Texts", "\xEF\xBB\xBF" "A", "1" },
    { "lower_case_section", "[texts]\r\nA=1\r\n", "Texts", "A", "1" },
    { "upper_case_lookup", "[Texts]\r\nA=1\r\n", "TEXTS", "A", "1" },
    { "key_case_insensitive", "[Texts]\r\nmainCAPTION=x\r\n", "Texts", "MainCaption", "x" },
    { "blank_before_equals", "[Texts]\r\nA =1\r\n", "Texts", "A", NotFound },
    { "blank_before_equals_exact", "[Texts]\r\nA =1\r\n", "Texts", "A ", "1" },
    { "blank_after_equals_kept", "[Texts]\r\nA= 1 \r\n", "Texts", "A", " 1 " },
    { "leading_blank_key", "[Texts]\r\n A=1\r\n", "Texts", "A", NotFound },
    { "duplicate_key_first_wins", "[Texts]\r\nA=1\r\na=2\r\n", "Texts", "A", "1" },
    { "equals_inside_text", "[Texts]\r\nA=b=c==\r\n", "Texts", "A", "b=c==" },
    { "empty_value", "[Texts]\r\nA=\r\nA=2\r\n", "Texts", "A", "" },
    { "comment_skipped", "[Texts]\r\n;A=1\r\nA=2\r\n", "Texts", "A", "2" },
    { "indented_semicolon_is_no_comment", "[Texts]\r\n ;A=1\r\n", "Texts", " ;A", "1" },
    { "lines_before_first_section_dropped", "A=0\r\n[Texts]\r\nB=1\r\n", "Texts", "A", NotFound },
    { "duplicate_section_first_wins", "[Texts]\r\nA=1\r\n[TEXTS]\r\nB=2\r\n", "Texts", "B", NotFound },
    { "duplicate_section_keeps_first", "[Texts]\r\nA=1\r\n[TEXTS]\r\nA=2\r\n", "Texts", "A", "1" },
    { "header_with_trailing_blank_is_a_line", "[Errors]\r\n[Texts] \r\nA=1\r\n", "Errors", "A", "1" },
    { "header_with_leading_blank_is_a_line", "[Errors]\r\n [Texts]\r\nA=1\r\n", "Texts", "A", NotFound },
    { "empty_section_name", "[]\r\nA=1\r\n", "", "A", "1" },
    { "bracket_inside_name", "[Te]xts]\r\nA=1\r\n", "Te]xts", "A", "1" },
    { "lone_bracket_is_a_line", "[Texts]\r\n[\r\nA=1\r\n", "Texts", "A", "1" },
    { "line_without_equals_not_found_by_empty_key", "[Texts]\r\nnothing\r\n", "Texts", "", NotFound },
    { "empty_key_line", "[Texts]\r\nnothing\r\n=v\r\n", "Texts", "", "v" },
    { "high_bytes_exact", "[Texts]\r\n\xC9t\xE9=1\r\n", "Texts", "\xC9t\xE9", "1" },
    { "high_bytes_not_folded", "[Texts]\r\n\xC9=1\r\n", "Texts", "\xE9", NotFound },
    { "high_bytes_utf8_not_folded", "[Texts]\r\n\xC3\x89=1\r\n", "Texts", "\xC3\xA9", NotFound },
    { "high_byte_section", "[\xC4" "cko]\r\nA=1\r\n", "\xC4" "CKO", "A", "1" },
    { "nul_inside_value", "[Texts]\r\nA=x\0y\r\n"_s, "Texts", "A", "x\0y"_s },
    { "missing_section", "[Texts]\r\nA=1\r\n", "Errors", "A", NotFound },
    { "empty_text", "", "Texts", "A", NotFound },
    { "only_line_ends", "\r\n\n\r\r\n", "Texts", "A", NotFound },
};

class MemIniLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(MemIniLookup, FindsValueAsWritten)
{
    const LookupCase& c = GetParam();
    const TMemIniFile ini = TMemIniFile::fromText(c.text);
    EXPECT_EQ(ini.readString(c.section, c.key, NotFound), c.expected);
    if (ini.hasSection(c.section)) {
        // The list form used by the language tables agrees with the reader.
        const std::string viaLines = vexor::valueOfKey(ini.sectionLines(c.section), c.key);
        EXPECT_EQ(viaLines, c.expected == NotFound ? std::string() : c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, MemIniLookup, testing::ValuesIn(LookupCases),
                         [](const testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST(MemIni, SectionLinesKeepEverythingButCommentsAndEmptyLines)
{
    const TMemIniFile ini = TMemIniFile::fromText(
        "[Languages]\r\nEnglish=english.lng\r\n\r\n;Czech=czech.lng\r\nno equals here\r\n"
        "  \r\nDeutsch =deutsch.lng\r\n[Other]\r\nX=1\r\n");
    const std::vector<std::string> expected = { "English=english.lng", "no equals here", "  ",
                                                "Deutsch =deutsch.lng" };
    EXPECT_EQ(ini.sectionLines("languages"), expected);
    EXPECT_TRUE(ini.hasSection("OTHER"));
    EXPECT_FALSE(ini.hasSection("Missing"));
    EXPECT_TRUE(ini.sectionLines("Missing").empty());
}

TEST(MemIni, EmptySectionExistsWithoutLines)
{
    const TMemIniFile ini = TMemIniFile::fromText("[Languages]\r\n;only a comment\r\n");
    EXPECT_TRUE(ini.hasSection("Languages"));
    EXPECT_TRUE(ini.sectionLines("Languages").empty());
}

TEST(MemIni, LineKeyAndValue)
{
    EXPECT_EQ(vexor::lineKey("a=b=c"), "a");
    EXPECT_EQ(vexor::lineValue("a=b=c"), "b=c");
    EXPECT_EQ(vexor::lineKey("no equals"), "");
    EXPECT_EQ(vexor::lineValue("no equals"), "");
    EXPECT_EQ(vexor::lineKey("=v"), "");
    EXPECT_EQ(vexor::lineValue("=v"), "v");
    EXPECT_EQ(vexor::lineKey("k ="), "k ");
}

TEST(MemIni, HundredKilobyteLine)
{
    const std::string value(100 * 1024, 'x');
    const TMemIniFile ini = TMemIniFile::fromText("[Texts]\r\nLong=" + value + "\r\nShort=s\r\n");
    EXPECT_EQ(ini.readString("Texts", "Long"), value);
    EXPECT_EQ(ini.readString("Texts", "Short"), "s");
}

TEST(MemIni, HundredKilobyteHeaderLine)
{
    const std::string name(100 * 1024, 'n');
    const TMemIniFile ini = TMemIniFile::fromText("[" + name + "]\nA=1\n");
    EXPECT_EQ(ini.readString(name, "A"), "1");
}

TEST(MemIniFile, MissingFileReadsAsEmpty)
{
    TempDir dir;
    const TMemIniFile ini(dir.path() + "no-such.ini");
    EXPECT_FALSE(ini.hasSection("Languages"));
    const TMemIniFile inMissingFolder(dir.path() + "nofolder/no-such.ini");
    EXPECT_FALSE(inMissingFolder.hasSection("Languages"));
}

TEST(MemIniFile, ReadsFileThroughCaseInsensitivePath)
{
    TempDir dir;
    dir.write("Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\n");
    const TMemIniFile ini(dir.path() + "languages/LANG.INI");
    EXPECT_EQ(ini.readString("Languages", "English"), "english.lng");
}

TEST(MemIniFile, DanglingLinkReadsAsMissing)
{
    TempDir dir;
    std::filesystem::create_symlink(dir.path() + "nowhere.ini", dir.path() + "lang.ini");
    EXPECT_FALSE(TMemIniFile(dir.path() + "lang.ini").hasSection("Languages"));
}

TEST(MemIniFile, FolderInPlaceOfFileThrows)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() + "lang.ini");
    EXPECT_THROW(TMemIniFile(dir.path() + "lang.ini"), vexor::Exception);
}

TEST(MemIniFile, UnreadableFileThrows)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files without read permission";
    TempDir dir;
    const std::string path = dir.write("lang.ini", "[Languages]\r\n");
    std::filesystem::permissions(path, std::filesystem::perms::none);
    EXPECT_THROW(TMemIniFile{ path }, vexor::Exception);
}

}  // namespace
