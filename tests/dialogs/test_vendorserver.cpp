// The language download against the stand-in vendor server, started on a
// free loopback port for each test.

#include "dialogtest.h"
#include "platform/fileops.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace vexor::test {
namespace {

#ifdef VEXOR_SERVER_EXE

class VendorServer {
public:
    explicit VendorServer(const std::string& workDir)
    {
        const std::string portFile = workDir + "server.port";
        const std::string logFile = workDir + "server.log";
        const std::string content = std::string(VEXOR_SOURCE_DIR) + "/server/content";
        std::vector<std::string> args{VEXOR_SERVER_EXE, "--port",    "0",       "--port-file",
                                      portFile,         "--content", content,   "--log",
                                      logFile};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);

        // Ready once it has written its port; give up should it exit first.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_pid > 0 && std::chrono::steady_clock::now() < deadline) {
            const std::string text = readFile(portFile);
            if (!text.empty() && text.back() == '\n') {
                m_port = std::atoi(text.c_str());
                break;
            }
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    ~VendorServer()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
    }

    VendorServer(const VendorServer&) = delete;
    VendorServer& operator=(const VendorServer&) = delete;

    bool running() const { return m_pid > 0 && m_port > 0; }
    std::string hostAndPort() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    pid_t m_pid = -1;
    int m_port = 0;
};

class VendorServerTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        server = std::make_unique<VendorServer>(dir());
        ASSERT_TRUE(server->running()) << "vexor-server did not start";
        c.ServerHost = server->hostAndPort();
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
