#pragma once

#include "store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What clients send that the store counts: LCOUNT's display report, and the
// link targets a banner page sends through /click.
namespace vexor::server {

struct ReportCheck {
    std::optional<DisplayReport> report; // empty when malformed
    std::string reason;                  // why it is malformed: "LOG", "LOGOIDS"
};

// LOGOIDS must be ten ids of six ASCII letters or digits, LOG ten counts of
// exactly six hexadecimal digits (60 characters). The client writes more
// digits only past FFFFFF displays between two cycles, which no real
// interval reaches, so such a report is refused rather than guessed at.
ReportCheck checkDisplayReport(const std::string* logoIds, const std::string* log);

// A start-up count as LANGL's STARTUP carries it: decimal digits, above 0,
// at most 9 digits; anything else counts nothing.
std::optional<std::int64_t> startupCount(const std::string* value);

// The "to" URLs of every link in `page` that goes through /click for
// `bannerId` (href="...click?b=<id>&amp;to=<url>"), decoded, in page order,
// without repeats.
std::vector<std::string> clickTargets(std::string_view page, std::string_view bannerId);

// The page's <title> text, for a banner's name; empty when it has none.
// Always UTF-8: a title that is not is read as Windows-1252.
std::string pageTitle(std::string_view page);

// Whether `text` is UTF-8 without NUL characters (what PostgreSQL takes as
// text): no overlong forms, no surrogates, nothing past U+10FFFF.
bool isUtf8Text(std::string_view text);

} // namespace vexor::server
