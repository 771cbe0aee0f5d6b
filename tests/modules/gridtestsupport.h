#pragma once

// A module grid on a plain QWidget form, with a temporary program folder,
// registry and language, and a form that records the messages modules post
// (and hands close requests to the grid, as the main window does).

#include "modules/modulegrid.h"
#include "modules/myspeedbutton.h"

#include "app/appcontext.h"
#include "app/core/constants.h"
#include "app/core/language.h"
#include "app/windowmessage.h"
#include "modulestestsupport.h"

#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vexor::testing {

// Stands in for the main window's message dispatch.
class MessageForm : public QWidget {
public:
    struct Message {
        std::uint32_t message;
        std::intptr_t wParam;
    };
    std::vector<Message> received;
    TModuleGrid* grid = nullptr;

    int count(std::uint32_t message) const
    {
        return static_cast<int>(std::count_if(received.begin(), received.end(),
                                              [message](const Message& m) { return m.message == message; }));
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() != WindowMessageEvent::eventType())
            return QWidget::event(event);
        const auto* message = static_cast<WindowMessageEvent*>(event);
        received.push_back({message->message(), message->wParam()});
        if (message->message() == CM_TRYCLOSEMODULE && grid)
            grid->TryCloseModule(message->wParam());
        return true;
    }
};

class GridTest : public ::testing::Test {
protected:
    GridTest()
    {
        InitializeConstants(m_constants, m_program.dir());
        m_constants.ClientId = "1131";
        m_constants.UserId = "7";
        m_constants.WebHost = "updates.example.test:8080";
        m_constants.ModulesListFile = m_program.dir() + "modules/modl.ini";
        writeFile(m_program.dir() + "Languages/lang.ini", "[Languages]\r\nEnglish=english.lng\r\n");
        writeFile(m_program.dir() + "Languages/english.lng",
                  "[Texts]\r\nLDDownloadButton=Download\r\n[Errors]\r\nModlNotInstaled=This module is not installed.\r\n");
        auto language = std::make_unique<TLanguage>(m_program.dir() + "Languages/lang.ini",
                                                    m_program.dir() + "Languages/");
        language->LoadLanguage("English");
        m_app = std::make_unique<AppContext>(AppContext{m_constants, m_program.registry(), std::move(language)});
    }

    ~GridTest() override
    {
        // The grid goes before the form, as in the main window.
        m_grid.reset();
        m_form.reset();
    }

    TModuleGrid& grid()
    {
        if (!m_grid) {
            m_form = std::make_unique<MessageForm>();
            m_form->resize(377, 123);
            m_grid = std::make_unique<TModuleGrid>(*m_app, m_form.get());
            m_form->grid = m_grid.get();
        }
        return *m_grid;
    }

    // The module part of the main window's creation; returns the client
    // width the buttons need (0: the form keeps its own).
    int setUp()
    {
        TModuleGrid& g = grid();
        std::vector<std::string> names = g.ListModuleNames();
        g.DropInactive(names);
        int width = 0;
        for (int i = 0; i < 12; ++i)
            width = std::max(width, g.SetUpButton(i, names));
        m_form->show();
        return width;
    }

    TMySpeedButton* button(int i) const
    {
        return m_form->findChild<TMySpeedButton*>(QStringLiteral("ModuleButton%1").arg(i));
    }

    // Lines of the call log that start with `module`.
    std::vector<std::string> callsOf(const std::string& module) const
    {
        std::vector<std::string> lines;
        for (const std::string& line : m_program.calls())
            if (line.rfind(module + " ", 0) == 0)
                lines.push_back(line.substr(module.size() + 1));
        return lines;
    }

    // Installs an icon for module `name`.
    void giveIcon(const std::string& folder) const
    {
        std::filesystem::copy_file(std::string(VEXOR_EXAMPLES_DIR) + "/clock/icon.bmp", folder + "icon.bmp",
                                   std::filesystem::copy_options::overwrite_existing);
    }

    ModuleProgram m_program;
    Constants m_constants;
    std::unique_ptr<AppContext> m_app;
    std::unique_ptr<MessageForm> m_form;
    std::unique_ptr<TModuleGrid> m_grid;
};

}  // namespace vexor::testing
