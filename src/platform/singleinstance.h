#pragma once

#include "platform/uniquefd.h"

#include <string>

// Single instance: stands in for the named mutex "Vexor". An advisory lock
// (flock, LOCK_EX|LOCK_NB) on "<runtime dir>/<name>.lock", where the runtime
// dir is $XDG_RUNTIME_DIR, or a per-user folder under /tmp when it is unset.
// The descriptor is close-on-exec, so programs the client starts never hold
// it; the kernel drops the lock when the process dies.
namespace vexor::platform {

class SingleInstance {
public:
    // `lockDir` empty: the default runtime folder ($XDG_RUNTIME_DIR when it is
    // an absolute path, else /tmp/vexor-<uid>, created 0700 and refused when
    // it is a symlink or not ours). Nothing is locked yet. Throws
    // vexor::Exception when the fallback folder is unusable. A `name` that is
    // not a plain file name is replaced by "Vexor".
    explicit SingleInstance(std::string name = "Vexor", std::string lockDir = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this object now holds the lock (also when it held it already);
    // false when another process, or another object of this process, holds
    // it. Never blocks. Throws vexor::Exception when the lock file cannot be
    // created or locked for another reason (so a broken runtime folder is
    // reported instead of being taken for a running instance).
    bool tryAcquire();
    void release();
    bool held() const { return m_fd.valid(); }
    const std::string& lockFilePath() const { return m_path; }

    // The default runtime folder (see the constructor).
    static std::string defaultLockDir();
    // `path` made ready as a private folder: created with mode 0700 when
    // missing; an existing one must be a real folder (not a symlink) owned by
    // this user, and its mode is tightened to 0700. Returns `path`; throws
    // vexor::Exception "Unsafe lock folder %s" otherwise.
    static std::string privateFolder(const std::string& path);

private:
    std::string m_path;
    UniqueFd m_fd;
};

}  // namespace vexor::platform
