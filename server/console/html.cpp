#include "html.h"

#include "embedded.h"

#include <map>
#include <stdexcept>

namespace vexor::server::console {

std::string escapeHtml(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '`': out += "&#96;"; break;
        case '=': out += "&#61;"; break;
        default: out += c;
        }
    }
    return out;
}

Template::Template(std::string_view text)
{
    std::size_t at = 0;
    while (at <= text.size()) {
        const auto open = text.find("{{", at);
        const auto close = open == std::string_view::npos ? open : text.find("}}", open + 2);
        if (close == std::string_view::npos) {
            m_parts.push_back({ std::string(text.substr(at)), {} });
            break;
        }
        m_parts.push_back({ std::string(text.substr(at, open - at)), std::string(text.substr(open + 2, close - open - 2)) });
        at = close + 2;
    }
}

Html Template::render(const std::vector<Field>& fields) const
{
    std::string out;
    for (const auto& part : m_parts) {
        out += part.literal;
        if (part.slot.empty())
            continue;
        const Field* found = nullptr;
        for (const auto& field : fields) {
            if (field.name == part.slot) {
                found = &field;
                break;
            }
        }
        if (!found)
            throw std::logic_error("template slot {{" + part.slot + "}} has no value");
        out += found->value.written();
    }
    return Html(std::move(out));
}

// Reads the template files once: a file's text outside its
// "{{define NAME}}" ... "{{end}}" blocks is the template named after the
// file; each block is "file.NAME".
class TemplateLibrary {
public:
    static const TemplateLibrary& instance()
    {
        static const TemplateLibrary library;
        return library;
    }

    const Template* find(std::string_view name) const
    {
        const auto found = m_templates.find(name);
        return found == m_templates.end() ? nullptr : &found->second;
    }

private:
    TemplateLibrary()
    {
        for (const auto& file : templateFiles())
            addFile(file.name, file.text);
    }

    void addFile(std::string_view file, std::string_view text)
    {
        const std::string base(file.substr(0, file.rfind('.')));
        std::string rest;
        std::size_t at = 0;
        constexpr std::string_view Define = "{{define ";
        constexpr std::string_view End = "{{end}}";
        while (true) {
            const auto start = text.find(Define, at);
            if (start == std::string_view::npos)
                break;
            const auto nameEnd = text.find("}}", start);
            const auto blockEnd = text.find(End, nameEnd);
            if (nameEnd == std::string_view::npos || blockEnd == std::string_view::npos)
                throw std::logic_error("template file " + std::string(file) + ": a define without its end");
            rest += text.substr(at, start - at);
            const auto name = text.substr(start + Define.size(), nameEnd - start - Define.size());
            // The line end after a define's head belongs to the file's layout.
            auto body = text.substr(nameEnd + 2, blockEnd - nameEnd - 2);
            if (!body.empty() && body.front() == '\n')
                body.remove_prefix(1);
            m_templates.emplace(base + "." + std::string(name), Template(body));
            at = blockEnd + End.size();
            if (at < text.size() && text[at] == '\n')
                ++at;
        }
        rest += text.substr(at);
        m_templates.emplace(base, Template(rest));
    }

    std::map<std::string, Template, std::less<>> m_templates;
};

const Template& templateNamed(std::string_view name)
{
    const auto* found = TemplateLibrary::instance().find(name);
    if (!found)
        throw std::logic_error("no template named " + std::string(name));
    return *found;
}

} // namespace vexor::server::console
