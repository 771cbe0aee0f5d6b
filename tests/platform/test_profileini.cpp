#include "platform/profileini.h"

#include "platform/exception.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vexor::platform;
using namespace vexor::testkit;

namespace {

struct ReadCase {
    const char* what;
    std::string contents;
    std::string section;
    std::string key;
    std::string expected;  // with default "<def>"
};

const std::vector<ReadCase> readCases = {
    {"plain", "[S]\nk=v\n", "S", "k", "v"},
    {"names ignore case", "[SeTTings]\nLanguage=en\n", "settings", "LANGUAGE", "en"},
    {"blanks trimmed", "[S]\n  k \t=   a b \t\n", "S", "k", "a b"},
    {"lookup names trimmed", "[S]\nk=v\n", " S ", " k\t", "v"},
    {"CR LF", "[S]\r\nk=v\r\nj=w\r\n", "S", "j", "w"},
    {"CR alone", "[S]\rk=v\rj=w", "S", "j", "w"},
    {"byte-order mark", "\xEF\xBB\xBF[S]\nk=v\n", "S", "k", "v"},
    {"no line break at end", "[S]\nk=v", "S", "k", "v"},
    {"empty file", "", "S", "k", "<def>"},
    {"missing section", "[T]\nk=v\n", "S", "k", "<def>"},
    {"missing key", "[S]\nj=v\n", "S", "k", "<def>"},
    {"key of another section", "[S]\nj=1\n[T]\nk=2\n", "S", "k", "<def>"},
    {"key before any section", "k=v\n[S]\n", "S", "k", "<def>"},
    {"duplicate sections searched", "[S]\na=1\n[T]\nk=0\n[S]\nk=2\n", "S", "k", "2"},
    {"duplicate keys: first wins", "[S]\nk=1\nK=2\n", "S", "k", "1"},
    {"comment line", "[S]\n;k=v\n", "S", "k", "<def>"},
    {"indented comment", "[S]\n  ; k=v\n", "S", "k", "<def>"},
    {"missing separator", "[S]\nk v\n", "S", "k", "<def>"},
    {"equals in value", "[S]\nk=a=b\n", "S", "k", "a=b"},
    {"empty value is not the default", "[S]\nk=\n", "S", "k", ""},
    {"blank value", "[S]\nk=   \n", "S", "k", ""},
    {"bytes above 127", "[S\xE9]\nk\xFF=\xC3\xA9\x80\n", "S\xE9", "k\xFF", "\xC3\xA9\x80"},
    {"NUL in value", std::string("[S]\nk=a\0b\n", 10), "S", "k", std::string("a\0b", 3)},
    {"header without ]", "[S\nk=v\n", "S", "k", "<def>"},
    {"blanks inside brackets", "[ S ]\nk=v\n", "S", "k", "v"},
    {"text after ]", "[S] ; note\nk=v\n", "S", "k", "v"},
    {"bracket in section name", "[a]b]\nk=v\n", "a]b", "k", "v"},
    {"quotes are kept", "[S]\nk=\"v\"\n", "S", "k", "\"v\""},
    {"empty key name", "[S]\n=v\n", "S", "", "<def>"},
    {"overlong line", "[S]\nk=" + std::string(100000, 'x') + "\n", "S", "k", std::string(2047, 'x')},
    {"exactly 2047", "[S]\nk=" + std::string(2047, 'y') + "\n", "S", "k", std::string(2047, 'y')},
};

class ProfileRead : public testing::TestWithParam<ReadCase> {};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.what;
}

}  // namespace

