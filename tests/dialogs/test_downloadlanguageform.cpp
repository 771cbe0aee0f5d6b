#include "dialogs/downloadlanguageform.h"

#include "dialogtest.h"
#include "loopbackserver.h"
#include "scopedenv.h"
#include "platform/fileops.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <iostream>
#include <set>

namespace vexor::test {
namespace {

// A language file as a server might send it: LF, CR LF and CR alone mixed.
const std::string DeutschBody =
    "; Vexor - deutsche Texte\n[Texts]\nFPCaption=Einstellungen\r\nLDCaption=Sprache laden\r"
    "LDOKButton=Fertig\n\n[Errors]\nConnectionFailed=Verbindung fehlgeschlagen.";
const std::string DeutschStored =
    "; Vexor - deutsche Texte\r\n[Texts]\r\nFPCaption=Einstellungen\r\nLDCaption=Sprache laden\r\n"
    "LDOKButton=Fertig\r\n\r\n[Errors]\r\nConnectionFailed=Verbindung fehlgeschlagen.\r\n";

std::string okReply(const std::string& body)
{
    return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body;
}

std::set<std::string> filesUnder(const std::string& folder)
{
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        files.insert(entry.path().string());
    return files;
}

class DownloadTest : public DialogTest {
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        label1 = child<QLabel>(*download, "Label1");
        gauge1 = child<QProgressBar>(*download, "Gauge1");
        downloadButton = child<QPushButton>(*download, "DownloadButton");
        cancelButton = child<QPushButton>(*download, "CancelButton");
    }

    std::string label() const { return label1->text().toStdString(); }
    std::string installedFile(const char* name) const { return platform::resolvePath(c.LangDir + name); }

    QLabel* label1 = nullptr;
    QProgressBar* gauge1 = nullptr;
    QPushButton* downloadButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

TEST(JoinLinesCrLf, EndsEveryLineWithCrLf)
{
    const struct {
        std::string body;
        std::string stored;
    } rows[] = {
        {"", ""},
        {"a", "a\r\n"},
        {"a\n", "a\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\r", "a\r\n"},
        {"\n", "\r\n"},
        {"a\nb", "a\r\nb\r\n"},
        {"a\rb\r\nc\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"a\n\nb", "a\r\n\r\nb\r\n"},
        {"a\r\rb", "a\r\n\r\nb\r\n"},
        {"a\n\rb", "a\r\n\r\nb\r\n"},
        {std::string("x\0y\n", 4), std::string("x\0y\r\n", 5)},
        {"\xE4\xF6\xFC=\xDF\n", "\xE4\xF6\xFC=\xDF\r\n"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(dialogs::JoinLinesCrLf(row.body), row.stored) << testing::PrintToString(row.body);
}

TEST_F(DownloadTest, CreatedWithLayoutAndTexts)
{
    EXPECT_EQ(download->size(), QSize(376, 80));
    EXPECT_EQ(download->minimumSize(), download->maximumSize());
    EXPECT_TRUE(label1->wordWrap());
    EXPECT_EQ(download->windowTitle().toStdString(), englishText("LDCaption"));
    EXPECT_EQ(label(), englishText("LDFirstText"));
    EXPECT_EQ(downloadButton->text().toStdString(), englishText("LDDownloadButton"));
    EXPECT_EQ(cancelButton->text().toStdString(), englishText("LDCancelButton"));
    EXPECT_TRUE(gauge1->isHidden());

    // Tab order: CancelButton, then DownloadButton.
    download->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(download.get()));
    cancelButton->setFocus();
    QTest::keyClick(cancelButton, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), downloadButton);
    QTest::keyClick(downloadButton, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), cancelButton);
    download->hide();
}

TEST_F(DownloadTest, SuccessStoresCrLfLinesAndEndsWithOk)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, okReply(DeutschBody));
    c.ServerHost = server.host();
    c.ClientId = "4711";
    prefer->SelectLanguage("Deutsch");

