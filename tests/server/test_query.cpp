#include "query.h"
#include "reports.h"

#include <gtest/gtest.h>

namespace vexor::server {
namespace {

struct QueryCase {
    const char* name;
    std::string target;
    std::vector<QueryPair> expected;
};

class ParseQueryTest : public testing::TestWithParam<QueryCase> { };

TEST_P(ParseQueryTest, SplitsAndDecodes)
{
    EXPECT_EQ(parseQuery(GetParam().target), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Targets, ParseQueryTest,
    testing::Values(
        QueryCase { "NoQuestionMark", "/cgi-bin/script/vexor_parser.pl", {} },
        QueryCase { "EmptyQuery", "/x?", {} },
        QueryCase { "ClientOrder", "/x?A=LANGL&MID=1&MCID=1131&MUID=1&L=English&STARTUP=3&INSTALL=True",
            { { "A", "LANGL" }, { "MID", "1" }, { "MCID", "1131" }, { "MUID", "1" }, { "L", "English" },
                { "STARTUP", "3" }, { "INSTALL", "True" } } },
        QueryCase { "DuplicatesKeptInOrder", "/x?a=2&a=1", { { "a", "2" }, { "a", "1" } } },
        QueryCase { "EmptyPiecesDropped", "/x?&&a=1&&&b=&", { { "a", "1" }, { "b", "" } } },
        QueryCase { "KeyWithoutEquals", "/x?flag&a=1", { { "flag", "" }, { "a", "1" } } },
        QueryCase { "EmptyKey", "/x?=v", { { "", "v" } } },
        QueryCase { "ValueKeepsLaterEquals", "/x?L=Deutsch=deutsch.lng", { { "L", "Deutsch=deutsch.lng" } } },
        QueryCase { "PercentDecoded", "/x?L=Deutsch%20Schweiz&k%41=%41%62", { { "L", "Deutsch Schweiz" }, { "kA", "Ab" } } },
        QueryCase { "BrokenPercentKept", "/x?a=%zz%4&b=%", { { "a", "%zz%4" }, { "b", "%" } } },
        QueryCase { "PlusIsNotBlank", "/x?L=C++", { { "L", "C++" } } },
        QueryCase { "EncodedSeparatorsAreData", "/x?L=a%26b%3Dc", { { "L", "a&b=c" } } },
        QueryCase { "SecondQuestionMarkIsData", "/x?a=?b", { { "a", "?b" } } },
        QueryCase { "HighBytesKept", "/x?L=Fran\xE7" "ais", { { "L", "Fran\xE7" "ais" } } },
        QueryCase { "NulDecoded", "/x?L=a%00b", { { "L", std::string("a\0b", 3) } } }),
    [](const testing::TestParamInfo<QueryCase>& info) { return info.param.name; });

TEST(FindValueTest, FirstExactMatchOrNothing)
{
    const std::vector<QueryPair> pairs { { "a", "lower" }, { "A", "first" }, { "A", "second" } };
    ASSERT_NE(findValue(pairs, "A"), nullptr);
    EXPECT_EQ(*findValue(pairs, "A"), "first");
    EXPECT_EQ(*findValue(pairs, "a"), "lower");
    EXPECT_EQ(findValue(pairs, "B"), nullptr);
    EXPECT_EQ(findValue({}, "A"), nullptr);
}

TEST(EscapeForLogTest, LeavesOnlyPrintableAsciiWithoutBlanks)
{
    const struct {
        std::string in;
        std::string alsoEscape;
        std::string out;
    } rows[] = {
        { "English", "", "English" },
        { "Deutsch Schweiz", "", "Deutsch%20Schweiz" },
        { "100%", "", "100%25" },
        { "a\r\nb\tc", "", "a%0D%0Ab%09c" },
        { "Fran\xE7" "ais\x7F", "", "Fran%E7ais%7F" },
        { std::string("\0", 1), "", "%00" },
        { "k=v", "=", "k%3Dv" },
        { "", "", "" },
    };
    for (const auto& row : rows) {
        const auto escaped = escapeForLog(row.in, row.alsoEscape);
        EXPECT_EQ(escaped, row.out) << row.in;
        EXPECT_EQ(percentDecode(escaped), row.in) << "does not read back: " << escaped;
    }
}

// A banner's name comes from its page's title, and every store keeps it as
// UTF-8 text whatever the page was written in.
TEST(PageTitleTest, IsUtf8WhateverThePageWasWrittenIn)
{
    const struct {
        std::string page, title;
    } rows[] = {
        { "<html><TITLE>Books</Title>", "Books" },
        { "<title>B\xC3\xBC" "cher</title>", "B\xC3\xBC" "cher" },
        { "<title>B\xFC" "cher \x80 \x9F</title>", "B\xC3\xBC" "cher \xE2\x82\xAC \xC5\xB8" },
        { std::string("<title>a\0b\tc</title>", 20), "a b c" },
        { "<title>" + std::string(199, 'a') + "\xC3\xBC</title>", std::string(199, 'a') },
        { "<title>" + std::string(199, 'a') + "\xFC</title>", std::string(199, 'a') + "\xC3\xBC" },
        { "<p>no title</p>", "" },
    };
    for (const auto& row : rows) {
        EXPECT_EQ(pageTitle(row.page), row.title) << row.page;
        EXPECT_TRUE(isUtf8Text(pageTitle(row.page))) << row.page;
    }
}

} // namespace
} // namespace vexor::server
