// The main window: layout, captions, the menu, languages, settings and close.
#include "app/mainwindow.h"

#include "app/bannerview.h"
#include "app/windowmessage.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "modules/modulegrid.h"
#include "modules/myspeedbutton.h"
#include "sync/downloadthread.h"
#include "test_gui_support.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace vexor {
namespace {

using testing::GuiProgram;
using testing::ModalResponder;

constexpr const char* GermanIndex =
    "[Languages]\r\nEnglish=english.lng\r\nDeutsch=german.lng\r\nFrancais=french.lng\r\n";
constexpr const char* GermanTexts =
    "[Texts]\r\nMainCaption=Vexor DE\r\nMainButton1=Einstellungen\r\nLangMenu=Sprachen\r\n"
    "ModulMenu=Module\r\nPreferMenu=Optionen\r\nFPCaption=Vorgaben\r\nFPLabel1=Sprache:\r\n";

class MainWindowTest : public ::testing::Test {
protected:
    void create(const std::string& settings = "[Settings]\r\nAutoConnect=0\r\n")
    {
        program = std::make_unique<GuiProgram>(settings);
        prepare();
        program->createLanguage();
        form = std::make_unique<TForm1>(program->context);
        program->context.mainForm = form.get();
    }
    // Runs before the window is created: files and registry of the test.
    std::function<void()> prepare = [] {};

    QStringList languageItems() const
    {
        QStringList items;
        for (QAction* item : form->LanguagesMenu->actions())
            items << item->text();
        return items;
    }

    std::unique_ptr<GuiProgram> program;
    std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, DesignedLayoutNamesAndEnglishCaptions)
{
    create();
    EXPECT_EQ(form->size(), QSize(377, 123));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window is not resizable";
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(form->font().pointSize(), 8);

    auto* browser = form->findChild<QWidget*>(QStringLiteral("WebBrowser1"));
    auto* button = form->findChild<QPushButton*>(QStringLiteral("Button1"));
    ASSERT_TRUE(browser && button);
    EXPECT_EQ(browser->geometry(), QRect(0, 0, 124, 94));
    EXPECT_EQ(button->geometry(), QRect(0, 96, 121, 25));
    EXPECT_FALSE(browser->accessibleName().isEmpty());
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Preferences"));
    for (const char* name : {"PopupMenu1", "ModulesMenu", "LanguagesMenu"})
        EXPECT_NE(form->findChild<QMenu*>(QString::fromLatin1(name)), nullptr) << name;
    for (const char* name : {"ddd1", "About1"})
        EXPECT_NE(form->findChild<QAction*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_NE(form->findChild<QTimer*>(QStringLiteral("Timer1")), nullptr);

    EXPECT_EQ(form->windowTitle(), QStringLiteral("Vexor"));
    EXPECT_EQ(button->text(), QStringLiteral("Preferences"));
    EXPECT_EQ(form->ddd1->text(), QStringLiteral("Settings"));
    EXPECT_EQ(form->ModulesMenu->title(), QStringLiteral("Modules"));
    EXPECT_EQ(form->LanguagesMenu->title(), QStringLiteral("Languages"));
    EXPECT_EQ(form->About1->text(), QStringLiteral("About"));
    // Twelve disabled module buttons and no module: the designed width stays.
    EXPECT_EQ(form->ModuleGrid().Buttons.size(), 12u);
    EXPECT_NE(form->DownloadThread, nullptr);
}

TEST_F(MainWindowTest, MenuOpensFromButton1OnlyWithAnyMouseButton)
{
    create();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));

    QTest::mouseClick(form.get(), Qt::RightButton, {}, QPoint(300, 110));
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->PopupMenu1->isVisible()) << "right-click on the window opens nothing";
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    for (Qt::MouseButton mouse : {Qt::RightButton, Qt::LeftButton, Qt::MiddleButton}) {
        QTest::mousePress(form->Button1, mouse, {}, QPoint(10, 10));
        GUI_TRY_VERIFY(form->PopupMenu1->isVisible());
        EXPECT_FALSE(form->Button1->isDown()) << "the press goes to the menu, not the button";
        form->PopupMenu1->close();
        GUI_TRY_VERIFY(!form->PopupMenu1->isVisible());
    }
    // Without a mouse: the keyboard's Space on the button.
    form->Button1->setFocus();
    QTest::keyClick(form->Button1, Qt::Key_Space);
    GUI_TRY_VERIFY(form->PopupMenu1->isVisible());
    form->PopupMenu1->close();
}