    bool buttonDisabled = false, gaugeFull = false;
    std::string status, okCaption;
    const int result = runModal(*download, [&] {
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        buttonDisabled = !downloadButton->isEnabled();
        gaugeFull = gauge1->isVisible() && gauge1->value() == gauge1->maximum();
        status = label();
        okCaption = cancelButton->text().toStdString();
        QTest::mouseClick(cancelButton, Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(buttonDisabled);
    EXPECT_TRUE(gaugeFull);
    EXPECT_EQ(status, englishText("LDSuccess"));
    EXPECT_EQ(okCaption, englishText("LDOKButton"));
    EXPECT_EQ(readFile(installedFile("deutsch.lng")), DeutschStored);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].substr(0, server.requests()[0].find("\r\n")),
              "GET /cgi-bin/script/vexor_parser.pl?A=LANGC&MID=1&MCID=4711&MUID=1&L=deutsch.lng HTTP/1.0");
    EXPECT_TRUE(app->language().LanguageInstalled("Deutsch"));

    // Shown again, the dialog starts over: Download enabled, gauge hidden.
    runModal(*download, [&] {
        EXPECT_TRUE(downloadButton->isEnabled());
        EXPECT_TRUE(gauge1->isHidden());
        EXPECT_FALSE(download->Downloaded);
        download->reject();
    });
}

TEST_F(DownloadTest, ServerErrorShowsFailureAndAllowsRetry)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, "HTTP/1.0 404 Not Found\r\n\r\nNo such language\n");
    c.ServerHost = server.host();
    prefer->SelectLanguage("Klingon");

    bool enabledAgain = false, retried = false;
    std::string status;
    const int result = runModal(*download, [&] {
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        enabledAgain = downloadButton->isEnabled();
        status = label();
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        retried = server.connections() == 2 && downloadButton->isEnabled();
        QTest::mouseClick(cancelButton, Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(enabledAgain);
    EXPECT_TRUE(retried);
    EXPECT_EQ(status, englishError("ConnectionFailed"));
    EXPECT_FALSE(std::filesystem::exists(installedFile("klingon.lng")));
}

TEST_F(DownloadTest, TransportFailureLeavesDownloadDisabled)
{
    LoopbackServer plain(LoopbackServer::Canned::AnswerUnread, okReply(DeutschBody));
    const QuietPort refused;
    const struct {
        std::string host;
        const char* errorKey;
    } rows[] = {
        {"nonexistent.invalid", "ConnectionNoHost"},
        {refused.host(), "ConnectionFailed"},
        {"https://" + plain.host(), "ConnectionFailed"},  // connected, but no TLS
    };
    prefer->SelectLanguage("Deutsch");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.host);
        c.ServerHost = row.host;
        bool disabled = false, gaugeAtZero = false;
        std::string status;
        const int result = runModal(*download, [&] {
            QTest::mouseClick(downloadButton, Qt::LeftButton);
            disabled = !downloadButton->isEnabled();
            gaugeAtZero = gauge1->isVisible() && gauge1->value() == 0;
            status = label();
            QTest::mouseClick(cancelButton, Qt::LeftButton);
        });
        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(disabled);
        EXPECT_TRUE(gaugeAtZero);
        EXPECT_EQ(status, englishError(row.errorKey));
        EXPECT_FALSE(std::filesystem::exists(installedFile("deutsch.lng")));
    }
}

// Cancel, the close box and Escape each end a transfer that gets no answer.
TEST_F(DownloadTest, LeavingDuringTransferAbortsIt)
{
    const struct {
        const char* way;
        std::function<void(TDownloadLanguageForm&)> leave;
    } rows[] = {
        {"Cancel", [](TDownloadLanguageForm& d) {
             QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("CancelButton")), Qt::LeftButton);
         }},
        {"close box", [](TDownloadLanguageForm& d) { d.close(); }},
        {"Escape", [](TDownloadLanguageForm& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
    };
    prefer->SelectLanguage("Deutsch");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.way);
        LoopbackServer server(LoopbackServer::Canned::Stall);
        c.ServerHost = server.host();

        QElapsedTimer sinceLeave;
        QTimer poll;
        poll.setInterval(2);
        QObject::connect(&poll, &QTimer::timeout, download.get(), [&] {
            if (server.requests().empty() || !download->TransferRunning())
                return;
            poll.stop();
            sinceLeave.start();
            row.leave(*download);
        });
        std::string status;
        const int result = runModal(*download, [&] {
            poll.start();
            QTest::mouseClick(downloadButton, Qt::LeftButton);
            status = label();
        });
        const qint64 elapsed = sinceLeave.elapsed();

        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_TRUE(sinceLeave.isValid());
        // Well under the client's 5000 ms time-out: the abort, not the
        // time-out, ended the wait (typically a few milliseconds).
        EXPECT_LT(elapsed, 1000) << "left after " << elapsed << " ms";
        std::cout << "[ figures  ] " << row.way << " ended the transfer after " << elapsed << " ms\n";
        EXPECT_FALSE(download->TransferRunning());
        EXPECT_EQ(status, englishError("ConnectionEstabilished"));
        QTRY_VERIFY(server.peerClosed() > 0);
        EXPECT_FALSE(std::filesystem::exists(installedFile("deutsch.lng")));
    }
}

TEST_F(DownloadTest, CloseBoxAfterSuccessEndsWithCancelButKeepsFile)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, okReply(DeutschBody));
    c.ServerHost = server.host();
    prefer->SelectLanguage("Deutsch");

    const int result = runModal(*download, [&] {
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        download->close();
    });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(app->language().LanguageInstalled("Deutsch"));
    EXPECT_EQ(readFile(installedFile("deutsch.lng")), DeutschStored);
}

