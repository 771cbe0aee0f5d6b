#include "sync/downloadthread.h"

#include "platform/diagnostic.h"
#include "platform/fileops.h"
#include "sync/cachefiles.h"
#include "sync/protocol.h"
#include "sync/proxysettings.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace vexor::sync {

namespace {

// Called inside a catch block: the group's error is dropped (the next cycle
// tries again) and leaves one line on stderr, unless the stop request caused
// it by aborting the transfer.
void traceDroppedError(const char* group, bool stopping)
{
    if (stopping)
        return;
    try {
        throw;
    } catch (const std::exception& error) {
        platform::writeDiagnostic(std::string(group) + " skipped: " + error.what());
    } catch (...) {
        platform::writeDiagnostic(std::string(group) + " skipped");
    }
}

}  // namespace

TDownloadThread::TDownloadThread(vexor::Constants& shared, SyncHost& host,
                                 std::chrono::milliseconds requestTimeout)
    : m_shared(shared), m_host(host), m_serverHost(shared.ServerHost)
{
    BannerIds.fill(EmptyBannerId);
    // A server that drips keeps the silence time-out from firing; these end
    // such a request, so that one step never holds the cycle for long.
    HttpClient1.LowSpeedBytes = LowSpeedBytes;
    HttpClient1.LowSpeedTime = static_cast<std::int32_t>(LowSpeedTime.count());
    HttpClient1.MaxTransferTime = static_cast<std::int32_t>(MaxStepTime.count());
    HttpClient1.TimeOut = static_cast<std::int32_t>(
        std::clamp<std::chrono::milliseconds::rep>(requestTimeout.count(), 0, std::numeric_limits<std::int32_t>::max()));
    // A body that never ends would fill the disk until the time-out.
    HttpClient1.OnPacketRecvd = [this] {
        if (HttpClient1.InputFileMode && HttpClient1.BytesReceived > MaxDownloadBytes)
            HttpClient1.Abort();
    };
    m_worker = std::thread([this] { run(); });
}

TDownloadThread::~TDownloadThread()
{
    Shutdown();
}

bool TDownloadThread::TryConnect()
{
    std::lock_guard lock(m_mutex);
    if (m_stopRequested || m_cycleRequested)
        return false;
    m_cycleRequested = true;
    m_changed.notify_all();
    return true;
}

bool TDownloadThread::Idle() const
{
    std::lock_guard lock(m_mutex);
    return !m_cycleRequested;
}

void TDownloadThread::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopRequested || m_cycleRequested; });
        if (m_stopRequested)
            break;
        lock.unlock();
        runCycle();
        lock.lock();
        m_cycleRequested = false;
        lock.unlock();
        m_host.CycleEnded(*this);
        lock.lock();
    }
    m_ended = true;
    m_changed.notify_all();
}

void TDownloadThread::runOnMainThread(Step step)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending = step;
        m_stepDone = false;
        m_stepError = nullptr;
    }
    m_changed.notify_all();  // a Shutdown that waits serves the step itself
    m_host.RequestMainThreadTurn();
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_stepDone; });
    if (std::exception_ptr error = std::exchange(m_stepError, nullptr))
        std::rethrow_exception(error);
}

void TDownloadThread::RunPendingStep()
{
    Step step = Step::None;
    {
        std::lock_guard lock(m_mutex);
        if (m_pending == Step::None || m_stepRunning)
            return;
        step = std::exchange(m_pending, Step::None);
        m_stepRunning = true;
    }
    std::exception_ptr error;
    try {
        if (step == Step::Prepare) {
            m_host.PrepareSync(*this);
            m_countsAtPrepare = BannerCounts;
        } else {
            m_host.FinishSync(*this);
        }
    } catch (...) {
        error = std::current_exception();
    }
    {
        std::lock_guard lock(m_mutex);
        m_stepRunning = false;
        m_stepError = error;
        m_stepDone = true;
    }
    m_changed.notify_all();
}

void TDownloadThread::Shutdown()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_shutDown)
            return;
        m_stopRequested = true;
    }
    m_changed.notify_all();
    // Not just Abort: a stop that lands between the worker's last check and a
    // request's connect (which clears an abort) must end that request too.
    HttpClient1.Stop();
    std::unique_lock lock(m_mutex);
    // Called from inside a step, the worker waits for this very call to
    // return: waiting here would never end.
    if (m_stepRunning)
        return;
    for (;;) {
        m_changed.wait(lock, [this] { return m_ended || m_pending != Step::None; });
        if (m_ended)
            break;
        lock.unlock();
        RunPendingStep();
        lock.lock();
    }
    m_shutDown = true;
    lock.unlock();
    m_worker.join();
}

void TDownloadThread::CopyFrom(const vexor::Constants& shared, const std::string& languageName)
{
    StartUps = shared.StartUps;
    InstallFlag = shared.InstallFlag;
    LangIndexFile = shared.LangIndexFile;
    ClientId = shared.ClientId;
    UserId = shared.UserId;
    LanguageName = languageName;
    ModulesListFile = shared.ModulesListFile;
    BannerIds = shared.BannerIds;
    BannerCounts = shared.BannerCounts;
    RotationInterval = shared.RotationInterval;
    LogoDir = shared.LogoDir;
    BannerDir = shared.BannerDir;
}

