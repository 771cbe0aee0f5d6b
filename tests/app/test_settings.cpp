#include "app/core/settings.h"

#include "platform/exception.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>

using vexor::Constants;
using vexor::WindowSettings;
using vexor::testkit::TempDir;

namespace {

struct IntCase {
    std::string text;
    std::int32_t expected;  // with default -7
};

const IntCase IntCases[] = {
    { "", -7 },
    { "0", 0 },
    { "123", 123 },
    { "-123", -123 },
    { "+5", 5 },
    { "-0", 0 },
    { "0010", 10 },
    { "2147483647", INT_MAX },
    { "2147483648", -7 },
    { "-2147483648", INT_MIN },
    { "-2147483649", -7 },
    { "99999999999999999999", -7 },
    { "$FF", 255 },
    { "$ff", 255 },
    { "$7FFFFFFF", INT_MAX },
    { "$80000000", INT_MIN },
    { "$FFFFFFFF", -1 },
    { "$0000000001", 1 },
    { "$100000000", -7 },
    { "$", -7 },
    { "$G", -7 },
    { "$-1", -7 },
    { "-$1", -7 },
    { "0x10", 16 },
    { "0X1f", 31 },
    { "0x2710", 10000 },
    { "0xFFFFFFFF", -1 },
    { "0x", -7 },
    { "0X", -7 },
    { "0x-1", -7 },
    { "0x0x1", -7 },
    { "x10", -7 },
    { "10s", -7 },
    { "1e3", -7 },
    { "1.5", -7 },
    { "abc", -7 },
    { " 12", -7 },
    { "12 ", -7 },
    { "1 2", -7 },
    { "$ 1", -7 },
    { "0x 1", -7 },
    { "--1", -7 },
    { "+", -7 },
    { "-", -7 },
    { "\xFF", -7 },
    { std::string("1\0" "2", 3), -7 },
};

class SettingsToInt : public testing::TestWithParam<IntCase> {};

TEST_P(SettingsToInt, Converts)
{
    EXPECT_EQ(vexor::settingsToInt(GetParam().text, -7), GetParam().expected) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsToInt, testing::ValuesIn(IntCases));

TEST(SettingsToIntRoundTrip, DecimalTextOfEveryMagnitude)
{
    for (std::int64_t v = INT_MIN; v <= INT_MAX; v += 65537 * 97)
        ASSERT_EQ(vexor::settingsToInt(std::to_string(v), 1), v);
}

TEST(FormatCounter, SixUpperCaseDigits)
{
    struct Row {
        std::int32_t value;
        bool clamp;
        const char* text;
    };
    const Row rows[] = {
        { 0, true, "000000" },      { 255, true, "0000FF" },       { 0xABCDEF, true, "ABCDEF" },
        { 0xFFFFFF, true, "FFFFFF" }, { 0x1000000, true, "FFFFFF" }, { INT_MAX, true, "FFFFFF" },
        { -1, true, "000000" },     { INT_MIN, true, "000000" },   { 0x1000000, false, "1000000" },
        { -1, false, "FFFFFFFF" },  { 10, false, "00000A" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(vexor::formatCounter(row.value, row.clamp), row.text) << row.value << " " << row.clamp;
}

class SettingsFile : public testing::Test {
protected:
    void SetUp() override { vexor::InitializeConstants(m_c, m_dir.path()); }

    void writeSettings(const std::string& body) { m_dir.write("settings.ini", "[Settings]\r\n" + body); }

    WindowSettings read() { return vexor::ReadSettings(m_c); }

    TempDir m_dir;
    Constants m_c;
};

TEST_F(SettingsFile, FirstStartWithoutFile)
{
    m_c.BannerIds[3] = "ABC123";
    m_c.BannerCounts[3] = 9;
    const WindowSettings window = read();
    EXPECT_EQ(window.Language, "");
    EXPECT_EQ(window.Left, 0);
    EXPECT_EQ(window.Top, 0);
    EXPECT_EQ(m_c.Proxy(), vexor::ProxySettings {});
    EXPECT_TRUE(m_c.InstallFlag);
    EXPECT_TRUE(m_c.AutoConnect);
    EXPECT_EQ(m_c.RotationInterval, 10000);
    EXPECT_EQ(m_c.BannerPos, 0);
    EXPECT_EQ(m_c.StartUps, 0);  // the caller makes it 1
    // Without Banners and Logs every slot keeps what it had.
    EXPECT_EQ(m_c.BannerIds[3], "ABC123");
    EXPECT_EQ(m_c.BannerIds[0], "000000");
    EXPECT_EQ(m_c.BannerCounts[3], 9);
    EXPECT_FALSE(std::filesystem::exists(m_dir.path() + "settings.ini"));
}

TEST_F(SettingsFile, OtherSectionsOnlyGiveDefaults)
{
    m_dir.write("settings.ini", "[Other]\r\nRotation=5\r\nInstall=0\r\n");
    read();
    EXPECT_EQ(m_c.RotationInterval, 10000);
    EXPECT_TRUE(m_c.InstallFlag);
}

TEST_F(SettingsFile, ReadsEveryKey)
{
    writeSettings("Language=Cesky\r\nProxyName=proxy.example\r\nProxyPort=3128\r\nProxyUser=me\r\n"
                  "ProxyPass=se=cr;et\r\nInstall=0\r\nAutoConnect=0\r\n"
                  "Banners=AAAAA1BBBBB2CCCCC3DDDDD4EEEEE5FFFFF6GGGGG7HHHHH8IIIII9JJJJJ0\r\n"
                  "Logs=" "000001" "000002" "00000a" "0000FF" "100000" "000000" "000000" "000000" "000000" "FFFFFF"
                  "\r\n"
                  "Rotation=20000\r\nBannerPocitadlo=4\r\nStartUps=3\r\nLeft=-20\r\nTop=300\r\n");
    const WindowSettings window = read();
    EXPECT_EQ(window.Language, "Cesky");
    EXPECT_EQ(m_c.Proxy(), (vexor::ProxySettings { "proxy.example", 3128, "me", "se=cr;et" }));
    EXPECT_FALSE(m_c.InstallFlag);
    EXPECT_FALSE(m_c.AutoConnect);
    EXPECT_EQ(m_c.BannerIds[0], "AAAAA1");
    EXPECT_EQ(m_c.BannerIds[9], "JJJJJ0");
    const std::array<std::int32_t, 10> counts { 1, 2, 10, 255, 0x100000, 0, 0, 0, 0, 0xFFFFFF };
    EXPECT_EQ(m_c.BannerCounts, counts);
    EXPECT_EQ(m_c.RotationInterval, 20000);
    EXPECT_EQ(m_c.BannerPos, 4);
    EXPECT_EQ(m_c.StartUps, 3);
    EXPECT_EQ(window.Left, -20);
    EXPECT_EQ(window.Top, 300);
}

TEST_F(SettingsFile, IntegerKeys)
{
    struct Row {
        const char* text;
        std::int32_t rotation;
    };
    const Row rows[] = { { "0x1F40", 8000 }, { "$1F40", 8000 }, { "10s", 10000 }, { "", 10000 },
                         { "0", 0 },         { "-5", -5 },      { "  250  ", 250 } };
    for (const Row& row : rows) {
        writeSettings(std::string("Rotation=") + row.text + "\r\n");
        read();
        EXPECT_EQ(m_c.RotationInterval, row.rotation) << row.text;
    }
}

TEST_F(SettingsFile, Booleans)
{
    struct Row {
        const char* text;
        bool value;
    };
    const Row rows[] = { { "1", true }, { "0", false }, { "2", true }, { "-1", true }, { "$0", false },
                         { "yes", true }, { "", true } };
    for (const Row& row : rows) {
        writeSettings(std::string("Install=") + row.text + "\r\nAutoConnect=" + row.text + "\r\n");
        read();
        EXPECT_EQ(m_c.InstallFlag, row.value) << row.text;
        EXPECT_EQ(m_c.AutoConnect, row.value) << row.text;
    }
}

TEST_F(SettingsFile, LanguageIsJustAValue)
{
    writeSettings("Language=Klingon\r\n");
    EXPECT_EQ(read().Language, "Klingon");
}

TEST_F(SettingsFile, ShortBannersFillWholeChunksOnly)
{
    m_c.BannerIds.fill("KEPT00");
    writeSettings("Banners=AAAAAABBBBBBCCCC\r\n");
    read();
    EXPECT_EQ(m_c.BannerIds[0], "AAAAAA");
    EXPECT_EQ(m_c.BannerIds[1], "BBBBBB");
    for (int i = 2; i < 10; ++i)
        EXPECT_EQ(m_c.BannerIds[i], "KEPT00") << i;
}

TEST_F(SettingsFile, BannersTakeBytesAsTheyStand)
{
    // Six bytes each, whatever they are; a long value is cut after ten chunks.
    writeSettings("Banners=\xC3\xA9\xC3\xA9\xC3\xA9" "a;b=c!" + std::string(60, '1') + "\r\n");
    read();
    EXPECT_EQ(m_c.BannerIds[0], "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(m_c.BannerIds[1], "a;b=c!");
    EXPECT_EQ(m_c.BannerIds[9], "111111");
}

TEST_F(SettingsFile, LogsWithBadChunks)
{
    m_c.BannerCounts.fill(5);
    writeSettings("Logs=000001000002GHIJKL+00001 0000100x001-00001000009000010\r\n");
    read();
    const std::array<std::int32_t, 10> counts { 1, 2, 0, 0, 0, 0, 0, 9, 16, 5 };
    EXPECT_EQ(m_c.BannerCounts, counts);
}

TEST_F(SettingsFile, RoundTrip)
{
    m_c.SetProxy({ "proxy.example", 8080, "user", "p=a;ss[x]" });
    m_c.InstallFlag = false;
    m_c.AutoConnect = true;
    for (int i = 0; i < 10; ++i) {
        m_c.BannerIds[i] = "00000" + std::to_string(i);
        m_c.BannerCounts[i] = i * 1000;
    }
    m_c.BannerCounts[4] = 0x1000000;  // beyond six digits
    m_c.BannerCounts[5] = -3;
    m_c.RotationInterval = 15000;
    m_c.BannerPos = 7;
    m_c.StartUps = 5;
    vexor::WriteSettings(m_c, { "English", -5, 40 });

    Constants back;
    vexor::InitializeConstants(back, m_dir.path());
    const WindowSettings window = vexor::ReadSettings(back);
    EXPECT_EQ(window.Language, "English");
    EXPECT_EQ(window.Left, -5);
    EXPECT_EQ(window.Top, 40);
    EXPECT_EQ(back.Proxy(), m_c.Proxy());
    EXPECT_FALSE(back.InstallFlag);
    EXPECT_TRUE(back.AutoConnect);
    EXPECT_EQ(back.BannerIds, m_c.BannerIds);
    EXPECT_EQ(back.BannerCounts[3], 3000);
    EXPECT_EQ(back.BannerCounts[4], 0xFFFFFF);
    EXPECT_EQ(back.BannerCounts[5], 0);
    EXPECT_EQ(back.RotationInterval, 15000);
    EXPECT_EQ(back.BannerPos, 7);
    EXPECT_EQ(back.StartUps, 5);
}

TEST_F(SettingsFile, WritesKeysInOrder)
{
    vexor::WriteSettings(m_c, {});
    const std::string text = m_dir.read("settings.ini");
    const char* keys[] = { "Language",  "ProxyName", "ProxyPort", "ProxyUser",       "ProxyPass",
                           "Install",   "AutoConnect", "Banners", "Logs",            "Rotation",
                           "BannerPocitadlo", "StartUps", "Left", "Top" };
    std::size_t last = text.find("[Settings]");
    ASSERT_NE(last, std::string::npos);
    for (const char* key : keys) {
        const std::size_t at = text.find("\n" + std::string(key) + "=", last);
        ASSERT_NE(at, std::string::npos) << key;
        last = at;
    }
    EXPECT_NE(text.find("\nBanners=" + std::string(60, '0')), std::string::npos);
    EXPECT_NE(text.find("\nLogs=" + std::string(60, '0')), std::string::npos);
    EXPECT_NE(text.find("\nInstall=0"), std::string::npos);
    EXPECT_NE(text.find("\nStartUps=1"), std::string::npos);
}

TEST_F(SettingsFile, StartUpsAcrossRuns)
{
    // A run without a completed sync counts on; a completed sync saves 0.
    read();
    m_c.StartUps += 1;
    vexor::WriteSettings(m_c, {});
    read();
    EXPECT_EQ(m_c.StartUps, 1);
    m_c.StartUps += 1;
    vexor::WriteSettings(m_c, {});
    read();
    EXPECT_EQ(m_c.StartUps, 2);
    m_c.StartUps = 0;
    vexor::WriteSettings(m_c, {});
    read();
    EXPECT_EQ(m_c.StartUps, 0);
}

TEST_F(SettingsFile, KeepsForeignKeysAndSections)
{
    m_dir.write("settings.ini", "[Mine]\r\nA=1\r\n[Settings]\r\nExtra=keep\r\nRotation=1\r\n");
    vexor::WriteSettings(m_c, {});
    const std::string text = m_dir.read("settings.ini");
    EXPECT_NE(text.find("[Mine]"), std::string::npos);
    EXPECT_NE(text.find("Extra=keep"), std::string::npos);
    EXPECT_EQ(text.find("Rotation=1\r"), std::string::npos);
}

TEST_F(SettingsFile, LongTextIsCut)
{
    writeSettings("ProxyName=" + std::string(3000, 'n') + "\r\n");
    read();
    EXPECT_EQ(m_c.Proxy().ProxyName, std::string(2047, 'n'));
}

TEST_F(SettingsFile, WriteFailureNamesTheFile)
{
    m_dir.write("plainfile", "x");
    vexor::InitializeConstants(m_c, m_dir.path() + "plainfile/");
    try {
        vexor::WriteSettings(m_c, {});
        FAIL() << "no error";
    } catch (const vexor::Exception& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + m_dir.path() + "plainfile/settings.ini");
    }
}

}  // namespace