TEST_P(ProfileRead, ReadsLikeThePlatform)
{
    const ReadCase& c = GetParam();
    EXPECT_EQ(profileReadIn(c.section, c.key, "<def>", c.contents), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRead, testing::ValuesIn(readCases));

TEST(ProfileReadDefault, TrailingBlanksRemovedAndCut)
{
    EXPECT_EQ(profileReadIn("S", "k", "def \t ", ""), "def");
    EXPECT_EQ(profileReadIn("S", "k", " def", ""), " def");
    EXPECT_EQ(profileReadIn("S", "k", std::string(3000, 'd'), "").size(), ProfileBufferSize - 1);
}

namespace {

struct WriteCase {
    const char* what;
    std::string contents;
    std::string section;
    std::string key;
    std::string value;
    std::string expected;
};

const std::vector<WriteCase> writeCases = {
    {"new file: CR LF", "", "S", "k", "v", "[S]\r\nk=v\r\n"},
    {"update keeps everything else", "; top\n[S]\nA = 1\n; c\nB=2\n\n[T]\nA=3\n", "s", "a", "9",
     "; top\n[S]\nA =9\n; c\nB=2\n\n[T]\nA=3\n"},
    {"new key after the section's last key", "[S]\na=1\n\n[T]\nb=2\n", "S", "c", "3",
     "[S]\na=1\nc=3\n\n[T]\nb=2\n"},
    {"new key in an empty section", "[S]\n[T]\n", "S", "k", "v", "[S]\nk=v\n[T]\n"},
    {"header without line break", "[S]", "S", "k", "v", "[S]\r\nk=v\r\n"},
    {"new section at the end", "[S]\na=1\n", "T", "b", "2", "[S]\na=1\n\n[T]\nb=2\n"},
    {"new section, no final break", "[S]\na=1", "T", "b", "2", "[S]\na=1\n\n[T]\nb=2\n"},
    {"update, no final break", "[S]\na=1", "S", "a", "22", "[S]\na=22"},
    {"CR LF kept", "[S]\r\na=1\r\n", "S", "b", "2", "[S]\r\na=1\r\nb=2\r\n"},
    {"CR LF new section", "[S]\r\na=1\r\n", "T", "b", "2", "[S]\r\na=1\r\n\r\n[T]\r\nb=2\r\n"},
    {"byte-order mark kept", "\xEF\xBB\xBF[S]\na=1\n", "S", "a", "2", "\xEF\xBB\xBF[S]\na=2\n"},
    {"first of duplicate keys", "[S]\nk=1\nk=2\n", "S", "K", "3", "[S]\nk=3\nk=2\n"},
    {"line breaks in the value", "", "S", "k", std::string("a\r\nb\0c", 6), "[S]\r\nk=a  b c\r\n"},
    {"names stored trimmed", "", " S ", " k ", "v", "[S]\r\nk=v\r\n"},
    {"comment that looks like the key", "[S]\n;k=1\n", "S", "k", "2", "[S]\nk=2\n;k=1\n"},
    {"blanks in value written as given", "", "S", "k", " v ", "[S]\r\nk= v \r\n"},
};

class ProfileWrite : public testing::TestWithParam<WriteCase> {};

void PrintTo(const WriteCase& c, std::ostream* out)
{
    *out << c.what;
}

}  // namespace

TEST_P(ProfileWrite, ChangesOnlyTheKey)
{
    const WriteCase& c = GetParam();
    EXPECT_EQ(profileWriteIn(c.section, c.key, c.value, c.contents), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileWrite, testing::ValuesIn(writeCases));

TEST(ProfileWriteNames, NamesTheFileCannotHoldAreRefused)
{
    for (const std::string& key : {std::string(""), std::string("  "), std::string("a=b"),
                                   std::string(";k"), std::string("[k"), std::string("a\nb")}) {
        EXPECT_THROW(profileWriteIn("S", key, "v", ""), vexor::Exception) << key;
    }
    EXPECT_THROW(profileWriteIn("", "k", "v", ""), vexor::Exception);
    EXPECT_THROW(profileWriteIn("S\nT", "k", "v", ""), vexor::Exception);
}

// Every other key of a hostile file reads the same after a write, and the
// written key reads back (trimmed, as the platform reads it).
TEST(ProfileWriteRoundTrip, OtherKeysUntouchedAndValueReadsBack)
{
    const std::string files[] = {
        "",
        "[Settings]\nLanguage=English\nProxyPort=8080\n[Other]\nLanguage=x\n",
        "\xEF\xBB\xBF; comment\r\n[settings]\r\nlanguage = German \r\n\r\n[Settings]\r\nProxyPort=1",
        "[Settings\nLanguage=broken header\n[Other]\nProxyPort=2\n",
        "Language=outside\n[Settings]\n[Other]\n",
        "[Settings]\rLanguage=\xFF\xFE\rProxyPort=\r",
    };
    const std::pair<std::string, std::string> keys[] = {
        {"Settings", "Language"}, {"Settings", "ProxyPort"}, {"Other", "Language"},
        {"Other", "ProxyPort"}, {"Settings", "New"}};
    const std::string values[] = {"", "plain", "  padded  ", std::string(3000, 'z'), "a=b;c[d]", "\xC3\xA9"};
    for (const std::string& file : files) {
        for (const auto& [section, key] : keys) {
            for (const std::string& value : values) {
                std::string updated = profileWriteIn(section, key, value, file);
                std::string expected = value.substr(value.find_first_not_of(' ') == std::string::npos
                                                        ? value.size() : value.find_first_not_of(' '));
                expected.erase(expected.find_last_not_of(' ') + 1);
                EXPECT_EQ(profileReadIn(section, key, "<def>", updated), expected.substr(0, 2047));
                for (const auto& [otherSection, otherKey] : keys) {
                    if (otherSection == section && otherKey == key)
                        continue;
                    EXPECT_EQ(profileReadIn(otherSection, otherKey, "<def>", updated),
                              profileReadIn(otherSection, otherKey, "<def>", file))
                        << otherSection << "/" << otherKey << " after writing " << section << "/" << key;
                }
            }
        }
    }
}

TEST(ProfileFile, MissingFileReadsDefaultAndWriteCreatesItPrivate)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    EXPECT_EQ(profileReadString("Settings", "ProxyPass", "none", file), "none");
    ::umask(022);
    profileWriteString("Settings", "ProxyPass", "secret", file);
    EXPECT_EQ(fileMode(file), 0600u);
    EXPECT_EQ(profileReadString("settings", "proxypass", "", file), "secret");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.ini"});
}

TEST(ProfileFile, ExistingModeKept)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    writeFile(file, "[Settings]\nA=1\n");
    ::chmod(file.c_str(), 0640);
    profileWriteString("Settings", "A", "2", file);
    EXPECT_EQ(fileMode(file), 0640u);
    EXPECT_EQ(readFile(file), "[Settings]\nA=2\n");
}

