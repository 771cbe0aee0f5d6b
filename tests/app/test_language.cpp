#include "app/core/language.h"

#include "platform/exception.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using vexor::TLanguage;
using vexor::testkit::TempDir;

namespace {

// A program folder with an index and language files; the index lies in
// "Languages/" and the language folder is named "languages/", as the client
// names them.
class LanguageTest : public testing::Test {
protected:
    std::string indexFile() const { return m_dir.path() + "Languages/lang.ini"; }
    std::string langDir() const { return m_dir.path() + "languages/"; }

    void writeIndex(std::string_view text) { m_dir.write("Languages/lang.ini", text); }
    void writeLanguage(const std::string& file, std::string_view text) { m_dir.write("Languages/" + file, text); }

    TLanguage make()
    {
        return TLanguage(indexFile(), langDir(), [this](const std::string& text) { m_messages.push_back(text); });
    }

    std::vector<std::string> names(const TLanguage& language)
    {
        std::vector<std::string> list;
        language.ListLanguages(&list);
        return list;
    }

    TempDir m_dir;
    std::vector<std::string> m_messages;
};

TEST_F(LanguageTest, LoadsTextsAndErrors)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\nCesky=cesky.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n[Errors]\r\nConnectionFailed=Failed.\r\n");
    TLanguage language = make();
    EXPECT_TRUE(m_messages.empty());
    language.LoadLanguage("English");
    EXPECT_EQ(language.Text("MainCaption"), "Vexor");
    EXPECT_EQ(language.ErrorText("ConnectionFailed"), "Failed.");
    // Each table answers only its own section.
    EXPECT_EQ(language.Text("ConnectionFailed"), "");
    EXPECT_EQ(language.ErrorText("MainCaption"), "");
    EXPECT_EQ(names(language), (std::vector<std::string> { "English", "Cesky" }));
}

TEST_F(LanguageTest, NameLookupIgnoresCase)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    TLanguage language = make();
    EXPECT_TRUE(language.LanguageInstalled("ENGLISH"));
    language.LoadLanguage("english");
    EXPECT_EQ(language.Text("maincaption"), "Vexor");
}

TEST_F(LanguageTest, FolderInPlaceOfIndexIsAnError)
{
    std::filesystem::create_directories(indexFile());
    try {
        make();
        FAIL() << "no error";
    } catch (const vexor::Exception& error) {
        EXPECT_STREQ(error.what(), "Languages INI file error!");
    }
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(LanguageTest, UnreadableIndexIsAnError)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files without read permission";
    writeIndex("[Languages]\r\nEnglish=english.lng\r\n");
    std::filesystem::permissions(indexFile(), std::filesystem::perms::none);
    EXPECT_THROW(make(), vexor::Exception);
}

struct CorruptIndex {
    const char* name;
    const char* text;  // nullptr: no index file at all
};

class LanguageCorruptIndex : public LanguageTest, public testing::WithParamInterface<CorruptIndex> {};

TEST_P(LanguageCorruptIndex, ShowsMessageAndStaysUsable)
{
    if (GetParam().text)
        writeIndex(GetParam().text);
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    TLanguage language = make();
    EXPECT_EQ(m_messages, (std::vector<std::string> { "Languages INI file corrupted!" }));
    EXPECT_TRUE(names(language).empty());
    EXPECT_FALSE(language.LanguageInstalled("English"));
    language.LoadLanguage("English");
    EXPECT_EQ(language.Text("MainCaption"), "");
}

const CorruptIndex CorruptIndexes[] = {
    { "missing_file", nullptr },
    { "empty_file", "" },
    { "no_languages_section", "[Texts]\r\nEnglish=english.lng\r\n" },
    { "lines_before_section_only", "English=english.lng\r\n[Languages]\r\n" },
    { "only_comments", "[Languages]\r\n;English=english.lng\r\n\r\n" },
    { "header_with_blank", "[Languages ]\r\nEnglish=english.lng\r\n" },
    { "binary_garbage", "\x01\x02\xFF\xFE\r\n\x80" },
};

