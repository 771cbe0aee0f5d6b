#pragma once

#include <string>
#include <string_view>

namespace vexor::server {

// Rewrites one HTTP request line (without its line end) for the HTTP parser:
// a request sent to a proxy carries the absolute form "http://host[:port]/path"
// (RFC 7230, 5.3.2: servers must accept it); when the text after the last
// blank starts with "HTTP/", the target (between the first and the last
// blank) becomes "/path", or "/" when the URL has no path. Any other line
// comes back unchanged, so the parser still rejects real garbage, and a raw
// blank in the target (the client percent-encodes its values) gets 400 as it
// does from Apache or nginx.
std::string repairRequestLine(std::string_view line);

} // namespace vexor::server
