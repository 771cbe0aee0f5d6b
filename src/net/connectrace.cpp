// The connect step of TSocketTransport over every address a name gave, the way
// browsers and curl do it ("Happy Eyeballs", RFC 8305): the addresses are
// tried in the resolver's order, the next one starts when the current attempt
// has neither connected nor failed within 250 ms (at once when it failed), the
// first connection wins and the other attempts are closed. A name with an IPv6
// address on a network without IPv6 routing, or with a server that listens on
// IPv4 only, thus still connects. The connect time-out bounds the whole race.

#include "net/sockettransport.h"

#include "net/wakeup.h"

#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace vexor::net {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto AttemptDelay = std::chrono::milliseconds(250);

socklen_t lengthOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

struct Attempt {
    int fd;
    std::size_t index;  // into the address list
};

// The attempts still open; whatever is left when the race ends is closed.
struct Attempts {
    std::vector<Attempt> list;
    ~Attempts()
    {
        for (const Attempt& attempt : list)
            ::close(attempt.fd);
    }
};

// Starts a non-blocking connect. Returns the descriptor (-1 when none could
// be made); `err` is set when the connect failed at once, `done` when it
// succeeded at once.
int startAttempt(const sockaddr_storage& address, int& err, bool& done)
{
    err = 0;
    done = false;
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), lengthOf(address)) == 0)
        done = true;
    else if (errno != EINPROGRESS && errno != EINTR)
        err = errno;
    return fd;
}

int pendingError(int fd)
{
    int err = 0;
    socklen_t length = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) != 0)
        err = errno;
    return err;
}

}  // namespace

void TSocketTransport::RaceConnect()
{
    // A failed attempt's socket stays the component's until the caller's
    // Disconnect (which fires OnDisconnect), as with a single address.
    const auto retire = [this](int fd) {
        if (m_socket < 0)
            m_socket = fd;
        else
            ::close(fd);
    };
    AsyncDone.store(false);
    LastEventOk = true;
    std::vector<int> errors(m_addresses.size(), 0);
    bool firstFailedAtOnce = false;  // the first address's error came from socket()/connect()
    Attempts attempts;
    std::size_t next = 0;
    auto nextStart = Clock::now();
    int winner = -1;
    std::size_t winnerIndex = 0;
    TimerOn();
    while (winner < 0 && !Canceled.load()) {
        const auto now = Clock::now();
        if (m_timerArmed && now >= m_deadline) {
            TimerTriggered();
            break;
        }
        if (next < m_addresses.size() && (attempts.list.empty() || now >= nextStart)) {
            bool done = false;
            const int fd = startAttempt(m_addresses[next], errors[next], done);
            firstFailedAtOnce = firstFailedAtOnce || (next == 0 && errors[next] != 0);
            if (done) {
                winner = fd;
                winnerIndex = next;
            } else if (errors[next] != 0) {
                if (fd >= 0)
                    retire(fd);
            } else {
                attempts.list.push_back({fd, next});
            }
            ++next;
            nextStart = now + AttemptDelay;
            continue;
        }
        if (attempts.list.empty())
            break;  // every address failed
        std::vector<pollfd> fds = {{m_wake->Descriptor(), POLLIN, 0}};
        for (const Attempt& attempt : attempts.list)
            fds.push_back({attempt.fd, POLLOUT, 0});
        auto until = next < m_addresses.size() ? nextStart : Clock::time_point::max();
        if (m_timerArmed)
            until = std::min(until, m_deadline);
        int timeout = -1;
        if (until != Clock::time_point::max())
            timeout = static_cast<int>(std::max<std::int64_t>(
                0, std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
        if (m_pump)
            timeout = timeout < 0 ? PumpSliceMs : std::min(timeout, PumpSliceMs);
        const int n = ::poll(fds.data(), fds.size(), timeout);
        if (n < 0 && errno != EINTR) {
            TimerOff();
            SocketError(errno);
        }
        if (n > 0 && fds[0].revents != 0)
            DrainWake();
        CallPump();
        for (std::size_t i = fds.size() - 1; n > 0 && i >= 1 && winner < 0; --i) {
            if (fds[i].revents == 0)
                continue;
            const Attempt attempt = attempts.list[i - 1];
            attempts.list.erase(attempts.list.begin() + static_cast<std::ptrdiff_t>(i - 1));
            const int err = pendingError(attempt.fd);
            if (err == 0) {
                winner = attempt.fd;
                winnerIndex = attempt.index;
                break;
            }
            errors[attempt.index] = err;
            retire(attempt.fd);
            nextStart = Clock::now();  // a failed attempt starts the next one at once
        }
    }
    TimerOff();
    if (winner >= 0) {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = winner;
        m_remoteAddress = m_addresses[winnerIndex];
        m_remoteLength = lengthOf(m_remoteAddress);
        return;
    }
    if (m_socket < 0 && !attempts.list.empty()) {
        retire(attempts.list.back().fd);
        attempts.list.pop_back();
    }
    FailRace(errors.empty() ? 0 : errors.front(), firstFailedAtOnce);
}

// Every attempt failed, or the time-out or a cancel ended the race: the error
// and the error code are those of the first address.
void TSocketTransport::FailRace(int first, bool firstFailedAtOnce)
{
    if (first != 0)
        LastErrorCode = WinsockErrorFromErrno(first);
    if (TimedOut)
        FailConnect("Connection Timed out");
    if (Canceled.load())
        FailConnect("Connection Canceled");
    LastEventOk = false;
    // As with one address: a refusal or an unreachable network is a failed
    // connection; any other error of the first address is a socket-layer error.
    if (firstFailedAtOnce && !ImmediateConnectFailure(first))
        SocketError(first);
    FailConnect("Connection Failed");
}

}  // namespace vexor::net
