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

// The status code of a status line "HTTP/" digit "." digit, a blank, three
// digits (100 to 999), then a blank and a reason or the line's end; -1 for
// any other line, the empty one included.
int StatusOfLine(std::string_view statusLine);

// A Content-Length value: digits only, blanks and tabs around them allowed;
// -1 for anything else (a sign, a list, no digits, more than 18 digits).
std::int64_t ContentLengthValue(std::string_view value);

// The name of a header line before its colon, upper-cased, without blanks
// around it, and the value after the colon without its line end and blanks
// around it. No colon: both empty.
struct HeaderField {
    std::string name;
    std::string_view value;
};
HeaderField FieldOf(std::string_view line);

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
