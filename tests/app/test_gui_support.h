#pragma once

// What the window tests share: a program folder of their own (the staged
// Languages/ copied, empty advs/ and modules/), a registry file in it, the
// shared state pointed at it, and a helper that answers modal dialogs from a
// zero-time timer.

#include "app/appcontext.h"
#include "app/core/constants.h"
#include "app/core/language.h"
#include "platform/registry.h"
#include "loopbackserver.h"
#include "scopedenv.h"
#include "tempdir.h"

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

// QTRY_VERIFY that fails the GoogleTest test: waits (processing events) until
// the condition holds, for at most 5 s or the given time-out in milliseconds.
#define GUI_TRY_VERIFY(expr) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, 5000)) << "waited for: " #expr
#define GUI_TRY_VERIFY_WITH_TIMEOUT(expr, ms) \
    ASSERT_TRUE(QTest::qWaitFor([&]() { return static_cast<bool>(expr); }, ms)) << "waited for: " #expr

namespace vexor::testing {

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

    testkit::TempDir dir;
    testkit::ScopedEnv urlLogSetting{"VEXOR_OPEN_URL_LOG", urlLog()};
    testkit::QuietPort refused;  // nothing listens: every connect is refused at once
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
