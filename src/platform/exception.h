#pragma once

#include <stdexcept>
#include <string>

namespace vexor {

// The base exception of the program: a fixed English message text and nothing
// else. Every error that reaches the user is one of these (or derives from it).
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// Replaces the first "%s" of a fixed message with an argument:
// formatMessage("Unable to write to %s", path).
inline std::string formatMessage(const std::string& pattern, const std::string& argument)
{
    std::string text = pattern;
    if (auto at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, argument);
    return text;
}

}  // namespace vexor
