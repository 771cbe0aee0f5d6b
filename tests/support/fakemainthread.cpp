#include "fakemainthread.h"

namespace vexor::testkit {

void FakeMainThread::attach(sync::TDownloadThread* thread)
{
    std::lock_guard lock(m_mutex);
    m_thread = thread;
}

void FakeMainThread::RequestMainThreadTurn()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_turnsRequested;
        ++m_events;
    }
    m_changed.notify_all();
}

void FakeMainThread::PrepareSync(sync::TDownloadThread& thread)
{
    thread.CopyFrom(m_shared, language);
    if (afterPrepare)
        afterPrepare(thread);
    std::lock_guard lock(m_mutex);
    m_overlaps += m_prepares != m_cyclesEnded;
    ++m_prepares;
}

void FakeMainThread::FinishSync(sync::TDownloadThread& thread)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_finishes;
    }
    if (inFinish)
        inFinish(thread);
    thread.HandBackTo(m_shared);
    m_shared.StartUps = 0;
    m_shared.InstallFlag = false;
}

void FakeMainThread::CycleEnded(sync::TDownloadThread&)
{
    {
        std::lock_guard lock(m_mutex);
        ++m_cyclesEnded;
        ++m_events;
    }
    m_changed.notify_all();
}

bool FakeMainThread::serveUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_turnsServed < m_turnsRequested) {
            ++m_turnsServed;
            sync::TDownloadThread* thread = m_thread;
            lock.unlock();
            if (thread)
                thread->RunPendingStep();
            lock.lock();
            continue;
        }
        const int seen = m_events;
        lock.unlock();
        const bool finished = done();
        lock.lock();
        if (finished)
            return true;
        // Every change the predicates look at (a turn, a cycle's end) counts
        // as an event, so none is missed between the check and the wait.
        if (!m_changed.wait_until(lock, deadline, [&] { return m_events != seen; })) {
            lock.unlock();
            return done();
        }
    }
}

bool FakeMainThread::runCycle(std::chrono::steady_clock::duration timeout)
{
    const int before = cyclesEnded();
    if (!m_thread || !m_thread->TryConnect())
        return false;
    return serveUntil([&] { return cyclesEnded() > before; }, timeout);
}

void FakeMainThread::poke()
{
    {
        std::lock_guard lock(m_mutex);
        ++m_events;
    }
    m_changed.notify_all();
}

bool FakeMainThread::waitTurnRequested(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_turnsRequested > m_turnsServed; });
}

int FakeMainThread::counted(const int& counter) const
{
    std::lock_guard lock(m_mutex);
    return counter;
}

}  // namespace vexor::testkit
