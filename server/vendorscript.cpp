#include "vendorscript.h"

#include "days.h"
#include "lineup.h"
#include "reports.h"

#include <algorithm>
#include <ctime>
#include <iostream>

namespace vexor::server {

namespace {

constexpr const char* Text = "text/plain";
constexpr const char* Html = "text/html";

Answer error(int status, std::string text)
{
    return { status, Text, std::move(text) + "\n", {} };
}

Answer fileOr404(std::optional<std::string> body, const char* contentType, const char* missing)
{
    if (!body)
        return error(404, missing);
    return { 200, contentType, std::move(*body), {} };
}

std::string clientId(const std::vector<QueryPair>& pairs)
{
    const std::string* id = findValue(pairs, "MCID");
    return id ? *id : std::string();
}

} // namespace

VendorScript::VendorScript(ScriptSource& source, std::optional<std::string> versionAnswer, Clock clock)
    : m_source(source)
    , m_versionAnswer(std::move(versionAnswer))
    , m_clock(clock ? std::move(clock) : [] { return static_cast<UnixTime>(std::time(nullptr)); })
{
}

Answer VendorScript::answerQuery(const std::vector<QueryPair>& pairs)
{
    const std::string* name = findValue(pairs, "A");
    if (!name)
        return error(400, "missing action (A)");
    try {
        return action(*name, pairs);
    } catch (const StoreError& e) {
        return unavailable(e);
    }
}

Answer VendorScript::action(const std::string& name, const std::vector<QueryPair>& pairs)
{
    Store* store = m_source.recorder();
    if (name == "LANGL") {
        if (store)
            recordLanguageList(pairs);
        return fileOr404(m_source.languageList(), Text, "no language list");
    }
    if (name == "VERSION") {
        if (store)
            store->recordEvent(ClientEvent::VersionCheck, clientId(pairs), utcDay(m_clock()), 1);
        return fileOr404(m_versionAnswer ? m_versionAnswer : m_source.version(), Text, "no version");
    }
    if (name == "MODL")
        return fileOr404(m_source.moduleList(), Text, "no module list");
    if (name == "LCOUNT")
        return lineupAnswer(pairs);
    if (name == "LOGO")
        return banner(pairs, true);
    if (name == "HTML")
        return banner(pairs, false);
    if (name == "LANGC")
        return languageFile(pairs);
    return error(400, "unknown action");
}

void VendorScript::recordLanguageList(const std::vector<QueryPair>& pairs)
{
    Store& store = *m_source.recorder();
    const auto day = utcDay(m_clock());
    if (const auto startups = startupCount(findValue(pairs, "STARTUP")))
        store.recordEvent(ClientEvent::Startup, clientId(pairs), day, *startups);
    const std::string* install = findValue(pairs, "INSTALL");
    if (install && *install == "True")
        store.recordEvent(ClientEvent::Install, clientId(pairs), day, 1);
}

Answer VendorScript::lineupAnswer(const std::vector<QueryPair>& pairs)
{
    const auto now = m_clock();
    const auto client = clientId(pairs);
    if (Store* store = m_source.recorder()) {
        const auto check = checkDisplayReport(findValue(pairs, "LOGOIDS"), findValue(pairs, "LOG"));
        if (check.report)
            store->recordDisplays(*check.report, client, utcDay(now));
        else
            store->recordRejected(client, utcDay(now), check.reason);
    }
    return { 200, Text, countAnswer(m_source.lineupFor(client, now)), {} };
}

Answer VendorScript::banner(const std::vector<QueryPair>& pairs, bool image)
{
    const std::string* id = findValue(pairs, "LOGOID");
    if (!id)
        return error(400, "missing banner id (LOGOID)");
    if (!image)
        return fileOr404(m_source.bannerPage(*id), Html, "no such banner");
    auto file = m_source.bannerImage(*id);
    if (!file)
        return error(404, "no such banner");
    return { 200, std::move(file->type), std::move(file->bytes), {} };
}

Answer VendorScript::languageFile(const std::vector<QueryPair>& pairs)
{
    const std::string* name = findValue(pairs, "L");
    if (!name)
        return error(400, "missing language file name (L)");
    return fileOr404(m_source.languageFile(*name), Text, "no such language file");
}

Answer VendorScript::answerPage(std::string_view path, const std::vector<QueryPair>& pairs, bool record)
{
    try {
        if (path == "/update/index.php")
            return fileOr404(m_source.webPage("update.htm"), Html, "no update page");
        if (path == "/faq" || path == "/faq/" || path == "/faq/index.htm")
            return fileOr404(m_source.webPage("faq.htm"), Html, "no FAQ page");
        if (path == ClickPath)
            return click(pairs, record);
    } catch (const StoreError& e) {
        return unavailable(e);
    }
    return error(404, "not found");
}

Answer VendorScript::click(const std::vector<QueryPair>& pairs, bool record)
{
    const std::string* banner = findValue(pairs, "b");
    const std::string* to = findValue(pairs, "to");
    // Only the banner's own targets: anything else would make this an open
    // redirect for whoever wants to hide a link behind the vendor's name.
    if (!banner || !to)
        return error(404, "not found");
    const auto targets = m_source.linkTargets(*banner);
    if (std::find(targets.begin(), targets.end(), *to) == targets.end())
        return error(404, "not found");
    Store* store = m_source.recorder();
    if (store && record)
        store->recordClick(*banner, utcDay(m_clock()));
    return { 302, Text, "moved to " + *to + "\n", *to };
}

Answer VendorScript::unavailable(const std::exception& e)
{
    // Said on standard error at most once a second, so that a store that is
    // away does not flood the console with one line per request.
    const auto now = static_cast<UnixTime>(std::time(nullptr));
    if (m_lastComplaint.exchange(now) != now)
        std::cerr << "vexor-server: the store failed: " << e.what() << std::endl;
    return error(503, "the store is not available; try again later");
}

} // namespace vexor::server
