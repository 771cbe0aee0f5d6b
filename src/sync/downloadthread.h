#pragma once

// TDownloadThread: the background worker that keeps the client in step with
// the vendor's server. One cycle sends, strictly one after another, LANGL,
// VERSION, MODL, LCOUNT and a LOGO/HTML pair for every banner slot whose
// identifier changed, puts the answers in place on disk, and hands the new
// banner line-up back to the main window.
//
// Threads. The worker is a std::thread that sleeps on a condition variable
// between cycles. Everything public is called on the MAIN thread, except
// Progress() and Idle() (any thread). The worker touches the main window's
// state only inside PrepareSync and FinishSync, which run on the main thread
// (through SyncHost::RequestMainThreadTurn and RunPendingStep) while the worker
// waits; the only shared value it reads itself is the proxy snapshot
// (Constants::Proxy()) at the start of each cycle.
//
// Errors. The worker never reports an error: each group of a cycle (language
// list + version, module list, banners) drops its errors and the cycle goes on
// with the next group. A server that is down makes every group end at once,
// nothing on disk changes and FinishSync does not run.
//
// Counts added during a cycle. PrepareSync hands over the main window's
// BannerCounts; while the cycle runs the main window keeps counting in its own
// array. FinishSync must keep those displays: the thread hands back what it
// counted (zero for every slot the server answered for), and the main window
// adds what it counted since PrepareSync:
//     shared.BannerCounts[i] = BannerCounts[i]
//                            + (shared.BannerCounts[i] - CountsAtPrepare()[i])
// HandBackTo() does exactly that (and takes the identifiers and interval).

#include "app/core/constants.h"
#include "net/httpclient.h"
#include "sync/synchost.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace vexor::sync {

// Each timed step of a request fails after this long without a byte (lookup
// and connect: after this long in all).
inline constexpr std::chrono::milliseconds DefaultRequestTimeout{30000};
// Largest body a cycle writes to a file (lists, banner images and pages are
// a few kilobytes): a longer one ends its request as failed.
inline constexpr std::int64_t MaxDownloadBytes = 8 << 20;
// A request fails with "Transfer too slow" when fewer than LowSpeedBytes
// arrived in LowSpeedTime, or when it ran longer than MaxStepTime.
inline constexpr std::int64_t LowSpeedBytes = 1024;
inline constexpr std::chrono::milliseconds LowSpeedTime{30000};
inline constexpr std::chrono::milliseconds MaxStepTime{600000};

class TDownloadThread {
public:
    // Starts the worker, idle: no cycle runs before TryConnect. `shared` must
    // outlive the thread; its ServerHost is read here (it never changes after
    // start-up) and its proxy snapshot at the start of every cycle. `host`
    // must outlive the thread too.
    TDownloadThread(vexor::Constants& shared, SyncHost& host,
                    std::chrono::milliseconds requestTimeout = DefaultRequestTimeout);
    // Shutdown() if it has not run. Never destroy the thread from inside
    // PrepareSync or FinishSync.
    ~TDownloadThread();
    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // Connect request (CM_TRYCONNECT): wakes an idle thread for exactly one
    // cycle and returns true; returns false (and does nothing) while a cycle
    // runs or after Shutdown.
    bool TryConnect();
    // No cycle requested or running. Any thread.
    bool Idle() const;

    // Main thread: runs the PrepareSync or FinishSync step the worker waits
    // for; does nothing when none is pending (a late or repeated call is
    // harmless). An exception thrown by the step goes to the worker, never to
    // the caller.
    void RunPendingStep();

    // Main thread, once (later calls return at once): requests the stop, aborts
    // the running request, and waits for the worker to end; while it waits it
    // runs pending main-thread steps itself, so a cycle that is about to hand
    // over cannot deadlock it. After the stop request no further cycle starts
    // and the worker touches neither network nor files. Called from inside
    // PrepareSync/FinishSync it only requests the stop and does not wait.
    void Shutdown();

    // The gauge, 0 to 91: 0 before LANGL and VERSION, +GaugeStep after the
    // language group, the module group, LCOUNT and each banner slot, so a full
    // cycle ends at (3 + BannerSlotCount) * GaugeStep. Any thread.
    static constexpr int GaugeStep = 7;
    int Progress() const { return m_progress.load(); }

    // Tests: replaces the host name lookup of the thread's requests (see
    // TSocketTransport::setResolver). Call while Idle().
    void SetResolver(net::ResolveFunction resolver) { HttpClient1.setResolver(std::move(resolver)); }

    // PrepareSync's copy of the main window's state: copies every field below
    // except NewerVersion. `languageName` is the selected language (may be empty).
    void CopyFrom(const vexor::Constants& shared, const std::string& languageName);
    // FinishSync's first step: BannerIds, RotationInterval, and BannerCounts
    // with the displays counted since PrepareSync kept on top (see above).
    void HandBackTo(vexor::Constants& shared) const;
    // BannerCounts as they were when PrepareSync returned.
    const std::array<std::int32_t, BannerSlotCount>& CountsAtPrepare() const { return m_countsAtPrepare; }

    // The worker's copies. Written by PrepareSync and read by FinishSync on
    // the main thread; read and changed by the worker in between. Touch them
    // only inside those two steps or while Idle().
    std::string LangIndexFile, ClientId, UserId, LanguageName, ModulesListFile;
    std::array<std::string, BannerSlotCount> BannerIds;
    std::array<std::int32_t, BannerSlotCount> BannerCounts{};
    std::int32_t RotationInterval = 10000;  // milliseconds
    std::string LogoDir, BannerDir;         // end with "/"
    std::int32_t StartUps = 0;
    bool InstallFlag = false;
    bool NewerVersion = false;  // kept from cycle to cycle

private:
    enum class Step : std::uint8_t { None, Prepare, Finish };

    void run();
    void runCycle();
    bool running() const { return !m_stopRequested.load(); }
    void runOnMainThread(Step step);
    void advance(int amount);

    void applyProxy();
    void languageGroup();
    void moduleGroup();
    void bannerGroup();
    void updateSlot(int slot, const std::string& newId);
    void fetchPage(int slot, const std::string& bannerId);
    void getToFile(const std::string& url, const std::string& path);
    std::string getText(const std::string& url);
    void get(const std::string& url);

    vexor::Constants& m_shared;
    SyncHost& m_host;
    const std::string m_serverHost;
    net::THttpClient HttpClient1;
    std::atomic<int> m_progress{0};
    std::atomic<bool> m_stopRequested{false};
    std::array<std::int32_t, BannerSlotCount> m_countsAtPrepare{};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;  // any change below; waiters re-check
    bool m_cycleRequested = false;
    bool m_ended = false;
    bool m_shutDown = false;
    Step m_pending = Step::None;
    bool m_stepRunning = false;
    bool m_stepDone = false;
    std::exception_ptr m_stepError;

    std::thread m_worker;  // last: started once everything above exists
};

}  // namespace vexor::sync
