#include "modules/myspeedbutton.h"

#include "app/uitext.h"
#include "platform/diagnostic.h"
#include "platform/fileops.h"

#include <QPixmap>

#include <exception>

namespace vexor {

TMySpeedButton::TMySpeedButton(AppContext& app, const VexorHost* host, QWidget* parent)
    : QToolButton(parent), m_app(app), m_host(host)
{
    setAutoRaise(true);
    setCheckable(true);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(ButtonSize, ButtonSize);
    // A 3-pixel ring around the picture: module icons fill their square, and
    // the pressed button's sunken frame has to show around them.
    setIconSize(QSize(ButtonSize - 6, ButtonSize - 6));
    connect(this, &QAbstractButton::clicked, this, &TMySpeedButton::ToggleModule);
    // An assistive tool's "Toggle" flips the state without a click: it opens
    // or closes the module all the same.
    connect(this, &QAbstractButton::toggled, this, [this] {
        if (!m_changingDown)
            ToggleModule();
    });
}

void TMySpeedButton::SetDown(bool down)
{
    m_changingDown = true;
    setChecked(down);
    m_changingDown = false;
}

void TMySpeedButton::nextCheckState()
{
    SetDown(!Down());
}

TMySpeedButton::~TMySpeedButton()
{
    try {
        ReleaseModule();
    } catch (...) {
        // The module failed while going away; nothing more can be done here.
    }
}

void TMySpeedButton::ToggleModule()
{
    // A click handler must not let a module's exception into the event loop.
    try {
        if (!LibraryHandle)
            openModule();
        else if (!Down())
            CloseModule();
        else
            openWindow();
    } catch (const std::exception& error) {
        platform::writeDiagnostic("module " + ModuleName + " failed: " + error.what());
    } catch (...) {
        platform::writeDiagnostic("module " + ModuleName + " failed");
    }
}

void TMySpeedButton::openModule()
{
    std::string error;
    const std::string file = modules::LibraryFileName(m_app.c.AppDir, ModulePath, ModuleName);
    LibraryHandle = platform::loadLibrary(file, &error);
    if (!LibraryHandle) {
        platform::writeDiagnostic("module library " + file + " not loaded: " + error);
        return;
    }
    const modules::ModuleEntries entries = modules::LookUpEntries(LibraryHandle);
    DajOknoEntry = entries.DajOkno;
    if (DajOknoEntry)
        openWindow();
    SetProxyParametersEntry = entries.SetProxyParameters;
    modules::CallSetProxyParameters(SetProxyParametersEntry, m_app.c.Proxy());
    ZavriOknoEntry = entries.ZavriOkno;
}

void TMySpeedButton::openWindow()
{
    if (!DajOknoEntry)
        return;
    if (!ModuleWindow) {
        ModuleWindow = modules::CallDajOkno(DajOknoEntry, m_host, m_app.c.AppDir, m_app.c.ClientId,
                                            m_app.c.UserId, m_app.c.AutoConnect);
    }
    modules::ShowModuleWindow(ModuleWindow);
    SetDown(true);
}

void TMySpeedButton::CloseModule()
{
    if (ZavriOknoEntry)
        ZavriOknoEntry();
    if (VexorModuleWindow* window = ModuleWindow) {
        ModuleWindow = nullptr;
        modules::CloseModuleWindow(window);
        modules::DestroyModuleWindow(window);
    }
    unloadLibrary();
    SetDown(false);
}

void TMySpeedButton::ReleaseModule()
{
    // The window goes before its code does, whether or not the module
    // exports "ZavriOkno": a window left behind would run an unloaded library.
    if (VexorModuleWindow* window = ModuleWindow) {
        ModuleWindow = nullptr;
        modules::DestroyModuleWindow(window);
    }
    unloadLibrary();
}

void TMySpeedButton::unloadLibrary()
{
    if (!LibraryHandle)
        return;
    platform::LibraryHandle library = LibraryHandle;
    LibraryHandle = nullptr;
    DajOknoEntry = nullptr;
    SetProxyParametersEntry = nullptr;
    ZavriOknoEntry = nullptr;
    platform::freeLibrary(library);
}

void TMySpeedButton::SetProxyParameters(const ProxySettings& proxy)
{
    if (LibraryHandle && ModuleWindow && SetProxyParametersEntry)
        modules::CallSetProxyParameters(SetProxyParametersEntry, proxy);
}

std::int32_t TMySpeedButton::ModuleWindowHandle() const
{
    return modules::ModuleWindowHandle(ModuleWindow);
}

void TMySpeedButton::LoadGlyph()
{
    // Read through the platform layer: the module's path keeps its bytes,
    // whatever encoding it was written in.
    std::string bytes;
    QPixmap picture;
    if (platform::readWholeFile(modules::IconFileName(m_app.c.AppDir, ModulePath), bytes))
        picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size()));
    const QString name = ui::ShowText(ModuleName);
    setToolTip(name);
    setAccessibleName(name);
    if (!picture.isNull()) {
        setIcon(QIcon(picture));
        setText(QString());
    } else {
        setIcon(QIcon());
        setText(name.left(1));
    }
}

}  // namespace vexor
