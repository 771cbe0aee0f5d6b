#include "net/sockettransport.h"

#include "net/address.h"
#include "net/tlschannel.h"
#include "net/wakeup.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

namespace vexor::net {

namespace {

// A lookup that timed out or was cancelled: it ends Connect, where a failed
// lookup gives OnInvalidHost its chance. The text is what the caller sees.
class ELookupStopped : public ESockError {
public:
    using ESockError::ESockError;
};

std::vector<std::string> socketLayerInfo()
{
    utsname system{};
    ::uname(&system);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const auto maxSockets = std::min<rlim_t>(files.rlim_cur, 65535);
    // The numbers and texts of errors are those of Windows Sockets 1.1, which
    // is why the version lines name it; the rest describes the real layer.
    return {
        "Version= 1.1",
        "High Version= 1.1",
        std::string("Description= POSIX sockets over poll() and eventfd, ") + system.sysname + " " + system.release,
        "System= Running",
        "Max Sockets= " + std::to_string(maxSockets),
        "Max Udp pack size= 65507",
    };
}

}  // namespace

TSocketTransport::TSocketTransport() : m_ioBuffer(new char[BlockSize])
{
    StatusMessage("Create", StatusLevel::Trace);
    InitializeSockets();
}

TSocketTransport::~TSocketTransport()
{
    // Nothing leaves a destructor: a close() error (the descriptor is released
    // all the same) has no caller left to hear it.
    try {
        StatusMessage("Destroy", StatusLevel::Trace);
        m_destroying = true;
        CloseSocket();
    } catch (...) {
    }
}

void TSocketTransport::InitializeSockets()
{
    StatusMessage("Initializing Winsock", StatusLevel::Trace);
    try {
        m_wake = std::make_unique<WakeUp>();
    } catch (const vexor::Exception&) {
        throw ESockError("Initializaton of windows sockets failed");
    }
    WinsockInfo = socketLayerInfo();
}

void TSocketTransport::setPump(std::function<void()> pump)
{
    m_pump = std::move(pump);
}

void TSocketTransport::setResolver(ResolveFunction resolver)
{
    m_resolver = std::move(resolver);
}

std::string TSocketTransport::StatusText() const
{
    std::lock_guard lock(m_statusMutex);
    return m_statusText;
}

void TSocketTransport::StatusMessage(const std::string& status, StatusLevel level)
{
    if (ReportLevel < static_cast<std::int32_t>(level))
        return;
    {
        std::lock_guard lock(m_statusMutex);
        m_statusText = status;
    }
    // Outside the lock: a handler may itself cancel, which reports again.
    if (!m_destroying && OnStatus) {
        try {
            OnStatus(status);
        } catch (...) {
            // A status handler cannot break the operation that reports.
        }
    }
}

void TSocketTransport::Fire(const std::function<void()>& event)
{
    if (event)
        event();
}

void TSocketTransport::CallPump()
{
    if (m_pump)
        m_pump();
}

std::string TSocketTransport::SocketErrorText(std::int32_t number)
{
    StatusMessage("Looking Up Error Message", StatusLevel::Trace);
    return net::SocketErrorText(number);
}

void TSocketTransport::SocketError(int err, std::int32_t ignored)
{
    LastErrorCode = WinsockErrorFromErrno(err);
    if (LastErrorCode == ignored || LastErrorCode <= 10000)
        return;
    const std::string message = SocketErrorText(LastErrorCode);
    if (OnSocketError)
        OnSocketError(static_cast<std::int16_t>(LastErrorCode), message);
    throw ESockError(message);
}

// --- Cancel, abort, time-out -------------------------------------------------

void TSocketTransport::Cancel()
{
    StatusMessage("Canceling", StatusLevel::Trace);
    // The flag first: a wait that wakes up must see it.
    Canceled.store(true);
    m_wake->Signal();
}

void TSocketTransport::Abort()
{
    StatusMessage("Abort", StatusLevel::Trace);
    Cancel();
}

void TSocketTransport::Stop()
{
    // The flag first: a Connect that clears the cancel right now sees it.
    m_stopped.store(true);
    Abort();
}

void TSocketTransport::DrainWake()
{
    m_wake->Drain();
}

void TSocketTransport::CheckAborted(const char* text)
{
    if (Canceled.exchange(false)) {
        DrainWake();
        throw EAbortError(text);
    }
}

// Arming a running timer with the same interval does not restart it, so a
// capture that re-arms after each block is still bounded from its start.
void TSocketTransport::TimerOn()
{
    StatusMessage("Timer On", StatusLevel::Trace);
    TimedOut = false;
    if (m_timerArmed && m_timerInterval == TimeOut)
        return;
    m_timerInterval = TimeOut;
    m_timerArmed = TimeOut > 0;
    if (m_timerArmed)
        m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

void TSocketTransport::Heard(std::size_t received)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_timerArmed)
        m_deadline = now + std::chrono::milliseconds(m_timerInterval);
    m_windowBytes += static_cast<std::int64_t>(received);
    // A fast transfer never waits, so the limits are looked at here too.
    if (m_watching)
        CheckTransferLimits(now);
}

