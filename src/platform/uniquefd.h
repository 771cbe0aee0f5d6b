#pragma once

// Owners of a file descriptor and of an open folder listing: whatever they
// hold is closed when they go, on every path out of a function.

#include <cerrno>
#include <utility>

#include <dirent.h>
#include <unistd.h>

namespace vexor::platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) noexcept : m_fd(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return m_fd; }
    bool valid() const noexcept { return m_fd >= 0; }

    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(m_fd, -1); }

    // Closes the held descriptor (its error is lost: use close() to hear it)
    // and holds `fd` instead.
    void reset(int fd = -1) noexcept
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0)
            ::close(old);
    }

    // Closes now and tells whether that went well; errno says why not. The
    // descriptor is gone either way, also after EINTR (Linux releases it
    // before the interrupted flush), so EINTR counts as success.
    bool close() noexcept
    {
        const int old = release();
        return old < 0 || ::close(old) == 0 || errno == EINTR;
    }

private:
    int m_fd = -1;
};

class UniqueDir {
public:
    explicit UniqueDir(DIR* dir) noexcept : m_dir(dir) {}
    UniqueDir(const UniqueDir&) = delete;
    UniqueDir& operator=(const UniqueDir&) = delete;
    ~UniqueDir()
    {
        if (m_dir)
            ::closedir(m_dir);
    }

    DIR* get() const noexcept { return m_dir; }
    explicit operator bool() const noexcept { return m_dir != nullptr; }

private:
    DIR* m_dir;
};

}  // namespace vexor::platform
