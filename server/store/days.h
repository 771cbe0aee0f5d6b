#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// UTC days as the store keeps them: "YYYY-MM-DD".
namespace vexor::server {

// The UTC day of `time` (seconds since the epoch).
std::string utcDay(std::int64_t time);

// Days since 1970-01-01 for a valid "YYYY-MM-DD" (years 1970 to 9999), else nothing.
std::optional<std::int64_t> dayNumber(std::string_view day);

std::string dayFromNumber(std::int64_t number);

// A statistics request covers at most this many days (ten years and a bit).
inline constexpr std::int64_t MaxDays = 3700;

// The day numbers of a statistics period, first and last inclusive; raises
// StoreRejected for a malformed day, a period that ends before it begins or
// one longer than MaxDays.
std::pair<std::int64_t, std::int64_t> dayRange(std::string_view from, std::string_view to);

} // namespace vexor::server
