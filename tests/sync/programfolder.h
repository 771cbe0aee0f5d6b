#pragma once

// A throw-away program folder for one test: a fresh folder under the system's
// temporary folder, optionally with the installation's Languages/, advs/ and
// modules/ folders, removed with everything in it at the end of the test.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

namespace vexor::sync {

class TestFolder {
public:
    explicit TestFolder(bool withProgramFolders = false)
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexor-sync-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        // The program folder lies one level down, so that a file a hostile
        // name might create beside it still shows up in snapshot().
        m_root = pattern + "/";
        m_path = m_root + "app/";
        std::filesystem::create_directory(m_path);
        if (withProgramFolders) {
            for (const char* folder : {"Languages", "advs", "modules"})
                std::filesystem::create_directory(m_path + folder);
        }
    }
    ~TestFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    // The folder, ending in "/".
    const std::string& path() const { return m_path; }

    void write(const std::string& relative, const std::string& bytes) const
    {
        std::ofstream out(m_path + relative, std::ios::binary | std::ios::trunc);
        out << bytes;
        if (!out)
            throw std::runtime_error("cannot write " + relative);
    }

    std::optional<std::string> read(const std::string& relative) const
    {
        std::ifstream in(m_path + relative, std::ios::binary);
        if (!in)
            return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    bool exists(const std::string& relative) const { return std::filesystem::exists(m_path + relative); }

    // Every file below the folder and beside it, with its contents, keyed by
    // the path relative to the folder ("../x" for one beside it).
    std::map<std::string, std::string> snapshot() const
    {
        std::map<std::string, std::string> files;
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(std::filesystem::path(m_root), error);
             it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_regular_file()) {
                const std::string relative = std::filesystem::relative(it->path(), m_path).string();
                files[relative] = read(relative).value_or("<unreadable>");
            }
        }
        return files;
    }

private:
    std::string m_root;
    std::string m_path;
};

}  // namespace vexor::sync
