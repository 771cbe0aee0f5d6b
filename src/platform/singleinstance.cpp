#include "platform/singleinstance.h"

#include "platform/exception.h"
#include "platform/fileops.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexor::platform {

SingleInstance::SingleInstance(std::string name, std::string lockDir)
{
    if (!isPlainFileName(name))
        name = "Vexor";
    if (lockDir.empty())
        lockDir = defaultLockDir();
    while (lockDir.size() > 1 && lockDir.back() == '/')
        lockDir.pop_back();
    m_path = lockDir + "/" + name + ".lock";
}

SingleInstance::~SingleInstance()
{
    release();
}

bool SingleInstance::tryAcquire()
{
    if (m_fd.valid())
        return true;
    // O_CLOEXEC: a program started by the client must not inherit (and so
    // keep holding) the lock after the client has ended. O_NOFOLLOW: a
    // symlink planted under the lock's name is refused.
    UniqueFd fd(::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (!fd.valid())
        throw Exception(formatMessage("Unable to create the lock file %s", m_path));
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EINTR)
            continue;
        if (error == EWOULDBLOCK)
            return false;
        throw Exception(formatMessage("Unable to lock %s", m_path));
    }
    m_fd = std::move(fd);
    return true;
}

// Anyone may create a name under /tmp first, so the fallback folder is used
// only when it is a real folder that belongs to us.
std::string SingleInstance::privateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        throw Exception(formatMessage("Unsafe lock folder %s", path));
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw Exception(formatMessage("Unsafe lock folder %s", path));
    if ((st.st_mode & 07777) != 0700 && ::chmod(path.c_str(), 0700) != 0)
        throw Exception(formatMessage("Unsafe lock folder %s", path));
    return path;
}

std::string SingleInstance::defaultLockDir()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/')
        return xdg;
    return privateFolder("/tmp/vexor-" + std::to_string(::getuid()));
}

void SingleInstance::release()
{
    // The file stays: removing it would let a third process lock a new file
    // of the same name while a second still waits on the old one.
    m_fd.reset();
}

}  // namespace vexor::platform
