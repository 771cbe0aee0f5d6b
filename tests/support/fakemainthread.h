#pragma once

// The main window's side of the download thread without a GUI: the test
// thread plays the main thread and runs the worker's steps in serveUntil().

#include "app/core/constants.h"
#include "sync/downloadthread.h"
#include "sync/synchost.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace vexor::testkit {

// The main window's side: the test thread plays the main thread and runs the
// worker's steps in serveUntil(). PrepareSync copies `shared` (language
// "English"); FinishSync hands back and clears StartUps and InstallFlag, as
// the main window does.
class FakeMainThread : public sync::SyncHost {
public:
    explicit FakeMainThread(vexor::Constants& shared) : m_shared(shared) {}

    void attach(sync::TDownloadThread* thread);

    void RequestMainThreadTurn() override;
    void PrepareSync(sync::TDownloadThread& thread) override;
    void FinishSync(sync::TDownloadThread& thread) override;
    void CycleEnded(sync::TDownloadThread& thread) override;

    // Runs pending steps until `done` holds; false when the time ran out.
    bool serveUntil(const std::function<bool()>& done,
                    std::chrono::steady_clock::duration timeout = std::chrono::seconds(20));
    // Starts one cycle and serves it to its end.
    bool runCycle(std::chrono::steady_clock::duration timeout = std::chrono::seconds(20));

    // Wakes serveUntil() to look at its condition again (any thread).
    void poke();

    // Waits (without serving) until the worker asks for a main-thread turn.
    bool waitTurnRequested(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    int prepares() const { return counted(m_prepares); }
    int finishes() const { return counted(m_finishes); }
    int cyclesEnded() const { return counted(m_cyclesEnded); }
    // Cycles prepared before the one before them had ended: never expected.
    int overlaps() const { return counted(m_overlaps); }

    std::string language = "English";
    std::function<void(sync::TDownloadThread&)> afterPrepare;  // e.g. count displays meanwhile
    std::function<void(sync::TDownloadThread&)> inFinish;      // before the hand-back

private:
    int counted(const int& counter) const;  // read under the lock

    vexor::Constants& m_shared;
    sync::TDownloadThread* m_thread = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_turnsRequested = 0;
    int m_turnsServed = 0;
    int m_prepares = 0;
    int m_finishes = 0;
    int m_cyclesEnded = 0;
    int m_overlaps = 0;
    int m_events = 0;
};

}  // namespace vexor::testkit
