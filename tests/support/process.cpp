#include "process.h"

#include "loopbackserver.h"
#include "tempdir.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace vexor::testkit {

namespace {

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

int msLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> args, Options options)
{
    int pipeFds[2] = {-1, -1};
    if (options.pipeOut && ::pipe2(pipeFds, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.pipeOut)
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    else if (!options.outFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, options.outFile.c_str(),
                                         O_WRONLY | O_CREAT | (options.append ? O_APPEND : O_TRUNC), 0644);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!options.errFile.empty())
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, options.errFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    else if (!options.outFile.empty())
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.ownGroup) {
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = pointers(options.environment);
    m_started = ::posix_spawn(&m_pid, argv[0], &actions, &attributes, argv.data(),
                              options.environment.empty() ? environ : envp.data()) == 0;
    if (!m_started)
        m_pid = -1;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (options.pipeOut) {
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
    }
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0)
        stop(SIGTERM);
    if (m_out >= 0)
        ::close(m_out);
}

bool ChildProcess::running()
{
    if (m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
        m_pid = -1;
    return m_pid > 0;
}

int ChildProcess::wait(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    // A pidfd becomes readable when the process ends.
    const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    if (pidFd >= 0) {
        pollfd p{pidFd, POLLIN, 0};
        int ready;
        do
            ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        while (ready < 0 && errno == EINTR);
        ::close(pidFd);
        if (ready == 0)
            ::kill(m_pid, SIGKILL);
    }
    int status = 0;
    pid_t ended;
    while ((ended = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
    }
    const bool reaped = ended == m_pid;
    m_pid = -1;
    return reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::stop(int signal, std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
        return -1;
    ::kill(m_pid, signal);
    return wait(timeout);
}

bool ChildProcess::readOutput(std::string& out, std::chrono::milliseconds timeout, bool untilNewline)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char block[4096];
    while (m_out >= 0) {
        if (untilNewline && out.find('\n') != std::string::npos)
            return false;
        const int left = msLeft(deadline);
        if (left <= 0)
            return false;
        pollfd p{m_out, POLLIN, 0};
        const int ready = ::poll(&p, 1, left);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::read(m_out, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return true;
        out.append(block, static_cast<std::size_t>(n));
    }
    return true;
}

bool ChildProcess::waitAccepts(std::uint16_t port, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && msLeft(deadline) > 0) {
        if (acceptsOnLoopback(port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

RunResult runToEnd(std::vector<std::string> args, std::chrono::milliseconds timeout,
                   std::vector<std::string> environment)
{
    TempDir dir;
    ChildProcess::Options options;
    options.pipeOut = true;
    options.errFile = dir / "stderr.txt";
    options.environment = std::move(environment);
    ChildProcess child(std::move(args), options);
    RunResult result;
    if (!child.started())
        return result;
    child.readOutput(result.out, timeout, false);
    result.exitStatus = child.wait(timeout);
    result.err = dir.read("stderr.txt");
    return result;
}

std::vector<std::string> environmentWithout(const std::vector<std::string>& drop)
{
    std::vector<std::string> result;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool dropped = false;
        for (const std::string& name : drop)
            dropped = dropped || entry.rfind(name + "=", 0) == 0;
        if (!dropped)
            result.push_back(entry);
    }
    return result;
}

}  // namespace vexor::testkit
