#include "dialogs/preferform.h"

#include "dialogtest.h"
#include "app/uitext.h"
#include "loopbackserver.h"
#include "scopedenv.h"
#include "modules/modulegrid.h"
#include "modules/myspeedbutton.h"
#include "platform/fileops.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <vector>

namespace vexor::test {
namespace {

const std::string DeutschFile =
    "[Texts]\r\nMainCaption=Vexor\r\nFPCaption=Einstellungen\r\nFPLabel1=Sprache:\r\n"
    "FPLabel2=Proxy-Adresse:\r\nFPLabel3=Proxy-Port:\r\nFPButton1=Gut\r\nFPButton2=Abbrechen\r\n"
    "AutoConnect=Beim Start verbinden\r\nPage1=Beim Start\r\nPage2=Aktiv\r\nLDCaption=Sprache laden\r\n"
    "LDDownloadButton=Laden\r\nLDCancelButton=Abbrechen\r\nLDFirstText=Nicht installiert.\r\n"
    "LDOKButton=Fertig\r\nLDSuccess=Installiert.\r\n[Errors]\r\nConnectionFailed=Fehler.\r\n";

class PreferTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        combo = prefer->ComboBox1;
        autoConnect = child<QCheckBox>(*prefer, "CheckBox1");
        for (int i = 0; i < 4; ++i)
            edits[i] = child<QLineEdit>(*prefer, ("Edit" + std::to_string(i + 1)).c_str());
        defaultList = child<QListWidget>(*prefer, "CheckListBox1");
        activeList = child<QListWidget>(*prefer, "CheckListBox2");
        okButton = child<QPushButton>(*prefer, "Button1");
        cancelButton = child<QPushButton>(*prefer, "Button2");
    }

    // Three modules in this registry order; Clock has no "Active" value and a
    // "Default" that is not exactly "Y"; Weather's "Default" is not a string.
    void writeModules()
    {
        writeFile(registry->filePath(),
                  "REGEDIT4\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Vexor]\r\n\"VexorID\"=\"4711\"\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Vexor\\Notes]\r\n\"Default\"=\"Y\"\r\n\"Active\"=\"Y\"\r\n\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Vexor\\Clock]\r\n\"Default\"=\"y\"\r\n\"ACTIVE\"=\"N\"\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Vexor\\Weather]\r\n\"Default\"=dword:00000001\r\n"
                  "\"Active\"=\"Y\"\r\n");
    }

    static std::vector<std::pair<std::string, bool>> items(const QListWidget* list)
    {
        std::vector<std::pair<std::string, bool>> result;
        for (int i = 0; i < list->count(); ++i)
            result.emplace_back(list->item(i)->text().toStdString(),
                                list->item(i)->checkState() == Qt::Checked);
        return result;
    }

    std::string value(const char* module, const char* name) const
    {
        return registry->findString(std::string("Software\\Vexor\\") + module, name).value_or("<missing>");
    }

    // Shows the dialog and runs `script` in it; returns the modal result.
    int show(std::function<void()> script) { return runModal(*prefer, std::move(script)); }

    // Confirms the dialog with OK and fails the test should OK not close it.
    void clickOk() { QTest::mouseClick(okButton, Qt::LeftButton); }

    QComboBox* combo = nullptr;
    QCheckBox* autoConnect = nullptr;
    QLineEdit* edits[4] = {};
    QListWidget* defaultList = nullptr;
    QListWidget* activeList = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

using Items = std::vector<std::pair<std::string, bool>>;

TEST_F(PreferTest, CreatedWithLanguagesLayoutAndTexts)
{
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("English"));
    EXPECT_EQ(combo->itemText(2), QStringLiteral("Klingon"));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(prefer->size(), QSize(351, 281));
    EXPECT_EQ(prefer->minimumSize(), prefer->maximumSize());
    EXPECT_EQ(child<QTabWidget>(*prefer, "PageControl1")->currentIndex(), 1);
    EXPECT_EQ(edits[3]->echoMode(), QLineEdit::Password);

