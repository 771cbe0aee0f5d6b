#pragma once

// A descriptor that another thread makes readable to end a poll() at once.

namespace vexor::net {

class WakeUp {
public:
    WakeUp();  // raises vexor::Exception when no eventfd can be made
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    int Descriptor() const { return m_fd; }
    void Signal();  // any thread; async-signal-safe
    void Drain();   // consumes every pending signal

private:
    int m_fd = -1;
};

}  // namespace vexor::net
