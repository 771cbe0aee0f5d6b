#pragma once

// The fixture of the dialog tests: a fresh program folder (Languages/ with the
// English file and an index that also lists the languages the test servers
// offer), a registry file of its own, the shared state pointing at them, and
// both dialogs created the way the main window creates them.

#include "app/appcontext.h"
#include "app/core/constants.h"
#include "app/core/language.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "platform/registry.h"
#include "tempdir.h"

#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace vexor::test {

using namespace vexor::testkit;

// The index the tests start from: English installed, Deutsch and Klingon not.
// The servers know Deutsch; nobody knows Klingon.
inline constexpr const char* DefaultIndex =
    "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\nKlingon=klingon.lng\r\n";

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string english = readFile(std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/english.lng");
        ASSERT_FALSE(english.empty());
        m_dir.write("Languages/english.lng", english);
        m_dir.write("Languages/lang.ini", DefaultIndex);
        InitializeConstants(c, m_dir.path());
        c.WebHost = "faq.vexor.test";
        registry = std::make_unique<platform::Registry>(m_dir / "registry.reg");
        app = std::make_unique<AppContext>(AppContext{c, *registry, nullptr});
        createForms();
    }

    void TearDown() override { destroyForms(); }

    // (Re)creates the language object and both dialogs, after the index or
    // the English file changed.
    void createForms()
    {
        destroyForms();
        app->GlobalLanguage = std::make_unique<TLanguage>(c.LangIndexFile, c.LangDir);
        app->language().LoadLanguage("English");
        prefer = std::make_unique<TPreferForm>(*app, nullptr);
        prefer->MainApplyTexts = [this] { ++mainApplyTextsCalls; };
        download = std::make_unique<TDownloadLanguageForm>(*app, *prefer);
        app->downloadLanguageForm = download.get();
        // The tests reach into the controls before any show.
        prefer->EnsureBuilt();
        download->EnsureBuilt();
    }

    void destroyForms()
    {
        if (app)
            app->downloadLanguageForm = nullptr;
        download.reset();
        prefer.reset();
    }

    void writeIndex(const std::string& index)
    {
        writeFile(c.LangIndexFile, index);
        createForms();
    }

    // Shows `dialog` modally; `script` runs once its event loop is up.
    static int runModal(QDialog& dialog, std::function<void()> script)
    {
        QTimer::singleShot(0, &dialog, std::move(script));
        return dialog.exec();
    }

    template <typename T>
    static T* child(QWidget& parent, const char* name)
    {
        T* widget = parent.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    std::string englishText(const char* key) const { return m_english.Text(key); }
    std::string englishError(const char* key) const { return m_english.ErrorText(key); }

    const std::string& dir() const { return m_dir.path(); }

    Constants c;
    std::unique_ptr<platform::Registry> registry;
    std::unique_ptr<AppContext> app;
    std::unique_ptr<TPreferForm> prefer;
    std::unique_ptr<TDownloadLanguageForm> download;
    int mainApplyTextsCalls = 0;

private:
    TempDir m_dir;
    // The English texts as shipped, for comparisons.
    TLanguage m_english = [] {
        TLanguage language(std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/lang.ini",
                           std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/");
        language.LoadLanguage("English");
        return language;
    }();
};

}  // namespace vexor::test
