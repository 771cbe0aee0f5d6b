// Sending and receiving of TSocketTransport: every loop stops on Canceled and
// waits for readiness in WaitFor, so an abort or the time-out ends it at once.

#include "net/sockettransport.h"

#include "platform/fileops.h"
#include "platform/uniquefd.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vexor::net {

namespace {

// Runs TimerOff however the timed step ends.
template <typename Off>
struct TimerGuard {
    Off off;
    ~TimerGuard() { off(); }
};
template <typename Off>
TimerGuard(Off) -> TimerGuard<Off>;

}  // namespace

void TSocketTransport::SendAll(const char* data, std::size_t size, bool countSent)
{
    std::size_t sent = 0;
    while (sent < size && !Canceled.load()) {
        if (!m_socket.valid())
            SocketError(ENOTCONN);
        const auto n = SendSome(data + sent, size - sent);
        if (n == 0)
            return;  // nothing more goes out; the rest is dropped
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            Heard();
            if (countSent) {
                BytesSent += n;
                Fire(OnPacketSent);
                CallPump();
            }
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            WaitFor(m_socket.get(), m_ioWait);
            continue;
        }
        SocketError(errno);
    }
}

void TSocketTransport::SendBuffer(const char* data, std::uint16_t length)
{
    StatusMessage("Sending Buffer", StatusLevel::Detail);
    TimerOn();
    TimerGuard guard{[this] { TimerOff(); }};
    if (!Canceled.load()) {
        std::size_t size = length;
        if (length == 0)
            size = ::strnlen(data, MaxWriteLength + 1);
        if (size > MaxWriteLength)
            throw ESockError("Write text longer than " + std::to_string(MaxWriteLength) + " characters");
        SendAll(data, size, false);
    }
    CheckAborted("Socket send aborted");
}

void TSocketTransport::Write(const std::string& text)
{
    StatusMessage("Write", StatusLevel::Trace);
    // A text goes out up to its first zero byte.
    const std::size_t length = std::min(text.find('\0'), text.size());
    if (length > MaxWriteLength)
        throw ESockError("Write text longer than " + std::to_string(MaxWriteLength) + " characters");
    if (length > 0)
        SendBuffer(text.data(), static_cast<std::uint16_t>(length));
}

void TSocketTransport::Writeln(const std::string& text)
{
    StatusMessage("Writeln", StatusLevel::Trace);
    Write(text + "\r\n");
}

// Peeks at what is waiting, takes it up to and including the first LF, and
// leaves everything after the LF in the socket for the next read.
std::string TSocketTransport::ReadLn()
{
    StatusMessage("ReadLn", StatusLevel::Trace);
    TimerOn();
    TimerGuard guard{[this] { TimerOff(); }};
    std::string line;
    char* buffer = m_ioBuffer.get();
    while (!Canceled.load()) {
        if (!m_socket.valid()) {
            LastErrorCode = ErrNotConnected;
            return {};
        }
        const std::size_t room = BlockSize - line.size();
        if (room == 0)
            throw ESockError("Reply line longer than " + std::to_string(BlockSize) + " bytes");
        const auto n = ReceiveSome(buffer, room, true);
        if (n == 0)
            return {};  // the peer closed; a partial line is dropped
        if (n < 0) {
            const int err = errno;
            LastErrorCode = WinsockErrorFromErrno(err);
            if (err == ENOTCONN)
                return {};
            if (err == EAGAIN || err == EWOULDBLOCK)
                WaitFor(m_socket.get(), m_ioWait);
            else if (err != EINTR)
                SocketError(err);
            continue;
        }
        const auto* lf = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<std::size_t>(n)));
        std::size_t take = lf ? static_cast<std::size_t>(lf - buffer) + 1 : static_cast<std::size_t>(n);
        // The peeked bytes are in the socket, so this takes exactly `take` bytes.
        std::size_t got = 0;
        while (got < take) {
            const auto r = ReceiveSome(buffer + got, take - got, false);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                SocketError(r == 0 ? ECONNRESET : errno);
            got += static_cast<std::size_t>(r);
        }
        line.append(buffer, take);
        Heard(take);
        if (lf)
            return line;
    }
    CheckAborted("Socket readln aborted");
    return {};
}

