#pragma once

// A fresh folder under the system's temporary folder ($TMPDIR or /tmp) for
// one test, removed with everything in it when the object goes, and the small
// file helpers the tests share.

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vexor::testkit {

class TempDir {
public:
    // With `inside`, the folder lies one level below the fresh one, so that a
    // file a hostile name creates beside it still shows up in snapshot();
    // `folders` are created inside it.
    explicit TempDir(std::string_view inside = {}, std::initializer_list<std::string_view> folders = {});
    ~TempDir();  // permissions a test took away are given back first
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending in "/".
    const std::string& path() const { return m_path; }
    std::string operator/(std::string_view relative) const { return m_path + std::string(relative); }

    // Writes `bytes` to path() + `relative`, creating folders on the way;
    // returns the file's path. Throws when it cannot.
    std::string write(std::string_view relative, std::string_view bytes) const;
    // The bytes of path() + `relative`, empty when it cannot be read.
    std::string read(std::string_view relative) const;
    bool exists(std::string_view relative) const;
    // Every name in the folder (not recursive), sorted.
    std::vector<std::string> names() const;
    // Every file below the fresh folder with its bytes, keyed by the path
    // relative to path() ("../x" for one beside it).
    std::map<std::string, std::string> snapshot() const;

private:
    std::string m_root;
    std::string m_path;
};

// The whole file ("" when it cannot be read).
std::string readFile(const std::string& path);
// Writes the whole file, creating its folder; throws when it cannot.
void writeFile(const std::string& path, std::string_view bytes);
// The lines of a file, without their line ends.
std::vector<std::string> readLines(const std::string& path);
// The permission bits of a file (0 when it does not exist).
unsigned fileMode(const std::string& path);

}  // namespace vexor::testkit
