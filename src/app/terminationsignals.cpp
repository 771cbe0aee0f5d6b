#include "app/terminationsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace vexor {

namespace {

// [0] is written by the handler, [1] read by the notifier.
int g_signalSocket[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: with the socket full, the signals already waiting in it
    // say the same thing.
    [[maybe_unused]] const ssize_t written = ::write(g_signalSocket[0], &byte, 1);
    errno = savedErrno;
}

void setFlags(int fd)
{
    ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

}  // namespace

bool TerminationSignals::InstallHandlers()
{
    if (g_signalSocket[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalSocket) != 0)
        return false;
    setFlags(g_signalSocket[0]);
    setFlags(g_signalSocket[1]);
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{
    if (g_signalSocket[1] < 0)
        return;
    m_notifier = new QSocketNotifier(g_signalSocket[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readSignals()
{
    // Everything is read before anyone hears of it: a handler that opens a
    // dialog runs a nested event loop, in which this notifier must not see
    // the same bytes again.
    unsigned char bytes[64];
    std::vector<int> received;
    for (;;) {
        const ssize_t got = ::read(g_signalSocket[1], bytes, sizeof bytes);
        if (got > 0) {
            received.insert(received.end(), bytes, bytes + got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        break;
    }
    if (received.empty())
        return;
    m_count += static_cast<int>(received.size());
    emit requested(received.back());
}

}  // namespace vexor
