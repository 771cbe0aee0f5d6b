#include "net/sockettransport.h"

#include "net/tlschannel.h"
#include "net/wakeup.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vexor::net {

namespace {

std::atomic<int> SocketLayerUsers{0};

// A lookup that timed out or was cancelled: it ends Connect, where a failed
// lookup gives OnInvalidHost its chance. The text is what the caller sees.
class ELookupStopped : public ESockError {
public:
    using ESockError::ESockError;
};

// "[::1]" -> "::1"; other names unchanged.
std::string unbracketed(const std::string& name)
{
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        return name.substr(1, name.size() - 2);
    return name;
}

bool numericAddress(const std::string& name, sockaddr_storage& address, socklen_t& length)
{
    address = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (::inet_pton(AF_INET, name.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof(sockaddr_in);
        return true;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    if (::inet_pton(AF_INET6, unbracketed(name).c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        length = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

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
    SocketLayerUsers.fetch_sub(1);
}

void TSocketTransport::InitializeSockets()
{
    StatusMessage("Initializing Winsock", StatusLevel::Trace);
    try {
        m_wake = std::make_unique<WakeUp>();
    } catch (const vexor::Exception&) {
        throw ESockError("Initializaton of windows sockets failed");
    }
    SocketLayerUsers.fetch_add(1);
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

void TSocketTransport::Heard()
{
    if (m_timerArmed)
        m_deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timerInterval);
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

bool TSocketTransport::WaitFor(int fd, short events)
{
    for (;;) {
        if (Canceled.load())
            return false;
        int timeout = -1;
        if (m_timerArmed) {
            const auto left = m_deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero()) {
                TimerTriggered();
                continue;
            }
            timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        if (m_pump)
            timeout = timeout < 0 ? PumpSliceMs : std::min(timeout, PumpSliceMs);
        pollfd fds[2] = {{m_wake->Descriptor(), POLLIN, 0}, {fd, events, 0}};
        const int n = ::poll(fds, fd >= 0 ? 2 : 1, timeout);
        if (n < 0 && errno != EINTR)
            SocketError(errno);
        if (n > 0 && fds[0].revents != 0)
            DrainWake();
        CallPump();
        if (n > 0 && fd >= 0 && fds[1].revents != 0)
            return true;
    }
}

// --- Lookup and connect ------------------------------------------------------

void TSocketTransport::ResolveHost()
{
    StatusMessage("Resolve Host", StatusLevel::Trace);
    const std::string name = Proxy.empty() ? Host : Proxy;
    m_addresses.clear();
    if (numericAddress(name, m_remoteAddress, m_remoteLength)) {
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
        LastErrorCode = answer.error != 0 ? answer.error : 11004;
        throw ESockError("Host Lookup Failed");
    }
    m_addresses = answer.addresses;
    m_remoteAddress = answer.addresses.front();
    m_remoteLength = m_remoteAddress.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
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