TEST_F(MainWindowTest, LanguagesMenuListsTheIndexAndSwitchesEveryCaption)
{
    prepare = [this] {
        program->dir.write("Languages/lang.ini", GermanIndex);
        program->dir.write("Languages/german.lng", GermanTexts);
    };
    create();
    EXPECT_EQ(languageItems(), (QStringList{QStringLiteral("English"), QStringLiteral("Deutsch"),
                                            QStringLiteral("Francais")}));

    form->LanguagesMenu->actions().at(1)->trigger();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Vexor DE"));
    EXPECT_EQ(form->Button1->text(), QStringLiteral("Einstellungen"));
    EXPECT_EQ(form->LanguagesMenu->title(), QStringLiteral("Sprachen"));
    EXPECT_EQ(form->ModulesMenu->title(), QStringLiteral("Module"));
    EXPECT_EQ(form->ddd1->text(), QStringLiteral("Optionen"));
    EXPECT_EQ(form->About1->text(), QStringLiteral("About")) << "never translated";
    EXPECT_EQ(form->PreferForm->windowTitle(), QStringLiteral("Vorgaben"));
    EXPECT_EQ(form->PreferForm->SelectedLanguage(), "Deutsch");

    // A language file without "MainCaption" keeps every caption.
    program->dir.write("Languages/german.lng", "[Texts]\r\nMainButton1=Anders\r\n");
    form->LanguageMenuClick("English");
    form->LanguageMenuClick("Deutsch");
    EXPECT_EQ(form->Button1->text(), QStringLiteral("Preferences"));
}

