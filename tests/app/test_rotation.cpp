#include "app/core/rotation.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <vector>

using vexor::BannerRotation;
using vexor::Constants;

namespace {

// Shown slots, the active flag and failing shows, as the banner pane would
// have them.
class RotationTest : public testing::Test {
protected:
    RotationTest()
        : m_rotation(m_c, BannerRotation::View {
                              [this](int slot) {
                                  if (m_failShow)
                                      throw std::runtime_error("navigation failed");
                                  m_shown.push_back(slot);
                              },
                              [this] { return m_active; } })
    {
    }

    // Fills the slots named by '#' in `pattern` ("##########": all ten).
    void fill(const char* pattern)
    {
        for (int i = 0; i < vexor::BannerSlotCount; ++i)
            m_c.BannerIds[i] = pattern[i] == '#' ? "B0000" + std::to_string(i) : vexor::EmptyBannerId;
    }

    std::vector<int> ticks(int count)
    {
        m_shown.clear();
        for (int i = 0; i < count; ++i)
            m_rotation.Timer1Timer();
        return m_shown;
    }

    Constants m_c;
    std::vector<int> m_shown;
    bool m_active = false;
    bool m_failShow = false;
    BannerRotation m_rotation;
};

struct RoundCase {
    const char* name;
    const char* filled;
    std::int32_t startPos;
    std::vector<int> shown;
};

const RoundCase RoundCases[] = {
    // Position 9 restarts at 0 and 0 is shown again on the next tick.
    { "all_filled", "##########", 0, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0 } },
    { "slot9_empty", "#########.", 0, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1 } },
    { "slot4_empty", "####.#####", 0, { 0, 1, 2, 3, 5, 6, 7, 8, 0, 0, 1, 2, 3, 5 } },
    { "slot4_and_9_empty", "####.####.", 0, { 0, 1, 2, 3, 5, 6, 7, 8, 0, 1, 2, 3, 5 } },
    { "only_slot2", "..#.......", 0, { 2, 2, 2, 2 } },
    { "only_slot8", "........#.", 5, { 8, 8, 8 } },
    { "only_slot0_and_9", "#........#", 0, { 0, 0, 0, 0 } },
    { "start_at_9_from_settings", "##########", 9, { 0, 0, 1, 2 } },
    { "start_at_9_slot0_empty", ".#########", 9, { 0, 1, 2 } },
    { "start_past_table", "#########.", 57, { 0, 0, 1 } },
    { "negative_start", "##########", -4, { 0, 0, 1, 2 } },
    { "int_min_start", "#########.", INT_MIN, { 0, 0 } },
    { "start_on_empty_slot", "###.######", 3, { 4, 5, 6 } },
    // Nothing to show: the twelve steps end somewhere and that slot is shown.
    { "all_empty", "..........", 0, { 3, 1, 8, 5, 3 } },
};

class RotationRounds : public RotationTest, public testing::WithParamInterface<RoundCase> {};

