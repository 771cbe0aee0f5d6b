#include "platform/regfile.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vexor::platform;

namespace {

const std::string Vexor = "Software\\Vexor";

struct ParseCase {
    const char* what;
    std::string text;
    std::string key;
    std::string name;
    const char* type;  // nullptr: the value is missing
    std::string data;
};

void PrintTo(const ParseCase& c, std::ostream* out)
{
    *out << c.what;
}

const std::vector<ParseCase> parseCases = {
    {"plain", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vexor]\n\"VexorID\"=\"4711\"\n", Vexor, "VexorID", "REG_SZ", "4711"},
    {"names ignore case", "[HKEY_CURRENT_USER\\SOFTWARE\\vexor]\n\"VEXORID\"=\"1\"\n", Vexor, "vexorid", "REG_SZ", "1"},
    {"HKCU short root", "[HKCU\\Software\\Vexor]\n\"A\"=\"1\"\n", Vexor, "A", "REG_SZ", "1"},
    {"CR LF", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vexor]\r\n\"A\"=\"x\"\r\n", Vexor, "A", "REG_SZ", "x"},
    {"CR alone", "REGEDIT4\r[HKEY_CURRENT_USER\\Software\\Vexor]\r\"A\"=\"x\"", Vexor, "A", "REG_SZ", "x"},
    {"byte-order mark", "\xEF\xBB\xBFREGEDIT4\n[HKEY_CURRENT_USER\\Software\\Vexor]\n\"A\"=\"x\"\n", Vexor, "A", "REG_SZ", "x"},
    {"escapes", "[HKCU\\Software\\Vexor]\n\"A\"=\"C:\\\\dir\\\\ \\\"q\\\" \\n\"\n", Vexor, "A", "REG_SZ", "C:\\dir\\ \"q\" \n"},
    {"unknown escape kept", "[HKCU\\Software\\Vexor]\n\"A\"=\"\\q\"\n", Vexor, "A", "REG_SZ", "\\q"},
    {"escaped name", "[HKCU\\Software\\Vexor]\n\"a\\\"b\"=\"1\"\n", Vexor, "a\"b", "REG_SZ", "1"},
    {"default value", "[HKCU\\Software\\Vexor]\n@=\"dflt\"\n", Vexor, "", "REG_SZ", "dflt"},
    {"blanks around =", "[HKCU\\Software\\Vexor]\n  \"A\" = \"x\"  ; note\n", Vexor, "A", "REG_SZ", "x"},
    {"dword", "[HKCU\\Software\\Vexor]\n\"A\"=dword:0000002a\n", Vexor, "A", "REG_DWORD", "0000002a"},
    {"bad dword skipped", "[HKCU\\Software\\Vexor]\n\"A\"=dword:xyz\n", Vexor, "A", nullptr, ""},
    {"long dword skipped", "[HKCU\\Software\\Vexor]\n\"A\"=dword:123456789\n", Vexor, "A", nullptr, ""},
    {"hex", "[HKCU\\Software\\Vexor]\n\"A\"=hex:01,FF,00\n", Vexor, "A", "REG_BINARY", "01,ff,00"},
    {"hex continued", "[HKCU\\Software\\Vexor]\n\"A\"=hex:01,02,\\\n  03,04,\\\r\n  05\n\"B\"=\"b\"\n", Vexor, "A", "REG_BINARY", "01,02,03,04,05"},
    {"value after continuation", "[HKCU\\Software\\Vexor]\n\"A\"=hex:01,\\\n  02\n\"B\"=\"b\"\n", Vexor, "B", "REG_SZ", "b"},
    {"continuation stops at a header", "[HKCU\\Software\\Vexor]\n\"A\"=hex:01,\\\n[HKCU\\Software\\Vexor]\n\"B\"=\"b\"\n", Vexor, "B", "REG_SZ", "b"},
    {"broken hex skipped", "[HKCU\\Software\\Vexor]\n\"A\"=hex:1,zz\n", Vexor, "A", nullptr, ""},
    {"expand string decoded", "[HKCU\\Software\\Vexor]\n\"A\"=hex(2):25,00,48,00\n", Vexor, "A", "REG_EXPAND_SZ", std::string("%\0H", 3)},
    {"multi string", "[HKCU\\Software\\Vexor]\n\"A\"=hex(7):61,00,00\n", Vexor, "A", "REG_MULTI_SZ", "61,00,00"},
    {"unterminated string skipped", "[HKCU\\Software\\Vexor]\n\"A\"=\"open\n", Vexor, "A", nullptr, ""},
    {"junk after string skipped", "[HKCU\\Software\\Vexor]\n\"A\"=\"x\"junk\n", Vexor, "A", nullptr, ""},
    {"missing = skipped", "[HKCU\\Software\\Vexor]\n\"A\" \"x\"\n", Vexor, "A", nullptr, ""},
    {"unknown type skipped", "[HKCU\\Software\\Vexor]\n\"A\"=qword:1\n", Vexor, "A", nullptr, ""},
    {"comment", "[HKCU\\Software\\Vexor]\n;\"A\"=\"x\"\n", Vexor, "A", nullptr, ""},
    {"foreign root ignored", "[HKEY_LOCAL_MACHINE\\Software\\Vexor]\n\"A\"=\"x\"\n", Vexor, "A", nullptr, ""},
    {"delete-key section ignored", "[-HKEY_CURRENT_USER\\Software\\Vexor]\n\"A\"=\"x\"\n", Vexor, "A", nullptr, ""},
    {"header without ] ignored", "[HKCU\\Software\\Vexor]\n[HKCU\\Software\\Vexor\n\"A\"=\"x\"\n", Vexor, "A", nullptr, ""},
    {"value before any section", "\"A\"=\"x\"\n[HKCU\\Software\\Vexor]\n", Vexor, "A", nullptr, ""},
    {"repeated section: last wins", "[HKCU\\Software\\Vexor]\n\"A\"=\"1\"\n[HKCU\\Software\\Vexor\\X]\n[HKCU\\Software\\Vexor]\n\"a\"=\"2\"\n", Vexor, "A", "REG_SZ", "2"},
    {"removal", "[HKCU\\Software\\Vexor]\n\"A\"=\"1\"\n\"A\"=-\n", Vexor, "A", nullptr, ""},
    {"bytes above 127", "[HKCU\\Software\\Vexor\xE9]\n\"\xFF\"=\"\xC3\xA9\x80\"\n", "Software\\Vexor\xE9", "\xFF", "REG_SZ", "\xC3\xA9\x80"},
    {"empty components ignored", "[HKCU\\\\Software\\Vexor\\]\n\"A\"=\"x\"\n", "\\Software\\\\Vexor", "A", "REG_SZ", "x"},
    {"overlong line", "[HKCU\\Software\\Vexor]\n\"A\"=\"" + std::string(200000, 'x') + "\"\n", Vexor, "A", "REG_SZ", std::string(200000, 'x')},
    {"empty text", "", Vexor, "A", nullptr, ""},
    {"REGEDIT5 header is just a line", "Windows Registry Editor Version 5.00\n[HKCU\\Software\\Vexor]\n\"A\"=\"x\"\n", Vexor, "A", "REG_SZ", "x"},
};

