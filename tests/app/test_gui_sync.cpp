// The main window's side of a sync cycle, run for real against an in-process
// stand-in for the vendor's script: what PrepareSync hands over, what
// FinishSync takes back (counts added during the cycle included), the
// newer-version prompt, and the language object's replacement.
#include "app/mainwindow.h"

#include "app/windowmessage.h"
#include "dialogs/preferform.h"
#include "fakevendor.h"
#include "sync/downloadthread.h"
#include "test_gui_support.h"

#include <QMenu>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

namespace vexor {
namespace {

using testing::GuiProgram;
using testing::ModalResponder;
using testkit::FakeVendor;

const std::string Ids = "AAAAAABBBBBBCCCCCC" + std::string(42, '0');

class SyncTest : public ::testing::Test {
protected:
    void create(const std::string& extraSettings = {})
    {
        program = std::make_unique<GuiProgram>("[Settings]\r\nAutoConnect=0\r\nLanguage=English\r\nBanners=" + Ids +
                                               "\r\nLogs=000005000000000000\r\n" + extraSettings);
        script.setAnswers(answers);
        program->c.ServerHost = script.host();
        program->createLanguage();
        form = std::make_unique<TForm1>(program->context);
    }
    // One whole cycle: started by the connect message, ended by FinishSync.
    void runCycle()
    {
        const int before = langlRequests();
        PostWindowMessage(form.get(), CM_TRYCONNECT, 0, 0);
        GUI_TRY_VERIFY(langlRequests() > before);
        GUI_TRY_VERIFY_WITH_TIMEOUT(form->DownloadThread->Idle(), 10000);
    }

    int langlRequests() const
    {
        const auto log = script.log();
        return static_cast<int>(std::count_if(log.begin(), log.end(), [](const auto& r) { return r.action() == "LANGL"; }));
    }

