#pragma once

// TSocketTransport: a blocking TCP client over non-blocking POSIX sockets.
//
// Every operation runs on the calling thread and blocks it until it ends.
// Waits (host lookup, connect, send, line read, capture) sleep in poll() on the
// socket, the time-out deadline and a wake-up descriptor; Cancel() and Abort()
// may be called from any thread and end a wait at once. Events fire on the
// thread that runs the operation (status reports of Cancel/Abort on the caller
// of those two). One operation at a time per component; the component must
// outlive the operation and must not be destroyed from inside the pump or an
// event handler.
//
// Errors: ESockError with a fixed text ("Connection Failed", "Null Remote
// Address", "10061:Connection refused", ...); EAbortError (derives from
// ESockError) when Cancel/Abort or the time-out ended a send or a read.

#include "net/hostlookup.h"
#include "net/sockerrors.h"
#include "platform/exception.h"
#include "platform/uniquefd.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexor::net {

// Transport failure. The message is one of the fixed texts
// ("Connection Failed", "Host Lookup Timed Out", "10061:Connection refused", ...).
class ESockError : public vexor::Exception {
public:
    using vexor::Exception::Exception;
};

// A cancelled or timed-out send or read ("Socket readln aborted", ...).
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// How much a status text tells; OnStatus hears the texts whose level is at
// most ReportLevel.
enum class StatusLevel : std::int32_t {
    Reply = 1,        // the server's reply line
    Transaction = 2,  // an HTTP transaction completed
    Detail = 4,       // buffers sent, sockets closed
    Trace = 8,        // every call and step
};

class WakeUp;
class TlsChannel;
class ETlsError;

class TSocketTransport {
public:
    // Bytes of one receive or send; the transfer buffer holds one block.
    static constexpr std::size_t BlockSize = 65536;
    // Longest text Write accepts (up to its first zero byte).
    static constexpr std::size_t MaxWriteLength = 65535;
    // Slice of a wait between two calls of the pump, milliseconds.
    static constexpr int PumpSliceMs = 10;

    TSocketTransport();
    virtual ~TSocketTransport();
    TSocketTransport(const TSocketTransport&) = delete;
    TSocketTransport& operator=(const TSocketTransport&) = delete;

    // --- Settings (set before an operation, on the operating thread) ---
    std::string Host;             // name, dotted IPv4, IPv6 literal (with or without brackets)
    std::int32_t Port = 0;
    std::int32_t TimeOut = 0;     // ms without a byte that fail a timed step (lookup, connect: in all); 0 = none
    std::int32_t ReportLevel = 0; // highest StatusLevel passed to OnStatus
    std::string Proxy;            // empty = direct connection
    std::int32_t ProxyPort = 0;
    // A capture into memory (CaptureString) fails past this many bytes.
    std::size_t MaxCaptureBytes = 64u * 1024u * 1024u;
    // Limits of a watched transfer (WatchTransfer to EndTransferWatch; in
    // THttpClient one whole request): fewer than LowSpeedBytes received in a
    // window of LowSpeedTime ms, or more than MaxTransferTime ms in all, fail
    // it with ESockError "Transfer too slow". A server that drips a byte now
    // and then defeats the silence time-out, not these. 0 = no limit.
    std::int64_t LowSpeedBytes = 0;
    std::int32_t LowSpeedTime = 0;
    std::int32_t MaxTransferTime = 0;

    // --- State ---
    std::vector<std::string> WinsockInfo;  // six lines describing this socket layer
    std::int64_t BytesSent = 0;            // by SendFile, never reset
    std::int64_t BytesReceived = 0;        // by the current capture
    std::int64_t ContentLength = 0;        // set by the HTTP client from Content-Length
    std::int32_t LastErrorCode = 0;        // last Windows Sockets number (see sockerrors.h)
    std::int16_t ReplyCode = 0;
    std::string LastReply;
    bool Connected = false;
    bool TimedOut = false;
    bool LastEventOk = true;
    std::atomic<bool> Canceled{false};
    std::atomic<bool> AsyncDone{false};

