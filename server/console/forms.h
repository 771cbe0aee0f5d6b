#pragma once

#include "store/store.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Checks of what the vendor types or uploads in the console. Each check gives
// the value it accepts or a message fit to show beside the field.
namespace vexor::server::console {

inline constexpr std::size_t MaxImageBytes = 1024 * 1024;
inline constexpr std::size_t MaxPageBytes = 64 * 1024;
inline constexpr std::size_t MaxLanguageFileBytes = 64 * 1024;

template <class T>
struct Checked {
    std::optional<T> value;
    std::string error; // empty when value is set

    static Checked fail(std::string message) { return { std::nullopt, std::move(message) }; }
};

// "YYYY-MM-DD", a real date.
Checked<std::string> checkDay(std::string_view text);
std::string dayOf(UnixTime time);
// The day `days` before (negative: after) `day`, which must be valid.
std::string addDays(std::string_view day, int days);
// Every day from `from` to `to`, inclusive; empty when to is before from.
std::vector<std::string> daysBetween(std::string_view from, std::string_view to);

// "YYYY-MM-DDTHH:MM" (an HTML datetime-local field, read as UTC), seconds
// optional; an empty text is no time.
Checked<std::optional<UnixTime>> checkUtcMinute(std::string_view text);
std::string utcMinuteText(UnixTime time); // "2026-12-09T16:05"

// The type of an uploaded banner image by its first bytes: "image/gif",
// "image/png" or "image/jpeg"; anything else, an empty or too big file, is
// refused.
Checked<std::string> checkBannerImage(std::string_view bytes);
Checked<std::string> checkBannerPage(std::string_view bytes);
Checked<std::string> checkBannerName(std::string_view text);
// One http or https URL per line; blank lines are skipped; at most 20.
Checked<std::vector<std::string>> checkLinkTargets(std::string_view text);

// "Name=file.lng" per line: the language list as lang.ini holds it.
Checked<std::vector<LanguageEntry>> checkLanguageList(std::string_view text);
// "Key=Name" per line: the module list as modl.ini holds it.
Checked<std::vector<ModuleEntry>> checkModuleList(std::string_view text);
// A language file as the client reads it: sections "Texts" and "Errors",
// each with entries; the reason when the client would show no texts from it.
Checked<std::string> checkLanguageFile(std::string_view fileName, std::string_view text);
Checked<std::string> checkVersionText(std::string_view text);

Checked<std::uint32_t> checkInterval(std::string_view text);
// A client id as MCID carries it: 1 to 64 printable ASCII characters; an
// empty text is no filter.
Checked<std::optional<std::string>> checkClientFilter(std::string_view text);

} // namespace vexor::server::console
