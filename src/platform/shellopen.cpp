#include "platform/shellopen.h"

#include "platform/uniquefd.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vexor::platform {

namespace {

// One line of a URL: no NUL, CR or LF (they would split a log line or cut the
// argument), and no leading "-" (xdg-open would take it for an option).
bool acceptableUrl(const std::string& url)
{
    if (url.empty() || url.front() == '-')
        return false;
    return url.find_first_of(std::string("\0\r\n", 3)) == std::string::npos;
}

bool appendToLog(const char* logFile, const std::string& url)
{
    const UniqueFd fd(::open(logFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600));
    if (!fd.valid())
        return false;
    std::string line = url + "\n";
    // One write with O_APPEND: lines of several writers do not interleave.
    ssize_t written;
    do {
        written = ::write(fd.get(), line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    return written == static_cast<ssize_t>(line.size());
}

bool spawnBrowser(const std::string& url)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&actions) != 0)
        return false;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return false;
    }
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors opened without O_CLOEXEC (by a library) stay with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // The browser runs in a session of its own with a clean signal state, so
    // that neither our signal mask nor a terminal's signals reach it.
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID;
#endif
    posix_spawnattr_setflags(&attributes, flags);

    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(url.c_str()), nullptr};
    pid_t pid = -1;
    int result = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0)
        return false;
    // Reap the helper without waiting for it and without touching the
    // program's SIGCHLD handling.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

}  // namespace

bool openUrl(const std::string& url)
{
    if (!acceptableUrl(url))
        return false;
    if (const char* log = std::getenv("VEXOR_OPEN_URL_LOG"); log && *log)
        return appendToLog(log, url);
    return spawnBrowser(url);
}

}  // namespace vexor::platform
