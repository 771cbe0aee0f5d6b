#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace vexor::testkit {

// Sets (or, with nullptr, removes) an environment variable for one scope and
// puts the old value back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const std::string& name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name.c_str()))
            m_old = old;
        if (value)
            ::setenv(name.c_str(), value, 1);
        else
            ::unsetenv(name.c_str());
    }
    ScopedEnv(const std::string& name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name.c_str(), m_old->c_str(), 1);
        else
            ::unsetenv(m_name.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace vexor::testkit
