#pragma once

#include "vexor/module.h"

#include <atomic>
#include <cstdint>

class QObject;

// The host handle handed to modules as argument 1 of "DajOkno": posts the
// modules' messages to the main window and hands out window handles.
namespace vexor {

class ModuleHost {
public:
    // `mainWindow` receives CM_TRYCONNECT and CM_TRYCLOSEMODULE as
    // WindowMessageEvent; it must outlive every module window.
    explicit ModuleHost(QObject* mainWindow);
    ModuleHost(const ModuleHost&) = delete;
    ModuleHost& operator=(const ModuleHost&) = delete;

    const VexorHost* handle() const { return &m_host; }

private:
    static std::int32_t postMessage(const VexorHost* host, std::uint32_t message, std::intptr_t wParam,
                                    std::intptr_t lParam);
    static std::int32_t nextWindowId(const VexorHost* host);

    VexorHost m_host{};
    QObject* m_mainWindow;
    std::atomic<std::int32_t> m_lastWindowId{0};
};

}  // namespace vexor
