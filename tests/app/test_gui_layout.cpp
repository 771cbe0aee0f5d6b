// Every window in every shipped language, at the desktop font sizes people
// use: no caption is wider or taller than the box designed for it. ctest runs
// this at the scale factors 1, 1.5 and 2 (QT_SCALE_FACTOR).
#include "app/aboutbox.h"
#include "app/mainwindow.h"
#include "app/uitext.h"
#include "dialogs/downloadlanguageform.h"
#include "dialogs/preferform.h"
#include "test_gui_support.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyleOptionButton>
#include <QTabBar>

#include <gtest/gtest.h>

#include <fstream>

namespace vexor {
namespace {

QString plain(QString text)
{
    return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
}

// Why `widget`'s caption does not fit its box; empty when it fits.
std::string overflow(QWidget* widget)
{
    const QFontMetrics metrics = widget->fontMetrics();
    QRect room;
    QSize needed;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        room = label->contentsRect();
        needed = label->wordWrap()
                     ? metrics.boundingRect(QRect(0, 0, room.width(), 10000), Qt::TextWordWrap, label->text()).size()
                     : metrics.size(0, label->text());
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool check = qobject_cast<QCheckBox*>(button) != nullptr;
        room = button->style()->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                                               &option, button);
        needed = metrics.size(Qt::TextShowMnemonic, button->text());
    } else if (auto* bar = qobject_cast<QTabBar*>(widget)) {
        // The bar's size hint is every tab at its full width; shortened tabs
        // take less.
        int shown = 0;
        for (int i = 0; i < bar->count(); ++i)
            shown += bar->tabRect(i).width();
        if (shown < bar->sizeHint().width())
            return "tabs shortened to " + std::to_string(shown) + " of " + std::to_string(bar->sizeHint().width());
        return {};
    } else {
        return {};
    }
    if (needed.width() <= room.width() && needed.height() <= room.height())
        return {};
    return "needs " + std::to_string(needed.width()) + " x " + std::to_string(needed.height()) + " in "
           + std::to_string(room.width()) + " x " + std::to_string(room.height());
}

// Every caption of `window` and its children, and every child within its parent.
void expectCaptionsFit(QWidget* window, const std::string& where)
{
    window->ensurePolished();
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        if (widget->window() != window || (widget->isHidden() && widget != window))
            continue;
        const std::string what = where + " " + widget->objectName().toStdString() + " \"" +
                                 plain(widget->property("text").toString()).toStdString() + "\"";
        const std::string why = overflow(widget);
        EXPECT_TRUE(why.empty()) << what << ": " << why;
        if (widget != window && widget->parentWidget() == window) {
            EXPECT_TRUE(window->rect().contains(widget->geometry())) << what << " lies outside its window";
        }
    }
}

TEST(LayoutTest, CaptionsFitTheirBoxesInEveryLanguageAndDesktopFont)
{
    const QFont desktop = QApplication::font();
    std::ifstream in(std::string(VEXOR_SOURCE_DIR) + "/server/content/languages/deutsch.lng", std::ios::binary);
    const std::string german{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_FALSE(german.empty());
    for (int points : {9, 11, 14}) {
        QFont font = desktop;
        font.setPointSize(points);
        QApplication::setFont(font);
        for (const char* language : {"English", "Deutsch"}) {
            const std::string where = std::string(language) + " at " + std::to_string(points) + " pt:";
            testing::GuiProgram program(std::string("[Settings]\r\nAutoConnect=0\r\nLanguage=") + language + "\r\n");
            program.dir.write("Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
            program.dir.write("Languages/deutsch.lng", german);
            program.createLanguage();
            TForm1 form(program.context);
            TDownloadLanguageForm download(program.context, *form.PreferForm);
            TForm_About about(program.context);
            for (QWidget* window : std::initializer_list<QWidget*>{&form, form.PreferForm, &download, &about})
                window->show();
            QApplication::processEvents();
            const TLanguage& texts = program.context.language();
            ASSERT_FALSE(texts.Text("FPCaption").empty()) << where;

            expectCaptionsFit(&form, where);
            expectCaptionsFit(form.PreferForm, where);
            expectCaptionsFit(&download, where);
            expectCaptionsFit(&about, where);
            // The captions the download dialog takes on its way.
            auto* status = download.findChild<QLabel*>(QStringLiteral("Label1"));
            auto* cancel = download.findChild<QPushButton*>(QStringLiteral("CancelButton"));
            cancel->setText(ui::ShowText(texts.Text("LDOKButton")));
            for (const std::string& text : {texts.Text("LDSuccess"), texts.ErrorText("ConnectionEstabilished"),
                                            texts.ErrorText("ConnectionFailed"), texts.ErrorText("ConnectionNoHost")}) {
                status->setText(ui::ShowText(text));
                expectCaptionsFit(&download, where);
            }
            form.PreferForm->hide();
            download.hide();
        }
    }
    QApplication::setFont(desktop);
}

}  // namespace
}  // namespace vexor
