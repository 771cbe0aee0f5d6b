#pragma once

#include <string>
#include <string_view>

// Small text helpers over bytes. Case folding is for ASCII letters only:
// bytes above 127 belong to whatever code page a file was written in, so they
// must match exactly. Section, key, value and folder names all compare this
// way. Header-only: the stand-in server, which links none of the client's
// libraries, uses it too.
namespace vexor::platform {

constexpr char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string lowerAscii(std::string text)
{
    for (char& c : text)
        c = lowerAscii(c);
    return text;
}

// The value of a hexadecimal digit of either case, -1 for any other byte.
constexpr int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lowerAscii(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
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

// `text` without the bytes of `blanks` at either end. Each caller names its
// blanks: the profile functions, the registry file and the server's answers
// do not agree on them.
constexpr std::string_view trimmed(std::string_view text, std::string_view blanks)
{
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// `caption` with every "&" removed: a menu caption as compared, without the
// markers of its hot key.
inline std::string withoutAmpersands(std::string_view caption)
{
    std::string result;
    result.reserve(caption.size());
    for (char c : caption)
        if (c != '&')
            result.push_back(c);
    return result;
}

}  // namespace vexor::platform
