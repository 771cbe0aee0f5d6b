#include "platform/fileops.h"

#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vexor::platform;
using namespace vexor::testkit;

class FileOps : public testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir((folder / "Languages").c_str(), 0755);
        writeFile(folder / "Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\n");
        ::mkdir((folder / "advs").c_str(), 0755);
    }
    TempDir folder;
};

TEST_F(FileOps, ResolvePathMatchesEachComponentWithoutCase)
{
    const std::string base = folder.path().substr(0, folder.path().size() - 1);  // without its "/"
    const std::pair<std::string, std::string> cases[] = {
        {base + "/Languages/lang.ini", base + "/Languages/lang.ini"},
        {base + "/languages/lang.ini", base + "/Languages/lang.ini"},
        {base + "/LANGUAGES/LANG.INI", base + "/Languages/lang.ini"},
        {base + "/languages/new.lng", base + "/Languages/new.lng"},     // to be created
        {base + "/nothere/Languages", base + "/nothere/Languages"},     // kept as written
        {base + "/languages/", base + "/Languages/"},
        {base + "//languages//lang.ini", base + "/Languages/lang.ini"},
        {base + "/ADVS/../languages/lang.ini", base + "/advs/../Languages/lang.ini"},
        {"", ""},
        {"/", "/"},
    };
    for (const auto& [given, expected] : cases)
        EXPECT_EQ(resolvePath(given), expected) << given;
}

TEST_F(FileOps, ResolvePathPrefersTheExactSpelling)
{
    ::mkdir((folder / "languages").c_str(), 0755);
    EXPECT_EQ(resolvePath(folder / "languages"), folder / "languages");
    EXPECT_EQ(resolvePath(folder / "Languages"), folder / "Languages");
    // Neither spelling exact: the smallest in byte order, every time.
    EXPECT_EQ(resolvePath(folder / "LANGUAGES"), folder / "Languages");
}

TEST_F(FileOps, ResolvePathRelativeToTheCurrentFolder)
{
    char* previous = ::getcwd(nullptr, 0);
    ASSERT_EQ(::chdir(folder.path().c_str()), 0);
    EXPECT_EQ(resolvePath("languages/LANG.ini"), "Languages/lang.ini");
    EXPECT_EQ(resolvePath("./languages"), "./Languages");
    ASSERT_EQ(::chdir(previous), 0);
    std::free(previous);
}

TEST_F(FileOps, FileExistsOnlyForRegularFiles)
{
    EXPECT_TRUE(fileExists(folder / "languages/LANG.INI"));
    EXPECT_FALSE(fileExists(folder / "Languages"));
    EXPECT_FALSE(fileExists(folder / "missing.ini"));
    EXPECT_FALSE(fileExists(""));
}

TEST_F(FileOps, DeleteFile)
{
    writeFile(folder / "advs/000001.gif", "GIF");
    EXPECT_TRUE(deleteFile(folder / "ADVS/000001.GIF"));
    EXPECT_FALSE(fileExists(folder / "advs/000001.gif"));
    EXPECT_FALSE(deleteFile(folder / "advs/000000.gif"));
    EXPECT_FALSE(deleteFile(folder / "advs"));
}

TEST_F(FileOps, RenameNeverReplacesAnExistingTarget)
{
    writeFile(folder / "advs/000002.bak", "new");
    writeFile(folder / "advs/000002.gif", "old");
    EXPECT_FALSE(renameFile(folder / "advs/000002.bak", folder / "advs/000002.gif"));
    EXPECT_EQ(readFile(folder / "advs/000002.gif"), "old");
    EXPECT_EQ(readFile(folder / "advs/000002.bak"), "new");

    EXPECT_TRUE(deleteFile(folder / "advs/000002.gif"));
    EXPECT_TRUE(renameFile(folder / "ADVS/000002.bak", folder / "Advs/000002.gif"));
    EXPECT_EQ(readFile(folder / "advs/000002.gif"), "new");
    EXPECT_FALSE(fileExists(folder / "advs/000002.bak"));

    EXPECT_FALSE(renameFile(folder / "advs/missing.bak", folder / "advs/x.gif"));
    EXPECT_FALSE(fileExists(folder / "advs/x.gif"));
}

TEST_F(FileOps, RenameIntoAFolderSpelledOtherwise)
{
    writeFile(folder / "Languages/lang.inibak", "[Languages]\r\n");
    EXPECT_TRUE(deleteFile(folder / "languages/lang.ini"));
    EXPECT_TRUE(renameFile(folder / "languages/lang.inibak", folder / "languages/lang.ini"));
    EXPECT_EQ(readFile(folder / "Languages/lang.ini"), "[Languages]\r\n");
}

TEST_F(FileOps, ReadFirstLineUpToTheFirstCarriageReturn)
{
    const std::pair<std::string, std::string> cases[] = {
        {"[Languages]\r\nEnglish=e\r\n", "[Languages]"},
        {"[Modules]\rx", "[Modules]"},
        {"[Modules]\nx\r\n", "[Modules]\nx"},  // a LF alone does not end it
        {"no break at all", "no break at all"},
        {"", ""},
        {"\r\n[Languages]", ""},
        {"\xEF\xBB\xBF[Languages]\r\n", "\xEF\xBB\xBF[Languages]"},
        {std::string("a\0b\rc", 5), std::string("a\0b", 3)},
        {std::string(10000, 'x') + "\r", std::string(10000, 'x')},
    };
    for (const auto& [contents, expected] : cases) {
        writeFile(folder / "list.inibak", contents);
        EXPECT_EQ(readFirstLine(folder / "list.inibak"), expected);
    }
}

