#include "sync/cachefiles.h"

#include "tempdir.h"

#include <gtest/gtest.h>

#include <string>

namespace vexor::sync {

using testkit::TempDir;
namespace {

TEST(CacheFileNames, AreFolderPlusName)
{
    EXPECT_EQ(ListTempFile("/p/Languages/lang.ini"), "/p/Languages/lang.inibak");
    EXPECT_EQ(ImageFile("/p/advs/", "AB12CD"), "/p/advs/AB12CD.gif");
    EXPECT_EQ(ImageTempFile("/p/advs/", "AB12CD"), "/p/advs/AB12CD.bak");
    EXPECT_EQ(PageFile("/p/advs/", 0), "/p/advs/0.htm");
    EXPECT_EQ(PageFile("/p/advs/", 9), "/p/advs/9.htm");
    EXPECT_NE(PageTempFile("/p/advs/", 3), PageFile("/p/advs/", 3));
}

TEST(LanguageList, FileNamesThatLeaveTheFolderAreRefused)
{
    const struct {
        std::string text;
        bool safe;
    } rows[] = {
        {"[Languages]\r\nEnglish=english.ini\r\nDeutsch=deutsch.ini\r\n", true},
        {"[Languages]\r\nFran\xE7" "ais=fran\xE7" "ais.ini\r\n", true},
        {"[Languages]\r\nEnglish=\r\n", true},
        {"[Languages]\r\nno equals sign\r\n", true},
        {"[Languages]\r\nA=b=c.ini\r\n", true},
        {"[Languages]\r\n;Evil=../x.ini\r\n", true},
        {"[Other]\r\nEvil=../x.ini\r\n[Languages]\r\nEnglish=english.ini\r\n", true},
        {"", true},
        {"[Languages]\r\nEvil=../../x.ini\r\n", false},
        {"[Languages]\r\nEvil=/etc/passwd\r\n", false},
        {"[Languages]\r\nEvil=..\\x.ini\r\n", false},
        {"[Languages]\r\nEvil=..\r\n", false},
        {"[Languages]\r\nEvil=.\r\n", false},
        {"[Languages]\nEvil=sub/x.ini\n", false},
        {"[Languages]\rEvil=sub/x.ini", false},
        {"[Languages]\r\nEvil=x\tini\r\n", false},
        {std::string("[Languages]\r\nEvil=x\0.ini\r\n", 27), false},
        {"[Languages]\r\nEnglish=english.ini\r\n[languages]\r\nEvil=../x\r\n", false},
        {"[Languages]\r\nEnglish=english.ini\r\nEvil = a/b", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LanguageListNamesAreSafe(row.text), row.safe) << row.text;
}

class ListReplacement : public ::testing::Test {
protected:
    TempDir folder{"app", {"Languages", "advs", "modules"}};
    std::string langIndex() const { return folder.path() + "Languages/lang.ini"; }
    std::string modulesList() const { return folder.path() + "modules/modl.ini"; }
};

TEST_F(ListReplacement, AcceptedListReplacesTheLiveFile)
{
    folder.write("Languages/lang.ini", "[Languages]\r\nEnglish=english.ini\r\n");
    folder.write("Languages/lang.inibak", "[Languages]\r\nEnglish=english.ini\r\nDeutsch=deutsch.ini\r\n");
    EXPECT_TRUE(ReplaceLanguageList(langIndex()));
    EXPECT_EQ(folder.read("Languages/lang.ini"), "[Languages]\r\nEnglish=english.ini\r\nDeutsch=deutsch.ini\r\n");
    EXPECT_FALSE(folder.exists("Languages/lang.inibak"));

    folder.write("modules/modl.inibak", "[Modules]\r\n1=Notes\r\n");
    EXPECT_TRUE(ReplaceModuleList(modulesList()));  // no live file before
    EXPECT_EQ(folder.read("modules/modl.ini"), "[Modules]\r\n1=Notes\r\n");
}

TEST_F(ListReplacement, RejectedListStaysUnderItsTemporaryName)
{
    const std::string live = "[Languages]\r\nEnglish=english.ini\r\n";
    for (const std::string bad : {"[languages]\r\nEnglish=english.ini\r\n", "<html>Not found</html>",
                                  "[Languages]\nEnglish=english.ini\n", "",
                                  "[Languages]\r\nEvil=../../settings.ini\r\n"}) {
        folder.write("Languages/lang.ini", live);
        folder.write("Languages/lang.inibak", bad);
        EXPECT_FALSE(ReplaceLanguageList(langIndex())) << bad;
        EXPECT_EQ(folder.read("Languages/lang.ini"), live);
        EXPECT_EQ(folder.read("Languages/lang.inibak"), bad);
    }
    folder.write("modules/modl.ini", "[Modules]\r\n1=Notes\r\n");
    folder.write("modules/modl.inibak", "[Languages]\r\n");
    EXPECT_FALSE(ReplaceModuleList(modulesList()));
    EXPECT_EQ(folder.read("modules/modl.ini"), "[Modules]\r\n1=Notes\r\n");
}

TEST_F(ListReplacement, MissingDownloadLeavesTheLiveFile)
{
    folder.write("modules/modl.ini", "[Modules]\r\n1=Clock\r\n");
    EXPECT_FALSE(ReplaceModuleList(modulesList()));
    EXPECT_EQ(folder.read("modules/modl.ini"), "[Modules]\r\n1=Clock\r\n");
}

TEST_F(ListReplacement, FolderNameIsMatchedWithoutRegardToCase)
{
    // The installation spells the folder "Languages"; the code may say "languages".
    folder.write("Languages/lang.inibak", "[Languages]\r\nEnglish=english.ini\r\n");
    EXPECT_TRUE(ReplaceLanguageList(folder.path() + "languages/lang.ini"));
    EXPECT_TRUE(folder.exists("Languages/lang.ini"));
}

class SlotFiles : public ::testing::Test {
protected:
    TempDir folder{"app", {"Languages", "advs", "modules"}};
    std::string advs() const { return folder.path() + "advs/"; }
};

TEST_F(SlotFiles, RefillMovesTheDownloadOverAnOlderImageOfTheSameName)
{
    folder.write("advs/OLD001.gif", "old");
    folder.write("advs/NEW001.gif", "stale image of an earlier banner");
    folder.write("advs/NEW001.bak", "fresh");
    PutImageInPlace(advs(), "OLD001", "NEW001");
    EXPECT_FALSE(folder.exists("advs/OLD001.gif"));
    EXPECT_FALSE(folder.exists("advs/NEW001.bak"));
    EXPECT_EQ(folder.read("advs/NEW001.gif"), "fresh");
}

TEST_F(SlotFiles, EmptiedSlotLosesOnlyItsImage)
{
    folder.write("advs/OLD001.gif", "old");
    folder.write("advs/3.htm", "page");
    RemoveSlotImage(advs(), "OLD001");
    RemoveSlotImage(advs(), "000000");  // nothing to delete: no error either
    EXPECT_FALSE(folder.exists("advs/OLD001.gif"));
    EXPECT_EQ(folder.read("advs/3.htm"), "page");
}

TEST_F(SlotFiles, DamagedIdentifierIsNeverJoinedToTheFolder)
{
    // "../vic" + ".gif" in the banner folder names the program folder's vic.gif.
    folder.write("vic.gif", "outside the banner folder");
    folder.write("advs/NEW001.bak", "fresh");
    PutImageInPlace(advs(), "../vic", "NEW001");
    RemoveSlotImage(advs(), "../vic");
    EXPECT_EQ(folder.read("vic.gif"), "outside the banner folder");
    EXPECT_EQ(folder.read("advs/NEW001.gif"), "fresh");

    folder.write("vic.bak", "planted");
    PutImageInPlace(advs(), "000000", "../vic");
    EXPECT_EQ(folder.read("vic.gif"), "outside the banner folder");
    EXPECT_EQ(folder.read("vic.bak"), "planted");
}

TEST_F(SlotFiles, PageIsReplacedOnlyByACompleteDownload)
{
    folder.write("advs/4.htm", "old page");
    EXPECT_FALSE(PutPageInPlace(advs(), 4));  // nothing downloaded
    EXPECT_EQ(folder.read("advs/4.htm"), "old page");

    folder.write("advs/4.htm.new", "half a pa");
    DiscardPageTemp(advs(), 4);
    EXPECT_EQ(folder.read("advs/4.htm"), "old page");
    EXPECT_FALSE(folder.exists("advs/4.htm.new"));

    folder.write("advs/4.htm.new", "new page");
    EXPECT_TRUE(PutPageInPlace(advs(), 4));
    EXPECT_EQ(folder.read("advs/4.htm"), "new page");
    EXPECT_FALSE(folder.exists("advs/4.htm.new"));
}

}  // namespace
}  // namespace vexor::sync