TEST_P(RotationRounds, ShowsSlotsInOrder)
{
    fill(GetParam().filled);
    m_c.BannerPos = GetParam().startPos;
    EXPECT_EQ(ticks(static_cast<int>(GetParam().shown.size())), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Table, RotationRounds, testing::ValuesIn(RoundCases),
                         [](const testing::TestParamInfo<RoundCase>& info) { return info.param.name; });

TEST_F(RotationTest, PositionNamesTheNextSlot)
{
    fill("##########");
    m_rotation.Timer1Timer();
    EXPECT_EQ(m_c.BannerPos, 1);
    m_c.BannerPos = 8;
    m_rotation.Timer1Timer();
    EXPECT_EQ(m_c.BannerPos, 9);  // slot 9 holds a banner
    fill("#########.");
    m_c.BannerPos = 8;
    m_rotation.Timer1Timer();
    EXPECT_EQ(m_c.BannerPos, 0);
    m_c.BannerPos = 9;
    fill("##########");
    m_rotation.Timer1Timer();
    EXPECT_EQ(m_c.BannerPos, 0);
}

TEST_F(RotationTest, SlotNineNeverShownWhenAloneFilled)
{
    fill(".........#");
    for (std::int32_t start : { 0, 4, 8, 9, -1 }) {
        m_c.BannerPos = start;
        for (int slot : ticks(40))
            EXPECT_NE(slot, 9) << "start " << start;
    }
}

TEST_F(RotationTest, EveryPatternAndStart)
{
    // Every fill pattern of the ten slots from every start position: the tick
    // shows a rotated slot, a filled one when there is any among 0..8 (except
    // the restart, which shows 0 regardless), and leaves BannerPos on a slot.
    for (int pattern = 0; pattern < 1024; ++pattern) {
        bool anyRotated = false;
        for (int i = 0; i < 10; ++i) {
            const bool filled = pattern & (1 << i);
            m_c.BannerIds[i] = filled ? "XXXXXX" : vexor::EmptyBannerId;
            anyRotated = anyRotated || (filled && i < 9);
        }
        for (std::int32_t start = -2; start <= 11; ++start) {
            m_c.BannerPos = start;
            const std::vector<int> shown = ticks(1);
            ASSERT_EQ(shown.size(), 1u);
            const int slot = shown[0];
            ASSERT_TRUE(slot >= 0 && slot <= 8) << pattern << " " << start;
            const bool restart = start < 0 || start >= 9;
            if (anyRotated && !restart) {
                EXPECT_NE(m_c.BannerIds[slot], vexor::EmptyBannerId) << pattern << " " << start;
            }
            ASSERT_TRUE(m_c.BannerPos >= 0 && m_c.BannerPos <= 9) << pattern << " " << start;
            if (anyRotated) {
                EXPECT_NE(m_c.BannerIds[m_c.BannerPos], vexor::EmptyBannerId) << pattern << " " << start;
            }
        }
    }
}

TEST_F(RotationTest, CountsOnlyWhileActive)
{
    fill("##########");
    m_c.FirstActivation = false;
    ticks(3);  // slots 0, 1, 2 shown while another program has the focus
    EXPECT_EQ(m_c.BannerCounts, (std::array<std::int32_t, 10> {}));
    EXPECT_EQ(m_c.BannerPos, 3);
    m_rotation.FormActivate();  // counts the next slot, not the one on screen
    EXPECT_EQ(m_c.BannerCounts, (std::array<std::int32_t, 10> { 0, 0, 0, 1 }));
    m_active = true;
    ticks(2);  // slots 3 and 4
    EXPECT_EQ(m_c.BannerCounts, (std::array<std::int32_t, 10> { 0, 0, 0, 2, 1 }));
}

TEST_F(RotationTest, RestartCountsSlotZero)
{
    fill("##########");
    m_active = true;
    m_c.BannerPos = 9;
    ticks(2);
    EXPECT_EQ(m_c.BannerCounts[0], 2);
    EXPECT_EQ(m_c.BannerCounts[9], 0);
}

TEST_F(RotationTest, FirstActivationBeforeFirstShowIsNotCounted)
{
    fill("##########");
    ASSERT_TRUE(m_c.FirstActivation);
    m_rotation.FormActivate();
    EXPECT_FALSE(m_c.FirstActivation);
    EXPECT_EQ(m_c.BannerCounts[0], 0);
    m_rotation.FormActivate();
    EXPECT_EQ(m_c.BannerCounts[0], 1);
}

TEST_F(RotationTest, FirstActivationAfterFirstShowIsCounted)
{
    fill("##########");
    ticks(1);  // the first banner, shown before the window appears
    EXPECT_FALSE(m_c.FirstActivation);
    m_rotation.FormActivate();
    EXPECT_EQ(m_c.BannerCounts[1], 1);
}

TEST_F(RotationTest, FailedShowChangesNothingButPosition)
{
    fill("##########");
    m_active = true;
    m_failShow = true;
    EXPECT_NO_THROW(m_rotation.Timer1Timer());
    EXPECT_TRUE(m_c.FirstActivation);
    EXPECT_EQ(m_c.BannerCounts[0], 0);
    EXPECT_EQ(m_c.BannerPos, 1);
    // The first show failed, so the first activation still does not count.
    m_rotation.FormActivate();
    EXPECT_EQ(m_c.BannerCounts, (std::array<std::int32_t, 10> {}));
    m_failShow = false;
    ticks(1);
    EXPECT_EQ(m_c.BannerCounts[1], 1);
}

TEST_F(RotationTest, FailedRestartShowStillRestarts)
{
    fill("##########");
    m_failShow = true;
    m_c.BannerPos = 12;
    m_rotation.Timer1Timer();
    EXPECT_EQ(m_c.BannerPos, 0);
}

TEST_F(RotationTest, CountCurrentPosition)
{
    m_c.BannerPos = 9;
    m_rotation.CountCurrentPosition();
    EXPECT_EQ(m_c.BannerCounts[9], 1);
    for (std::int32_t outside : { -1, 10, INT_MAX, INT_MIN }) {
        m_c.BannerPos = outside;
        m_rotation.CountCurrentPosition();
        m_c.FirstActivation = false;
        m_rotation.FormActivate();
    }
    EXPECT_EQ(m_c.BannerCounts, (std::array<std::int32_t, 10> { 0, 0, 0, 0, 0, 0, 0, 0, 0, 1 }));
}

TEST_F(RotationTest, CountersStopAtMaximum)
{
    fill("##########");
    m_active = true;
    m_c.BannerCounts[0] = INT_MAX;
    ticks(1);
    EXPECT_EQ(m_c.BannerCounts[0], INT_MAX);
}

TEST_F(RotationTest, AdvanceStopsAfterTwelveSteps)
{
    fill("..........");
    m_c.BannerPos = 0;
    m_rotation.advance();
    EXPECT_EQ(m_c.BannerPos, 3);  // 1..8, 0, 1, 2, 3
    fill("......#...");
    m_c.BannerPos = 7;
    m_rotation.advance();
    EXPECT_EQ(m_c.BannerPos, 6);
}

TEST(RotationWithoutActiveQuery, ShowsWithoutCounting)
{
    Constants c;
    c.BannerIds.fill("XXXXXX");
    std::vector<int> shown;
    BannerRotation rotation(c, { [&shown](int slot) { shown.push_back(slot); }, {} });
    rotation.Timer1Timer();
    EXPECT_EQ(shown, std::vector<int> { 0 });
    EXPECT_EQ(c.BannerCounts[0], 0);
}

}  // namespace