template <typename Sink>
void TSocketTransport::CaptureLoop(Sink&& sink, std::int64_t maximum, const char* abortText)
{
    BytesReceived = 0;
    TimerOn();
    TimerGuard guard{[this] { TimerOff(); }};
    char* buffer = m_ioBuffer.get();
    while (!Canceled.load() && (maximum < 0 || BytesReceived < maximum)) {
        if (!m_socket.valid()) {
            LastErrorCode = ErrNotConnected;
            break;
        }
        // Never past the maximum: what follows it stays in the socket.
        const std::size_t room = maximum < 0 ? BlockSize
            : static_cast<std::size_t>(std::min<std::int64_t>(maximum - BytesReceived, BlockSize));
        const auto n = ReceiveSome(buffer, room, false);
        if (n == 0)
            break;  // the peer closed: the capture is complete
        if (n > 0) {
            sink(buffer, static_cast<std::size_t>(n));
            BytesReceived += n;
            Fire(OnPacketRecvd);
            Heard(static_cast<std::size_t>(n));
            CallPump();
            continue;
        }
        const int err = errno;
        LastErrorCode = WinsockErrorFromErrno(err);
        if (err == ENOTCONN)
            break;
        if (err == EAGAIN || err == EWOULDBLOCK)
            WaitFor(m_socket.get(), m_ioWait);
        else if (err != EINTR)
            SocketError(err);
    }
    CheckAborted(abortText);
}

void TSocketTransport::CaptureString(std::string& text, std::int64_t maximum)
{
    StatusMessage("Capture String", StatusLevel::Trace);
    text.clear();
    CaptureLoop(
        [&](const char* data, std::size_t size) {
            if (text.size() + size > MaxCaptureBytes)
                throw ESockError("Reply body larger than " + std::to_string(MaxCaptureBytes) + " bytes");
            text.append(data, size);
        },
        maximum, "Socket capture aborted");
}

void TSocketTransport::CaptureFile(const std::string& fileName, std::int64_t maximum)
{
    BytesReceived = 0;
    platform::UniqueFd file(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!file.valid())
        throw ESockError(vexor::formatMessage("Cannot create file %s", fileName));
    CaptureToFile(file.get(), fileName, maximum);
    if (!file.close())
        throw ESockError(vexor::formatMessage("Cannot write to file %s", fileName));
}

void TSocketTransport::CaptureToFile(int fd, const std::string& fileName, std::int64_t maximum)
{
    StatusMessage("CaptureFile", StatusLevel::Trace);
    CaptureLoop(
        [&](const char* data, std::size_t size) {
            if (!platform::writeAll(fd, data, size))
                throw ESockError(vexor::formatMessage("Cannot write to file %s", fileName));
        },
        maximum, "Socket send aborted");
}

void TSocketTransport::SendFile(const std::string& fileName)
{
    StatusMessage("SendFile", StatusLevel::Trace);
    const platform::UniqueFd file(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid())
        throw ESockError(vexor::formatMessage("Cannot open file %s", fileName));
    char* buffer = m_ioBuffer.get();
    while (!Canceled.load()) {
        const auto n = ::read(file.get(), buffer, BlockSize);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ESockError(vexor::formatMessage("Cannot read file %s", fileName));
        if (n == 0)
            break;
        SendAll(buffer, static_cast<std::size_t>(n), true);
    }
    CheckAborted("Socket send aborted");
}

bool TSocketTransport::DataAvailable()
{
    StatusMessage("Data Available", StatusLevel::Trace);
    char byte = 0;
    try {
        return m_socket.valid() && ReceiveSome(&byte, 1, true) >= 1;
    } catch (const ESockError&) {
        return false;  // a broken TLS stream has nothing to read
    }
}

std::string TSocketTransport::Transaction(const std::string& command)
{
    StatusMessage("Transaction", StatusLevel::Trace);
    ReplyCode = 0;
    Writeln(command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(LastReply, StatusLevel::Reply);
        std::int32_t code = 0;
        for (std::size_t i = 0; i < LastReply.size() && i < 10; ++i) {
            const char c = LastReply[i];
            if (c < '0' || c > '9')
                break;
            code = code * 10 + (c - '0');
            if (code > 32767) {
                code = 0;  // not a reply number this field can hold
                break;
            }
        }
        ReplyCode = static_cast<std::int16_t>(code);
    }
    return LastReply;
}

}  // namespace vexor::net
