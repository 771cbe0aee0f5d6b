#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The console's page writer. Markup comes only from the template files built
// into the program; every value put into a page is text and is escaped on
// the way out, so a banner named "<script>" shows as those characters.
namespace vexor::server::console {

// Markup that is safe to send as it stands. Only a template (whose literal
// text is the program's own) makes one, so no code path can turn a value
// from a form, a file or the store into markup by mistake.
class Html {
public:
    Html() = default;
    const std::string& str() const { return m_text; }
    bool empty() const { return m_text.empty(); }
    Html& operator+=(const Html& other)
    {
        m_text += other.m_text;
        return *this;
    }

private:
    friend class Template;
    explicit Html(std::string text)
        : m_text(std::move(text))
    {
    }
    std::string m_text;
};

// Escapes & < > " ' ` and = so that the text is inert between tags and
// inside a quoted attribute value alike.
std::string escapeHtml(std::string_view text);

// A value for a slot: text (escaped when written) or markup from a template.
class Value {
public:
    Value(std::string_view text)
        : m_text(escapeHtml(text))
    {
    }
    Value(const std::string& text)
        : Value(std::string_view(text))
    {
    }
    Value(const char* text)
        : Value(std::string_view(text))
    {
    }
    Value(std::int64_t number)
        : m_text(std::to_string(number))
    {
    }
    Value(int number)
        : m_text(std::to_string(number))
    {
    }
    Value(Html html)
        : m_text(html.str())
    {
    }
    const std::string& written() const { return m_text; }

private:
    std::string m_text;
};

struct Field {
    std::string name;
    Value value;
};

// A piece of markup with named slots written "{{name}}". Made from the
// template files only (see templateNamed): no other code can make one, so
// no text from elsewhere becomes markup. render() raises std::logic_error
// for a slot it was given no value for, a fault of the calling code.
class Template {
public:
    Html render(const std::vector<Field>& fields = {}) const;

private:
    friend class TemplateLibrary;
    explicit Template(std::string_view text);

    struct Part {
        std::string literal;
        std::string slot; // empty: the literal only
    };
    std::vector<Part> m_parts;
};

// The template `name`: a file's name without ".html" ("login"), or one of the
// fragments a file defines between "{{define NAME}}" and "{{end}}", named
// "file.NAME" ("banners.row"). Raises std::logic_error for an unknown name.
const Template& templateNamed(std::string_view name);

// Joins the renderings of one template over a list.
template <class List, class ToFields>
Html renderEach(const Template& tpl, const List& list, ToFields toFields)
{
    Html all;
    for (const auto& item : list)
        all += tpl.render(toFields(item));
    return all;
}

} // namespace vexor::server::console