    // --- Events (std::function; an empty one is skipped) ---
    std::function<void()> OnConnect, OnDisconnect, OnConnectionFailed, OnHostResolved,
        OnPacketRecvd, OnPacketSent;
    std::function<void(bool& Handled)> OnInvalidHost;  // the name gave no address
    // Status texts up to ReportLevel. Cancel/Abort from another thread report
    // on that thread, so a handler used with them must be thread-safe.
    std::function<void(const std::string& Status)> OnStatus;
    // Called just before ESockError is raised for a socket-layer error.
    std::function<void(std::int16_t number, const std::string& message)> OnSocketError;

    // Called on every waiting turn; with a pump set, waits poll in slices of
    // PumpSliceMs. Without one, waits block the thread until something happens.
    void setPump(std::function<void()> pump);
    // Replaces the host name lookup (tests); an empty function restores
    // getaddrinfo. It runs on a helper thread that an abandoned lookup leaves
    // running, so it must own (or share) everything it uses.
    void setResolver(ResolveFunction resolver);

    // Last reported status text (thread-safe copy).
    std::string StatusText() const;

    // --- Operations ---
    virtual void Connect();     // to Proxy:ProxyPort when Proxy is set, else Host:Port
    virtual void Disconnect();  // closes the connection; fires OnDisconnect
    virtual std::string Transaction(const std::string& command);
    virtual void Abort();       // any thread: ends the running wait
    void Cancel();              // any thread: ends the running wait
    // Any thread: ends the running wait like Abort, and holds: every later
    // operation fails at its first wait, because Connect no longer clears the
    // cancel (a stop that lands just before a connect is not lost).
    void Stop();

    // Sends `length` bytes of `data`; length 0 = up to the first zero byte
    // (at most MaxWriteLength). Timed.
    void SendBuffer(const char* data, std::uint16_t length);
    void Write(const std::string& text);    // up to its first zero byte
    void Writeln(const std::string& text);  // text + CR LF
    // One line with its LF (and CR); never consumes past the LF. The empty
    // text when the peer closed (a partial line is dropped) or no connection.
    std::string ReadLn();
    // Receives until the peer closes (maximum -1) or the text holds maximum
    // bytes; nothing past the maximum is taken from the socket. Timed by
    // silence: fails when no byte arrived for TimeOut.
    void CaptureString(std::string& text, std::int64_t maximum);
    // Receives into a new file (an existing one is overwritten) until the peer
    // closes or, with maximum >= 0, maximum bytes arrived. Timed by silence.
    // Memory use does not depend on the size.
    void CaptureFile(const std::string& fileName, std::int64_t maximum = -1);
    // As CaptureFile, into an open file; `fileName` names it in errors.
    void CaptureToFile(int fd, const std::string& fileName, std::int64_t maximum);
    void SendFile(const std::string& fileName);  // not timed
    bool DataAvailable();
    std::string SocketErrorText(std::int32_t number);

    // Speaks TLS over the open connection from here on: handshake with
    // `serverName` (its certificate is checked against that name), then every
    // send and read goes through TLS until Disconnect. Timed; Cancel and Abort
    // end it. Raises ESockError "TLS handshake failed: ... (name)" or
    // "Certificate verify failed: ... (name)" after OnConnectionFailed, and
    // EAbortError "TLS handshake aborted" on cancel or time-out.
    void StartTls(const std::string& serverName);

