#pragma once

// THeaderList: request header lines "Name: value" in sending order.
// A line's name is the text before its first ":"; names compare without case.

#include <string>
#include <vector>

namespace vexor::net {

class THeaderList {
public:
    // Index of the first line whose name equals `name`, or -1. Lines without
    // ":" never match.
    int IndexOfName(const std::string& name) const;
    // Non-empty value: replaces the found line in place by "name: value", or
    // appends it. Empty value: deletes the found line.
    void SetValue(const std::string& name, const std::string& value);

    void Add(const std::string& line) { m_lines.push_back(line); }
    void Clear() { m_lines.clear(); }
    int Count() const { return static_cast<int>(m_lines.size()); }
    const std::string& operator[](int index) const { return m_lines.at(static_cast<std::size_t>(index)); }
    const std::vector<std::string>& Lines() const { return m_lines; }
    // Every line followed by CR LF.
    std::string Text() const;

private:
    std::vector<std::string> m_lines;
};

}  // namespace vexor::net