    EXPECT_EQ(prefer->windowTitle().toStdString(), englishText("FPCaption"));
    EXPECT_EQ(child<QLabel>(*prefer, "Label1")->text().toStdString(), englishText("FPLabel1"));
    EXPECT_EQ(autoConnect->text().toStdString(), englishText("AutoConnect"));
    EXPECT_EQ(child<QTabWidget>(*prefer, "PageControl1")->tabText(1).toStdString(), englishText("Page2"));
    EXPECT_EQ(child<QLabel>(*prefer, "Label4")->text(), QStringLiteral("Proxy user:"));
    EXPECT_EQ(child<QLabel>(*prefer, "Label5")->text(), QStringLiteral("Proxy password:"));

    // Tab order: ComboBox1, Edit1, Edit2, Button1, Button2, Edit3, Edit4, CheckBox1.
    prefer->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(prefer.get()));
    const std::vector<QWidget*> order{combo, edits[0], edits[1], okButton, cancelButton,
                                      edits[2], edits[3], autoConnect};
    order.front()->setFocus();
    for (std::size_t i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), order[i]) << "after tab " << i;
    }
    prefer->hide();
}

TEST_F(PreferTest, BothModuleTabsStayInSightWithLongCaptions)
{
    auto* pages = child<QTabWidget>(*prefer, "PageControl1");
    const QString captions[][2] = {{QStringLiteral("Open at start-up"), QStringLiteral("Enabled")},
                                   {QString::fromUtf8("Beim Start \u00f6ffnen"), QStringLiteral("Aktiviert")},
                                   {QString(80, QLatin1Char('W')), QString(80, QLatin1Char('M'))}};
    prefer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(prefer.get()));
    auto* bar = pages->tabBar();
    for (const auto& row : captions) {
        pages->setTabText(0, row[0]);
        pages->setTabText(1, row[1]);
        QApplication::processEvents();
        for (int i = 0; i < 2; ++i) {
            const QRect tab = bar->tabRect(i);
            EXPECT_TRUE(bar->rect().contains(tab)) << row[0].toStdString() << ": tab " << i << " spans "
                                                   << tab.left() << " to " << tab.right() << " of "
                                                   << bar->width();
            EXPECT_GE(tab.width(), 24) << row[0].toStdString() << ": tab " << i;
        }
    }
    prefer->hide();
}

// The captions of the shipped English file and of the demo German one fit
// their tabs whole; any caption is also the tab's tool tip, so a shortened
// one can still be read.
TEST_F(PreferTest, ShippedTabCaptionsFitWhole)
{
    auto* pages = child<QTabWidget>(*prefer, "PageControl1");
    prefer->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(prefer.get()));
    auto* bar = pages->tabBar();
    const std::string german =
        readFile(std::string(VEXOR_SOURCE_DIR) + "/server/content/languages/deutsch.lng");
    ASSERT_FALSE(german.empty());
    writeFile(dir() + "Languages/deutsch.lng", german);
    app->GlobalLanguage = std::make_unique<TLanguage>(c.LangIndexFile, c.LangDir);
    for (const char* name : {"English", "Deutsch"}) {
        app->language().LoadLanguage(name);
        prefer->ApplyTexts();
        QApplication::processEvents();
        int shown = 0;
        for (int i = 0; i < 2; ++i) {
            const QString caption = ui::ShowText(app->language().Text(i == 0 ? "Page1" : "Page2"));
            ASSERT_FALSE(caption.isEmpty()) << name;
            EXPECT_EQ(pages->tabText(i), caption) << name;
            EXPECT_EQ(pages->tabToolTip(i), caption) << name;
            shown += bar->tabRect(i).width();
        }
        // The bar's size hint is both tabs at their full widths; tabs that
        // had to be shortened together take less.
        EXPECT_GE(shown, bar->sizeHint().width())
            << name << ": \"" << pages->tabText(0).toStdString() << "\" and \""
            << pages->tabText(1).toStdString() << "\" are shortened to fit " << bar->width() << " pixels";
    }
    prefer->hide();
}