// The file name comes from the server's language index: anything but a
// plain name in the language folder is refused before any request.
TEST_F(DownloadTest, HostileFileNameWritesNothing)
{
    const std::string names[] = {"../evil.lng", "sub/evil.lng", "..", ".", "", "/tmp/vexor-evil.lng",
                                 "x\\y.lng", "a\x01" "b.lng", "tab\there.lng"};
    LoopbackServer server(LoopbackServer::Canned::Answer, okReply(DeutschBody));
    for (const auto& name : names) {
        SCOPED_TRACE(testing::PrintToString(name));
        writeIndex("[Languages]\r\nEnglish=english.lng\r\nEvil=" + name + "\r\n");
        c.ServerHost = server.host();
        prefer->SelectLanguage("Evil");
        auto* status = child<QLabel>(*download, "Label1");
        auto* button = child<QPushButton>(*download, "DownloadButton");
        const auto before = filesUnder(dir());

        std::string text;
        const int result = runModal(*download, [&] {
            QTest::mouseClick(button, Qt::LeftButton);
            text = status->text().toStdString();
            download->reject();
        });

        EXPECT_EQ(result, QDialog::Rejected);
        EXPECT_EQ(text, englishError("ConnectionFailed"));
        EXPECT_EQ(filesUnder(dir()), before);
        EXPECT_FALSE(std::filesystem::exists("/tmp/vexor-evil.lng"));
    }
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(DownloadTest, FileThatCannotBeWrittenIsAFailure)
{
    LoopbackServer server(LoopbackServer::Canned::Answer, okReply(DeutschBody));
    c.ServerHost = server.host();
    prefer->SelectLanguage("Deutsch");
    // A folder in the file's place: the rename over it fails.
    std::filesystem::create_directories(installedFile("deutsch.lng"));
    const auto before = filesUnder(dir());

    bool enabledAgain = false;
    std::string status, cancelCaption;
    const int result = runModal(*download, [&] {
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        enabledAgain = downloadButton->isEnabled();
        status = label();
        cancelCaption = cancelButton->text().toStdString();
        QTest::mouseClick(cancelButton, Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(enabledAgain);
    EXPECT_EQ(status, englishError("ConnectionFailed"));
    EXPECT_EQ(cancelCaption, englishText("LDCancelButton"));
    EXPECT_FALSE(download->Downloaded);
    EXPECT_EQ(filesUnder(dir()), before) << "no temporary file may be left";
}

TEST_F(DownloadTest, RequestGoesThroughTheProxyOfTheMoment)
{
    LoopbackServer proxy(LoopbackServer::Canned::Answer, okReply(DeutschBody));
    c.ServerHost = "vendor.vexor.test";
    c.SetProxy({"127.0.0.1", proxy.port(), "user", "secret"});
    prefer->SelectLanguage("Deutsch");

    const int result = runModal(*download, [&] {
        QTest::mouseClick(downloadButton, Qt::LeftButton);
        QTest::mouseClick(cancelButton, Qt::LeftButton);
    });

    EXPECT_EQ(result, QDialog::Accepted);
    ASSERT_EQ(proxy.requests().size(), 1u);
    const std::string head = proxy.requests()[0];
    EXPECT_EQ(head.rfind("GET http://vendor.vexor.test/cgi-bin/script/vexor_parser.pl?A=LANGC&MID=1"
                         "&MCID=1131&MUID=1&L=deutsch.lng HTTP/1.0\r\n", 0), 0u) << head;
    // The proxy credentials go along (the header's name is the client's business).
    EXPECT_NE(head.find("Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos) << head;
}

// Something deletes the dialog while its transfer waits: the transfer ends
// and nothing touches the dead dialog (ASan would tell).
TEST_F(DownloadTest, DestroyedDuringTransfer)
{
    LoopbackServer server(LoopbackServer::Canned::Stall);
    c.ServerHost = server.host();
    prefer->SelectLanguage("Deutsch");
    download->show();

    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        if (server.requests().empty())
            return;
        poll.stop();
        app->downloadLanguageForm = nullptr;
        download.reset();
    });
    poll.start();
    TDownloadLanguageForm* dialog = download.get();
    dialog->DownloadButtonClick();

    EXPECT_EQ(download, nullptr);
    QTRY_VERIFY(server.peerClosed() > 0);
}

TEST_F(DownloadTest, FaqButtonOpensTheFaqPage)
{
    const std::string log = dir() + "opened-urls.txt";
    {
        ScopedEnv urlLog("VEXOR_OPEN_URL_LOG", log);
        QTest::mouseClick(child<QToolButton>(*download, "SpeedButton1"), Qt::LeftButton);
    }
    EXPECT_NE(readFile(log).find("http://faq.vexor.test/faq/index.htm"), std::string::npos);
}

}  // namespace
}  // namespace vexor::test
