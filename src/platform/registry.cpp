#include "platform/registry.h"

#include "platform/exception.h"
#include "platform/fileops.h"
#include "platform/uniquefd.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vexor::platform {

namespace {

std::string homeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/tmp";
}

// Creates every missing folder of `folder` with mode 0700 (existing ones are
// left as they are).
bool makeFolders(const std::string& folder)
{
    if (folder.empty())
        return true;
    struct stat st;
    if (::stat(folder.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    auto slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash)))
        return false;
    return ::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// Holds flock(LOCK_EX) on "<file>.lock" for its lifetime. The lock lives on a
// file of its own because the registry file itself is replaced by rename.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
    {
        while (m_fd.valid() && ::flock(m_fd.get(), LOCK_EX) != 0) {
            if (errno != EINTR)
                m_fd.reset();
        }
    }
    bool locked() const { return m_fd.valid(); }

private:
    UniqueFd m_fd;  // closing it drops the lock
};

}  // namespace

Registry::Registry(std::string filePath) : m_filePath(std::move(filePath)) {}

std::string Registry::defaultFilePath()
{
    // A relative XDG_CONFIG_HOME is invalid and is ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base = (config && config[0] == '/') ? std::string(config) : homeFolder() + "/.config";
    return base + "/vexor/registry.reg";
}

RegFile Registry::read() const
{
    std::string text;
    if (!readWholeFile(m_filePath, text))
        text.clear();
    return RegFile::parse(text);
}

template <typename Edit>
bool Registry::modify(Edit&& edit)
{
    auto slash = m_filePath.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : m_filePath.substr(0, slash);
    if (!makeFolders(folder))
        throw Exception(formatMessage("Unable to write to %s", m_filePath));
    FileLock lock(m_filePath + ".lock");
    if (!lock.locked())
        throw Exception(formatMessage("Unable to write to %s", m_filePath));

    std::string text;
    bool existed = readWholeFile(m_filePath, text);
    if (!existed && ::access(m_filePath.c_str(), F_OK) == 0)
        throw Exception(formatMessage("Unable to write to %s", m_filePath));  // there but unreadable
    RegFile file = RegFile::parse(text);
    if (!edit(file))
        return false;
    if (!writeFileAtomic(m_filePath, file.text(), 0600))
        throw Exception(formatMessage("Unable to write to %s", m_filePath));
    return true;
}

bool Registry::keyExists(const std::string& key) const
{
    return read().keyExists(key);
}

std::vector<std::string> Registry::subKeyNames(const std::string& key) const
{
    return read().subKeyNames(key);
}

std::optional<std::string> Registry::findString(const std::string& key, const std::string& name) const
{
    auto value = read().findValue(key, name);
    if (!value)
        return std::nullopt;
    if (!value->isString())
        throw Exception(formatMessage("Invalid data type for '%s'", name));
    return value->data;
}

std::string Registry::readString(const std::string& key, const std::string& name) const
{
    return findString(key, name).value_or(std::string());
}

void Registry::writeString(const std::string& key, const std::string& name, const std::string& value)
{
    modify([&](RegFile& file) {
        auto old = file.findValue(key, name);
        if (old && old->type == "REG_SZ" && old->data == value)
            return false;  // unchanged: no rewrite
        file.setString(key, name, value);
        return true;
    });
}

bool Registry::writeStringIfMissing(const std::string& key, const std::string& name, const std::string& value)
{
    return modify([&](RegFile& file) {
        if (file.findValue(key, name))
            return false;
        file.setString(key, name, value);
        return true;
    });
}

bool Registry::createKey(const std::string& key)
{
    return modify([&](RegFile& file) { return file.createKey(key); });
}

bool Registry::deleteKey(const std::string& key)
{
    if (!read().keyExists(key))
        return false;  // nothing to do: no folder or lock file is created
    return modify([&](RegFile& file) { return file.deleteKey(key); });
}

bool Registry::deleteValue(const std::string& key, const std::string& name)
{
    if (!read().findValue(key, name))
        return false;
    return modify([&](RegFile& file) { return file.deleteValue(key, name); });
}

std::vector<Registry::Value> Registry::values(const std::string& key) const
{
    return read().values(key);
}

}  // namespace vexor::platform
