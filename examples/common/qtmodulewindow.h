#pragma once

// A module window made of Qt Widgets: wraps a QWidget in the
// VexorModuleWindow that "DajOkno" returns. The module shares the client's
// QApplication, so it creates widgets directly on the calling (GUI) thread.
//
// The window's title-bar close button does not destroy the window behind the
// host's back: it posts the module's close request, and the host then closes
// the module as if its button had been released.

#include "vexor/module.h"

#include <QCloseEvent>
#include <QWidget>

#include <cstdint>

namespace vexor_example {

class ModuleWidget : public QWidget {
public:
    // True when the host speaks the interface version this module was built
    // for; otherwise DajOkno returns null.
    static bool hostUsable(const VexorHost* host)
    {
        return host && host->interface_version == VEXOR_MODULE_INTERFACE_VERSION && host->post_message &&
               host->next_window_id;
    }

    explicit ModuleWidget(const VexorHost* host) : m_host(host), m_handle(host->next_window_id(host))
    {
        // A module window must not keep the client running once its main
        // window has closed.
        setAttribute(Qt::WA_QuitOnClose, false);
    }

    // Hands the widget to the host: the host shows, closes and destroys it
    // through the returned struct, which the widget owns from now on.
    VexorModuleWindow* release()
    {
        m_window.show = [](VexorModuleWindow* self) { widget(self)->show(); };
        m_window.close = [](VexorModuleWindow* self) { widget(self)->closeByHost(); };
        m_window.destroy = [](VexorModuleWindow* self) { delete widget(self); };
        m_window.native_handle = [](const VexorModuleWindow* self) {
            return static_cast<const ModuleWidget*>(self->context)->m_handle;
        };
        m_window.context = this;
        return &m_window;
    }

    // Posts the close request for this window; the host handles it later.
    void requestClose() { m_host->post_message(m_host, VEXOR_CM_TRYCLOSEMODULE, m_handle, 0); }
    // Posts the connect request: the client starts a synchronisation.
    void requestConnect() { m_host->post_message(m_host, VEXOR_CM_TRYCONNECT, 0, 0); }

protected:
    // The host closes the window just before it destroys it.
    virtual void closeByHost()
    {
        m_closingByHost = true;
        close();
    }

    void closeEvent(QCloseEvent* event) override
    {
        if (m_closingByHost) {
            event->accept();
            return;
        }
        event->ignore();
        requestClose();
    }

private:
    static ModuleWidget* widget(VexorModuleWindow* self) { return static_cast<ModuleWidget*>(self->context); }

    const VexorHost* m_host;
    std::int32_t m_handle;
    bool m_closingByHost = false;
    VexorModuleWindow m_window{};
};

// The text of a short string.
inline QString fromShortString(const ShortString255* value)
{
    if (!value)
        return QString();
    return QString::fromUtf8(value->text, value->length);
}

}  // namespace vexor_example
