#include "lineup.h"
#include "lineupchoice.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

namespace vexor::server {
namespace {

Lineup lineupOf(std::initializer_list<const char*> ids, std::uint32_t interval)
{
    Lineup lineup;
    int slot = 0;
    for (const char* id : ids)
        lineup.ids[slot++] = id;
    for (; slot < SlotCount; ++slot)
        lineup.ids[slot] = "000000";
    lineup.intervalMs = interval;
    return lineup;
}

const std::string TenIds = "100001 100002 100003 100004 100005 100006 000000 000000 000000 000000";

struct GoodCase {
    const char* name;
    std::string text;
    Lineup expected;
};

class ParseLineupGoodTest : public testing::TestWithParam<GoodCase> { };

TEST_P(ParseLineupGoodTest, Reads)
{
    const auto parsed = parseLineup(GetParam().text);
    ASSERT_TRUE(parsed.lineup) << parsed.error;
    EXPECT_EQ(*parsed.lineup, GetParam().expected);
    EXPECT_TRUE(parsed.error.empty());
}

const Lineup Six = lineupOf({ "100001", "100002", "100003", "100004", "100005", "100006" }, 5000);

INSTANTIATE_TEST_SUITE_P(Texts, ParseLineupGoodTest,
    testing::Values(GoodCase { "OneLine", TenIds + " 5000", Six },
        GoodCase { "CommentsAndLines", "# slots\n100001 100002 100003 100004 100005\n100006 000000 000000 000000 000000 # tail\n#interval\n5000\n", Six },
        GoodCase { "CrLfAndTabs", "100001\t100002\r\n100003 100004 100005 100006 000000 000000 000000 000000\r\n5000\r\n", Six },
        GoodCase { "ByteOrderMark", "\xEF\xBB\xBF" + TenIds + " 5000", Six },
        GoodCase { "CommentGluedToValue", TenIds + " 5000#ms", Six },
        GoodCase { "LettersInIds", "abcdef ABCDEF a1B2c3 000000 000000 000000 000000 000000 000000 zzzzzz 0",
            lineupOf({ "abcdef", "ABCDEF", "a1B2c3", "000000", "000000", "000000", "000000", "000000", "000000", "zzzzzz" }, 0) },
        GoodCase { "LargestInterval", TenIds + " 16777215",
            lineupOf({ "100001", "100002", "100003", "100004", "100005", "100006" }, 0xFFFFFF) }),
    [](const testing::TestParamInfo<GoodCase>& info) { return info.param.name; });

TEST(ParseLineupBadTest, RejectsWithAReason)
{
    const struct {
        std::string text;
        std::string errorPart;
    } rows[] = {
        { "", "found 0 values" },
        { "# only a comment\n", "found 0 values" },
        { "100001 100002 100003 100004 100005 100006 000000 000000 000000 5000", "found 10 values" },
        { TenIds + " 5000 7", "found 12 values" },
        { "10001 100002 100003 100004 100005 100006 000000 000000 000000 000000 5000", "value 1: \"10001\"" },
        { "100001 1000020 100003 100004 100005 100006 000000 000000 000000 000000 5000", "value 2:" },
        { "100001 100002 ../etc 100004 100005 100006 000000 000000 000000 000000 5000", "value 3:" },
        { "100001 100002 100003 10\xC3\xA9" "04 100005 100006 000000 000000 000000 000000 5000", "value 4:" },
        { TenIds + " -1", "value 11:" },
        { TenIds + " 16777216", "value 11:" },
        { TenIds + " 0x1388", "value 11:" },
        { TenIds + " 5s", "value 11:" },
        { TenIds + " 99999999999999999999999", "value 11:" },
        { TenIds + " " + std::string(5000, '9'), "..." },
        { "\xEF\xBB" + TenIds + " 5000", "value 1:" },
    };
    for (const auto& row : rows) {
        const auto parsed = parseLineup(row.text);
        EXPECT_FALSE(parsed.lineup) << row.text;
        EXPECT_NE(parsed.error.find(row.errorPart), std::string::npos) << parsed.error;
        EXPECT_LT(parsed.error.size(), 200u) << "error texts stay short";
    }
}

TEST(CountAnswerTest, TenIdsThenSixHexDigits)
{
    const struct {
        std::uint32_t interval;
        const char* tail;
    } rows[] = { { 5000, "001388" }, { 1000, "0003E8" }, { 0, "000000" }, { 0xFFFFFF, "FFFFFF" }, { 0xABCDE, "0ABCDE" } };
    for (const auto& row : rows) {
        const auto answer = countAnswer(lineupOf({ "100001", "abcdef" }, row.interval));
        ASSERT_EQ(answer.size(), 66u);
        EXPECT_EQ(answer, std::string("100001abcdef") + std::string(48, '0') + row.tail);
    }
}

TEST(IsBannerIdTest, SixAsciiLettersOrDigits)
{
    for (const char* good : { "000000", "100001", "abcDEF", "Z9z9Z9" })
        EXPECT_TRUE(isBannerId(good)) << good;
    for (const char* bad : { "", "10000", "1000001", "10000/", "../../", "1000 1", "10000\xE9", "%2e%2e" })
        EXPECT_FALSE(isBannerId(bad)) << bad;
    EXPECT_FALSE(isBannerId(std::string("10000\0", 6)));
}

TEST(LineupRotationTest, ServesEachLineupForEveryCalls)
{
    const std::vector<Lineup> three { lineupOf({ "aaaaaa" }, 1), lineupOf({ "bbbbbb" }, 2), lineupOf({ "cccccc" }, 3) };
    const struct {
        std::uint64_t every;
        std::vector<std::uint32_t> intervals;
    } rows[] = {
        { 0, { 1, 1, 1, 1, 1 } },
        { 1, { 1, 2, 3, 1, 2, 3, 1 } },
        { 2, { 1, 1, 2, 2, 3, 3, 1, 1 } },
        { 5, { 1, 1, 1, 1, 1, 2 } },
    };
    for (const auto& row : rows) {
        LineupRotation rotation(three, row.every);
        std::vector<std::uint32_t> served;
        for (std::size_t i = 0; i < row.intervals.size(); ++i)
            served.push_back(rotation.next().intervalMs);
        EXPECT_EQ(served, row.intervals) << "every " << row.every;
    }
}

TEST(LineupRotationTest, OneLineupAlwaysServedWhateverTheCount)
{
    LineupRotation rotation({ lineupOf({ "aaaaaa" }, 7) }, 3);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(rotation.next().intervalMs, 7u);
}

TEST(LineupRotationTest, NeedsALineup)
{
    EXPECT_THROW(LineupRotation({}, 1), std::invalid_argument);
}

TEST(LineupRotationTest, ConcurrentCallersShareTheCountFairly)
{
    std::vector<Lineup> four;
    for (std::uint32_t i = 0; i < 4; ++i)
        four.push_back(lineupOf({}, i));
    LineupRotation rotation(four, 1);
    constexpr int Threads = 4;
    constexpr int Calls = 1000;
    std::vector<std::map<std::uint32_t, int>> seen(Threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < Calls; ++i)
                ++seen[t][rotation.next().intervalMs];
        });
    for (auto& w : workers)
        w.join();
    std::map<std::uint32_t, int> total;
    for (const auto& s : seen)
        for (const auto& [interval, count] : s)
            total[interval] += count;
    // 4000 calls over 4 line-ups, one each in turn: exactly 1000 apiece.
    ASSERT_EQ(total.size(), 4u);
    for (const auto& [interval, count] : total)
        EXPECT_EQ(count, Calls) << "line-up " << interval;
}

