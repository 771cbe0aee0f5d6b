// The sample modules Notes and Clock, loaded by the real host code.

#include "gridtestsupport.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace vexor::testing {
namespace {

class SampleModules : public GridTest {
protected:
    // Registers the sample module `name` from its build folder.
    void registerSample(const std::string& name, const std::string& isDefault = "N")
    {
        m_program.register_(name, std::string(VEXOR_SAMPLE_MODULE_DIR) + "/" + name + "/", "Y", isDefault);
    }

    template <typename T>
    static T* find(const QString& objectName)
    {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == objectName)
                return qobject_cast<T*>(top);
            if (auto* child = top->findChild<T*>(objectName))
                return child;
        }
        return nullptr;
    }

    std::string notesFile() const { return m_program.dir() + "notes.txt"; }
};

TEST_F(SampleModules, NotesKeepsItsTextAndClosesThroughTheHost)
{
    registerSample("Notes");
    writeFile(notesFile(), "first line\n");
    setUp();
    TMySpeedButton* notes = button(0);
    EXPECT_FALSE(notes->icon().isNull());
    QTest::mouseClick(notes, Qt::LeftButton);
    ASSERT_TRUE(notes->Down());

    auto* edit = find<QPlainTextEdit>(QStringLiteral("NotesEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->window()->isVisible());
    EXPECT_EQ(edit->toPlainText(), QStringLiteral("first line\n"));
    edit->moveCursor(QTextCursor::End);
    QTest::keyClicks(edit, QStringLiteral("second"));
    QTRY_COMPARE(readFile(notesFile()), std::string("first line\nsecond"));
    EXPECT_FALSE(std::filesystem::exists(notesFile() + ".tmp"));

    auto* close = find<QPushButton>(QStringLiteral("NotesCloseButton"));
    ASSERT_NE(close, nullptr);
    QTest::mouseClick(close, Qt::LeftButton);
    QTRY_VERIFY(!notes->Down());
    EXPECT_EQ(notes->LibraryHandle, nullptr);
    EXPECT_EQ(find<QPlainTextEdit>(QStringLiteral("NotesEdit")), nullptr) << "the window is destroyed";
}

TEST_F(SampleModules, NotesSavesPendingTextWhenTheButtonClosesItAtOnce)
{
    registerSample("Notes");
    setUp();
    QTest::mouseClick(button(0), Qt::LeftButton);
    auto* edit = find<QPlainTextEdit>(QStringLiteral("NotesEdit"));
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("quick"));
    // Released before the save delay ran out.
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_FALSE(button(0)->Down());
    EXPECT_EQ(readFile(notesFile()), "quick");

    // At exit the window is destroyed without being closed; the text is kept too.
    QTest::mouseClick(button(0), Qt::LeftButton);
    edit = find<QPlainTextEdit>(QStringLiteral("NotesEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->toPlainText(), QStringLiteral("quick"));
    QTest::keyClicks(edit, QStringLiteral(" exit"));
    grid().CleanUp();
    EXPECT_EQ(readFile(notesFile()), "quick exit");
}

TEST_F(SampleModules, NotesThatCannotBeReadAreNeitherShownNorOverwritten)
{
    registerSample("Notes");
    std::filesystem::create_directories(notesFile());
    setUp();
    QTest::mouseClick(button(0), Qt::LeftButton);
    auto* edit = find<QPlainTextEdit>(QStringLiteral("NotesEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_TRUE(find<QLabel>(QStringLiteral("NotesStatus"))->text().startsWith(QStringLiteral("Cannot read")));
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::is_directory(notesFile()));
}

TEST_F(SampleModules, TheWindowsCloseButtonAsksTheHostToCloseTheModule)
{
    registerSample("Notes");
    setUp();
    QTest::mouseClick(button(0), Qt::LeftButton);
    auto* edit = find<QPlainTextEdit>(QStringLiteral("NotesEdit"));
    ASSERT_NE(edit, nullptr);
    EXPECT_FALSE(edit->window()->close()) << "the window waits for the host";
    QTRY_VERIFY(!button(0)->Down());
    EXPECT_EQ(m_form->count(CM_TRYCLOSEMODULE), 1);
}

TEST_F(SampleModules, ClockShowsTimeAndProxyAndAsksForASynchronisation)
{
    ProxySettings proxy;
    proxy.ProxyName = "proxy.local";
    proxy.ProxyPort = 3128;
    m_constants.SetProxy(proxy);
    registerSample("Clock", "Y");
    registerSample("Notes");
    setUp();
    EXPECT_TRUE(button(0)->Down()) << "opened at start";
    auto* time = find<QLabel>(QStringLiteral("ClockTime"));
    ASSERT_NE(time, nullptr);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(time->text()).hasMatch())
        << time->text().toStdString();
    EXPECT_EQ(find<QLabel>(QStringLiteral("ClockProxy"))->text(), QStringLiteral("Proxy proxy.local:3128"));

    QTest::mouseClick(find<QPushButton>(QStringLiteral("ClockSyncButton")), Qt::LeftButton);
    QTRY_COMPARE(m_form->count(CM_TRYCONNECT), 1);

    proxy.ProxyName.clear();
    m_constants.SetProxy(proxy);
    grid().SetProxyParametersForOpenModules();
    EXPECT_EQ(find<QLabel>(QStringLiteral("ClockProxy"))->text(), QStringLiteral("Direct connection"));

    // Both samples share the client's QApplication at the same time.
    QTest::mouseClick(button(1), Qt::LeftButton);
    EXPECT_NE(find<QPlainTextEdit>(QStringLiteral("NotesEdit")), nullptr);
    QTest::mouseClick(button(0), Qt::LeftButton);
    EXPECT_EQ(find<QLabel>(QStringLiteral("ClockTime")), nullptr);
    EXPECT_NE(find<QPlainTextEdit>(QStringLiteral("NotesEdit")), nullptr);
}

}  // namespace
}  // namespace vexor::testing