void TSocketTransport::WatchTransfer()
{
    const auto now = std::chrono::steady_clock::now();
    m_watching = LowSpeedTime > 0 || MaxTransferTime > 0;
    m_limitBroken = false;
    m_watchEnd = MaxTransferTime > 0 ? now + std::chrono::milliseconds(MaxTransferTime)
                                     : std::chrono::steady_clock::time_point::max();
    m_windowEnd = LowSpeedTime > 0 ? now + std::chrono::milliseconds(LowSpeedTime)
                                   : std::chrono::steady_clock::time_point::max();
    m_windowBytes = 0;
}

void TSocketTransport::CheckTransferLimits(std::chrono::steady_clock::time_point now)
{
    bool broken = now >= m_watchEnd;
    if (now >= m_windowEnd) {
        broken = broken || m_windowBytes < LowSpeedBytes;
        m_windowBytes = 0;
        m_windowEnd = now + std::chrono::milliseconds(LowSpeedTime);
    }
    if (broken) {
        m_watching = false;
        m_limitBroken = true;
        throw ESockError("Transfer too slow");
    }
}

void TSocketTransport::TimerOff()
{
    StatusMessage("Timer Off", StatusLevel::Trace);
    m_timerArmed = false;
}

void TSocketTransport::TimerTriggered()
{
    StatusMessage("Timer Triggered", StatusLevel::Trace);
    TimerOff();
    TimedOut = true;
    AsyncDone.store(true);
    Abort();
}

int TSocketTransport::PollTurn(pollfd* fds, std::size_t count, std::chrono::steady_clock::time_point until)
{
    const auto now = std::chrono::steady_clock::now();
    if (m_timerArmed && now >= m_deadline) {
        TimerTriggered();
        return 0;
    }
    if (m_watching) {
        CheckTransferLimits(now);
        until = std::min({until, m_watchEnd, m_windowEnd});
    }
    if (m_timerArmed)
        until = std::min(until, m_deadline);
    int timeout = -1;
    if (until != std::chrono::steady_clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        timeout = static_cast<int>(std::clamp<std::int64_t>(left, 0, std::numeric_limits<int>::max()));
    }
    if (m_pump)
        timeout = timeout < 0 ? PumpSliceMs : std::min(timeout, PumpSliceMs);
    fds[0] = {m_wake->Descriptor(), POLLIN, 0};
    const int n = ::poll(fds, count, timeout);
    if (n < 0 && errno != EINTR)
        SocketError(errno);
    if (n > 0 && fds[0].revents != 0)
        DrainWake();
    CallPump();
    return n;
}

bool TSocketTransport::WaitFor(int fd, short events)
{
    while (!Canceled.load()) {
        pollfd fds[2] = {{}, {fd, events, 0}};
        const int n = PollTurn(fds, fd >= 0 ? 2 : 1, std::chrono::steady_clock::time_point::max());
        if (n > 0 && fd >= 0 && fds[1].revents != 0)
            return true;
    }
    return false;
}

// --- Lookup and connect ------------------------------------------------------