class RegFileParse : public testing::TestWithParam<ParseCase> {};

}  // namespace

TEST_P(RegFileParse, FindsTheValueOrSkipsTheLine)
{
    const ParseCase& c = GetParam();
    RegFile file = RegFile::parse(c.text);
    auto value = file.findValue(c.key, c.name);
    if (!c.type) {
        EXPECT_FALSE(value.has_value());
        return;
    }
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, c.type);
    EXPECT_EQ(value->data, c.data);
}

INSTANTIATE_TEST_SUITE_P(Cases, RegFileParse, testing::ValuesIn(parseCases));

TEST(RegFileKeys, SubkeysInOrderOfFirstAppearanceIncludingImplicitOnes)
{
    RegFile file = RegFile::parse(
        "REGEDIT4\n\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\Notes\\Deep\\Er]\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor]\n\"VexorID\"=\"1\"\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\Clock]\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vexor\\Foreign]\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\notes]\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor2\\Other]\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\Abc]\n");
    EXPECT_EQ(file.subKeyNames("Software\\Vexor"), (std::vector<std::string>{"Notes", "Clock", "Abc"}));
    EXPECT_EQ(file.subKeyNames("software\\vexor\\NOTES"), std::vector<std::string>{"Deep"});
    EXPECT_EQ(file.subKeyNames("Software"), (std::vector<std::string>{"Vexor", "Vexor2"}));
    EXPECT_EQ(file.subKeyNames(""), std::vector<std::string>{"Software"});
    EXPECT_TRUE(file.subKeyNames("Software\\Vexor\\Missing").empty());
    EXPECT_TRUE(file.keyExists("Software\\Vexor\\Notes\\Deep"));  // implicit
    EXPECT_TRUE(file.keyExists(""));
    EXPECT_FALSE(file.keyExists("Software\\Vexor\\Foreign"));
    EXPECT_FALSE(file.keyExists("Software\\Vex"));
}

