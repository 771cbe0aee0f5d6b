#pragma once

#include "content.h"
#include "lineup.h"
#include "query.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the vendor's query script and web pages answer, apart from HTTP.
namespace vexor::server {

inline constexpr std::string_view ScriptPath = "/cgi-bin/script/vexor_parser.pl";

struct Answer {
    int status = 200;
    std::string contentType;
    std::string body;
};

// Answers of the query script, by action (key A):
//   LANGL    the language index             VERSION  the version text
//   MODL     the module list                LCOUNT   the next line-up, 66 characters
//   LOGO     banner image of LOGOID (GIF)   HTML     banner page of LOGOID
//   LANGC    the language file named by L
// The other keys the client sends (MID, MCID, MUID, L, STARTUP, INSTALL,
// LOGOIDS, LOG, LF) are only logged. A missing or unknown action or a missing
// LOGOID or L gives 400; an unknown banner, language file or content file
// 404; every error body is one short line of text.
class VendorScript {
public:
    // `versionAnswer`, when set, replaces the content's version text.
    VendorScript(const ContentStore& content, LineupRotation& rotation, std::optional<std::string> versionAnswer);

    Answer answerQuery(const std::vector<QueryPair>& pairs);
    // A GET of any other path: the update page (/update/index.php), the FAQ
    // (/faq, /faq/, /faq/index.htm) or 404.
    Answer answerPage(std::string_view path) const;

private:
    Answer banner(const std::vector<QueryPair>& pairs, bool image) const;
    Answer languageFile(const std::vector<QueryPair>& pairs) const;

    const ContentStore& m_content;
    LineupRotation& m_rotation;
    std::optional<std::string> m_versionAnswer;
};

} // namespace vexor::server
