#pragma once

// Small pure parsers of the HTTP client, apart so that tests and fuzzers can
// reach them without a connection.

#include <cstdint>
#include <string>
#include <string_view>

namespace vexor::net::http {

// ASCII upper case; bytes above 127 stay as they are.
std::string UpperAscii(std::string_view text);

// The line without its trailing LF and the CR before it.
std::string_view WithoutLineEnd(std::string_view line);

// The status code: the second blank-separated word of the status line as a
// 16-bit number; 0 when there is none or it is not a number in range.
std::int16_t StatusCodeOf(std::string_view statusLine);

// From the upper-cased "CONTENT-LENGTH: ..." line: skip to the first digit,
// take the run of digits (0 when none); saturates at INT64_MAX.
std::int64_t ContentLengthOf(std::string_view upperLine);

// The port text of a URL's host part: digits only, 0..65535.
// Raises vexor::Exception "'x' is not a valid integer value" or
// "'x' is not a valid port number".
std::int32_t PortOf(const std::string& text);

// Resolves a Location value against the URL of the request that got it:
// absolute ("scheme://...") as is, "//host/..." with the request's scheme,
// "/path" on the same scheme, host and port, anything else relative to the
// request path's folder. `secure`: the request went over https.
std::string ResolveLocation(const std::string& location, const std::string& host, std::int32_t port,
                            const std::string& requestPath, bool secure = false);

}  // namespace vexor::net::http
