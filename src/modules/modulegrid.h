#pragma once

// The interface between the main window and the module host. TForm1 owns one
// TModuleGrid and calls it at the listed steps of its creation, menus,
// messages and destruction.

#include "app/appcontext.h"
#include "modules/modulehost.h"

#include <QObject>
#include <QRect>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QMenu;
class QWidget;

namespace vexor {

class TMySpeedButton;

class TModuleGrid : public QObject {
    Q_OBJECT
public:
    // `form` is the main window: owner and parent of the buttons and the target
    // of the modules' messages.
    TModuleGrid(AppContext& app, QWidget* form);
    ~TModuleGrid() override;

    // FormCreate step 3: subkey names of "Software\Vexor", registry order.
    std::vector<std::string> ListModuleNames();
    // FormCreate step 5: drops names whose "ACTIVE" is exactly "N".
    void DropInactive(std::vector<std::string>& names);
    // FormCreate step 8, for i = 0..11: creates and sets up button i. Returns
    // the client width the window needs for it (button's Left + Width) when
    // slot i holds a module, or 0 for an empty (disabled) slot.
    int SetUpButton(int i, const std::vector<std::string>& names);

    void BuildModulesMenu(QMenu* modulesMenu);
    void ModulesMenuClick(const std::string& caption);
    void TryCloseModule(std::intptr_t wParam);
    // Preferences OK: SetProxyParameters for every open module that exports it.
    void SetProxyParametersForOpenModules();
    // FormDestroy: per slot, guarded.
    void CleanUp();

    std::array<TMySpeedButton*, 12> Buttons{};

    // Where slot i stands in the form: Left 124 + (i div 3) * 34, Top
    // (i mod 3) * 34.
    static QRect ButtonGeometry(int i);
    // The handle the modules receive as argument 1 of "DajOkno".
    const VexorHost* Host() const { return m_host.handle(); }

private:
    void ShowNotInstalledPrompt();

    AppContext& m_app;
    QWidget* m_form;
    ModuleHost m_host;
};

}  // namespace vexor