TEST(RegFileKeys, ValuesInOrderWithTheirLastData)
{
    RegFile file = RegFile::parse(
        "[HKCU\\Software\\Vexor]\n\"B\"=\"1\"\n\"A\"=dword:1\n@=\"d\"\n"
        "[HKCU\\Software\\Vexor]\n\"b\"=\"2\"\n\"A\"=-\n\"C\"=\"3\"\n");
    auto values = file.values(Vexor);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].name, "B");
    EXPECT_EQ(values[0].data, "2");
    EXPECT_EQ(values[1].name, "");
    EXPECT_EQ(values[2].name, "C");
}

TEST(RegFileEdit, UnchangedTextRoundTrips)
{
    for (std::string text : {"", "REGEDIT4\n", "REGEDIT4\r\n\r\n[HKCU\\X]\r\n\"a\"=\"b\"\r\n",
                             "\xEF\xBB\xBFREGEDIT4\n; c\n[HKCU\\X]\n\"a\"=hex:01,\\\n  02", "junk\n\n\n"})
        EXPECT_EQ(RegFile::parse(text).text(), text);
}

TEST(RegFileEdit, SetStringOnANewFile)
{
    RegFile file;
    file.setString("Software\\Vexor\\Notes", "ModulePath", "/opt/notes/");
    EXPECT_EQ(file.text(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\n\"ModulePath\"=\"/opt/notes/\"\n");
}

TEST(RegFileEdit, SetStringTouchesOnlyItsLine)
{
    const std::string text =
        "REGEDIT4\r\n; installer 1.0\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vexor]\r\n\"A\"=\"machine\"\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\r\n\"ACTIVE\"=\"Y\"\r\n\"Bin\"=hex:01,\\\r\n  02\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Vexor\\Clock]\r\n\"ACTIVE\"=\"Y\"\r\n";
    RegFile file = RegFile::parse(text);
    file.setString("Software\\Vexor\\Notes", "Active", "N");  // keeps the spelling "ACTIVE"
    file.setString("Software\\Vexor\\Notes", "Default", "Y");  // after the last value
    std::string expected = text;
    expected.replace(expected.find("\"ACTIVE\"=\"Y\""), 12, "\"ACTIVE\"=\"N\"");
    expected.insert(expected.find("  02\r\n") + 6, "\"Default\"=\"Y\"\r\n");
    EXPECT_EQ(file.text(), expected);
}

TEST(RegFileEdit, ReplacingAContinuedValueRemovesAllItsLines)
{
    RegFile file = RegFile::parse("[HKCU\\K]\n\"A\"=hex:01,\\\n  02,\\\n  03\n\"B\"=\"b\"\n");
    file.setString("K", "a", "text");
    EXPECT_EQ(file.text(), "[HKCU\\K]\n\"A\"=\"text\"\n\"B\"=\"b\"\n");
}

TEST(RegFileEdit, AnyTextRoundTripsThroughAValue)
{
    std::string every;
    for (int c = 0; c < 256; ++c)
        every += static_cast<char>(c);
    RegFile file;
    file.setString("K", every, every);
    file.setString("K", "", "default");
    RegFile again = RegFile::parse(file.text());
    auto value = again.findValue("K", every);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->data, every);
    EXPECT_EQ(again.findValue("K", "")->data, "default");
    EXPECT_NE(file.text().find("@=\"default\""), std::string::npos);
}