TEST_F(PreferTest, ShowListsModulesAndSettings)
{
    writeModules();
    c.SetProxy({"proxy.lan", 3128, "anna", "s3cret"});
    c.AutoConnect = true;
    combo->setCurrentIndex(1);

    show([&] {
        EXPECT_EQ(prefer->SavedLanguageIndex, 1);
        EXPECT_EQ(edits[0]->text(), QStringLiteral("proxy.lan"));
        EXPECT_EQ(edits[1]->text(), QStringLiteral("3128"));
        EXPECT_EQ(edits[2]->text(), QStringLiteral("anna"));
        EXPECT_EQ(edits[3]->text(), QStringLiteral("s3cret"));
        EXPECT_TRUE(autoConnect->isChecked());
        // Registry order; only an exact "Y" ticks; a value of another type is off.
        EXPECT_EQ(items(defaultList), (Items{{"Notes", true}, {"Clock", false}, {"Weather", false}}));
        EXPECT_EQ(items(activeList), (Items{{"Notes", true}, {"Clock", false}, {"Weather", true}}));
        prefer->reject();
    });

    // Shown again, the lists are filled afresh (no duplicates) from the
    // registry as it is now.
    registry->deleteKey("Software\\Vexor\\Clock");
    show([&] {
        EXPECT_EQ(items(activeList), (Items{{"Notes", true}, {"Weather", true}}));
        prefer->reject();
    });
}

