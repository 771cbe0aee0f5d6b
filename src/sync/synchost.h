#pragma once

// The interface between the download thread (core) and the main window (GUI).

namespace vexor::sync {

class TDownloadThread;

// What the download thread needs of the main window. The GUI implements it in
// TForm1; tests implement it with a fake.
class SyncHost {
public:
    virtual ~SyncHost() = default;

    // Called on the WORKER thread when a main-thread step is waiting: the host
    // must arrange for TDownloadThread::RunPendingStep() to be called on the
    // main thread soon (Qt: a queued call bound to the main window). Must be
    // thread-safe and must not block.
    virtual void RequestMainThreadTurn() = 0;

    // Run on the MAIN thread while the worker waits. An exception thrown here
    // is raised again in the worker.
    virtual void PrepareSync(TDownloadThread& thread) = 0;
    virtual void FinishSync(TDownloadThread& thread) = 0;

    // Called on the WORKER thread when a cycle has ended (completed or not)
    // and the thread is idle again. Must not block; the default does nothing.
    virtual void CycleEnded(TDownloadThread& thread) { (void)thread; }
};

}  // namespace vexor::sync
