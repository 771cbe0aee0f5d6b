#include "forms.h"

#include "app/core/memini.h"
#include "platform/fileops.h"

#include <charconv>
#include <chrono>
#include <cstdio>

namespace vexor::server::console {

namespace {

using namespace std::chrono;

bool allDigits(std::string_view text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

int number(std::string_view digits)
{
    int value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

std::optional<sys_days> parseDate(std::string_view text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !allDigits(text.substr(0, 4))
        || !allDigits(text.substr(5, 2)) || !allDigits(text.substr(8, 2)))
        return std::nullopt;
    const year_month_day date { year(number(text.substr(0, 4))), month(unsigned(number(text.substr(5, 2)))),
        day(unsigned(number(text.substr(8, 2)))) };
    if (!date.ok())
        return std::nullopt;
    return sys_days(date);
}

std::string dateText(sys_days days)
{
    const year_month_day date(days);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", int(date.year()), unsigned(date.month()), unsigned(date.day()));
    return text;
}

bool printableAscii(std::string_view text)
{
    for (const unsigned char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

bool hasControl(std::string_view text)
{
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return true;
    return false;
}

// Lines of a text area: CR LF, LF or CR; blank lines dropped.
std::vector<std::string_view> lines(std::string_view text)
{
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = std::min(text.find_first_of("\r\n", at), text.size());
        const auto line = text.substr(at, end - at);
        if (line.find_first_not_of(" \t") != std::string_view::npos)
            out.push_back(line);
        at = end + 1;
    }
    return out;
}

std::string lineError(std::size_t index, const std::string& what)
{
    return "line " + std::to_string(index + 1) + ": " + what;
}

} // namespace

Checked<std::string> checkDay(std::string_view text)
{
    if (!parseDate(text))
        return Checked<std::string>::fail("enter a date as YYYY-MM-DD");
    return { std::string(text), {} };
}

std::string dayOf(UnixTime time)
{
    return dateText(floor<days>(sys_seconds(seconds(time))));
}

std::string addDays(std::string_view day, int count)
{
    return dateText(*parseDate(day) + days(count));
}

std::vector<std::string> daysBetween(std::string_view from, std::string_view to)
{
    std::vector<std::string> out;
    const auto first = parseDate(from);
    const auto last = parseDate(to);
    if (!first || !last)
        return out;
    for (auto d = *first; d <= *last && out.size() < 3700; d += days(1))
        out.push_back(dateText(d));
    return out;
}

Checked<std::optional<UnixTime>> checkUtcMinute(std::string_view text)
{
    using Result = Checked<std::optional<UnixTime>>;
    if (text.empty())
        return { std::optional<UnixTime>(), {} };
    const auto date = parseDate(text.substr(0, 10));
    const bool timeShape = (text.size() == 16 || (text.size() == 19 && text[16] == ':' && allDigits(text.substr(17, 2))))
        && text[10] == 'T' && text[13] == ':' && allDigits(text.substr(11, 2)) && allDigits(text.substr(14, 2));
    if (!date || !timeShape || number(text.substr(11, 2)) > 23 || number(text.substr(14, 2)) > 59
        || (text.size() == 19 && number(text.substr(17, 2)) > 59))
        return Result::fail("enter a time as YYYY-MM-DDTHH:MM (UTC)");
    const auto time = sys_seconds(*date) + hours(number(text.substr(11, 2))) + minutes(number(text.substr(14, 2)))
        + seconds(text.size() == 19 ? number(text.substr(17, 2)) : 0);
    return { std::optional<UnixTime>(time.time_since_epoch().count()), {} };
}

std::string utcMinuteText(UnixTime time)
{
    const sys_seconds at { seconds(time) };
    const auto day = floor<days>(at);
    const hh_mm_ss clock(at - day);
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", int(clock.hours().count()), int(clock.minutes().count()));
    return dateText(day) + "T" + text;
}

Checked<std::string> checkBannerImage(std::string_view bytes)
{
    using Result = Checked<std::string>;
    if (bytes.empty())
        return Result::fail("choose an image file (GIF, PNG or JPEG)");
    if (bytes.size() > MaxImageBytes)
        return Result::fail("the image is larger than 1 MiB");
    if (bytes.starts_with("GIF87a") || bytes.starts_with("GIF89a"))
        return { "image/gif", {} };
    if (bytes.starts_with("\x89PNG\r\n\x1a\n"))
        return { "image/png", {} };
    if (bytes.starts_with("\xFF\xD8\xFF"))
        return { "image/jpeg", {} };
    return Result::fail("the file is not a GIF, PNG or JPEG image");
}

Checked<std::string> checkBannerPage(std::string_view bytes)
{
    using Result = Checked<std::string>;
    if (bytes.empty())
        return Result::fail("choose the banner's HTML page");
    if (bytes.size() > MaxPageBytes)
        return Result::fail("the page is larger than 64 KiB");
    if (bytes.find('\0') != std::string_view::npos || !checkBannerImage(bytes).error.starts_with("the file is not"))
        return Result::fail("the file is not an HTML page");
    if (bytes.find('<') == std::string_view::npos)
        return Result::fail("the file holds no HTML markup");
    return { std::string(bytes), {} };
}

Checked<std::string> checkBannerName(std::string_view text)
{
    using Result = Checked<std::string>;
    if (text.find_first_not_of(" \t") == std::string_view::npos)
        return Result::fail("enter a name");
    if (text.size() > 100)
        return Result::fail("the name is longer than 100 characters");
    if (hasControl(text))
        return Result::fail("the name holds a control character");
    return { std::string(text), {} };
}

Checked<std::vector<std::string>> checkLinkTargets(std::string_view text)
{
    using Result = Checked<std::vector<std::string>>;
    std::vector<std::string> targets;
    const auto all = lines(text);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto url = all[i];
        const auto scheme = url.starts_with("https://") ? 8u : url.starts_with("http://") ? 7u : 0u;
        if (scheme == 0 || url.size() == scheme || url[scheme] == '/')
            return Result::fail(lineError(i, "enter an http:// or https:// address"));
        if (url.size() > 2000 || !printableAscii(url) || url.find(' ') != std::string_view::npos)
            return Result::fail(lineError(i, "the address has blanks or characters that must be %-encoded"));
        targets.emplace_back(url);
    }
    if (targets.size() > 20)
        return Result::fail("at most 20 link targets");
    return { std::move(targets), {} };
}

namespace {

// "A=B" lines with a non-empty, blank-free-ended left side and a right side
// that `right` accepts (empty message) or refuses.
template <class Entry, class Check>
Checked<std::vector<Entry>> checkPairs(std::string_view text, std::string_view leftName, Check right)
{
    using Result = Checked<std::vector<Entry>>;
    std::vector<Entry> out;
    const auto all = lines(text);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const auto line = all[i];
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0)
            return Result::fail(lineError(i, "write " + std::string(leftName) + "=..."));
        const auto left = line.substr(0, eq);
        const auto value = line.substr(eq + 1);
        if (hasControl(line) || left.front() == '[' || left.front() == ';')
            return Result::fail(lineError(i, "\"" + std::string(left) + "\" cannot be a " + std::string(leftName)));
        if (const auto error = right(value); !error.empty())
            return Result::fail(lineError(i, error));
        out.push_back(Entry { std::string(left), std::string(value) });
    }
    if (out.size() > 100)
        return Result::fail("at most 100 lines");
    return { std::move(out), {} };
}

} // namespace

