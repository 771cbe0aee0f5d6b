#pragma once

// A descriptor that another thread makes readable to end a poll() at once.

#include "platform/uniquefd.h"

namespace vexor::net {

class WakeUp {
public:
    WakeUp();  // raises vexor::Exception when no eventfd can be made

    int Descriptor() const { return m_fd.get(); }
    void Signal();  // any thread; async-signal-safe
    void Drain();   // consumes every pending signal

private:
    platform::UniqueFd m_fd;
};

}  // namespace vexor::net
