#pragma once

// The fixture of the dialog tests: a fresh program folder (Languages/ with the
// English file and an index that also lists the languages the test servers
// offer), a registry file of its own, the shared state pointing at them, and
// both dialogs created the way the main window creates them.

#include "app/appcontext.h"
#include "app/constants.h"
#include "app/language.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "platform/registry.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

namespace vexor::test {

inline QApplication& qtApp()
{
    // Widget tests never need a display. ctest is meant to set this too, but
    // the tests must not depend on how they were started.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_dialogs";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The index the tests start from: English installed, Deutsch and Klingon not.
// The servers know Deutsch; nobody knows Klingon.
inline constexpr const char* DefaultIndex =
    "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\nKlingon=klingon.lng\r\n";

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qtApp();
        std::string pattern = (std::filesystem::temp_directory_path() / "vexor-dialogs-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        m_dir = pattern + "/";
        const std::string english = readFile(std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/english.lng");
        ASSERT_FALSE(english.empty());
        writeFile(m_dir + "Languages/english.lng", english);
        writeFile(m_dir + "Languages/lang.ini", DefaultIndex);
        InitializeConstants(c, m_dir);
        c.WebHost = "faq.vexor.test";
        registry = std::make_unique<platform::Registry>(m_dir + "registry.reg");
        app = std::make_unique<AppContext>(AppContext{c, *registry, nullptr});
        createForms();
    }

    void TearDown() override
    {
        destroyForms();
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }

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

    const std::string& dir() const { return m_dir; }

    Constants c;
    std::unique_ptr<platform::Registry> registry;
    std::unique_ptr<AppContext> app;
    std::unique_ptr<TPreferForm> prefer;
    std::unique_ptr<TDownloadLanguageForm> download;
    int mainApplyTextsCalls = 0;

private:
    std::string m_dir;
    // The English texts as shipped, for comparisons.
    TLanguage m_english = [] {
        TLanguage language(std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/lang.ini",
                           std::string(VEXOR_SOURCE_DIR) + "/data/stage/Languages/");
        language.LoadLanguage("English");
        return language;
    }();
};

}  // namespace vexor::test
