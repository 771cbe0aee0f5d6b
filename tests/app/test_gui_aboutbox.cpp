// The about box: its lines with and without a client identifier, the web
// address link, Escape, and showing it again while it is open.
#include "app/aboutbox.h"

#include "app/mainwindow.h"
#include "test_gui_support.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace vexor {
namespace {

using testing::GuiProgram;

QString labelText(const QWidget& box, const char* name)
{
    const auto* label = box.findChild<QLabel*>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<missing %1>").arg(QString::fromLatin1(name));
}

TEST(AboutBoxTest, LinesCarryTheClientIdentifier)
{
    GuiProgram program;
    TForm_About box(program.context);
    for (const std::string& clientId : {std::string("1131"), std::string()}) {
        program.c.ClientId = clientId;
        box.show();
        EXPECT_EQ(labelText(box, "Label1"), QStringLiteral("Vexor 1.3"));
        EXPECT_EQ(labelText(box, "Label7"),
                  QStringLiteral("Version 1.3-0000-") + QString::fromStdString(clientId) + QStringLiteral("-0000"));
        box.hide();
    }
    EXPECT_EQ(labelText(box, "Label6"), QStringLiteral("http://web.example:8080"));
    for (const char* name : {"Label2", "Label3", "Label4", "Label5", "Label8"})
        EXPECT_FALSE(labelText(box, name).isEmpty()) << name;
    EXPECT_EQ(box.findChild<QPushButton*>(QStringLiteral("Button1"))->text(), QStringLiteral("OK"));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("About"));
}

TEST(AboutBoxTest, WebAddressOpensEscapeHidesAndAboutAgainBringsItForward)
{
    GuiProgram program;
    program.createLanguage();
    TForm1 form(program.context);
    TForm_About box(program.context);
    program.context.aboutForm = &box;
    form.show();

    form.About1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_FALSE(box.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the main window stays usable";
    GUI_TRY_VERIFY(box.isActiveWindow());

    QTest::mouseClick(box.findChild<QLabel*>(QStringLiteral("Label6")), Qt::LeftButton);
    EXPECT_EQ(program.openedUrls(), "http://web.example:8080\n");

    // The main window takes the focus; About once more brings the same box forward.
    form.activateWindow();
    GUI_TRY_VERIFY(form.isActiveWindow());
    form.About1->trigger();
    GUI_TRY_VERIFY(box.isActiveWindow());
    int boxes = 0;
    for (QWidget* window : QApplication::topLevelWidgets())
        boxes += qobject_cast<TForm_About*>(window) && window->isVisible() ? 1 : 0;
    EXPECT_EQ(boxes, 1);

    QTest::keyClick(&box, Qt::Key_Escape);
    EXPECT_FALSE(box.isVisible());
    form.About1->trigger();
    EXPECT_TRUE(box.isVisible());
    box.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
    EXPECT_FALSE(box.isVisible());
    program.context.aboutForm = nullptr;
}

}  // namespace
}  // namespace vexor