void TSocketTransport::ResolveHost()
{
    StatusMessage("Resolve Host", StatusLevel::Trace);
    const std::string name = Proxy.empty() ? Host : Proxy;
    m_addresses.clear();
    if (parseIpLiteral(name, m_remoteAddress)) {
        m_remoteLength = addressLength(m_remoteAddress);
        m_addresses.push_back(m_remoteAddress);
        return;
    }
    m_remoteAddress = {};
    m_remoteLength = 0;
    TimerOn();
    AsyncDone.store(false);
    auto lookup = HostLookup::Start(unbracketed(name), m_resolver);
    if (!lookup) {
        TimerOff();
        throw ESockError("Host Lookup Failed");
    }
    while (!lookup->Done() && WaitFor(lookup->Descriptor(), POLLIN)) {
    }
    TimerOff();
    if (TimedOut)
        throw ELookupStopped("Host Lookup Timed Out");
    if (Canceled.load())
        throw ELookupStopped("Host Lookup Canceled");
    AsyncDone.store(true);
    const LookupAnswer answer = lookup->Answer();
    LastEventOk = answer.error == 0 && !answer.addresses.empty();
    if (!LastEventOk) {
        LastErrorCode = answer.error != 0 ? answer.error : ErrNoAddress;
        throw ESockError("Host Lookup Failed");
    }
    m_addresses = answer.addresses;
    m_remoteAddress = answer.addresses.front();
    m_remoteLength = addressLength(m_remoteAddress);
    Fire(OnHostResolved);
}

// One lookup; true when it gave an address. Time-out and cancel leave Connect.
bool TSocketTransport::ResolveOnce()
{
    try {
        ResolveHost();
    } catch (const ELookupStopped&) {
        throw;
    } catch (const ESockError&) {
        if (m_limitBroken)
            throw;
        m_remoteLength = 0;
    }
    return m_remoteLength != 0;
}

void TSocketTransport::Connect()
{
    StatusMessage("Connecting", StatusLevel::Trace);
    if (!m_keepCancel) {
        Canceled.store(false);
        DrainWake();
    }
    if (m_stopped.load())
        Canceled.store(true);
    if (Connected)
        throw ESockError("Already connected");
    if (!ResolveOnce()) {
        bool handled = false;
        if (OnInvalidHost)
            OnInvalidHost(handled);
        if (!handled || !ResolveOnce())
            throw ESockError("Null Remote Address");
    }
    const auto port = htons(static_cast<std::uint16_t>(Proxy.empty() ? Port : ProxyPort));
    for (sockaddr_storage& address : m_addresses) {
        if (address.ss_family == AF_INET6)
            reinterpret_cast<sockaddr_in6*>(&address)->sin6_port = port;
        else
            reinterpret_cast<sockaddr_in*>(&address)->sin_port = port;
    }
    StartConnect();
}

// Errors that the connect wait reports as a failed connection rather than a
// socket-layer error: they are what an asynchronous connect notification carries.
bool TSocketTransport::ImmediateConnectFailure(int err) const
{
    return err == ECONNREFUSED || err == ENETUNREACH || err == EHOSTUNREACH || err == ETIMEDOUT
        || err == ECONNRESET;
}

// The socket stays open until the caller's Disconnect, which fires OnDisconnect.
void TSocketTransport::FailConnect(const char* text)
{
    Fire(OnConnectionFailed);
    throw ESockError(text);
}

void TSocketTransport::StartConnect()
{
    CloseSocket();
    if (Canceled.load())
        FailConnect("Connection Canceled");  // kept from an earlier hop, or stopped
    RaceConnect();
    Connected = true;
    Fire(OnConnect);
}

void TSocketTransport::AttachSocket(int fd)
{
    CloseSocket();
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    m_socket.reset(fd);
    Connected = true;
}

void TSocketTransport::CloseSocket()
{
    StatusMessage("Request Close Socket", StatusLevel::Detail);
    Connected = false;
    if (!m_socket.valid())
        return;
    if (m_tls) {
        m_tls->Close();
        m_tls.reset();
    }
    if (!m_socket.close())
        SocketError(errno);
    if (!m_destroying)
        Fire(OnDisconnect);
}

void TSocketTransport::Disconnect()
{
    StatusMessage("Disconnecting", StatusLevel::Trace);
    CloseSocket();
}

}  // namespace vexor::net
