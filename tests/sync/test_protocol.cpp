#include "sync/protocol.h"

#include "tempdir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>

namespace vexor::sync {
namespace {

constexpr std::string_view Host = "vendor.example:8431";
const ClientIdentity DefaultWho{"1131", "1"};
const std::string Prefix = "http://vendor.example:8431/cgi-bin/script/vexor_parser.pl?A=";

std::array<std::string, 10> emptyIds()
{
    std::array<std::string, 10> ids;
    ids.fill("000000");
    return ids;
}

// ---- URLs -----------------------------------------------------------------

struct UrlCase {
    const char* what;
    std::string url;
    std::string expected;
};

TEST(QueryUrl, EveryActionHasItsPrefixAndKeyOrder)
{
    std::array<std::string, 10> ids = emptyIds();
    ids[1] = "A1b2C3";
    std::array<std::int32_t, 10> counts{};
    counts[0] = 0x3E8;
    counts[9] = 1;
    const UrlCase cases[] = {
        {"LANGL plain", LanglUrl(Host, DefaultWho, "English", 0, false),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=English"},
        {"LANGL count", LanglUrl(Host, DefaultWho, "English", 3, false),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=English&STARTUP=3"},
        {"LANGL install", LanglUrl(Host, DefaultWho, "English", 0, true),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=English&INSTALL=True"},
        {"LANGL both", LanglUrl(Host, DefaultWho, "English", 12, true),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=English&STARTUP=12&INSTALL=True"},
        {"LANGL negative count", LanglUrl(Host, DefaultWho, "English", -4, false),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=English"},
        {"LANGL no language", LanglUrl(Host, DefaultWho, "", 1, false),
         Prefix + "LANGL&MID=1&MCID=1131&MUID=1&L=&STARTUP=1"},
        {"VERSION", VersionUrl(Host, DefaultWho, "Slovensky"),
         Prefix + "VERSION&MID=1&MCID=1131&MUID=1&L=Slovensky"},
        {"MODL", ModlUrl(Host, DefaultWho, "English"), Prefix + "MODL&MID=1&MCID=1131&MUID=1&L=English"},
        {"LCOUNT", LcountUrl(Host, DefaultWho, ids, counts),
         Prefix + "LCOUNT&MID=1&MCID=1131&MUID=1&LOGOIDS=000000A1b2C3" + std::string(48, '0') +
             "&LOG=0003E8" + std::string(48, '0') + "000001&LF=2"},
        {"LOGO", LogoUrl(Host, DefaultWho, "X00001"), Prefix + "LOGO&MID=1&MCID=1131&MUID=1&LOGOID=X00001"},
        {"HTML", HtmlUrl(Host, DefaultWho, "X00001"), Prefix + "HTML&MID=1&MCID=1131&MUID=1&LOGOID=X00001"},
        {"LANGC", LangcUrl(Host, DefaultWho, "english.ini"), Prefix + "LANGC&MID=1&MCID=1131&MUID=1&L=english.ini"},
        {"other identity", VersionUrl(Host, {"ABCDEF-9", "77"}, "English"),
         Prefix + "VERSION&MID=1&MCID=ABCDEF-9&MUID=77&L=English"},
        {"blank encoded", VersionUrl(Host, DefaultWho, "English UK"),
         Prefix + "VERSION&MID=1&MCID=1131&MUID=1&L=English%20UK"},
        {"high bytes encoded as themselves", VersionUrl(Host, DefaultWho, "Fran\xE7" "ais \xC3\xA9"),
         Prefix + "VERSION&MID=1&MCID=1131&MUID=1&L=Fran%E7ais%20%C3%A9"},
        {"delimiters encoded, unreserved kept", LangcUrl(Host, DefaultWho, "a&b=c+d%e#f-g.h_i~j"),
         Prefix + "LANGC&MID=1&MCID=1131&MUID=1&L=a%26b%3Dc%2Bd%25e%23f-g.h_i~j"},
        {"line break cannot end the request line", VersionUrl(Host, DefaultWho, "En\r\nX: 1"),
         Prefix + "VERSION&MID=1&MCID=1131&MUID=1&L=En%0D%0AX:%201"},
        {"only what a URL or a query cannot carry",
         VersionUrl(Host, DefaultWho, "Portugues (Brasil)*!'$,;/?:@\"<>[\\]^`{|}"),
         Prefix + "VERSION&MID=1&MCID=1131&MUID=1&L=Portugues%20(Brasil)*!'$,;/?:@"
                  "%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D"},
        {"NUL and DEL escaped", VersionUrl(Host, {std::string("11\0" "1", 4), "1\x7F"}, "E"),
         Prefix + "VERSION&MID=1&MCID=11%001&MUID=1%7F&L=E"},
        {"update page", UpdatePageUrl("web.example", "1131", "1"),
         "http://web.example/update/index.php?MID=1&MCID=1131&MUID=1"},
        {"host with its scheme", ModlUrl("HTTPS://v.example:8443", DefaultWho, "E"),
         "HTTPS://v.example:8443/cgi-bin/script/vexor_parser.pl?A=MODL&MID=1&MCID=1131&MUID=1&L=E"},
        {"update page over https", UpdatePageUrl("https://web.example", "1131", "1"),
         "https://web.example/update/index.php?MID=1&MCID=1131&MUID=1"},
    };
    for (const UrlCase& c : cases)
        EXPECT_EQ(c.url, c.expected) << c.what;
}

TEST(QueryUrl, EmptySlotsAndZeroCountersFillSixtyCharactersEach)
{
    const std::string url = LcountUrl(Host, DefaultWho, emptyIds(), {});
    EXPECT_NE(url.find("&LOGOIDS=" + std::string(60, '0') + "&LOG=" + std::string(60, '0') + "&LF=2"),
              std::string::npos);
    // The longest request of the protocol with the default identifiers.
    EXPECT_EQ(url.size() - std::string("http://").size() - Host.size(), 202u);
}

TEST(QueryUrl, CountersWidenPastSixDigits)
{
    const struct {
        std::int32_t value;
        const char* text;
    } rows[] = {
        {0, "000000"},         {1, "000001"},       {0xABCDEF, "ABCDEF"}, {0xFFFFFF, "FFFFFF"},
        {0x1000000, "1000000"}, {std::numeric_limits<std::int32_t>::max(), "7FFFFFFF"},
        {-1, "FFFFFFFF"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FormatCounter(row.value), row.text) << row.value;
    std::array<std::int32_t, 10> counts{};
    counts[3] = 0x1234567;
    EXPECT_EQ(FormatCounters(counts).size(), 61u);
}

// ---- VERSION --------------------------------------------------------------

struct VersionCase {
    std::string body;
    bool newer;
    bool parses;
};

TEST(VersionAnswer, NewerOnlyWhenTheWholeBodyIsALargerNumber)
{
    const VersionCase cases[] = {
        {"1.4", true, true},        {"2", true, true},          {" 1.4 ", true, true},
        {"   1.4", true, true},     {"1.31", true, true},       {"1.3", false, true},
        {"1.30", false, true},      {"1.300000000", false, true}, {"1.29", false, true},
        {"0", false, true},         {"1,4", false, false},      {"1.4\n", false, false},
        {"1.4\r\n", false, false},  {"\t1.4", false, false},    {"", false, false},
        {" ", false, false},        {".", false, false},        {"+", false, false},
        {"-", false, false},        {"+1.4", true, true},       {"-1.4", false, true},
        {"-2", false, true},        {"1.4e0", true, true},      {"14E-1", true, true},
        {"13e-1", false, true},     {"1e1", true, true},        {"1e", false, false},
        {"1e+", false, false},      {"1e+1", true, true},       {"1.4.1", false, false},
        {"1..4", false, false},     {".5", false, true},        {"5.", true, true},
        {"1e400", true, true},      {"-1e400", false, true},    {"1e-400", false, true},
        {"0e999999999999", false, true}, {"inf", false, false},  {"nan", false, false},
        {"0x2", false, false},      {"1.4a", false, false},     {"v1.4", false, false},
        {std::string("1.4\0", 4), false, false}, {"\xEF\xBB\xBF" "1.4", false, false},
        {"1 .4", false, false},     {"1.4 1", false, false},    {"++1", false, false},
        {std::string(400, '9'), true, true}, {"0." + std::string(400, '0') + "1", false, true},
    };
    for (const VersionCase& c : cases) {
        EXPECT_EQ(IsNewerVersion(c.body), c.newer) << '"' << c.body << '"';
        EXPECT_EQ(ParseVersionNumber(c.body).has_value(), c.parses) << '"' << c.body << '"';
    }
}

TEST(VersionAnswer, ReadingIgnoresAndKeepsTheProcessLocale)
{
    // A German locale reads "1,4" as a number and would refuse "1.4". The
    // parse must not care, and must not switch the locale for other threads.
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    if (!german)
        german = std::setlocale(LC_NUMERIC, "de_DE");
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    std::thread reader([] {
        for (int i = 0; i < 200; ++i) {
            EXPECT_TRUE(IsNewerVersion("1.4"));
            EXPECT_FALSE(IsNewerVersion("1,4"));
        }
    });
    reader.join();
    EXPECT_EQ(std::setlocale(LC_NUMERIC, nullptr), before);
    std::setlocale(LC_NUMERIC, "C");
}

// ---- LCOUNT ---------------------------------------------------------------

const std::string TenIds = "AAAAA1BBBBB2CCCCC3DDDDD4EEEEE5FFFFF6GGGGG7HHHHH8IIIII9000000";

TEST(CountAnswer, SplitsTenIdentifiersAndAHexadecimalInterval)
{
    const auto answer = ParseCountAnswer(TenIds + "0003E8");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->BannerIds[0], "AAAAA1");
    EXPECT_EQ(answer->BannerIds[4], "EEEEE5");
    EXPECT_EQ(answer->BannerIds[8], "IIIII9");
    EXPECT_EQ(answer->BannerIds[9], "000000");
    EXPECT_EQ(answer->RotationInterval, 1000);
}

TEST(CountAnswer, LengthOtherThanSixtySixMeansNoChange)
{
    const std::string good = TenIds + "002710";
    ASSERT_TRUE(ParseCountAnswer(good));
    const std::string rows[] = {
        "", good.substr(0, 65), good + "0", good + "\r\n", good + "\n", " " + good,
        std::string(66 * 2, '0'), TenIds,
    };
    for (const std::string& body : rows)
        EXPECT_FALSE(ParseCountAnswer(body)) << body.size() << " characters";
}

TEST(CountAnswer, IntervalIsSixHexDigitsOrElseAThousand)
{
    const struct {
        const char* tail;
        std::int32_t interval;
    } rows[] = {
        {"0003E8", 1000},   {"0003e8", 1000}, {"000000", 0},       {"002710", 10000},
        {"FFFFFF", 0xFFFFFF}, {"ffffff", 0xFFFFFF}, {"GHIJKL", 1000}, {"0003E ", 1000},
        {" 003E8", 1000},   {"-003E8", 1000}, {"+003E8", 1000},   {"0x03E8", 1000},
        {"00\xC3\xA9" "E8", 1000},
    };
    for (const auto& row : rows) {
        const auto answer = ParseCountAnswer(TenIds + row.tail);
        ASSERT_TRUE(answer) << row.tail;
        EXPECT_EQ(answer->RotationInterval, row.interval) << row.tail;
    }
}

TEST(CountAnswer, OneHostileIdentifierDiscardsTheWholeAnswer)
{
    const std::string hostile[] = {
        "../../", "..\\..\\", "a/b/cd", "ab\\cde", "abc.de", "......", std::string("abc\0de", 6),
        "abc\nde", "abc\tde", "abc de", "abc\x7F" "de", "ab\xC3\xA9" "de", "ab:cde", "ab?cde",
        "ab#cde", "ab&cde", "ab%2F.", "ab=cde",
    };
    for (const std::string& id : hostile) {
        ASSERT_EQ(id.size(), 6u);
        EXPECT_FALSE(IsSafeBannerId(id)) << id;
        for (std::size_t slot : {0u, 4u, 9u}) {
            std::string body = TenIds + "0003E8";
            body.replace(slot * 6, 6, id);
            EXPECT_FALSE(ParseCountAnswer(body)) << id << " in slot " << slot;
        }
    }
    for (std::string_view id : {"000000", "AbC123", "ab-c_d", "X!~*+@", "(1)[2]"})
        EXPECT_TRUE(IsSafeBannerId(id)) << id;
    EXPECT_FALSE(IsSafeBannerId("12345"));
    EXPECT_FALSE(IsSafeBannerId("1234567"));
}

// ---- First line of a downloaded list --------------------------------------

TEST(HeaderLine, OnlyAnExactFirstLineUpToTheFirstCarriageReturnPasses)
{
    const struct {
        std::string text;
        bool passes;
    } rows[] = {
        {"[Languages]\r\nEnglish=english.ini\r\n", true},
        {"[Languages]", true},
        {"[Languages]\r", true},
        {"[Languages]\rEnglish=english.ini", true},
        {"[languages]\r\n", false},
        {"[LANGUAGES]\r\n", false},
        {" [Languages]\r\n", false},
        {"[Languages] \r\n", false},
        {"\r\n[Languages]\r\n", false},
        {"\xEF\xBB\xBF[Languages]\r\n", false},
        {"[Languages]\nEnglish=english.ini\n", false},
        {"[Languages]\n", false},
        {"", false},
        {"[Languages", false},
        {std::string("[Languages]\0\r\n", 14), false},
        {"<html>404</html>", false},
    };
    testkit::TempDir folder;
    for (const auto& row : rows) {
        EXPECT_EQ(FirstLineIs(row.text, "[Languages]"), row.passes) << row.text;
        folder.write("list.ini", row.text);
        EXPECT_EQ(HasHeaderLine(folder.path() + "list.ini", "[Languages]"), row.passes) << row.text;
    }
    EXPECT_FALSE(HasHeaderLine(folder.path() + "missing.ini", "[Languages]"));
    EXPECT_FALSE(HasHeaderLine(folder.path(), "[Languages]"));  // a folder, not a file
}

TEST(HeaderLine, AVeryLongFirstLineFails)
{
    testkit::TempDir folder;
    folder.write("modl.ini", "[Modules]" + std::string(200000, 'x') + "\r\n");
    EXPECT_FALSE(HasHeaderLine(folder.path() + "modl.ini", "[Modules]"));
}

}  // namespace
}  // namespace vexor::sync
