#include "gridtestsupport.h"

#include "modules/core/moduleregistry.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <tuple>

namespace vexor::testing {
namespace {

using Lines = std::vector<std::string>;

const Lines OpenCalls{"load", "DajOkno version=1 appDir=", "show 1", "SetProxyParameters"};

// The first words of each line, for comparing call orders without the
// arguments.
Lines heads(const Lines& lines)
{
    Lines result;
    for (const std::string& line : lines) {
        const auto cut = line.find(' ');
        result.push_back(line.substr(0, cut));
    }
    return result;
}

void click(TMySpeedButton* button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Answers the next message box with `answer` as soon as it is shown and
// remembers its caption and text.
struct MessageBoxAnswer {
    QString title;
    QString text;
    bool seen = false;

    void arm(QMessageBox::StandardButton answer)
    {
        QTimer::singleShot(0, qApp, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            title = box->windowTitle();
            text = box->text();
            box->button(answer)->click();
        });
    }
};

TEST_F(GridTest, FourModulesFillTheFirstColumnAndOneButtonOfTheSecond)
{
    for (const char* name : {"A", "B", "C", "D"})
        giveIcon(m_program.install(name, "Recorder"));
    EXPECT_EQ(setUp(), 192);
    for (int i = 0; i < 12; ++i) {
        TMySpeedButton* b = button(i);
        ASSERT_NE(b, nullptr) << i;
        EXPECT_EQ(b, grid().Buttons[static_cast<std::size_t>(i)]);
        EXPECT_EQ(b->geometry(), QRect(124 + (i / 3) * 34, (i % 3) * 34, 34, 34)) << i;
        EXPECT_TRUE(b->isCheckable() && b->autoRaise()) << i;
        EXPECT_FALSE(b->Down()) << i;
        EXPECT_EQ(b->isEnabled(), i < 4) << i;
        EXPECT_TRUE(b->isVisible()) << i;
    }
    EXPECT_EQ(button(3)->geometry().topLeft(), QPoint(158, 0));
    EXPECT_EQ(button(2)->ModuleName, "C");
    EXPECT_EQ(button(2)->ModulePath, m_program.moduleDir("C"));
    EXPECT_FALSE(button(0)->icon().isNull());
    EXPECT_TRUE(button(4)->ModuleName.empty());
    EXPECT_TRUE(m_program.calls().empty()) << "nothing is loaded before a press";
}

TEST_F(GridTest, ThirteenModulesGetTwelveButtonsAndTheLastOneIsNotInstalled)
{
    for (int i = 0; i < 13; ++i)
        m_program.install("M" + std::to_string(i), "");
    EXPECT_EQ(setUp(), 260);
    for (int i = 0; i < 12; ++i) {
        EXPECT_TRUE(button(i)->isEnabled());
        EXPECT_EQ(button(i)->ModuleName, "M" + std::to_string(i));
    }
    MessageBoxAnswer answer;
    {
        ScopedEnv urlLog("VEXOR_OPEN_URL_LOG", m_program.dir() + "urls.log");
        answer.arm(QMessageBox::Cancel);
        grid().ModulesMenuClick("M12");
    }
    EXPECT_TRUE(answer.seen);
    EXPECT_TRUE(readFile(m_program.dir() + "urls.log").empty()) << "Cancel opens nothing";
}

TEST_F(GridTest, WithoutModulesAllTwelveButtonsAreDisabledAndTheFormKeepsItsWidth)
{
    EXPECT_EQ(setUp(), 0);
    for (int i = 0; i < 12; ++i)
        EXPECT_FALSE(button(i)->isEnabled()) << i;
    click(button(0));
    EXPECT_FALSE(button(0)->Down()) << "a disabled button does not toggle";
}

TEST_F(GridTest, OnlyExactlyNDropsAModuleFromTheGrid)
{
    m_program.install("Off", "", "N");
    m_program.install("Lower", "", "n");
    m_program.install("NoFlag", "", "");
    m_program.install("On", "", "Y");
    EXPECT_EQ(setUp(), 158);
    EXPECT_EQ(button(0)->ModuleName, "Lower");
    EXPECT_EQ(button(1)->ModuleName, "NoFlag");
    EXPECT_EQ(button(2)->ModuleName, "On");
    EXPECT_FALSE(button(3)->isEnabled());
}

TEST_F(GridTest, BadPicturesAndValuesDoNotStopTheOtherSlots)
{
    const std::string bad = m_program.install("BadIcon", "Recorder");
    writeFile(bad + "icon.bmp", "BM not really a bitmap");
    m_program.install("NoIcon", "Recorder");
    // ModulePath as a dword: read as missing, the module stays with an empty path.
    m_program.registry().writeString("Software\\Vexor\\Typed", "ACTIVE", "Y");
    writeFile(m_program.registry().filePath(),
              readFile(m_program.registry().filePath()) +
                  "\r\n[HKEY_CURRENT_USER\\Software\\Vexor\\Typed]\r\n\"ModulePath\"=dword:00000001\r\n");
    giveIcon(m_program.install("Good", "Recorder"));
    EXPECT_EQ(setUp(), 192);
    EXPECT_TRUE(button(0)->icon().isNull());
    EXPECT_EQ(button(0)->text(), QStringLiteral("B")) << "a button without picture shows a letter";
    EXPECT_EQ(button(1)->ModuleName, "NoIcon");
    EXPECT_EQ(button(2)->ModuleName, "Typed");
    EXPECT_EQ(button(2)->ModulePath, "");
    EXPECT_EQ(button(3)->ModuleName, "Good");
    EXPECT_FALSE(button(3)->icon().isNull());
}

TEST_F(GridTest, DefaultModuleOpensAtStartWithTheStoredSettings)
{
    m_constants.AutoConnect = true;
    ProxySettings proxy;
    proxy.ProxyName = "proxy.local";
    proxy.ProxyPort = 3128;
    proxy.ProxyUser = "u";
    proxy.ProxyPass = "p";
    m_constants.SetProxy(proxy);
    m_program.install("Lazy", "Recorder", "Y", "y");
    m_program.install("Eager", "Recorder", "Y", "Y");
    setUp();
    EXPECT_FALSE(button(0)->Down());
    EXPECT_EQ(button(0)->LibraryHandle, nullptr);
    EXPECT_TRUE(button(1)->Down());
    EXPECT_NE(button(1)->ModuleWindow, nullptr);
    EXPECT_EQ(m_program.calls(),
              (Lines{"Recorder load",
                     "Recorder DajOkno version=1 appDir=" + m_program.dir() + " client=4:1131 user=1:7 auto=1",
                     "Recorder show 1",
                     "Recorder SetProxyParameters name=11:proxy.local user=1:u pass=1:p port=3128"}));
}

TEST_F(GridTest, AClickOpensAndTheNextClickClosesAndUnloads)
{
    m_program.install("Rec", "Recorder");
    setUp();
    TMySpeedButton* b = button(0);
    click(b);
    EXPECT_TRUE(b->Down());
    EXPECT_NE(b->LibraryHandle, nullptr);
    EXPECT_EQ(b->ModuleWindowHandle(), 1);
    EXPECT_NE(b->ZavriOknoEntry, nullptr);
    click(b);
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(b->LibraryHandle, nullptr);
    EXPECT_EQ(b->ModuleWindow, nullptr);
    EXPECT_EQ(b->DajOknoEntry, nullptr);
    EXPECT_EQ(heads(callsOf("Recorder")),
              (Lines{"load", "DajOkno", "show", "SetProxyParameters", "ZavriOkno", "close", "destroy", "unload"}));
    m_program.clearCalls();
    click(b);
    EXPECT_TRUE(b->Down());
    EXPECT_EQ(b->ModuleWindowHandle(), 2) << "every window gets a new handle";
    EXPECT_EQ(heads(callsOf("Recorder")), (Lines{"load", "DajOkno", "show", "SetProxyParameters"}));
}

TEST_F(GridTest, AFailedLoadLeavesTheButtonPressedAndTheNextClickTriesAgain)
{
    const std::string folder = m_program.install("Broken", "");
    writeFile(folder + "Broken.mdl", "not a library");
    m_program.install("Unresolved", "Unresolved");
    setUp();
    TMySpeedButton* broken = button(0);
    click(broken);
    EXPECT_TRUE(broken->Down()) << "failed press";
    EXPECT_EQ(broken->LibraryHandle, nullptr);
    click(broken);
    EXPECT_FALSE(broken->Down()) << "the retry failed as well: closed";
    std::filesystem::copy_file(fixtureDir() + "/Recorder.mdl", folder + "Broken.mdl",
                               std::filesystem::copy_options::overwrite_existing);
    click(broken);
    EXPECT_TRUE(broken->Down());
    EXPECT_NE(broken->ModuleWindow, nullptr);

    click(button(1));
    EXPECT_TRUE(button(1)->Down());
    EXPECT_EQ(button(1)->LibraryHandle, nullptr);
}

TEST_F(GridTest, AnEmptyOrRelativeModulePathIsTakenBelowTheProgramFolderNeverTheCurrentOne)
{
    // Name, ModulePath, the library's folder, whether it loads.
    const std::string started = m_program.dir() + "startedhere/";
    const std::tuple<std::string, std::string, std::string, bool> rows[] = {
        {"Relative", "modules/Relative/", m_program.moduleDir("Relative"), true},
        {"Bare", "", m_program.dir(), true},
        {"Stray", "", started, false},  // only in the folder the client was started from
    };
    for (const auto& [name, path, folder, loads] : rows) {
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(fixtureDir() + "/Recorder.mdl", folder + name + ".mdl");
        m_program.register_(name, path);
    }
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(started);
    setUp();
    for (int i = 0; i < 3; ++i) {
        click(button(i));
        EXPECT_EQ(button(i)->LibraryHandle != nullptr, std::get<3>(rows[i])) << std::get<0>(rows[i]);
    }
    std::filesystem::current_path(previous);
}

TEST_F(GridTest, MissingExportsAreSkippedAndTheOthersStillRun)
{
    m_program.install("NoDajOkno", "NoDajOkno");
    m_program.install("NoZavriOkno", "NoZavriOkno");
    m_program.install("NoSetProxy", "NoSetProxy");
    setUp();
    for (int i = 0; i < 3; ++i) {
        click(button(i));
        EXPECT_TRUE(button(i)->Down()) << i;
        EXPECT_NE(button(i)->LibraryHandle, nullptr) << i;
        click(button(i));
        EXPECT_FALSE(button(i)->Down()) << i;
        EXPECT_EQ(button(i)->LibraryHandle, nullptr) << i;
    }
    EXPECT_EQ(heads(callsOf("NoDajOkno")), (Lines{"load", "SetProxyParameters", "ZavriOkno", "unload"}));
    EXPECT_EQ(heads(callsOf("NoZavriOkno")),
              (Lines{"load", "DajOkno", "show", "SetProxyParameters", "close", "destroy", "unload"}));
    EXPECT_EQ(heads(callsOf("NoSetProxy")), (Lines{"load", "DajOkno", "show", "ZavriOkno", "close", "destroy", "unload"}));
}

TEST_F(GridTest, AWindowlessModulePressedAgainGetsDajOknoButNoProxy)
{
    m_program.install("Rec", "Recorder");
    setUp();
    TMySpeedButton* b = button(0);
    {
        ScopedEnv refuse("VEXOR_TEST_MODULE_REFUSE", "1");
        click(b);
    }
    EXPECT_TRUE(b->Down());
    EXPECT_NE(b->LibraryHandle, nullptr);
    EXPECT_EQ(b->ModuleWindow, nullptr);
    m_program.clearCalls();
    // Loaded and down: the operation re-opens the window.
    b->ToggleModule();
    EXPECT_NE(b->ModuleWindow, nullptr);
    EXPECT_EQ(heads(callsOf("Recorder")), (Lines{"DajOkno", "show"}));
}

TEST_F(GridTest, ModulesMenuShowsAmpersandsAndOpensTheModuleOnce)
{
    m_program.install("Recorder", "Recorder");
    writeFile(m_constants.ModulesListFile, "[Modules]\r\nRecorder=Rec&order\r\nR&D=R&D tools\r\n");
    setUp();
    QMenu menu;
    menu.addAction(QStringLiteral("stale entry"));
    grid().BuildModulesMenu(&menu);
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Rec&&order"));
    EXPECT_EQ(items[1]->text(), QStringLiteral("R&&D tools"));

    items[0]->trigger();
    EXPECT_TRUE(button(0)->Down());
    items[0]->trigger();
    EXPECT_EQ(heads(callsOf("Recorder")), (Lines{"load", "DajOkno", "show", "SetProxyParameters"}))
        << "an open module is left alone";

    writeFile(m_constants.ModulesListFile, "[Modules]\r\n");
    grid().BuildModulesMenu(&menu);
    EXPECT_TRUE(menu.actions().isEmpty());
    std::filesystem::remove(m_constants.ModulesListFile);
    grid().BuildModulesMenu(&menu);
    EXPECT_TRUE(menu.actions().isEmpty());
}

TEST_F(GridTest, NotInstalledModuleOffersTheUpdatePage)
{
    m_program.install("Recorder", "Recorder");
    setUp();
    const std::string urls = m_program.dir() + "urls.log";
    MessageBoxAnswer answer;
    {
        ScopedEnv urlLog("VEXOR_OPEN_URL_LOG", urls);
        answer.arm(QMessageBox::Ok);
        grid().ModulesMenuClick("&Calc");
    }
    ASSERT_TRUE(answer.seen);
    EXPECT_EQ(answer.title, QStringLiteral("Vexor"));
    EXPECT_EQ(answer.text, QStringLiteral("This module is not installed. Download?"));
    EXPECT_EQ(readFile(urls), "http://updates.example.test:8080/update/index.php?MID=1&MCID=1131&MUID=7\n");
    EXPECT_FALSE(button(0)->Down());
}

TEST_F(GridTest, CloseRequestsForOtherHandlesChangeNothing)
{
    m_program.install("Rec", "Recorder");
    setUp();
    click(button(0));
    const std::int32_t handle = button(0)->ModuleWindowHandle();
    ASSERT_GT(handle, 0);
    m_program.clearCalls();
    for (std::intptr_t wParam : {std::intptr_t{handle} + 1, std::intptr_t{0}, -std::intptr_t{handle},
                                 (std::intptr_t{1} << 32) + handle, std::intptr_t{-1}}) {
        PostWindowMessage(m_form.get(), CM_TRYCLOSEMODULE, wParam, 0);
    }
    QTRY_COMPARE(m_form->count(CM_TRYCLOSEMODULE), 5);
    EXPECT_TRUE(button(0)->Down());
    EXPECT_NE(button(0)->ModuleWindow, nullptr);
    EXPECT_TRUE(m_program.calls().empty());

    grid().TryCloseModule(handle);
    EXPECT_FALSE(button(0)->Down());
    EXPECT_EQ(heads(callsOf("Recorder")), (Lines{"ZavriOkno", "close", "destroy", "unload"}));
}

TEST_F(GridTest, AModulePostsItsOwnCloseRequestAndIsClosedAfterItsCallReturned)
{
    m_program.install("Rec", "Recorder");
    m_program.install("SelfClose", "SelfClose");
    setUp();
    click(button(0));
    click(button(1));
    // The request is posted from inside "show": the module is still open here.
    EXPECT_TRUE(button(1)->Down());
    QTRY_VERIFY(!button(1)->Down());
    EXPECT_EQ(button(1)->LibraryHandle, nullptr);
    EXPECT_EQ(heads(callsOf("SelfClose")),
              (Lines{"load", "DajOkno", "show", "SetProxyParameters", "ZavriOkno", "close", "destroy", "unload"}));
    EXPECT_TRUE(button(0)->Down()) << "the other module stays open";
}

TEST_F(GridTest, AModuleCanAskForASynchronisation)
{
    m_program.install("Connect", "Connect");
    setUp();
    click(button(0));
    QTRY_COMPARE(m_form->count(CM_TRYCONNECT), 1);
    EXPECT_EQ(m_form->received.front().wParam, 0);
    EXPECT_TRUE(button(0)->Down());
}

TEST_F(GridTest, NewProxySettingsReachOnlyOpenModules)
{
    m_program.install("Open", "Recorder");
    m_program.install("Closed", "NoZavriOkno");
    m_program.install("Windowless", "NoDajOkno");
    setUp();
    click(button(0));
    click(button(2));
    m_program.clearCalls();
    ProxySettings proxy;
    proxy.ProxyName = std::string(256, 'n');
    proxy.ProxyPort = 8080;
    m_constants.SetProxy(proxy);
    grid().SetProxyParametersForOpenModules();
    EXPECT_EQ(m_program.calls(), (Lines{"Recorder SetProxyParameters name=255:" + std::string(255, 'n') +
                                        " user=0: pass=0: port=8080"}));
}

TEST_F(GridTest, CleanUpDestroysWindowsWithoutZavriOknoAndUnloads)
{
    m_program.install("Rec", "Recorder");
    m_program.install("NoZavriOkno", "NoZavriOkno");
    m_program.install("Idle", "Recorder");
    setUp();
    click(button(0));
    click(button(1));
    m_program.clearCalls();
    grid().CleanUp();
    EXPECT_EQ(callsOf("Recorder"), (Lines{"destroy 1", "unload"}));
    EXPECT_EQ(callsOf("NoZavriOkno"), (Lines{"destroy 2", "unload"}));
    for (TMySpeedButton* b : grid().Buttons)
        EXPECT_EQ(b, nullptr);
    EXPECT_EQ(button(0), nullptr) << "the buttons are gone from the form";
    grid().CleanUp();  // twice is harmless
}

TEST_F(GridTest, ButtonsAndGridDyingWithTheFormReleaseOpenModules)
{
    m_program.install("Rec", "Recorder");
    m_program.install("Other", "NoSetProxy");
    setUp();
    click(button(0));
    click(button(1));
    m_program.clearCalls();
    delete button(0);
    EXPECT_EQ(callsOf("Recorder"), (Lines{"destroy 1", "unload"}));
    EXPECT_EQ(grid().Buttons[0], nullptr);

    // The form owns the grid, as the main window does.
    static_cast<void>(m_grid.release());
    m_form.reset();
    EXPECT_EQ(callsOf("NoSetProxy"), (Lines{"destroy 2", "unload"}));
}

}  // namespace
}  // namespace vexor::testing