Checked<std::vector<LanguageEntry>> checkLanguageList(std::string_view text)
{
    return checkPairs<LanguageEntry>(text, "name", [](std::string_view file) -> std::string {
        if (!platform::isPlainFileName(std::string(file)) || !printableAscii(file) || file.front() == '.')
            return "\"" + std::string(file) + "\" is not a plain file name";
        return {};
    });
}

Checked<std::vector<ModuleEntry>> checkModuleList(std::string_view text)
{
    return checkPairs<ModuleEntry>(text, "key", [](std::string_view name) -> std::string {
        return name.empty() ? "the module's name is missing" : std::string();
    });
}

Checked<std::string> checkLanguageFile(std::string_view fileName, std::string_view text)
{
    using Result = Checked<std::string>;
    if (!platform::isPlainFileName(std::string(fileName)) || fileName.front() == '.' || !printableAscii(fileName))
        return Result::fail("the file name is not a plain file name");
    if (text.empty())
        return Result::fail("choose a language file");
    if (text.size() > MaxLanguageFileBytes)
        return Result::fail("the file is larger than 64 KiB");
    // The client's own reader: what it would find is what counts.
    const auto ini = TMemIniFile::fromText(text);
    for (const char* section : { "Texts", "Errors" }) {
        if (!ini.hasSection(section))
            return Result::fail(std::string("the file has no [") + section + "] section, so the client would show no texts from it");
        bool anyEntry = false;
        for (const auto& line : ini.sectionLines(section))
            anyEntry = anyEntry || !lineKey(line).empty();
        if (!anyEntry)
            return Result::fail(std::string("the [") + section + "] section has no key=value lines");
    }
    return { std::string(text), {} };
}

Checked<std::string> checkVersionText(std::string_view text)
{
    using Result = Checked<std::string>;
    if (text.empty())
        return Result::fail("enter the version, for example 1.3");
    if (text.size() > 32 || !printableAscii(text))
        return Result::fail("the version is one line of at most 32 plain characters");
    return { std::string(text), {} };
}

Checked<std::uint32_t> checkInterval(std::string_view text)
{
    using Result = Checked<std::uint32_t>;
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (!allDigits(text) || ec != std::errc() || end != text.data() + text.size() || value > MaxIntervalMs)
        return Result::fail("enter milliseconds from 0 to 16777215");
    return { std::uint32_t(value), {} };
}

Checked<std::optional<std::string>> checkClientFilter(std::string_view text)
{
    using Result = Checked<std::optional<std::string>>;
    if (text.empty())
        return { std::optional<std::string>(), {} };
    if (text.size() > 64 || !printableAscii(text) || text.find(' ') != std::string_view::npos)
        return Result::fail("a client id is 1 to 64 plain characters without blanks");
    return { std::optional<std::string>(std::string(text)), {} };
}

} // namespace vexor::server::console
