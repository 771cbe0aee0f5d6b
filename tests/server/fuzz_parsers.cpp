// Fuzz target for the server's parsers of client input: the request line, the
// query, line-up files, display reports and banner pages' click links. Besides not crashing, each checks what callers
// rely on and aborts when it does not hold.
#include "lineup.h"
#include "query.h"
#include "reports.h"
#include "requestline.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace vexor::server;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void requestLine(std::string_view text)
{
    const auto repaired = repairRequestLine(text);
    const auto first = text.find(' ');
    const auto last = text.rfind(' ');
    const bool repairable = first != std::string_view::npos && first != last
        && text.substr(last + 1).starts_with("HTTP/");
    // Only the target of a line ending in a version changes; it never grows.
    check(repaired.size() <= text.size());
    if (!repairable)
        check(repaired == text);
}

void query(std::string_view text)
{
    for (const auto& pair : parseQuery(text)) {
        check(percentDecode(escapeForLog(pair.key)) == pair.key);
        const auto logged = escapeForLog(pair.value);
        check(logged.find(' ') == std::string::npos && logged.find('\n') == std::string::npos);
        check(percentDecode(logged) == pair.value);
    }
}

void lineup(std::string_view text)
{
    const auto parsed = parseLineup(text);
    check(parsed.lineup.has_value() == parsed.error.empty());
    if (parsed.lineup)
        check(countAnswer(*parsed.lineup).size() == 66);
}

// The input split in the middle as LOGOIDS and LOG; and as a banner page.
void report(std::string_view text)
{
    const std::string ids(text.substr(0, text.size() / 2));
    const std::string log(text.substr(text.size() / 2));
    const auto checked = checkDisplayReport(&ids, &log);
    check(checked.report.has_value() == checked.reason.empty());
    if (checked.report) {
        for (const auto& id : checked.report->ids)
            check(isBannerId(id));
        for (const auto count : checked.report->counts)
            check(count <= 0xFFFFFF);
    }
    for (const auto& target : clickTargets(text, "100001"))
        check(!target.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    requestLine(text);
    query(text);
    lineup(text);
    report(text);
    return 0;
}
