#include "net/headerlist.h"

#include <strings.h>

namespace vexor::net {

int THeaderList::IndexOfName(const std::string& name) const
{
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::string& line = m_lines[i];
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon != name.size())
            continue;
        if (::strncasecmp(line.data(), name.data(), colon) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

void THeaderList::SetValue(const std::string& name, const std::string& value)
{
    const int index = IndexOfName(name);
    if (value.empty()) {
        if (index >= 0)
            m_lines.erase(m_lines.begin() + index);
        return;
    }
    std::string line = name + ": " + value;
    if (index >= 0)
        m_lines[static_cast<std::size_t>(index)] = std::move(line);
    else
        m_lines.push_back(std::move(line));
}

std::string THeaderList::Text() const
{
    std::string text;
    for (const auto& line : m_lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

}  // namespace vexor::net