TEST(ProfileFile, FileFoundUnderAnotherCaseOfItsFolder)
{
    TempDir folder;
    ::mkdir((folder / "Languages").c_str(), 0755);
    writeFile(folder / "Languages/lang.ini", "[Languages]\nEnglish=english.lng\n");
    EXPECT_EQ(profileReadString("Languages", "English", "", folder / "languages/LANG.ini"), "english.lng");
    profileWriteString("Languages", "German", "german.lng", folder / "languages/lang.ini");
    EXPECT_EQ(readFile(folder / "Languages/lang.ini"), "[Languages]\nEnglish=english.lng\nGerman=german.lng\n");
}

TEST(ProfileFile, MissingFolderRaisesWithThePath)
{
    TempDir folder;
    std::string file = folder / "nowhere/settings.ini";
    try {
        profileWriteString("Settings", "A", "1", file);
        FAIL() << "no exception";
    } catch (const vexor::Exception& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + file);
    }
}

// Root writes anywhere, so as root the write runs in a child that has
// dropped to the "nobody" user.
TEST(ProfileFile, ReadOnlyFolderLeavesOldFileAndNoTemporary)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    writeFile(file, "[Settings]\nA=1\n");
    ::chmod(file.c_str(), 0644);
    ::chmod(folder.path().c_str(), 0555);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        try {
            profileWriteString("Settings", "A", "2", file);
        } catch (const vexor::Exception& error) {
            ::_exit(std::string(error.what()) == "Unable to write to " + file ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(folder.path().c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(file), "[Settings]\nA=1\n");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.ini"});
}

// A write that fails after the temporary file was created (here: the file
// size limit stops it halfway) raises, removes the temporary and leaves the
// old file whole. Runs in a child so the limit does not touch the test runner.
TEST(ProfileFile, FailedWriteMidwayLeavesOldFile)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    std::string old = "[Settings]\nA=" + std::string(100, 'o') + "\n";
    writeFile(file, old);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            profileWriteString("Settings", "A", std::string(10000, 'n'), file);
        } catch (const vexor::Exception& error) {
            ::_exit(std::string(error.what()) == "Unable to write to " + file ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"settings.ini"});
}

// A writer killed at any moment leaves either the old or the new file.
TEST(ProfileFile, KillDuringWritesNeverLeavesATruncatedFile)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    const std::string big = std::string(200000, 'a');
    profileWriteString("Settings", "V", big, file);
    std::size_t expectedSize = readFile(file).size();
    for (int round = 0; round < 15; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            ::write(ready[1], "x", 1);
            for (int i = 0;; ++i)
                profileWriteString("Settings", "V", std::string(big.size(), i % 2 ? 'b' : 'c'), file);
        }
        ::close(ready[1]);
        char byte;
        ::read(ready[0], &byte, 1);
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(500 + round * 700));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        std::string text = readFile(file);
        ASSERT_EQ(text.size(), expectedSize) << "round " << round;
        std::string value = profileReadString("Settings", "V", "", file);
        ASSERT_EQ(value.size(), 2047u);
        EXPECT_EQ(value.find_first_not_of(value[0]), std::string::npos);
    }
}

TEST(ProfileFile, UnchangedWriteDoesNotRewrite)
{
    TempDir folder;
    std::string file = folder / "settings.ini";
    writeFile(file, "[Settings]\nA=1\n");
    struct stat before {};
    ::stat(file.c_str(), &before);
    profileWriteString("Settings", "A", "1", file);
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
}
