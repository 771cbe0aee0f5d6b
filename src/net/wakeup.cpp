#include "net/wakeup.h"

#include "platform/exception.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace vexor::net {

WakeUp::WakeUp() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (!m_fd.valid())
        throw vexor::Exception("Cannot create a wake-up descriptor");
}

void WakeUp::Signal()
{
    const std::uint64_t one = 1;
    // A full counter (2^64 - 2 pending signals) already wakes the poll.
    [[maybe_unused]] const auto written = ::write(m_fd.get(), &one, sizeof one);
}

void WakeUp::Drain()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(m_fd.get(), &count, sizeof count);
}

}  // namespace vexor::net
