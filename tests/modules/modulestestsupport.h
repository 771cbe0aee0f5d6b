#pragma once

// Shared set-up for the module tests: a temporary program folder with its own
// registry file, module folders holding copies of the fixture libraries, and
// the fixtures' call log.

#include "platform/registry.h"
#include "scopedenv.h"
#include "tempdir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vexor::testing {

using namespace vexor::testkit;

// Where the build put the fixture libraries (<Name>.mdl).
inline std::string fixtureDir()
{
    return VEXOR_MODULE_FIXTURE_DIR;
}

// A fresh program folder (with trailing "/"), a registry file inside it and a
// call log that the fixtures write to; all removed at the end.
class ModuleProgram {
public:
    ModuleProgram() : m_registry(std::make_unique<platform::Registry>(m_dir / "registry.reg")) {}

    const std::string& dir() const { return m_dir.path(); }
    platform::Registry& registry() { return *m_registry; }
    std::string logPath() const { return m_dir / "calls.log"; }
    std::vector<std::string> calls() const { return readLines(logPath()); }
    void clearCalls() const { std::filesystem::remove(logPath()); }

    // The folder of module `name` (with trailing "/").
    std::string moduleDir(const std::string& name) const { return m_dir / ("modules/" + name + "/"); }

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
    testkit::TempDir m_dir;
    testkit::ScopedEnv m_log{"VEXOR_TEST_MODULE_LOG", logPath()};
    std::unique_ptr<platform::Registry> m_registry;
};

}  // namespace vexor::testing