INSTANTIATE_TEST_SUITE_P(Index, LanguageCorruptIndex, testing::ValuesIn(CorruptIndexes),
                         [](const testing::TestParamInfo<CorruptIndex>& info) { return info.param.name; });

TEST_F(LanguageTest, CorruptIndexWithoutMessageFunction)
{
    writeIndex("garbage");
    TLanguage language(indexFile(), langDir());
    EXPECT_TRUE(names(language).empty());
}

TEST_F(LanguageTest, LowerCaseSectionHeaderIsFound)
{
    writeIndex("[languages]\r\nEnglish=english.lng\r\n");
    TLanguage language = make();
    EXPECT_TRUE(m_messages.empty());
    EXPECT_EQ(names(language), (std::vector<std::string> { "English" }));
}

TEST_F(LanguageTest, BlankBeforeEqualsBelongsToTheName)
{
    writeIndex("[Languages]\r\nEnglish =english.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    TLanguage language = make();
    EXPECT_EQ(names(language), (std::vector<std::string> { "English " }));
    EXPECT_FALSE(language.LanguageInstalled("English"));
    EXPECT_TRUE(language.LanguageInstalled("English "));
}

TEST_F(LanguageTest, LineWithoutEqualsIsAnEntryWithEmptyName)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\nbroken line\r\n");
    TLanguage language = make();
    EXPECT_EQ(names(language), (std::vector<std::string> { "English", "" }));
    EXPECT_FALSE(language.LanguageInstalled(""));
}

TEST_F(LanguageTest, ListLanguagesAppendsAndIgnoresNull)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\n");
    TLanguage language = make();
    std::vector<std::string> list { "already" };
    language.ListLanguages(&list);
    language.ListLanguages(nullptr);
    EXPECT_EQ(list, (std::vector<std::string> { "already", "English" }));
}

TEST_F(LanguageTest, DuplicateKeysAndEqualsInsideText)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nVersion=first=one\r\nversion=second\r\n");
    TLanguage language = make();
    language.LoadLanguage("English");
    EXPECT_EQ(language.Text("Version"), "first=one");
}

TEST_F(LanguageTest, UnknownNameOrMissingFileEmptiesBothTables)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\nCesky=cesky.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n[Errors]\r\nConnectionFailed=x\r\n");
    TLanguage language = make();
    EXPECT_FALSE(language.LanguageInstalled("Cesky"));
    EXPECT_FALSE(language.LanguageInstalled("Klingon"));
    for (const char* other : { "Klingon", "Cesky", "" }) {
        language.LoadLanguage("English");
        ASSERT_EQ(language.Text("MainCaption"), "Vexor");
        language.LoadLanguage(other);
        EXPECT_EQ(language.Text("MainCaption"), "") << other;
        EXPECT_EQ(language.ErrorText("ConnectionFailed"), "") << other;
    }
}

TEST_F(LanguageTest, FileWithoutTextsKeepsErrors)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\nPartial=partial.lng\r\n");
    writeLanguage("english.lng", "[Texts]\r\nMainCaption=Vexor\r\n");
    writeLanguage("partial.lng", "[Errors]\r\nConnectionFailed=Nope\r\n");
    TLanguage language = make();
    language.LoadLanguage("English");
    language.LoadLanguage("Partial");
    EXPECT_EQ(language.Text("MainCaption"), "");
    EXPECT_EQ(language.ErrorText("ConnectionFailed"), "Nope");
}

TEST_F(LanguageTest, FolderInPlaceOfLanguageFileReadsAsMissing)
{
    writeIndex("[Languages]\r\nEnglish=english.lng\r\n");
    std::filesystem::create_directories(m_dir.path() + "Languages/english.lng");
    TLanguage language = make();
    EXPECT_FALSE(language.LanguageInstalled("English"));
    EXPECT_NO_THROW(language.LoadLanguage("English"));
    EXPECT_EQ(language.Text("MainCaption"), "");
}

