#include "modules/modulehost.h"

#include "app/windowmessage.h"

#include <limits>

namespace vexor {

ModuleHost::ModuleHost(QObject* mainWindow) : m_mainWindow(mainWindow)
{
    m_host.interface_version = VEXOR_MODULE_INTERFACE_VERSION;
    m_host.post_message = &ModuleHost::postMessage;
    m_host.next_window_id = &ModuleHost::nextWindowId;
    m_host.host_context = this;
}

std::int32_t ModuleHost::postMessage(const VexorHost* host, std::uint32_t message, std::intptr_t wParam,
                                     std::intptr_t lParam)
{
    if (!host || !host->host_context)
        return 0;
    if (message != CM_TRYCONNECT && message != CM_TRYCLOSEMODULE)
        return 0;
    const auto* self = static_cast<const ModuleHost*>(host->host_context);
    if (!self->m_mainWindow)
        return 0;
    // postEvent is thread-safe; the event is handled on the main window's thread.
    PostWindowMessage(self->m_mainWindow, message, wParam, lParam);
    return 1;
}

std::int32_t ModuleHost::nextWindowId(const VexorHost* host)
{
    if (!host || !host->host_context)
        return 0;
    auto* self = static_cast<ModuleHost*>(host->host_context);
    std::int32_t last = self->m_lastWindowId.load();
    std::int32_t next;
    do {
        // Two thousand million windows in one run are not expected; should it
        // happen, numbering starts again at 1 rather than going negative.
        next = last == std::numeric_limits<std::int32_t>::max() ? 1 : last + 1;
    } while (!self->m_lastWindowId.compare_exchange_weak(last, next));
    return next;
}

}  // namespace vexor
