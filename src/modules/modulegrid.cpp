#include "modules/modulegrid.h"

#include "app/uitext.h"
#include "modules/core/moduleregistry.h"
#include "modules/myspeedbutton.h"
#include "platform/asciitext.h"
#include "platform/diagnostic.h"
#include "platform/shellopen.h"
#include "sync/protocol.h"

#include <QMenu>
#include <QMessageBox>
#include <QWidget>

#include <limits>

namespace vexor {

namespace {

// The banner pane's width: the grid starts right of it.
constexpr int BannerPaneWidth = 124;
constexpr int RowsPerColumn = 3;

}  // namespace

TModuleGrid::TModuleGrid(AppContext& app, QWidget* form)
    : QObject(form), m_app(app), m_form(form), m_host(form)
{
}

TModuleGrid::~TModuleGrid()
{
    CleanUp();
}

QRect TModuleGrid::ButtonGeometry(int i)
{
    const int size = TMySpeedButton::ButtonSize;
    return QRect(BannerPaneWidth + (i / RowsPerColumn) * size, (i % RowsPerColumn) * size, size, size);
}

std::vector<std::string> TModuleGrid::ListModuleNames()
{
    return modules::ListModuleNames(m_app.registry);
}

void TModuleGrid::DropInactive(std::vector<std::string>& names)
{
    modules::DropInactive(m_app.registry, names);
}

int TModuleGrid::SetUpButton(int i, const std::vector<std::string>& names)
{
    if (i < 0 || i >= static_cast<int>(Buttons.size()))
        return 0;
    if (Buttons[i]) {
        // Set up once more: the old button and its module go first.
        delete Buttons[i];
        Buttons[i] = nullptr;
    }
    auto* button = new TMySpeedButton(m_app, m_host.handle(), m_form);
    button->setObjectName(QStringLiteral("ModuleButton%1").arg(i));
    button->setGeometry(ButtonGeometry(i));
    Buttons[i] = button;
    connect(button, &QObject::destroyed, this, [this, i, button] {
        if (Buttons[i] == button)
            Buttons[i] = nullptr;
    });
    button->show();

    if (i >= static_cast<int>(names.size())) {
        button->setEnabled(false);
        return 0;
    }
    const int clientWidth = button->geometry().right() + 1;
    const std::string& name = names[static_cast<std::size_t>(i)];
    bool keyOpens = false;
    try {
        keyOpens = m_app.registry.keyExists(modules::ModuleKey(name));
    } catch (...) {
        // An unreadable registry leaves this slot without a module.
    }
    if (!keyOpens)
        return clientWidth;
    button->ModulePath = modules::ReadModuleValue(m_app.registry, name, "ModulePath");
    button->ModuleName = name;
    button->LibraryHandle = nullptr;
    button->LoadGlyph();
    if (modules::ReadModuleValue(m_app.registry, name, "Default") == "Y")
        button->ToggleModule();
    return clientWidth;
}

void TModuleGrid::BuildModulesMenu(QMenu* modulesMenu)
{
    if (!modulesMenu)
        return;
    // The menu is rebuilt at the end of a sync, which may come while a click
    // on one of its items is still being handled (the not-installed prompt
    // runs a nested event loop): old items go later, not under that click.
    for (QAction* old : modulesMenu->actions()) {
        modulesMenu->removeAction(old);
        old->deleteLater();
    }
    for (const std::string& caption : modules::ReadModulesMenuCaptions(m_app.c.ModulesListFile)) {
        // "&&" shows one "&": the captions come from the server, not from us,
        // so no letter of theirs becomes a hot key.
        QAction* item = modulesMenu->addAction(ui::ShowCaption(caption));
        connect(item, &QAction::triggered, this, [this, caption] { ModulesMenuClick(caption); });
    }
}

void TModuleGrid::ModulesMenuClick(const std::string& caption)
{
    const std::string name = platform::withoutAmpersands(caption);
    bool installed = false;
    for (TMySpeedButton* button : Buttons) {
        // Empty slots have no module name; an empty caption matches none.
        if (!button || button->ModuleName.empty() || button->ModuleName != name)
            continue;
        installed = true;
        if (!button->Down())
            button->ToggleModule();
    }
    if (!installed)
        ShowNotInstalledPrompt();
}

void TModuleGrid::ShowNotInstalledPrompt()
{
    std::string text;
    if (m_app.GlobalLanguage)
        text = m_app.GlobalLanguage->ErrorText("ModlNotInstaled") + " " +
               m_app.GlobalLanguage->Text("LDDownloadButton") + "?";
    else
        text = " ?";
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Vexor"), ui::ShowText(text),
                    QMessageBox::Ok | QMessageBox::Cancel, m_form);
    box.setObjectName(QStringLiteral("ModuleNotInstalledBox"));
    if (box.exec() != QMessageBox::Ok)
        return;
    const std::string url = sync::UpdatePageUrl(m_app.c.WebHost, m_app.c.ClientId, m_app.c.UserId);
    if (!platform::openUrl(url))
        platform::writeDiagnostic("cannot open " + url);
}

void TModuleGrid::TryCloseModule(std::intptr_t wParam)
{
    // Window handles are positive 32-bit numbers; anything else matches no window.
    if (wParam <= 0 || wParam > std::numeric_limits<std::int32_t>::max())
        return;
    for (TMySpeedButton* button : Buttons) {
        try {
            if (!button || !button->ModuleWindow || button->ModuleWindowHandle() != wParam)
                continue;
            button->CloseModule();
            // To the top of the window order, without taking the focus.
            if (m_form)
                m_form->window()->raise();
        } catch (...) {
            // One module's failure does not keep the others from closing.
        }
    }
}

void TModuleGrid::SetProxyParametersForOpenModules()
{
    const ProxySettings proxy = m_app.c.Proxy();
    for (TMySpeedButton* button : Buttons) {
        try {
            if (button)
                button->SetProxyParameters(proxy);
        } catch (...) {
            // A module that fails here does not stop the others.
        }
    }
}

void TModuleGrid::CleanUp()
{
    for (TMySpeedButton*& button : Buttons) {
        TMySpeedButton* current = button;
        button = nullptr;
        try {
            if (current)
                current->ReleaseModule();
        } catch (...) {
            // Go on with the next slot.
        }
        delete current;
    }
}

}  // namespace vexor