TEST_F(LanguageTest, FileNamesLeavingTheFolderAreNotUsed)
{
    m_dir.write("secret.lng", "[Texts]\r\nMainCaption=outside\r\n");
    writeIndex("[Languages]\r\nUp=../secret.lng\r\nAbs=" + m_dir.path() + "secret.lng\r\nSub=x/y.lng\r\n");
    TLanguage language = make();
    for (const char* name : { "Up", "Abs", "Sub" }) {
        EXPECT_FALSE(language.LanguageInstalled(name)) << name;
        language.LoadLanguage(name);
        EXPECT_EQ(language.Text("MainCaption"), "") << name;
    }
    EXPECT_EQ(language.LanguageFileName("Up"), "../secret.lng");
}

TEST_F(LanguageTest, NonAsciiNamesMatchExactly)
{
    writeIndex("[Languages]\r\n\xC4" "e\xB9tina=cz.lng\r\n");
    writeLanguage("cz.lng", "[Texts]\r\nMainCaption=\xC8" "esky\r\n");
    TLanguage language = make();
    EXPECT_TRUE(language.LanguageInstalled("\xC4" "e\xB9tina"));
    EXPECT_FALSE(language.LanguageInstalled("\xE4" "e\xB9tina"));
    language.LoadLanguage("\xC4" "E\xB9TINA");
    EXPECT_EQ(language.Text("MainCaption"), "\xC8" "esky");
}

// The files shipped in the program folder.
class ShippedLanguage : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string source = std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/";
        for (const char* name : { "lang.ini", "english.lng" }) {
            std::ifstream in(source + name, std::ios::binary);
            ASSERT_TRUE(in) << name;
            m_dir.write(std::string("Languages/") + name,
                        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
        }
    }
    TempDir m_dir;
};

TEST_F(ShippedLanguage, IndexNamesEnglishWithCrLf)
{
    EXPECT_EQ(m_dir.read("Languages/lang.ini"), "[Languages]\r\nEnglish=english.lng\r\n");
}

TEST_F(ShippedLanguage, EnglishHasEveryKeyInItsSection)
{
    TLanguage language(m_dir.path() + "Languages/lang.ini", m_dir.path() + "languages/");
    ASSERT_TRUE(language.LanguageInstalled("English"));
    language.LoadLanguage("English");
    const char* texts[] = { "MainCaption", "MainButton1", "LangMenu", "ModulMenu", "PreferMenu",
                            "Version", "LDDownloadButton", "FPCaption", "FPLabel1", "FPLabel2",
                            "FPLabel3", "FPButton1", "FPButton2", "AutoConnect", "Page1",
                            "Page2", "LDCaption", "LDCancelButton", "LDFirstText", "LDOKButton",
                            "LDSuccess" };
    const char* errors[] = { "ModlNotInstaled", "ConnectionEstabilished", "ConnectionFailed",
                             "ConnectionNoHost" };
    for (const char* key : texts)
        EXPECT_NE(language.Text(key), "") << key;
    for (const char* key : errors)
        EXPECT_NE(language.ErrorText(key), "") << key;
    EXPECT_EQ(language.Text("MainCaption"), "Vexor");
    EXPECT_EQ(language.Text("Version"), "A newer version of Vexor is available. Open the download page?");
    // The module prompt is put together from two keys.
    EXPECT_EQ(language.ErrorText("ModlNotInstaled") + " " + language.Text("LDDownloadButton") + "?",
              "This module is not installed. Download?");
}

TEST_F(ShippedLanguage, EnglishUsesCrLfAndPlainAscii)
{
    const std::string text = m_dir.read("Languages/english.lng");
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto ch = static_cast<unsigned char>(text[i]);
        ASSERT_LT(ch, 128u) << "at " << i;
        if (ch == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
        if (ch == '\r') {
            ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
        }
    }
}

}  // namespace
