// The language download against the stand-in vendor server, started on a
// free loopback port for each test.

#include "dialogtest.h"
#include "platform/fileops.h"
#include "vendorserver.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace vexor::test {
namespace {

#ifdef VEXOR_SERVER_EXE

class VendorServerTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        server = std::make_unique<VendorServer>(
            VEXOR_SERVER_EXE, std::vector<std::string>{"--content", VEXOR_SOURCE_DIR "/server/content"});
        ASSERT_TRUE(server->started()) << server->errorOutput();
        c.ServerHost = server->host();
    }
    void TearDown() override
    {
        server.reset();
        DialogTest::TearDown();
    }

    std::unique_ptr<VendorServer> server;
};

TEST_F(VendorServerTest, DownloadThroughPreferencesSwitchesEveryCaption)
{
    const std::string served = readFile(std::string(VEXOR_SOURCE_DIR) + "/server/content/languages/deutsch.lng");
    ASSERT_FALSE(served.empty());

    std::string status;
    const int result = runModal(*prefer, [&] {
        prefer->SelectLanguage("Deutsch");
        QTimer::singleShot(0, download.get(), [&] {
            QTest::mouseClick(download->findChild<QPushButton*>(QStringLiteral("DownloadButton")), Qt::LeftButton);
            status = download->findChild<QLabel*>(QStringLiteral("Label1"))->text().toStdString();
            QTest::mouseClick(download->findChild<QPushButton*>(QStringLiteral("CancelButton")), Qt::LeftButton);
        });
        QTest::mouseClick(prefer->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(status, englishText("LDSuccess"));
    EXPECT_EQ(readFile(platform::resolvePath(c.LangDir + "deutsch.lng")), dialogs::JoinLinesCrLf(served));
    EXPECT_EQ(prefer->SelectedLanguage(), "Deutsch");

    // Every caption of the dialog now comes from the new language, and the
    // main window was told to re-apply its own.
    const TLanguage& lang = app->language();
    ASSERT_FALSE(lang.Text("FPCaption").empty());
    EXPECT_NE(lang.Text("FPCaption"), englishText("FPCaption"));
    EXPECT_EQ(prefer->windowTitle().toStdString(), lang.Text("FPCaption"));
    for (const auto& [name, key] : {std::pair{"Label1", "FPLabel1"}, {"Label2", "FPLabel2"}, {"Label3", "FPLabel3"}})
        EXPECT_EQ(prefer->findChild<QLabel*>(QString::fromLatin1(name))->text().toStdString(), lang.Text(key));
    EXPECT_EQ(prefer->findChild<QPushButton*>(QStringLiteral("Button2"))->text().toStdString(),
              lang.Text("FPButton2"));
    EXPECT_EQ(mainApplyTextsCalls, 1);

    // The download dialog takes the new texts the next time it opens.
    runModal(*download, [&] {
        EXPECT_EQ(download->windowTitle().toStdString(), lang.Text("LDCaption"));
        download->reject();
    });
}

TEST_F(VendorServerTest, UnknownLanguageFailsAndAllowsRetry)
{
    prefer->SelectLanguage("Klingon");
    auto* button = download->findChild<QPushButton*>(QStringLiteral("DownloadButton"));
    std::string status;
    bool enabledAgain = false;
    const int result = runModal(*download, [&] {
        QTest::mouseClick(button, Qt::LeftButton);
        status = download->findChild<QLabel*>(QStringLiteral("Label1"))->text().toStdString();
        enabledAgain = button->isEnabled();
        download->reject();
    });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(status, englishError("ConnectionFailed"));
    EXPECT_TRUE(enabledAgain);
    EXPECT_FALSE(platform::fileExists(c.LangDir + "klingon.lng"));
}

#else

TEST(VendorServerTest, NotBuilt)
{
    GTEST_SKIP() << "vexor-server is not part of this build";
}

#endif

}  // namespace
}  // namespace vexor::test
