#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// UTC days as the store keeps them: "YYYY-MM-DD".
namespace vexor::server {

// The UTC day of `time` (seconds since the epoch).
std::string utcDay(std::int64_t time);

// Days since 1970-01-01 for a valid "YYYY-MM-DD" (years 1970 to 9999), else nothing.
std::optional<std::int64_t> dayNumber(std::string_view day);

std::string dayFromNumber(std::int64_t number);

} // namespace vexor::server
