#include "app/windowmessage.h"

#include <QCoreApplication>

namespace vexor {

WindowMessageEvent::WindowMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam)
    : QEvent(eventType()), m_message(message), m_wParam(wParam), m_lParam(lParam)
{
}

QEvent::Type WindowMessageEvent::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostWindowMessage(QObject* window, std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam)
{
    if (window)
        QCoreApplication::postEvent(window, new WindowMessageEvent(message, wParam, lParam));
}

}  // namespace vexor