    FakeVendor script;
    FakeVendor::Answers answers = [] {
        FakeVendor::Answers a;
        a.langList = "[Languages]\r\nEnglish=english.lng\r\nDeutsch=german.lng\r\n";
        a.modList = "[Modules]\r\n1=Notes\r\n";
        a.lineUp = Ids + "0007D0";  // the same line-up, 2000 ms
        return a;
    }();
    std::unique_ptr<GuiProgram> program;
    std::unique_ptr<TForm1> form;
};

TEST_F(SyncTest, HandsOverTheStateAndTakesBackResultsKeepingCountsOfTheCycle)
{
    create("StartUps=6\r\nInstall=1\r\n");
    Constants& c = program->c;
    c.ClientId = "7788";
    script.stallOn("VERSION");
    PostWindowMessage(form.get(), CM_TRYCONNECT, 0, 0);
    GUI_TRY_VERIFY(langlRequests() == 1);  // PrepareSync has run

    // While the worker waits for VERSION, the window goes on counting.
    c.BannerCounts[1] += 3;
    c.BannerCounts[0] += 1;
    script.release();
    GUI_TRY_VERIFY_WITH_TIMEOUT(c.StartUps == 0, 10000);
    GUI_TRY_VERIFY(form->DownloadThread->Idle());

    const sync::TDownloadThread& thread = *form->DownloadThread;
    EXPECT_EQ(thread.ClientId, "7788");
    EXPECT_EQ(thread.UserId, "1");
    EXPECT_EQ(thread.LanguageName, "English");
    EXPECT_EQ(thread.StartUps, 7) << "the start-up count as loaded plus this start";
    EXPECT_TRUE(thread.InstallFlag);
    EXPECT_EQ(thread.LangIndexFile, c.LangIndexFile);
    EXPECT_EQ(thread.ModulesListFile, c.ModulesListFile);
    EXPECT_EQ(thread.BannerDir, c.BannerDir);
    EXPECT_EQ(thread.LogoDir, c.LogoDir);

    // The server's answer reset the reported counters; what was counted after
    // the hand-over stays, and the end of the cycle counts the next slot.
    std::array<std::int32_t, 10> expected{};
    expected[0] = 1;
    expected[1] = 3;
    expected[static_cast<std::size_t>(c.BannerPos)] += 1;
    EXPECT_EQ(c.BannerCounts, expected);
    EXPECT_EQ(c.RotationInterval, 2000);
    EXPECT_EQ(form->Timer1->interval(), 2000);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_FALSE(c.InstallFlag);
    EXPECT_EQ(c.BannerIds[1], "BBBBBB");

    // The new language list is read and the menu rebuilt from it.
    ASSERT_EQ(form->LanguagesMenu->actions().size(), 2);
    EXPECT_EQ(form->LanguagesMenu->actions().at(1)->text(), QStringLiteral("Deutsch"));
    EXPECT_FALSE(program->context.language().Text("MainCaption").empty());
}

TEST_F(SyncTest, VersionPromptOnlyInACycleThatEndsWithStartUpsOne)
{
    answers.version = "1.4";
    create("StartUps=0\r\nInstall=1\r\n");  // this start makes it 1
    {
        // A close while the prompt is open saves what is current then: the
        // cycle's hand-back must be complete.
        std::string whilePrompting;
        ModalResponder responder([&](QWidget* box) {
            const Constants& c = program->c;
            whilePrompting = std::to_string(c.StartUps) + (c.InstallFlag ? " install " : " ") +
                             std::to_string(c.RotationInterval);
            testing::clickButton(box, QMessageBox::Ok);
        });
        ASSERT_NO_FATAL_FAILURE(runCycle());
        EXPECT_TRUE(responder.seen);
        EXPECT_EQ(whilePrompting, "0 2000");
        EXPECT_EQ(responder.objectName, QStringLiteral("VersionBox"));
        EXPECT_EQ(responder.text.toStdString(), program->context.language().Text("Version"));
    }
    EXPECT_EQ(program->openedUrls(), "http://web.example:8080/update/index.php?MID=1&MCID=1131&MUID=1\n");
    {
        // The second cycle of the run: StartUps is 0 now.
        ModalResponder responder;
        ASSERT_NO_FATAL_FAILURE(runCycle());
        EXPECT_EQ(program->c.StartUps, 0);
        EXPECT_FALSE(responder.seen);
    }
}

TEST_F(SyncTest, NoPromptWhenThePreviousRunsDidNotSync)
{
    answers.version = "2";
    create("StartUps=3\r\n");
    ModalResponder responder;
    ASSERT_NO_FATAL_FAILURE(runCycle());
    EXPECT_EQ(program->c.StartUps, 0);
    EXPECT_FALSE(responder.seen);
}

TEST_F(SyncTest, LanguageObjectIsReplacedOnlyByAGoodOne)
{
    // First run: no language saved, so none is selected and none handed over;
    // the texts must not go empty.
    create();
    form->PreferForm->SelectLanguage("");
    const TLanguage* before = program->context.GlobalLanguage.get();
    ASSERT_NO_FATAL_FAILURE(runCycle());
    ASSERT_EQ(program->c.StartUps, 0);
    EXPECT_NE(program->context.GlobalLanguage.get(), before);
    EXPECT_EQ(form->DownloadThread->LanguageName, "");
    EXPECT_EQ(program->context.language().Text("MainCaption"), "Vexor");

    // An index that cannot be read: the old object and its texts stay, the
    // rest of the cycle's end still happens.
    answers.langList = "not a language list";
    script.setAnswers(answers);
    std::filesystem::remove(program->c.LangIndexFile);
    std::filesystem::create_directories(program->c.LangIndexFile + "/x");
    program->c.StartUps = 1;
    const TLanguage* current = program->context.GlobalLanguage.get();
    ASSERT_NO_FATAL_FAILURE(runCycle());
    EXPECT_EQ(program->c.StartUps, 0);
    EXPECT_EQ(program->context.GlobalLanguage.get(), current);
    EXPECT_EQ(program->context.language().Text("MainCaption"), "Vexor");
}

}  // namespace
}  // namespace vexor
