#include "platform/fileops.h"

#include "platform/asciitext.h"
#include "platform/exception.h"
#include "platform/uniquefd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexor::platform {

namespace {

bool pathExists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` that equals `name` without regard to case; when several
// spellings exist, the smallest in byte order, so the choice does not depend on
// the order in which the file system lists them.
std::string findEntryNoCase(const std::string& folder, const std::string& name)
{
    UniqueDir dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir)
        return {};
    std::string best;
    while (const dirent* entry = ::readdir(dir.get())) {
        std::string_view candidate(entry->d_name);
        if (equalsNoCase(candidate, name) && (best.empty() || candidate < best))
            best = candidate;
    }
    return best;
}

// Opens a regular file for reading. O_NONBLOCK keeps a FIFO planted under a
// cache file's name from hanging the caller; anything but a regular file is
// refused.
UniqueFd openRegularForRead(const std::string& path)
{
    UniqueFd fd(::open(resolvePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat st;
    if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)))
        fd.reset();
    return fd;
}

std::string folderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file that a write to `path` should replace: the target of a symbolic
// link (so that a linked settings file stays linked), else the path itself.
std::string writeTarget(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (real) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

void syncFolder(const std::string& folder)
{
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems refuse fsync on a folder (EINVAL); the rename has
    // happened by then, so this is best effort.
    if (fd.valid())
        ::fsync(fd.get());
}

}  // namespace

std::string resolvePath(const std::string& path)
{
    if (path.empty())
        return path;
    std::string result = path[0] == '/' ? "/" : "";
    bool searching = true;  // false once a component exists in no spelling
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string::npos)
            end = path.size();
        std::string component = path.substr(at, end - at);
        at = end + 1;
        if (component.empty())
            continue;
        std::string candidate = result + component;
        if (searching && component != "." && component != ".." && !pathExists(candidate)) {
            std::string found = findEntryNoCase(result, component);
            if (found.empty())
                searching = false;
            else
                candidate = result + found;
        }
        result = candidate;
        if (end < path.size())
            result += '/';
    }
    return result;
}

bool fileExists(const std::string& path)
{
    struct stat st;
    return ::stat(resolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool deleteFile(const std::string& path)
{
    return ::unlink(resolvePath(path).c_str()) == 0;
}

bool renameFile(const std::string& from, const std::string& to)
{
    std::string source = resolvePath(from);
    std::string target = resolvePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without RENAME_NOREPLACE: link + unlink keeps the
    // "target must not exist" rule without a check-then-act race.
    if (::link(source.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(source.c_str());
    return true;
}

std::string readFirstLine(const std::string& path, std::size_t maxLength)
{
    const UniqueFd fd = openRegularForRead(path);
    if (!fd.valid())
        return {};
    std::string line;
    char buffer[4096];
    while (line.size() < maxLength) {
        ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, maxLength - line.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const char* cr = static_cast<const char*>(std::memchr(buffer, '\r', static_cast<std::size_t>(n)));
        if (cr) {
            line.append(buffer, static_cast<std::size_t>(cr - buffer));
            break;
        }
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return line;
}

bool readWholeFile(const std::string& path, std::string& contents)
{
    contents.clear();
    const UniqueFd fd = openRegularForRead(path);
    if (!fd.valid())
        return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    if (!ok)
        contents.clear();
    return ok;
}

namespace {

// A writer killed between creating its temporary and the rename leaves the
// temporary behind. Ones older than an hour belong to no running write (a
// write takes milliseconds) and are removed by the next successful write of
// the same file.
void removeStaleTemporaries(const std::string& folder, const std::string& base)
{
    const std::string prefix = "." + base + ".tmp-";
    constexpr std::size_t suffixLength = 6;  // mkostemp's XXXXXX
    constexpr time_t staleSeconds = 3600;
    const UniqueDir dir(::opendir(folder.c_str()));
    if (!dir)
        return;
    const time_t now = ::time(nullptr);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.size() != prefix.size() + suffixLength || name.substr(0, prefix.size()) != prefix)
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)
            && now - st.st_mtime > staleSeconds)
            ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

}  // namespace

bool writeFileAtomic(const std::string& path, const std::string& contents, unsigned mode)
{
    if (path.empty())
        return false;
    std::string target = writeTarget(resolvePath(path));
    std::string folder = folderOf(target);
    std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    if (base.empty())
        return false;

    // An existing file keeps its permission bits; a new one gets `mode`.
    struct stat old;
    bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return false;
    mode_t finalMode = existed ? (old.st_mode & 07777) : static_cast<mode_t>(mode & 07777);

    std::string temp = (folder == "/" ? "" : folder) + "/." + base + ".tmp-XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.valid())
        return false;
    temp.assign(name.data());

    bool ok = ::fchmod(fd.get(), finalMode) == 0
        && writeAll(fd.get(), contents.data(), contents.size())
        && ::fsync(fd.get()) == 0;
    // A close error after the fsync can still mean lost data on a network
    // file system: the old file stays then.
    ok = fd.close() && ok;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    syncFolder(folder);
    removeStaleTemporaries(folder, base);
    return true;
}

bool isPlainFileName(const std::string& name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return std::none_of(name.begin(), name.end(), [](char ch) {
        auto c = static_cast<unsigned char>(ch);
        return c == '/' || c == '\\' || c < 0x20 || c == 0x7f;
    });
}

std::string executableDir()
{
    std::vector<char> buffer(PATH_MAX + 1);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return "./";
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string exe(buffer.data(), static_cast<std::size_t>(n));
            auto slash = exe.rfind('/');
            return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string programFolder()
{
    const char* value = std::getenv("VEXOR_PROGRAM_FOLDER");
    if (!value || !*value)
        return executableDir();
    std::string folder(value);
    const auto refuse = [&folder](const char* fault) {
        return Exception(formatMessage("VEXOR_PROGRAM_FOLDER %s: ", fault) + folder);
    };
    if (folder.front() != '/')
        throw refuse("is not an absolute path");
    // Without its trailing slashes: lstat would follow a symlink named with one.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        throw refuse("names nothing that exists");
    if (S_ISLNK(st.st_mode))
        throw refuse("is a symlink");
    if (!S_ISDIR(st.st_mode))
        throw refuse("is not a folder");
    if (st.st_uid != ::getuid())
        throw refuse("is a folder of another user");
    return path == "/" ? path : path + "/";
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vexor::platform
