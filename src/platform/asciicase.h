#pragma once

#include <string_view>

// Case folding for ASCII letters only: bytes above 127 belong to whatever code
// page a file was written in, so they must match exactly. Section, key, value
// and folder names all compare this way.
namespace vexor::platform {

constexpr char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

}  // namespace vexor::platform