// Names and texts in the vendor's encodings: the caption, the menu item and
// the preferences list show the same characters, and the name goes back to
// settings.ini, the server request and the registry byte for byte. The name
// is also the module's and the language file's.
TEST_F(MainWindowTest, NamesKeepTheirBytesAndShowTheirCharacters)
{
    const struct {
        const char* what;
        const char* codePage;
        std::string name;
        QString shown;  // empty: whatever the code page makes of it
        std::string bom;
    } rows[] = {
        {"Latin-1", "windows-1252", "Fran\xE7" "ais", QString::fromUtf8("Fran\u00e7ais"), ""},
        {"Windows-1250", "windows-1250", "\xC8" "e\x9A" "tina", QString::fromUtf8("\u010ce\u0161tina"), ""},
        {"UTF-8", "windows-1250", "\xC4\x8C" "e\xC5\xA1tina", QString::fromUtf8("\u010ce\u0161tina"), ""},
        {"byte-order mark", "windows-1252", "Fran\xC3\xA7" "ais", QString::fromUtf8("Fran\u00e7ais"), "\xEF\xBB\xBF"},
        {"invalid in both", "windows-1250", "X\x81\xC3(\x98", QString(), ""},
        {"unknown code page: Latin-1", "no-such-page", "Fran\xE7" "ais", QString::fromUtf8("Fran\u00e7ais"), ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const testkit::ScopedEnv codePage("VEXOR_LEGACY_CODEPAGE", row.codePage);
        const std::string& name = row.name;
        const std::string key = "Software\\Vexor\\" + name;
        prepare = [&] {
            program->dir.write("Languages/lang.ini", row.bom + "[Languages]\r\nEnglish=english.lng\r\n" + name + "="
                                                         + name + ".lng\r\n");
            program->dir.write("Languages/" + name + ".lng", row.bom + "[Texts]\r\nMainCaption=Vexor\r\nMainButton1="
                                                                + name + "\r\nFPCaption=P\r\nFPLabel1=" + name + "\r\n");
            program->registry.writeString(key, "ModulePath", program->dir.path());
        };
        create("[Settings]\r\nAutoConnect=0\r\nLanguage=" + name + "\r\n");
        TPreferForm& prefer = *form->PreferForm;
        prefer.EnsureBuilt();
        const QString shown = form->Button1->text();
        EXPECT_TRUE(row.shown.isEmpty() ? !shown.isEmpty() : shown == row.shown) << shown.toStdString();
        EXPECT_EQ(languageItems().value(1), shown);
        EXPECT_EQ(prefer.ComboBox1->currentText(), shown);
        EXPECT_EQ(prefer.findChild<QLabel*>(QStringLiteral("Label1"))->text(), shown);
        EXPECT_EQ(form->ModuleGrid().Buttons[0]->accessibleName(), shown);

        form->PrepareSync(*form->DownloadThread);
        EXPECT_EQ(form->DownloadThread->LanguageName, name) << "sent as L=";
        prefer.FormShow();
        prefer.Button1Click();
        EXPECT_EQ(program->registry.subKeyNames("Software\\Vexor"), std::vector<std::string>{name});
        EXPECT_EQ(program->registry.findString(key, "Default"), "N");
        ASSERT_TRUE(form->close());
        EXPECT_NE(program->dir.read("settings.ini").find("\r\nLanguage=" + name + "\r\n"), std::string::npos);
        form.reset();
    }
}

// Cancelled, or ended with OK while the file is still missing: no switch.
TEST_F(MainWindowTest, LanguageNotInstalledAndNotDownloadedRestoresTheSelection)
{
    prepare = [this] { program->dir.write("Languages/lang.ini", GermanIndex); };
    create();
    TDownloadLanguageForm download(program->context, *form->PreferForm);
    program->context.downloadLanguageForm = &download;
    for (const bool accepted : {false, true}) {
        form->PreferForm->SelectLanguage("English");
        std::string selectedWhileOpen;
        ModalResponder responder([&](QWidget* modal) {
            selectedWhileOpen = form->PreferForm->SelectedLanguage();
            static_cast<QDialog*>(modal)->done(accepted ? QDialog::Accepted : QDialog::Rejected);
        });
        form->LanguageMenuClick("Francais");
        EXPECT_TRUE(responder.seen);
        EXPECT_EQ(selectedWhileOpen, "Francais") << "the dialog downloads the selected language";
        EXPECT_EQ(form->PreferForm->SelectedLanguage(), "English") << accepted;
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Vexor"));
    }
    program->context.downloadLanguageForm = nullptr;
}

// Closing the main window while the language download dialog waits for a
// server that never answers ends the transfer at once, not at its 5 s
// time-out.
TEST_F(MainWindowTest, CloseDuringAStalledDownloadEndsIt)
{
    prepare = [this] { program->dir.write("Languages/lang.ini", GermanIndex); };
    create();
    testkit::QuietPort stalled(true);
    program->c.ServerHost = stalled.host();
    TDownloadLanguageForm download(program->context, *form->PreferForm);
    program->context.downloadLanguageForm = &download;
    form->show();
    QSignalSpy closed(form.get(), &TForm1::closeAccepted);
    QElapsedTimer sinceClose;
    ModalResponder responder([&](QWidget*) {
        QTimer::singleShot(100, form.get(), [&] {
            EXPECT_TRUE(download.TransferRunning());
            sinceClose.start();
            form->close();
        });
        download.DownloadButtonClick();
        download.reject();  // a dialog the close left open ends here
    });
    form->LanguageMenuClick("Deutsch");
    EXPECT_TRUE(responder.seen);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_LT(sinceClose.elapsed(), 2500) << "the transfer ran on after the close";
    EXPECT_EQ(form->PreferForm->SelectedLanguage(), "") << "no language was installed";
    EXPECT_EQ(program->dir.read("settings.ini").find("Language=Deutsch"), std::string::npos)
        << "saved as current while its download had not completed";
    program->context.downloadLanguageForm = nullptr;
}

TEST_F(MainWindowTest, SettingsPlaceTheWindowAndBringALostOneBack)
{
    create("[Settings]\r\nAutoConnect=0\r\nLeft=100\r\nTop=50\r\nStartUps=4\r\nRotation=2500\r\n"
           "Language=english\r\n");
    EXPECT_EQ(form->pos(), QPoint(100, 50));
    EXPECT_EQ(program->c.StartUps, 5);
    EXPECT_EQ(form->Timer1->interval(), 2500);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->PreferForm->SelectedLanguage(), "English") << "selected without regard to case";
    // The interval it has already (as at the end of most syncs) leaves the
    // timer running, so the banner on screen keeps its period.
    QTest::qWait(400);
    const int remaining = form->Timer1->remainingTime();
    form->SetRotationInterval(2500);
    EXPECT_LE(form->Timer1->remainingTime(), remaining) << "the timer was restarted";

    form.reset();
    create("[Settings]\r\nAutoConnect=0\r\nLeft=-5000\r\nTop=90000\r\nRotation=0\r\n");
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(QRect(form->pos(), form->size()))) << form->pos().x() << "," << form->pos().y();
    EXPECT_FALSE(form->Timer1->isActive()) << "an interval of 0 never fires";
    EXPECT_EQ(form->PreferForm->SelectedLanguage(), "") << "no language saved: no selection";
}

