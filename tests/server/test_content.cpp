#include "content.h"

#include "httpexchange.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace vexor::server {
namespace {

using test::TempDir;
using test::writeFile;

TEST(IsPlainFileNameTest, OnlyNamesDirectlyInTheFolder)
{
    for (const char* good : { "deutsch.lng", "english.lng", "Deutsch Schweiz.lng", "a", "x.y.z", "fran\xC3\xA7" "ais.lng" })
        EXPECT_TRUE(isPlainFileName(good)) << good;
    const std::string bad[] = { "", ".", "..", "../lang.ini", "..\\lang.ini", "a/b", "/etc/passwd", "a\\b",
        "deutsch.lng/", "x..y", ".hidden", "a\nb", "a\rb", std::string("a\0b", 3), "tab\there", "del\x7F",
        std::string(256, 'a') };
    for (const auto& name : bad)
        EXPECT_FALSE(isPlainFileName(name)) << name;
    EXPECT_TRUE(isPlainFileName(std::string(255, 'a')));
}

TEST(ToCrLfTest, EveryLineEndBecomesCrLf)
{
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        { "", "" },
        { "[Languages]", "[Languages]" },
        { "a\nb\n", "a\r\nb\r\n" },
        { "a\r\nb\r\n", "a\r\nb\r\n" },
        { "a\rb\r", "a\r\nb\r\n" },
        { "a\n\rb", "a\r\n\r\nb" },
        { "\r\r\n\n", "\r\n\r\n\r\n" },
        { "x\xE9\n", "x\xE9\r\n" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(toCrLf(row.in), row.out);
}

TEST(ReadWholeFileTest, RefusesWhatIsNotASmallRegularFile)
{
    TempDir dir;
    writeFile(dir / "small", std::string("a\0b", 3));
    writeFile(dir / "big", std::string(101, 'x'));
    EXPECT_EQ(readWholeFile(dir / "small", 100), std::string("a\0b", 3));
    EXPECT_EQ(readWholeFile(dir / "big", 100), std::nullopt);
    EXPECT_EQ(readWholeFile(dir / "missing", 100), std::nullopt);
    EXPECT_EQ(readWholeFile(dir.path(), 100), std::nullopt);
}

class ContentStoreTest : public testing::Test {
protected:
    void SetUp() override
    {
        writeFile(root() / "lang.ini", "[Languages]\nEnglish=english.lng\n");
        writeFile(root() / "modl.ini", "[Modules]\r\nNotes=Notes\r\n");
        writeFile(root() / "version.txt", "1.4\r\n\n");
        writeFile(root() / "secret.txt", "SECRET");
        writeFile(root() / "languages" / "english.lng", "[Texts]\nMainCaption=Vexor\n");
        writeFile(root() / "languages" / "with blank.lng", "[Texts]\r\n");
        writeFile(root() / "banners" / "100001.gif", "GIF89a...");
        writeFile(root() / "banners" / "100001.htm", "<img src=\"100001.gif\">");
        writeFile(root() / "web" / "faq.htm", "<h1>FAQ</h1>");
        fs::create_symlink("../secret.txt", root() / "languages" / "link.lng");
        fs::create_symlink(root() / "secret.txt", root() / "banners" / "200002.gif");
    }

    fs::path root() const { return m_dir / "content"; }

    TempDir m_dir;
};

TEST_F(ContentStoreTest, ListsComeWithCrLf)
{
    const ContentStore store(root());
    EXPECT_EQ(store.languageIndex(), "[Languages]\r\nEnglish=english.lng\r\n");
    EXPECT_EQ(store.moduleList(), "[Modules]\r\nNotes=Notes\r\n");
    EXPECT_EQ(store.languageFile("english.lng"), "[Texts]\r\nMainCaption=Vexor\r\n");
    EXPECT_EQ(store.languageFile("with blank.lng"), "[Texts]\r\n");
}

TEST_F(ContentStoreTest, VersionLosesTrailingLineEnds)
{
    EXPECT_EQ(ContentStore(root()).version(), "1.4");
    writeFile(root() / "version.txt", " 2.0 ");
    EXPECT_EQ(ContentStore(root()).version(), " 2.0 ") << "blanks are the vendor's choice";
}

TEST_F(ContentStoreTest, LanguageFileNeverLeavesItsFolder)
{
    const ContentStore store(root());
    for (const char* name : { "../secret.txt", "..", ".", "", "/etc/passwd", "..\\secret.txt", "languages/../secret.txt",
             "secret.txt", "link.lng", "missing.lng", "english.lng/", "english.lng\n" })
        EXPECT_EQ(store.languageFile(name), std::nullopt) << name;
}

TEST_F(ContentStoreTest, BannersByWellFormedIdOnly)
{
    const ContentStore store(root());
    EXPECT_EQ(store.bannerImage("100001"), "GIF89a...");
    EXPECT_EQ(store.bannerPage("100001"), "<img src=\"100001.gif\">");
    EXPECT_EQ(store.bannerImage("000000"), std::nullopt);
    EXPECT_EQ(store.bannerImage("200002"), std::nullopt) << "a link out of banners/ is not followed";
    for (const char* id : { "", "10000", "1000011", "../sec", "..%2f1", "100001.gif" }) {
        EXPECT_EQ(store.bannerImage(id), std::nullopt) << id;
        EXPECT_EQ(store.bannerPage(id), std::nullopt) << id;
    }
}

TEST_F(ContentStoreTest, MissingFilesGiveNothing)
{
    const ContentStore empty(m_dir / "nowhere");
    EXPECT_EQ(empty.languageIndex(), std::nullopt);
    EXPECT_EQ(empty.moduleList(), std::nullopt);
    EXPECT_EQ(empty.version(), std::nullopt);
    EXPECT_EQ(empty.webPage("faq.htm"), std::nullopt);
    EXPECT_EQ(ContentStore(root()).webPage("faq.htm"), "<h1>FAQ</h1>");
    EXPECT_EQ(ContentStore(root()).webPage("../secret.txt"), std::nullopt);
}

const std::string LineupText = "100001 000000 000000 000000 000000 000000 000000 000000 000000 000000 ";

TEST_F(ContentStoreTest, LineupsInNumberOrder)
{
    writeFile(root() / "lineups" / "10.txt", LineupText + "10");
    writeFile(root() / "lineups" / "2.txt", LineupText + "2");
    writeFile(root() / "lineups" / "1.txt", LineupText + "1");
    // Not line-ups: ignored.
    for (const char* name : { "0.txt", "01.txt", "x.txt", "3.txt.bak", ".txt", "-4.txt", "README" })
        writeFile(root() / "lineups" / name, "garbage");
    const auto load = ContentStore(root()).loadLineups();
    ASSERT_TRUE(load.error.empty()) << load.error;
    ASSERT_EQ(load.lineups.size(), 3u);
    EXPECT_EQ(load.lineups[0].intervalMs, 1u);
    EXPECT_EQ(load.lineups[1].intervalMs, 2u);
    EXPECT_EQ(load.lineups[2].intervalMs, 10u);
}

TEST_F(ContentStoreTest, LineupErrorsNameTheFile)
{
    EXPECT_NE(ContentStore(root()).loadLineups().error.find("no line-up files"), std::string::npos);
    writeFile(root() / "lineups" / "1.txt", LineupText + "1");
    writeFile(root() / "lineups" / "2.txt", LineupText);
    const auto load = ContentStore(root()).loadLineups();
    EXPECT_TRUE(load.lineups.empty());
    EXPECT_NE(load.error.find("2.txt: expected ten banner ids"), std::string::npos) << load.error;
    EXPECT_FALSE(ContentStore(m_dir / "nowhere").loadLineups().error.empty());
}

} // namespace
} // namespace vexor::server
