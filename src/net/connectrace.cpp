// The connect step of TSocketTransport over every address a name gave, the way
// browsers and curl do it ("Happy Eyeballs", RFC 8305): the addresses are
// tried in the resolver's order, the next one starts when the current attempt
// has neither connected nor failed within 250 ms (at once when it failed), the
// first connection wins and the other attempts are closed. A name with an IPv6
// address on a network without IPv6 routing, or with a server that listens on
// IPv4 only, thus still connects. The connect time-out bounds the whole race.

#include "net/sockettransport.h"

#include "net/address.h"
#include "net/wakeup.h"
#include "platform/uniquefd.h"

#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>

namespace vexor::net {

namespace {

using Clock = std::chrono::steady_clock;
using platform::UniqueFd;
constexpr auto AttemptDelay = std::chrono::milliseconds(250);

// An attempt still open; whatever is left when the race ends is closed.
struct Attempt {
    UniqueFd fd;
    std::size_t index;  // into the address list
};

// Starts a non-blocking connect. Returns the descriptor (none when none could
// be made); `err` is set when the connect failed at once, `done` when it
// succeeded at once.
UniqueFd startAttempt(const sockaddr_storage& address, int& err, bool& done)
{
    err = 0;
    done = false;
    UniqueFd fd(::socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd.valid()) {
        err = errno;
        return fd;
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), addressLength(address)) == 0)
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
    // The others are closed.
    const auto retire = [this](UniqueFd fd) {
        if (!m_socket.valid())
            m_socket = std::move(fd);
    };
    AsyncDone.store(false);
    LastEventOk = true;
    std::vector<int> errors(m_addresses.size(), 0);
    bool firstFailedAtOnce = false;  // the first address's error came from socket()/connect()
    std::vector<Attempt> attempts;
    std::size_t next = 0;
    auto nextStart = Clock::now();
    UniqueFd winner;
    std::size_t winnerIndex = 0;
    TimerOn();
    // A poll error or a broken transfer limit leaves through PollTurn.
    struct TimerStop {
        TSocketTransport* transport;
        ~TimerStop() { transport->TimerOff(); }
    } timerStop{this};
    while (!winner.valid() && !Canceled.load()) {
        const auto now = Clock::now();
        if (next < m_addresses.size() && (attempts.empty() || now >= nextStart)) {
            bool done = false;
            UniqueFd fd = startAttempt(m_addresses[next], errors[next], done);
            firstFailedAtOnce = firstFailedAtOnce || (next == 0 && errors[next] != 0);
            if (done) {
                winner = std::move(fd);
                winnerIndex = next;
            } else if (errors[next] != 0) {
                if (fd.valid())
                    retire(std::move(fd));
            } else {
                attempts.push_back({std::move(fd), next});
            }
            ++next;
            nextStart = now + AttemptDelay;
            continue;
        }
        if (attempts.empty())
            break;  // every address failed
        std::vector<pollfd> fds(1);
        for (const Attempt& attempt : attempts)
            fds.push_back({attempt.fd.get(), POLLOUT, 0});
        const auto until = next < m_addresses.size() ? nextStart : Clock::time_point::max();
        const int n = PollTurn(fds.data(), fds.size(), until);
        for (std::size_t i = fds.size() - 1; n > 0 && i >= 1 && !winner.valid(); --i) {
            if (fds[i].revents == 0)
                continue;
            Attempt attempt = std::move(attempts[i - 1]);
            attempts.erase(attempts.begin() + static_cast<std::ptrdiff_t>(i - 1));
            const int err = pendingError(attempt.fd.get());
            if (err == 0) {
                winner = std::move(attempt.fd);
                winnerIndex = attempt.index;
                break;
            }
            errors[attempt.index] = err;
            retire(std::move(attempt.fd));
            nextStart = Clock::now();  // a failed attempt starts the next one at once
        }
    }
    if (winner.valid()) {
        m_socket = std::move(winner);
        m_remoteAddress = m_addresses[winnerIndex];
        m_remoteLength = addressLength(m_remoteAddress);
        return;
    }
    if (!m_socket.valid() && !attempts.empty()) {
        retire(std::move(attempts.back().fd));
        attempts.pop_back();
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