    // Takes over an already connected socket (tests, fuzzing, socketpair).
    // The component closes it on Disconnect.
    void AttachSocket(int fd);

protected:
    void StatusMessage(const std::string& status, StatusLevel level);
    // Raises ESockError for the last errno unless it maps to `ignored`.
    void SocketError(int err, std::int32_t ignored = ErrWouldBlock);
    void CloseSocket();
    void ResolveHost();
    void TimerOn();
    void TimerOff();
    void TimerTriggered();
    // Bytes moved: a running time-out counts again from now, so a timed step
    // fails only after TimeOut without a byte, however long it runs.
    // `received` counts for the low-speed limit.
    void Heard(std::size_t received = 0);
    // Waits until fd reports one of `events` (true) or Canceled is set (false);
    // fires the time-out when the deadline passes. fd -1 waits for cancel only.
    bool WaitFor(int fd, short events);
    // One turn of every wait: polls the wake-up descriptor (put into fds[0]
    // here) and fds[1..count-1] until one reports, `until`, the time-out
    // deadline or a pump slice passes. Fires the time-out when it is due and
    // raises when a transfer limit is broken. Poll's result.
    int PollTurn(pollfd* fds, std::size_t count, std::chrono::steady_clock::time_point until);
    // Starts and ends the watch of LowSpeedBytes/LowSpeedTime/MaxTransferTime.
    void WatchTransfer();
    void EndTransferWatch() { m_watching = m_limitBroken = false; }
    // Sends all bytes or stops on Canceled; raises socket errors.
    void SendAll(const char* data, std::size_t size, bool countSent);
    // Clears Canceled and raises EAbortError(text) when it was set.
    void CheckAborted(const char* text);
    // recv()/send() on the socket, or through TLS once StartTls has run: bytes,
    // 0 when the peer closed, -1 with errno; on EAGAIN m_ioWait names the
    // poll() event to wait for (a TLS read may have to write, and back).
    ssize_t ReceiveSome(char* buffer, std::size_t size, bool peek);
    ssize_t SendSome(const char* data, std::size_t size);

    // Connect keeps a pending cancel instead of clearing it (later hops of
    // one HTTP request: an Abort between two hops must not be lost).
    bool m_keepCancel = false;

private:
    void InitializeSockets();
    void Fire(const std::function<void()>& event);
    void CallPump();
    bool ResolveOnce();
    void StartConnect();
    // Connects to one of m_addresses (connectrace.cpp); the winner becomes
    // m_socket. Raises like the connect wait.
    void RaceConnect();
    void FailRace(int firstError, bool firstFailedAtOnce);  // raises
    bool ImmediateConnectFailure(int err) const;
    void FailConnect(const char* text);
    void DrainWake();
    template <typename Sink>
    void CaptureLoop(Sink&& sink, std::int64_t maximum, const char* abortText);

    void ReportTlsError(const ETlsError& error);

    std::unique_ptr<WakeUp> m_wake;
    std::unique_ptr<TlsChannel> m_tls;
    short m_ioWait = 0;
    std::function<void()> m_pump;
    ResolveFunction m_resolver;
    // One block for every read; left uninitialised, so that a component that
    // never transfers (the main window's idle client) keeps no resident pages.
    std::unique_ptr<char[]> m_ioBuffer;
    platform::UniqueFd m_socket;
    bool m_destroying = false;
    sockaddr_storage m_remoteAddress{};
    socklen_t m_remoteLength = 0;
    std::vector<sockaddr_storage> m_addresses;  // of the last lookup, in the resolver's order
    std::atomic<bool> m_stopped{false};
    bool m_timerArmed = false;
    std::int32_t m_timerInterval = 0;
    std::chrono::steady_clock::time_point m_deadline{};
    // The transfer watch: its end, the end of the current low-speed window
    // and the bytes received in that window.
    void CheckTransferLimits(std::chrono::steady_clock::time_point now);
    bool m_watching = false;
    bool m_limitBroken = false;
    std::chrono::steady_clock::time_point m_watchEnd{}, m_windowEnd{};
    std::int64_t m_windowBytes = 0;
    mutable std::mutex m_statusMutex;
    std::string m_statusText;
};

}  // namespace vexor::net
