#pragma once

#include "app/appcontext.h"
#include "modules/core/pluginlibrary.h"
#include "platform/library.h"
#include "vexor/module.h"

#include <QToolButton>

#include <cstdint>
#include <string>

// One module button: a flat 34 x 34 toggle that holds one module. Pressing it
// loads the module's library and opens its window; releasing it closes the
// window and unloads the library. Each button is a toggle of its own; buttons
// do not exclude one another. GUI thread only.
namespace vexor {

class TMySpeedButton : public QToolButton {
    Q_OBJECT
public:
    static constexpr int ButtonSize = 34;

    // `host` is the handle passed to the module's "DajOkno"; it must outlive
    // the button.
    TMySpeedButton(AppContext& app, const VexorHost* host, QWidget* parent);
    // Releases a module that is still loaded (as at program exit).
    ~TMySpeedButton() override;

    // The button's pressed state (the speed button's Down).
    bool Down() const { return isChecked(); }
    void SetDown(bool down);

    // The click handler; by the time a click reaches it, Down has flipped.
    // Not loaded: open the module. Loaded and up: close it. Loaded and down:
    // re-open its window. A library that fails to load is reported on stderr
    // only; the button keeps the state the click gave it.
    void ToggleModule();
    // "ZavriOkno", close and destroy the window, unload, raise the button.
    // Errors from the module propagate to the caller.
    void CloseModule();
    // Program exit: destroy the window directly and unload; no "ZavriOkno".
    void ReleaseModule();
    // Hands `proxy` to the module when it is loaded, has a window and
    // exports "SetProxyParameters".
    void SetProxyParameters(const ProxySettings& proxy);
    // The open window's native handle; 0 when there is none.
    std::int32_t ModuleWindowHandle() const;

    // Sets the picture from ModulePath + "icon.bmp"; without a readable
    // picture the button shows the module name's first letter.
    void LoadGlyph();

    std::string ModuleName;
    platform::LibraryHandle LibraryHandle = nullptr;
    std::string ModulePath;
    VexorDajOknoFn DajOknoEntry = nullptr;
    VexorSetProxyParametersFn SetProxyParametersEntry = nullptr;
    VexorZavriOknoFn ZavriOknoEntry = nullptr;
    VexorModuleWindow* ModuleWindow = nullptr;

protected:
    // A click flips the state here; its clicked() then runs ToggleModule.
    void nextCheckState() override;

private:
    void openModule();
    void openWindow();
    void unloadLibrary();

    AppContext& m_app;
    const VexorHost* m_host;
    bool m_changingDown = false;
};

}  // namespace vexor