TEST_F(MainWindowTest, CloseWritesEveryKeyAndPositionComesBack)
{
    create("[Settings]\r\nAutoConnect=0\r\nLeft=120\r\nTop=80\r\nLanguage=English\r\n");
    program->c.BannerIds[2] = "ABC123";
    program->c.BannerCounts[2] = 0x1F;
    QSignalSpy closed(form.get(), &TForm1::closeAccepted);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QPoint shownAt = form->pos();
    EXPECT_TRUE(form->close());
    EXPECT_EQ(closed.count(), 1);

    const std::string ini = program->dir.read("settings.ini");
    for (const char* key : {"Language=English", "ProxyName=", "ProxyPort=0", "ProxyUser=", "ProxyPass=",
                            "Install=", "AutoConnect=0", "Banners=000000000000ABC123", "Logs=00000000000000001F",
                            "Rotation=", "BannerPocitadlo=", "StartUps=1"})
        EXPECT_NE(ini.find(key), std::string::npos) << key << " in\n" << ini;
    EXPECT_NE(ini.find("Left=" + std::to_string(shownAt.x())), std::string::npos) << ini;
    EXPECT_NE(ini.find("Top=" + std::to_string(shownAt.y())), std::string::npos) << ini;

    // The next start puts the window where it was.
    form.reset();
    GuiProgram& same = *program;
    same.createLanguage();
    TForm1 again(same.context);
    EXPECT_EQ(again.pos(), shownAt);
}

TEST_F(MainWindowTest, SettingsWriteFailureIsShownAndTheWindowStays)
{
    create();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    // A folder where the file should be: every write fails.
    std::filesystem::remove(program->dir.path() + "settings.ini");
    std::filesystem::create_directories(program->dir.path() + "settings.ini/x");
    QSignalSpy closed(form.get(), &TForm1::closeAccepted);

    ModalResponder responder;
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(responder.seen);
    EXPECT_EQ(responder.text, QStringLiteral("Unable to write to ") + QString::fromStdString(program->dir.path())
                                  + QStringLiteral("settings.ini"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(closed.count(), 0);
    std::filesystem::remove_all(program->dir.path() + "settings.ini");
}

TEST_F(MainWindowTest, ConnectMessageRunsOneCycleThroughTheMainThreadSteps)
{
    create();
    program->c.ClientId = "X42";
    // The server is a refused port: the cycle hands over and then fails in
    // every group, so FinishSync never runs.
    PostWindowMessage(form.get(), CM_TRYCONNECT, 0, 0);
    GUI_TRY_VERIFY(!form->DownloadThread->Idle());
    GUI_TRY_VERIFY_WITH_TIMEOUT(form->DownloadThread->Idle(), 10000);
    EXPECT_EQ(form->DownloadThread->ClientId, "X42") << "PrepareSync ran on the main thread";
    EXPECT_EQ(program->c.StartUps, 1) << "no FinishSync after a failed cycle";

    // Each message that finds the thread idle gives exactly one more cycle.
    program->c.ClientId = "X43";
    PostWindowMessage(form.get(), CM_TRYCONNECT, 0, 0);
    GUI_TRY_VERIFY(!form->DownloadThread->Idle());
    GUI_TRY_VERIFY_WITH_TIMEOUT(form->DownloadThread->Idle(), 10000);
    EXPECT_EQ(form->DownloadThread->ClientId, "X43");
}

}  // namespace
}  // namespace vexor
