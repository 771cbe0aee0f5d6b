#pragma once

#include <QEvent>

#include <cstdint>

class QObject;

// The main window's private messages, delivered as custom events. Posting is
// thread-safe (QCoreApplication::postEvent), so modules and other threads use
// PostWindowMessage just like posting a window message.
namespace vexor {

inline constexpr std::uint32_t CM_TRYCONNECT = 33533;      // 0x82FD
inline constexpr std::uint32_t CM_TRYCLOSEMODULE = 33534;  // 0x82FE

class WindowMessageEvent : public QEvent {
public:
    WindowMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);
    static QEvent::Type eventType();

    std::uint32_t message() const { return m_message; }
    std::intptr_t wParam() const { return m_wParam; }
    std::intptr_t lParam() const { return m_lParam; }

private:
    std::uint32_t m_message;
    std::intptr_t m_wParam;
    std::intptr_t m_lParam;
};

// Posts `message` to `window`; a null window is ignored.
void PostWindowMessage(QObject* window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam);

}  // namespace vexor
