#include "vendorscript.h"

namespace vexor::server {

namespace {

constexpr const char* Text = "text/plain";
constexpr const char* Html = "text/html";
constexpr const char* Gif = "image/gif";

Answer error(int status, std::string text)
{
    return { status, Text, std::move(text) + "\n" };
}

Answer fileOr404(std::optional<std::string> body, const char* contentType, const char* missing)
{
    if (!body)
        return error(404, missing);
    return { 200, contentType, std::move(*body) };
}

} // namespace

VendorScript::VendorScript(const ContentStore& content, LineupRotation& rotation,
    std::optional<std::string> versionAnswer)
    : m_content(content)
    , m_rotation(rotation)
    , m_versionAnswer(std::move(versionAnswer))
{
}

Answer VendorScript::answerQuery(const std::vector<QueryPair>& pairs)
{
    const std::string* action = findValue(pairs, "A");
    if (!action)
        return error(400, "missing action (A)");
    if (*action == "LANGL")
        return fileOr404(m_content.languageIndex(), Text, "no language list");
    if (*action == "VERSION")
        return fileOr404(m_versionAnswer ? m_versionAnswer : m_content.version(), Text, "no version");
    if (*action == "MODL")
        return fileOr404(m_content.moduleList(), Text, "no module list");
    if (*action == "LCOUNT")
        return { 200, Text, countAnswer(m_rotation.next()) };
    if (*action == "LOGO")
        return banner(pairs, true);
    if (*action == "HTML")
        return banner(pairs, false);
    if (*action == "LANGC")
        return languageFile(pairs);
    return error(400, "unknown action");
}

Answer VendorScript::banner(const std::vector<QueryPair>& pairs, bool image) const
{
    const std::string* id = findValue(pairs, "LOGOID");
    if (!id)
        return error(400, "missing banner id (LOGOID)");
    if (image)
        return fileOr404(m_content.bannerImage(*id), Gif, "no such banner");
    return fileOr404(m_content.bannerPage(*id), Html, "no such banner");
}

Answer VendorScript::languageFile(const std::vector<QueryPair>& pairs) const
{
    const std::string* name = findValue(pairs, "L");
    if (!name)
        return error(400, "missing language file name (L)");
    return fileOr404(m_content.languageFile(*name), Text, "no such language file");
}

Answer VendorScript::answerPage(std::string_view path) const
{
    if (path == "/update/index.php")
        return fileOr404(m_content.webPage("update.htm"), Html, "no update page");
    if (path == "/faq" || path == "/faq/" || path == "/faq/index.htm")
        return fileOr404(m_content.webPage("faq.htm"), Html, "no FAQ page");
    return error(404, "not found");
}

} // namespace vexor::server