TEST(RegFileEdit, DeleteKeyTakesItsSubtreeOnly)
{
    RegFile file = RegFile::parse(
        "REGEDIT4\n\n[HKCU\\Software\\Vexor\\Notes]\n\"A\"=\"1\"\n\n"
        "[HKCU\\Software\\Vexor\\Notes2]\n\"A\"=\"2\"\n\n"
        "[HKCU\\Software\\Vexor\\notes\\Sub]\n\"A\"=\"3\"\n\n"
        "[HKLM\\Software\\Vexor\\Notes]\n\"A\"=\"4\"\n");
    EXPECT_TRUE(file.deleteKey("Software\\Vexor\\NOTES"));
    EXPECT_EQ(file.text(),
              "REGEDIT4\n\n[HKCU\\Software\\Vexor\\Notes2]\n\"A\"=\"2\"\n\n"
              "[HKLM\\Software\\Vexor\\Notes]\n\"A\"=\"4\"\n");
    EXPECT_FALSE(file.deleteKey("Software\\Vexor\\Notes"));
    EXPECT_FALSE(file.deleteKey(""));
}

TEST(RegFileEdit, DeleteValueRemovesEveryDefinition)
{
    RegFile file = RegFile::parse("[HKCU\\K]\n\"A\"=\"1\"\n\"B\"=\"b\"\n[HKCU\\K]\n\"a\"=\"2\"\n");
    EXPECT_TRUE(file.deleteValue("k", "A"));
    EXPECT_FALSE(file.findValue("K", "A").has_value());
    EXPECT_EQ(file.text(), "[HKCU\\K]\n\"B\"=\"b\"\n[HKCU\\K]\n");
    EXPECT_FALSE(file.deleteValue("K", "A"));
}

TEST(RegFileEdit, CreateKey)
{
    RegFile file = RegFile::parse("REGEDIT4\n\n[HKCU\\A\\B]\n");
    EXPECT_FALSE(file.createKey("a"));  // exists through A\B
    EXPECT_TRUE(file.createKey("A\\C"));
    EXPECT_FALSE(file.createKey("a\\c"));
    EXPECT_EQ(file.text(), "REGEDIT4\n\n[HKCU\\A\\B]\n\n[HKEY_CURRENT_USER\\A\\C]\n");
    EXPECT_EQ(file.subKeyNames("A"), (std::vector<std::string>{"B", "C"}));
}

TEST(RegFileEdit, KeysThatCannotBeWritten)
{
    RegFile file;
    EXPECT_THROW(file.setString("A\nB", "x", "y"), vexor::Exception);
    EXPECT_THROW(file.createKey(std::string("A\0B", 3)), vexor::Exception);
    EXPECT_EQ(file.text(), "");
    EXPECT_FALSE(RegFile::validKey("a\rb"));
    EXPECT_TRUE(RegFile::validKey("a]b\\c;d"));
    file.setString("a]b", "n", "v");
    EXPECT_EQ(RegFile::parse(file.text()).findValue("A]B", "N")->data, "v");
}