TEST_F(FileOps, ReadFirstLineLimitsAndFailures)
{
    writeFile(folder / "long", std::string(100, 'y') + "\r\n");
    EXPECT_EQ(readFirstLine(folder / "long", 10), std::string(10, 'y'));
    EXPECT_EQ(readFirstLine(folder / "missing"), "");
    EXPECT_EQ(readFirstLine(folder / "Languages"), "");
    // A FIFO under the file's name must not hang the reader.
    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(readFirstLine(folder / "fifo"), "");
}

TEST_F(FileOps, ReadWholeFile)
{
    std::string contents;
    std::string binary(70000, '\0');
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<char>(i * 7);
    writeFile(folder / "bin", binary);
    EXPECT_TRUE(readWholeFile(folder / "BIN", contents));
    EXPECT_EQ(contents, binary);
    EXPECT_FALSE(readWholeFile(folder / "missing", contents));
    EXPECT_TRUE(contents.empty());
    EXPECT_FALSE(readWholeFile(folder / "advs", contents));
}

TEST_F(FileOps, WriteFileAtomicModes)
{
    ::umask(022);
    EXPECT_TRUE(writeFileAtomic(folder / "new.txt", "one", 0640));
    EXPECT_EQ(readFile(folder / "new.txt"), "one");
    EXPECT_EQ(fileMode(folder / "new.txt"), 0640u);
    ::chmod((folder / "new.txt").c_str(), 0604);
    EXPECT_TRUE(writeFileAtomic(folder / "new.txt", "two", 0600));
    EXPECT_EQ(fileMode(folder / "new.txt"), 0604u);  // an existing file keeps its mode
    EXPECT_EQ(readFile(folder / "new.txt"), "two");
}

TEST_F(FileOps, WriteFileAtomicKeepsASymlinkLinked)
{
    writeFile(folder / "real.ini", "old");
    ASSERT_EQ(::symlink("real.ini", (folder / "link.ini").c_str()), 0);
    EXPECT_TRUE(writeFileAtomic(folder / "link.ini", "new"));
    struct stat st {};
    ASSERT_EQ(::lstat((folder / "link.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(folder / "real.ini"), "new");
}

TEST_F(FileOps, WriteFileAtomicFailuresLeaveNothingBehind)
{
    EXPECT_FALSE(writeFileAtomic(folder / "missing/x.txt", "data"));
    EXPECT_FALSE(writeFileAtomic(folder / "advs", "data"));  // a folder is not replaced
    EXPECT_FALSE(writeFileAtomic("", "data"));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"Languages", "advs"}));
}

// Temporaries that a killed writer left behind go with the next successful
// write of the same file once they are an hour old; a fresh one may belong
// to a write still running, and other files' temporaries are not ours.
TEST_F(FileOps, WriteFileAtomicRemovesStaleTemporariesOfTheSameFile)
{
    auto age = [&](const std::string& name, time_t seconds) {
        const timespec times[2] = {{::time(nullptr) - seconds, 0}, {::time(nullptr) - seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / name).c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << name;
    };
    writeFile(folder / "settings.ini", "old");
    for (const char* name : {".settings.ini.tmp-aB3xYz", ".settings.ini.tmp-Fresh1", ".lang.ini.tmp-aB3xYz",
                             ".settings.ini.tmp-toolong", ".settings.ini.tmp-short"})
        writeFile(folder / name, "partial");
    ASSERT_EQ(::mkdir((folder / ".settings.ini.tmp-Folder").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("settings.ini", (folder / ".settings.ini.tmp-Linked").c_str()), 0);
    for (const char* name : {".settings.ini.tmp-aB3xYz", ".lang.ini.tmp-aB3xYz", ".settings.ini.tmp-toolong",
                             ".settings.ini.tmp-short", ".settings.ini.tmp-Folder", ".settings.ini.tmp-Linked"})
        age(name, 2 * 3600);
    age(".settings.ini.tmp-Fresh1", 30 * 60);

    EXPECT_FALSE(writeFileAtomic(folder / "missing/settings.ini", "new"));
    EXPECT_EQ(folder.names().size(), 10u);  // a failed write sweeps nothing

    ASSERT_TRUE(writeFileAtomic(folder / "settings.ini", "new"));
    EXPECT_EQ(readFile(folder / "settings.ini"), "new");
    EXPECT_EQ(folder.names(),
              (std::vector<std::string>{".lang.ini.tmp-aB3xYz", ".settings.ini.tmp-Folder", ".settings.ini.tmp-Fresh1",
                                        ".settings.ini.tmp-Linked", ".settings.ini.tmp-short",
                                        ".settings.ini.tmp-toolong", "Languages", "advs", "settings.ini"}));
}

TEST(FileNames, PlainFileNames)
{
    const std::pair<std::string, bool> cases[] = {
        {"english.lng", true}, {"Deutsch (Schweiz).lng", true}, {"\xC3\xA9t\xC3\xA9.lng", true},
        {"..lng", true}, {"", false}, {".", false}, {"..", false}, {"../x", false},
        {"a/b", false}, {"a\\b", false}, {"/etc/passwd", false}, {std::string("a\0b", 3), false},
        {"a\nb", false}, {"tab\there", false}, {"del\x7f", false},
    };
    for (const auto& [name, plain] : cases)
        EXPECT_EQ(isPlainFileName(name), plain) << name;
}

TEST(ExecutableDir, IsTheTestBinarysFolder)
{
    std::string dir = executableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), '/');
    EXPECT_EQ(dir.front(), '/');
    EXPECT_TRUE(fileExists(dir + "test_platform_fileops"));
}
