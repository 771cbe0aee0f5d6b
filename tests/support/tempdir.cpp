#include "tempdir.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace vexor::testkit {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view inside, std::initializer_list<std::string_view> folders)
{
    std::string pattern = (fs::temp_directory_path() / "vexor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed in " + fs::temp_directory_path().string());
    // Readable by all, like any new folder: peers that drop root for
    // "nobody" (Apache, Squid, tinyproxy) serve from folders inside it.
    ::chmod(pattern.c_str(), 0755);
    m_root = pattern + "/";
    m_path = inside.empty() ? m_root : m_root + std::string(inside) + "/";
    fs::create_directories(m_path);
    for (std::string_view folder : folders)
        fs::create_directories(m_path + std::string(folder));
}

TempDir::~TempDir()
{
    // A folder without read, write or search rights cannot be emptied: give
    // them back before descending (links are left alone: they lead elsewhere).
    std::error_code error;
    ::chmod(m_root.c_str(), 0700);
    for (auto it = fs::recursive_directory_iterator(m_root, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error))
            ::chmod(it->path().c_str(), 0700);
    }
    fs::remove_all(m_root, error);
}

std::string TempDir::write(std::string_view relative, std::string_view bytes) const
{
    const std::string file = *this / relative;
    writeFile(file, bytes);
    return file;
}

std::string TempDir::read(std::string_view relative) const
{
    return readFile(*this / relative);
}

bool TempDir::exists(std::string_view relative) const
{
    return fs::exists(*this / relative);
}

std::vector<std::string> TempDir::names() const
{
    std::vector<std::string> result;
    for (const auto& entry : fs::directory_iterator(m_path))
        result.push_back(entry.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

std::map<std::string, std::string> TempDir::snapshot() const
{
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(m_root, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_regular_file(error)) {
            std::ifstream in(it->path(), std::ios::binary);
            files[fs::relative(it->path(), m_path).string()] =
                in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<unreadable>";
        }
    }
    return files;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, std::string_view bytes)
{
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty())
        fs::create_directories(parent);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

unsigned fileMode(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

}  // namespace vexor::testkit
