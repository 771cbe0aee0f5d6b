#pragma once

// Shared set-up for the module tests: a temporary program folder with its own
// registry file, module folders holding copies of the fixture libraries, and
// the fixtures' call log.

#include "platform/registry.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexor::testing {

// Where the build put the fixture libraries (<Name>.mdl).
inline std::string fixtureDir()
{
    return VEXOR_MODULE_FIXTURE_DIR;
}

inline void writeFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> readLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A fresh program folder (with trailing "/"), a registry file inside it and a
// call log that the fixtures write to; all removed at the end.
class TempProgram {
public:
    TempProgram()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/vexor-modules-test-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data()))
            throw std::runtime_error("mkdtemp failed");
        m_dir = std::string(name.data()) + "/";
        m_registry = std::make_unique<platform::Registry>(m_dir + "registry.reg");
        ::setenv("VEXOR_TEST_MODULE_LOG", logPath().c_str(), 1);
    }
    ~TempProgram()
    {
        ::unsetenv("VEXOR_TEST_MODULE_LOG");
        std::error_code error;
        std::filesystem::remove_all(m_dir, error);
    }
    TempProgram(const TempProgram&) = delete;
    TempProgram& operator=(const TempProgram&) = delete;

    const std::string& dir() const { return m_dir; }
    platform::Registry& registry() { return *m_registry; }
    std::string logPath() const { return m_dir + "calls.log"; }
    std::vector<std::string> calls() const { return readLines(logPath()); }
    void clearCalls() const { std::filesystem::remove(logPath()); }

    // The folder of module `name` (with trailing "/").
    std::string moduleDir(const std::string& name) const { return m_dir + "modules/" + name + "/"; }

    // Installs fixture library `fixture` as module `name` with the given
    // registry values; an empty `active` or `isDefault` leaves that value out.
    // Returns the module folder.
    std::string install(const std::string& name, const std::string& fixture, const std::string& active = "Y",
                        const std::string& isDefault = "N")
    {
        const std::string folder = moduleDir(name);
        std::filesystem::create_directories(folder);
        if (!fixture.empty())
            std::filesystem::copy_file(fixtureDir() + "/" + fixture + ".mdl", folder + name + ".mdl",
                                       std::filesystem::copy_options::overwrite_existing);
        register_(name, folder, active, isDefault);
        return folder;
    }

    void register_(const std::string& name, const std::string& folder, const std::string& active = "Y",
                   const std::string& isDefault = "N")
    {
        const std::string key = "Software\\Vexor\\" + name;
        m_registry->writeString(key, "ModulePath", folder);
        if (!active.empty())
            m_registry->writeString(key, "ACTIVE", active);
        if (!isDefault.empty())
            m_registry->writeString(key, "Default", isDefault);
    }

private:
    std::string m_dir;
    std::unique_ptr<platform::Registry> m_registry;
};

}  // namespace vexor::testing
