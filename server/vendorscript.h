#pragma once

#include "query.h"
#include "source.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the vendor's query script and web pages answer, apart from HTTP.
namespace vexor::server {

inline constexpr std::string_view ScriptPath = "/cgi-bin/script/vexor_parser.pl";
inline constexpr std::string_view ClickPath = "/click";

struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
    std::string location; // for a redirect
};

// Answers of the query script, by action (key A):
//   LANGL    the language index             VERSION  the version text
//   MODL     the module list                LCOUNT   the line-up in force, 66 characters
//   LOGO     banner image of LOGOID         HTML     banner page of LOGOID
//   LANGC    the language file named by L
// A missing or unknown action or a missing LOGOID or L gives 400; an unknown
// banner, language file or content file 404; every error body is one short
// line of text.
//
// With a source that records (the store), the reports are recorded for the
// client id MCID and the UTC day: LANGL's STARTUP (a decimal count) and
// INSTALL=True, every VERSION as a version check, LCOUNT's display report
// (a malformed one is counted as rejected; the answer is the same). A store
// error answers 503 with one line: the client tries again next cycle.
class VendorScript {
public:
    using Clock = std::function<UnixTime()>;

    // `versionAnswer`, when set, replaces the source's version text; `clock`
    // gives the time of a request (the system's by default).
    VendorScript(ScriptSource& source, std::optional<std::string> versionAnswer, Clock clock = {});

    Answer answerQuery(const std::vector<QueryPair>& pairs);
    // A GET of any other path: the update page (/update/index.php), the FAQ
    // (/faq, /faq/, /faq/index.htm), a click (/click?b=<banner id>&to=<url>:
    // 302 to the URL and one click counted when it is one of the banner's
    // link targets) or 404.
    // `record` is false for a HEAD: a link checker or a mail client's preview
    // asking about a click link has clicked nothing.
    Answer answerPage(std::string_view path, const std::vector<QueryPair>& pairs = {}, bool record = true);

private:
    Answer action(const std::string& name, const std::vector<QueryPair>& pairs);
    Answer lineupAnswer(const std::vector<QueryPair>& pairs);
    Answer banner(const std::vector<QueryPair>& pairs, bool image);
    Answer languageFile(const std::vector<QueryPair>& pairs);
    Answer click(const std::vector<QueryPair>& pairs, bool record);
    void recordLanguageList(const std::vector<QueryPair>& pairs);
    Answer unavailable(const std::exception& e);

    ScriptSource& m_source;
    std::optional<std::string> m_versionAnswer;
    Clock m_clock;
    std::atomic<UnixTime> m_lastComplaint { 0 };
};

} // namespace vexor::server
