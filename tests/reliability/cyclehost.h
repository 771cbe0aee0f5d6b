#pragma once

// A main thread for TDownloadThread without a GUI: the caller's thread serves
// the PrepareSync and FinishSync steps from a loop, as the main window's event
// loop does, and counts the cycles.

#include "app/constants.h"
#include "sync/downloadthread.h"
#include "sync/synchost.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vexor::reliability {

class CycleHost : public sync::SyncHost {
public:
    explicit CycleHost(Constants& shared) : m_shared(shared) {}

    void RequestMainThreadTurn() override
    {
        std::lock_guard lock(m_mutex);
        m_turnWanted = true;
        m_changed.notify_all();
    }

    void PrepareSync(sync::TDownloadThread& thread) override
    {
        // Every cycle prepared before this one has ended: cycles never overlap.
        if (ended() != prepared)
            ++overlaps;
        ++prepared;
        thread.CopyFrom(m_shared, "English");
    }

    void FinishSync(sync::TDownloadThread& thread) override
    {
        ++finished;
        thread.HandBackTo(m_shared);
    }

    void CycleEnded(sync::TDownloadThread&) override
    {
        std::lock_guard lock(m_mutex);
        ++m_ended;
        m_changed.notify_all();
    }

    // Main thread: serves pending steps until `deadline`, or until the cycle
    // count reaches `endedAtLeast`. Returns the cycles ended so far.
    long serveUntil(sync::TDownloadThread& thread, std::chrono::steady_clock::time_point deadline,
                    long endedAtLeast)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (m_ended >= endedAtLeast)
                break;
            if (!m_changed.wait_until(lock, deadline, [this, endedAtLeast] {
                    return m_turnWanted || m_ended >= endedAtLeast;
                }))
                break;
            if (m_turnWanted) {
                m_turnWanted = false;
                lock.unlock();
                thread.RunPendingStep();
                lock.lock();
            }
        }
        return m_ended;
    }

    long ended()
    {
        std::lock_guard lock(m_mutex);
        return m_ended;
    }

    // Main-thread counters.
    long prepared = 0;
    long finished = 0;
    long overlaps = 0;

private:
    Constants& m_shared;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_turnWanted = false;
    long m_ended = 0;
};

}  // namespace vexor::reliability