StoredLineup stored(std::int64_t id, const char* first, std::optional<UnixTime> from, std::optional<UnixTime> until,
    std::optional<std::string> client, UnixTime created = 100)
{
    StoredLineup l;
    l.id = id;
    l.lineup.ids.fill("000000");
    l.lineup.ids[0] = first;
    l.lineup.intervalMs = 1000;
    l.validFrom = from;
    l.validUntil = until;
    l.clientId = std::move(client);
    l.created = created;
    return l;
}

TEST(ChooseLineupTest, PlannedInForceElseStandingElseEmpty)
{
    const auto s1 = stored(1, "S11111", {}, {}, {});
    const auto s2 = stored(2, "S22222", {}, {}, {});
    const auto window = stored(3, "W33333", 1000, 2000, {});
    const auto open = stored(4, "O44444", 1500, {}, {}, 50);
    const auto mine = stored(5, "M55555", {}, 3000, "1131");
    const auto later = stored(6, "L66666", 1000, 2000, {}, 100);
    const struct {
        const char* what;
        std::vector<StoredLineup> lineups;
        UnixTime now;
        std::string client;
        std::uint64_t served;
        std::uint64_t every;
        std::string first; // slot 0 of the answer
    } rows[] = {
        { "nothing at all", {}, 0, "1", 0, 0, "000000" },
        { "the first standing one", { s1, s2 }, 0, "1", 5, 0, "S11111" },
        { "standing in turn", { s1, s2 }, 0, "1", 3, 2, "S22222" },
        { "standing in turn, round again", { s1, s2 }, 0, "1", 4, 2, "S11111" },
        { "a period that covers now", { s1, window }, 1000, "1", 0, 0, "W33333" },
        { "its end is not in it", { s1, window }, 2000, "1", 0, 0, "S11111" },
        { "before it begins", { s1, window }, 999, "1", 0, 0, "S11111" },
        { "created later wins", { s1, window, open }, 1600, "1", 0, 0, "W33333" },
        { "same second: the higher id", { window, later }, 1500, "1", 0, 0, "L66666" },
        { "an open end", { s1, open }, 9999999, "1", 0, 0, "O44444" },
        { "for that client", { s1, mine }, 0, "1131", 0, 0, "M55555" },
        { "not for another", { s1, mine }, 0, "1132", 0, 0, "S11111" },
        { "no standing one, none in force", { window }, 0, "1", 0, 0, "000000" },
    };
    for (const auto& row : rows) {
        const auto lineup = chooseLineup(row.lineups, row.now, row.client, row.served, row.every);
        EXPECT_EQ(lineup.ids[0], row.first) << row.what;
        if (row.first == "000000") {
            EXPECT_EQ(lineup.intervalMs, NoLineupIntervalMs) << row.what;
        }
    }
}

} // namespace
} // namespace vexor::server
