#pragma once

// What the window tests share: a program folder of their own (the staged
// Languages/ copied, empty advs/ and modules/), a registry file in it, the
// shared state pointed at it, and a helper that answers modal dialogs from a
// zero-time timer.

#include "app/appcontext.h"
#include "app/constants.h"
#include "app/language.h"
#include "platform/registry.h"
#include "test_tempdir.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// QTRY_VERIFY that fails the GoogleTest test: waits (processing events) until
// the condition holds, for at most 5 s or the given time-out in milliseconds.
#define GUI_TRY_VERIFY(expr) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, 5000)) << "waited for: " #expr
#define GUI_TRY_VERIFY_WITH_TIMEOUT(expr, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, ms)) << "waited for: " #expr

namespace vexor::testing {

// A loopback port on which nothing listens: bound, never listening, so a
// connect is refused at once. Held for the life of the object. With `stall`
// it listens but never accepts: a connect succeeds and no answer ever comes.
class RefusedPort {
public:
    explicit RefusedPort(bool stall = false)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0
            && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0
            && (!stall || ::listen(m_fd, 4) == 0))
            m_port = ntohs(address.sin_port);
    }
    ~RefusedPort()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    int m_fd = -1;
    int m_port = 1;
};

// One test's program folder, registry and shared state.
class GuiProgram {
public:
    explicit GuiProgram(const std::string& settings = "[Settings]\r\nAutoConnect=0\r\n")
        : registry(dir.path() + "registry.reg")
    {
        namespace fs = std::filesystem;
        fs::copy(fs::path(VEXOR_SOURCE_DIR) / "data/stage/Languages", dir.path() + "Languages",
                 fs::copy_options::recursive);
        fs::create_directories(dir.path() + "advs");
        fs::create_directories(dir.path() + "modules");
        if (!settings.empty())
            dir.write("settings.ini", settings);
        InitializeConstants(c, dir.path());
        c.ServerHost = refused.host();
        c.WebHost = "web.example:8080";
        ::setenv("VEXOR_OPEN_URL_LOG", urlLog().c_str(), 1);
    }

    // The language object, as start-up makes it: the index read, "English" loaded.
    void createLanguage()
    {
        context.GlobalLanguage = std::make_unique<TLanguage>(
            c.LangIndexFile, c.LangDir, [this](const std::string& message) { messages.push_back(message); });
        context.GlobalLanguage->LoadLanguage("English");
    }

    std::string urlLog() const { return dir.path() + "urls.log"; }
    std::string openedUrls() const { return dir.read("urls.log"); }

    TempDir dir;
    RefusedPort refused;
    Constants c;
    platform::Registry registry;
    AppContext context{c, registry, nullptr};
    std::vector<std::string> messages;  // plain messages of TLanguage
};

// Answers the next modal dialog: a zero-time timer watches for it inside the
// dialog's own event loop, records it and runs `respond` (default: reject).
// When no dialog opens, `seen` stays false.
class ModalResponder {
public:
    explicit ModalResponder(std::function<void(QWidget*)> respond = {})
        : m_respond(std::move(respond))
    {
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { poll(); });
        m_timer.start();
    }

    bool seen = false;
    int count = 0;
    QString objectName;
    QString text;  // a message box's text

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        seen = true;
        ++count;
        objectName = modal->objectName();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            text = box->text();
        m_timer.stop();
        if (m_respond)
            m_respond(modal);
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    }

    std::function<void(QWidget*)> m_respond;
    QTimer m_timer;
};

inline void clickButton(QWidget* modal, QMessageBox::StandardButton which)
{
    if (auto* box = qobject_cast<QMessageBox*>(modal))
        box->button(which)->click();
}

}  // namespace vexor::testing
