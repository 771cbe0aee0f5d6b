// Banner rotation through the main window: which page the pane shows on each
// tick, which counter goes up when the window is active or not, and the
// count on activation.
#include "app/mainwindow.h"

#include "app/bannerview.h"
#include "test_gui_support.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace vexor {
namespace {

using testing::GuiProgram;

// Slots 0, 1 and 3 hold banners; 2 and 4 to 9 are empty.
const std::string Banners = "AAAAAABBBBBB000000DDDDDD" + std::string(36, '0');

class RotationTest : public ::testing::Test {
protected:
    void create(const std::string& extraSettings = {})
    {
        program = std::make_unique<GuiProgram>("[Settings]\r\nAutoConnect=0\r\nBanners=" + Banners + "\r\n" +
                                               extraSettings);
        for (int slot : {0, 1, 3})
            program->dir.write("advs/" + std::to_string(slot) + ".htm", "<p>banner " + std::to_string(slot) + "</p>");
        program->createLanguage();
        form = std::make_unique<TForm1>(program->context);
    }
    std::string shownPage() const
    {
        const std::string path = form->WebBrowser1->currentPage().toStdString();
        return path.substr(path.rfind('/') + 1);
    }
    void activate()
    {
        form->show();
        form->activateWindow();
        GUI_TRY_VERIFY(form->isActiveWindow());
    }

    std::unique_ptr<GuiProgram> program;
    std::unique_ptr<TForm1> form;
};

TEST_F(RotationTest, TicksSkipEmptySlotsAndCountOnlyWhileActive)
{
    create();
    // Creation showed slot 0 (window not yet active: no count).
    EXPECT_EQ(shownPage(), "0.htm");
    EXPECT_EQ(program->c.BannerCounts, (std::array<std::int32_t, 10>{}));

    std::vector<std::string> shown;
    for (int tick = 0; tick < 4; ++tick) {
        form->Timer1Timer();
        shown.push_back(shownPage());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"1.htm", "3.htm", "0.htm", "1.htm"}));
    EXPECT_EQ(program->c.BannerCounts, (std::array<std::int32_t, 10>{})) << "inactive window counts nothing";

    ASSERT_NO_FATAL_FAILURE(activate());
    const auto afterActivation = program->c.BannerCounts;
    form->Timer1Timer();  // shows slot 3
    EXPECT_EQ(shownPage(), "3.htm");
    EXPECT_EQ(program->c.BannerCounts[3], afterActivation[3] + 1);
    EXPECT_EQ(program->c.BannerCounts[0], afterActivation[0]);
    EXPECT_EQ(program->c.BannerCounts[1], afterActivation[1]);
}

TEST_F(RotationTest, ActivationCountsTheNextSlotOnceTheFirstBannerWasShown)
{
    create();
    ASSERT_FALSE(program->c.FirstActivation);
    const std::int32_t next = program->c.BannerPos;  // after the first tick: slot 1
    EXPECT_EQ(next, 1);
    ASSERT_NO_FATAL_FAILURE(activate());
    EXPECT_EQ(program->c.BannerCounts[1], 1);

    // Another window takes the focus; coming back counts again.
    QWidget other;
    other.show();
    other.activateWindow();
    GUI_TRY_VERIFY(!form->isActiveWindow());
    form->activateWindow();
    GUI_TRY_VERIFY(form->isActiveWindow());
    EXPECT_EQ(program->c.BannerCounts[1], 2);
    EXPECT_EQ(program->c.BannerCounts[0], 0);
}

TEST_F(RotationTest, PositionNineRestartsAtSlotZeroAndTheTimerDrivesTheTicks)
{
    create("BannerPocitadlo=9\r\nRotation=20\r\n");
    EXPECT_EQ(shownPage(), "0.htm");
    EXPECT_EQ(program->c.BannerPos, 0) << "slot 0 is shown again by the next tick";
    GUI_TRY_VERIFY(program->c.BannerPos == 1);  // Timer1 ticked on its own
    EXPECT_EQ(shownPage(), "0.htm");
}

}  // namespace
}  // namespace vexor