void TDownloadThread::HandBackTo(vexor::Constants& shared) const
{
    shared.BannerIds = BannerIds;
    shared.RotationInterval = RotationInterval;
    for (std::size_t i = 0; i < BannerCounts.size(); ++i) {
        const std::int64_t sincePrepare =
            static_cast<std::int64_t>(shared.BannerCounts[i]) - m_countsAtPrepare[i];
        const std::int64_t total = static_cast<std::int64_t>(BannerCounts[i]) + sincePrepare;
        shared.BannerCounts[i] = static_cast<std::int32_t>(std::clamp<std::int64_t>(
            total, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
    }
}

void TDownloadThread::advance(int amount)
{
    m_progress.fetch_add(amount);
}

// The steps of one cycle. "running()" is checked before every step: once the
// stop is requested, no further request is sent and no file is touched.
void TDownloadThread::runCycle()
{
    applyProxy();
    if (!running())
        return;
    try {
        runOnMainThread(Step::Prepare);
    } catch (...) {
        // Without the main window's state there is nothing to report: the
        // cycle ends here and the thread goes idle.
        return;
    }
    languageGroup();
    if (running())
        advance(GaugeStep);
    moduleGroup();
    if (running())
        advance(GaugeStep);
    bannerGroup();
}

void TDownloadThread::applyProxy()
{
    ApplyProxySettings(HttpClient1, m_shared.Proxy());
}

void TDownloadThread::languageGroup()
{
    const ClientIdentity who{ClientId, UserId};
    try {
        if (!running())
            return;
        m_progress = 0;
        getToFile(LanglUrl(m_serverHost, who, LanguageName, StartUps, InstallFlag),
                  ListTempFile(LangIndexFile));
        if (!running())
            return;
        m_progress = 0;
        const std::string answer = getText(VersionUrl(m_serverHost, who, LanguageName));
        if (!ParseVersionNumber(answer))
            NewerVersion = false;
        else if (IsNewerVersion(answer))
            NewerVersion = true;
        // A failed VERSION request ends the group above: the downloaded list
        // then stays under its temporary name.
        if (running())
            ReplaceLanguageList(LangIndexFile);
    } catch (...) {
        traceDroppedError("language list update", !running());
    }
}

void TDownloadThread::moduleGroup()
{
    try {
        if (!running())
            return;
        getToFile(ModlUrl(m_serverHost, {ClientId, UserId}, LanguageName), ListTempFile(ModulesListFile));
        if (running())
            ReplaceModuleList(ModulesListFile);
    } catch (...) {
        traceDroppedError("module list update", !running());
    }
}

void TDownloadThread::bannerGroup()
{
    if (!running())
        return;
    const std::string url = LcountUrl(m_serverHost, {ClientId, UserId}, BannerIds, BannerCounts);
    try {
        const std::string answer = getText(url);
        if (running())
            advance(GaugeStep);
        // A wrong length or a hostile identifier: no slot is touched, the
        // counters are kept and the interval stays; FinishSync still runs.
        if (const std::optional<CountAnswer> lineUp = ParseCountAnswer(answer)) {
            for (int slot = 0; slot < BannerSlotCount && running(); ++slot) {
                updateSlot(slot, lineUp->BannerIds[static_cast<std::size_t>(slot)]);
                BannerCounts[static_cast<std::size_t>(slot)] = 0;
                advance(GaugeStep);
            }
            RotationInterval = lineUp->RotationInterval;
        }
        if (running())
            runOnMainThread(Step::Finish);
    } catch (...) {
        traceDroppedError("banner update", !running());
    }
}

// Slot refill: image to "<id>.bak", then into place as "<id>.gif", then the
// page. Slots are handled in ascending order, so an identifier that moves from
// slot 2 to slot 5 loses its image in slot 2 and is downloaded again for 5.
void TDownloadThread::updateSlot(int slot, const std::string& newId)
{
    const auto index = static_cast<std::size_t>(slot);
    const std::string oldId = BannerIds[index];
    if (newId == oldId)
        return;
    if (newId == EmptyBannerId) {
        // The page stays: the rotation skips empty slots.
        RemoveSlotImage(LogoDir, oldId);
        BannerIds[index] = EmptyBannerId;
        return;
    }
    if (!running())
        return;
    getToFile(LogoUrl(m_serverHost, {ClientId, UserId}, newId), ImageTempFile(LogoDir, newId));
    if (!running())
        return;
    PutImageInPlace(LogoDir, oldId, newId);
    BannerIds[index] = newId;
    if (running())
        fetchPage(slot, newId);
}

void TDownloadThread::fetchPage(int slot, const std::string& bannerId)
{
    try {
        getToFile(HtmlUrl(m_serverHost, {ClientId, UserId}, bannerId), PageTempFile(BannerDir, slot));
    } catch (...) {
        DiscardPageTemp(BannerDir, slot);
        throw;
    }
    PutPageInPlace(BannerDir, slot);
}

void TDownloadThread::getToFile(const std::string& url, const std::string& path)
{
    HttpClient1.InputFileMode = true;
    HttpClient1.Body = platform::resolvePath(path);
    get(url);
}

std::string TDownloadThread::getText(const std::string& url)
{
    HttpClient1.InputFileMode = false;
    get(url);
    return HttpClient1.Body;
}

void TDownloadThread::get(const std::string& url)
{
    // A cut or malformed reply raises inside Get, and a body file is only put
    // in place when whole.
    HttpClient1.Get(url);
}

}  // namespace vexor::sync