TEST_F(PreferTest, OkWritesModuleFlagsAsYesOrNo)
{
    writeModules();
    const int result = show([&] {
        defaultList->item(0)->setCheckState(Qt::Unchecked);  // Notes
        defaultList->item(2)->setCheckState(Qt::Checked);    // Weather
        // A key that vanished since the dialog opened is not created again.
        registry->deleteKey("Software\\Vexor\\Weather");
        clickOk();
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(value("Notes", "Default"), "N");
    EXPECT_EQ(value("Notes", "Active"), "Y");
    EXPECT_EQ(value("Clock", "Default"), "N");
    // "Active" and "ACTIVE" are one value: the unticked module is now off.
    EXPECT_EQ(value("Clock", "Active"), "N");
    EXPECT_FALSE(registry->keyExists("Software\\Vexor\\Weather"));
    EXPECT_EQ(registry->readString("Software\\Vexor", "VexorID"), "4711");
}

TEST_F(PreferTest, OkStoresSettingsBeforeHandingThemToModules)
{
    ProxySettings seenByModules;
    int moduleCalls = 0;
    prefer->SetProxyParametersForOpenModules = [&] {
        ++moduleCalls;
        seenByModules = c.Proxy();
    };
    const int result = show([&] {
        autoConnect->setChecked(true);
        edits[0]->setText(QStringLiteral("10.1.2.3"));
        edits[1]->setText(QStringLiteral("8080"));
        edits[2]->setText(QStringLiteral("bob"));
        edits[3]->setText(QStringLiteral("pw"));
        clickOk();
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(c.AutoConnect);
    const ProxySettings expected{"10.1.2.3", 8080, "bob", "pw"};
    EXPECT_EQ(c.Proxy(), expected);
    EXPECT_EQ(moduleCalls, 1);
    EXPECT_EQ(seenByModules, expected);

    // A port that is not an integer becomes 0.
    show([&] {
        edits[1]->setText(QStringLiteral("80 80"));
        clickOk();
    });
    EXPECT_EQ(c.Proxy().ProxyPort, 0);

    // Values read from settings.ini in the legacy code page keep their bytes
    // unless edited; what the user types is stored as UTF-8.
    const ProxySettings latin1{"pr\xF6xy", 0, "\xE9mile", "p\xE4ss"};
    c.SetProxy(latin1);
    show([&] { clickOk(); });
    EXPECT_EQ(c.Proxy(), latin1);
    show([&] {
        edits[2]->setText(QString::fromUtf8("\u00e9mil"));
        clickOk();
    });
    EXPECT_EQ(c.Proxy().ProxyUser, "\xC3\xA9mil");
    EXPECT_EQ(c.Proxy().ProxyName, latin1.ProxyName);
}

TEST(PreferPort, IntegerOrZero)
{
    const struct {
        const char* text;
        std::int32_t port;
    } rows[] = {
        {"8080", 8080},  {"0", 0},          {"", 0},          {"   ", 0},         {" 3128 ", 3128},
        {"+21", 21},     {"-1", -1},        {"abc", 0},       {"80x", 0},        {"x80", 0},
        {"8 0", 0},      {"+", 0},          {"-", 0},         {"+-5", 0},        {"0x50", 0},
        {"2147483647", 2147483647},         {"2147483648", 0}, {"-2147483648", -2147483647 - 1},
        {"-2147483649", 0},                 {"99999999999999999999", 0},          {"1.5", 0},
        {"\xD9\xA1", 0},  // an Arabic-Indic digit is not a decimal digit here
    };
    for (const auto& row : rows)
        EXPECT_EQ(TPreferForm::ParsePort(row.text), row.port) << '"' << row.text << '"';
}

// Cancel, Escape after a pick and the close box all end without the pick: the
// selection of the last show comes back and no language is loaded.
TEST_F(PreferTest, CancelEscapeAndCloseBoxRestoreSelection)
{
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Cancel", [&] { QTest::mouseClick(cancelButton, Qt::LeftButton); }},
        {"Escape", [&] { QTest::keyClick(combo, Qt::Key_Escape); }},
        {"close box", [&] { prefer->close(); }},
    };
    for (const auto& [what, end] : ways) {
        const int result = show([&] {
            combo->setCurrentIndex(1);
            edits[0]->setText(QStringLiteral("ignored"));
            end();
        });
        EXPECT_EQ(result, QDialog::Rejected) << what;
        EXPECT_EQ(prefer->SelectedLanguage(), "English") << what;
        EXPECT_EQ(c.Proxy().ProxyName, "") << what;
    }
    EXPECT_EQ(app->language().Text("FPCaption"), englishText("FPCaption"));
    EXPECT_EQ(mainApplyTextsCalls, 0);
}

TEST_F(PreferTest, InstalledLanguageSwitchesAllCaptionsAtOnce)
{
    writeFile(platform::resolvePath(c.LangDir) + "deutsch.lng", DeutschFile);
    show([&] {
        combo->setCurrentIndex(1);
        clickOk();
    });

    EXPECT_EQ(app->language().Text("FPCaption"), "Einstellungen");
    EXPECT_EQ(prefer->windowTitle(), QStringLiteral("Einstellungen"));
    EXPECT_EQ(okButton->text(), QStringLiteral("Gut"));
    EXPECT_EQ(child<QTabWidget>(*prefer, "PageControl1")->tabText(0), QStringLiteral("Beim Start"));
    EXPECT_EQ(child<QLabel>(*prefer, "Label5")->text(), QStringLiteral("Proxy password:"));
    EXPECT_EQ(mainApplyTextsCalls, 1);
    EXPECT_EQ(prefer->SelectedLanguage(), "Deutsch");
}

TEST_F(PreferTest, DownloadThroughOkSwitchesLanguage)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, "HTTP/1.0 200 OK\r\n\r\n" + DeutschFile);
    c.ServerHost = server.host();

    const int result = show([&] {
        combo->setCurrentIndex(1);
        QTimer::singleShot(0, download.get(), [&] {
            QTest::mouseClick(child<QPushButton>(*download, "DownloadButton"), Qt::LeftButton);
            QTest::mouseClick(child<QPushButton>(*download, "CancelButton"), Qt::LeftButton);
        });
        clickOk();
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(readFile(platform::resolvePath(c.LangDir + "deutsch.lng")), DeutschFile);
    EXPECT_EQ(prefer->windowTitle(), QStringLiteral("Einstellungen"));
    EXPECT_EQ(mainApplyTextsCalls, 1);
    EXPECT_EQ(prefer->SelectedLanguage(), "Deutsch");
}

// The download dialog ends without OK (cancelled, or its file could not be
// written): the language stays and the selection goes back.
TEST_F(PreferTest, FailedDownloadRestoresSelection)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, "HTTP/1.0 200 OK\r\n\r\n" + DeutschFile);
    c.ServerHost = server.host();
    std::filesystem::create_directories(platform::resolvePath(c.LangDir + "deutsch.lng"));

    for (const bool tryDownload : {false, true}) {
        SCOPED_TRACE(tryDownload ? "write fails" : "cancelled");
        const int result = show([&] {
            combo->setCurrentIndex(1);
            QTimer::singleShot(0, download.get(), [&] {
                if (tryDownload)
                    QTest::mouseClick(child<QPushButton>(*download, "DownloadButton"), Qt::LeftButton);
                QTest::mouseClick(child<QPushButton>(*download, "CancelButton"), Qt::LeftButton);
            });
            clickOk();
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(combo->currentIndex(), 0);
        EXPECT_EQ(app->language().Text("FPCaption"), englishText("FPCaption"));
        EXPECT_EQ(mainApplyTextsCalls, 0);
    }
    EXPECT_EQ(server.connections(), 1);
}

TEST_F(PreferTest, NoSelectionKeepsLanguageWithoutDownload)
{
    bool downloadShown = false;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
        if (download->isVisible()) {
            downloadShown = true;
            download->reject();
        }
    });
    watch.start();
    const int result = show([&] {
        combo->setCurrentIndex(-1);
        clickOk();
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_FALSE(downloadShown);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(app->language().Text("FPCaption"), englishText("FPCaption"));
}

TEST_F(PreferTest, RegistryWriteErrorIsShownAndDialogStaysOpen)
{
    writeModules();
    // The registry's lock file cannot be created: every write fails.
    std::filesystem::create_directories(registry->filePath() + ".lock");

    std::string message;
    bool stillOpen = false;
    const int result = show([&] {
        QTimer::singleShot(0, prefer.get(), [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                message = box->text().toStdString();
                box->accept();
            }
        });
        clickOk();
        stillOpen = prefer->isVisible();
        QTest::mouseClick(cancelButton, Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(stillOpen);
    EXPECT_NE(message.find("Unable to write"), std::string::npos) << message;
    EXPECT_EQ(value("Clock", "Default"), "y");
}

TEST_F(PreferTest, FaqButtonOpensTheFaqPage)
{
    const std::string log = dir() + "opened-urls.txt";
    {
        ScopedEnv urlLog("VEXOR_OPEN_URL_LOG", log);
        QTest::mouseClick(child<QToolButton>(*prefer, "SpeedButton1"), Qt::LeftButton);
    }
    EXPECT_EQ(readFile(log), "http://faq.vexor.test/faq\n");
}

#ifdef VEXOR_CLOCK_MODULE_DIR
// The sample Clock module shows the proxy it was handed: after OK it shows
// the new one.
TEST_F(PreferTest, OkHandsNewProxyToAnOpenModule)
{
    writeFile(registry->filePath(), "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Vexor\\Clock]\r\n"
                                    "\"ModulePath\"=\"" VEXOR_CLOCK_MODULE_DIR "/\"\r\n");
    QWidget mainWindow;
    TModuleGrid grid(*app, &mainWindow);
    grid.SetUpButton(0, {"Clock"});
    ASSERT_NE(grid.Buttons[0], nullptr);
    grid.Buttons[0]->click();
    QLabel* proxyLabel = nullptr;
    for (QWidget* widget : QApplication::allWidgets())
        if (widget->objectName() == QStringLiteral("ClockProxy"))
            proxyLabel = qobject_cast<QLabel*>(widget);
    ASSERT_NE(proxyLabel, nullptr) << "the Clock module did not open";
    const QString before = proxyLabel->text();

    prefer->SetProxyParametersForOpenModules = [&] { grid.SetProxyParametersForOpenModules(); };
    show([&] {
        edits[0]->setText(QStringLiteral("10.9.8.7"));
        edits[1]->setText(QStringLiteral("3128"));
        clickOk();
    });

    EXPECT_NE(proxyLabel->text(), before);
    EXPECT_TRUE(proxyLabel->text().contains(QStringLiteral("10.9.8.7")));
    EXPECT_TRUE(proxyLabel->text().contains(QStringLiteral("3128")));
    grid.CleanUp();
}
#endif

}  // namespace
}  // namespace vexor::test
