#pragma once

#include <string>
#include <string_view>

namespace vexor::server {

// Rewrites one HTTP request line (without its line end) so that the HTTP
// parser, which splits the line at blanks into exactly three parts, reads what
// the client meant:
//  - The client inserts query values unescaped, so a language name such as
//    "Deutsch Schweiz" puts blanks into the target. When the line has more
//    than two blanks and the text after the last one starts with "HTTP/", the
//    method is the text before the first blank, the version the text after the
//    last, and every blank between them becomes "%20".
//  - A request sent to a proxy carries the absolute form "http://host[:port]/path"
//    (RFC 7230, 5.3.2: servers must accept it); it becomes "/path", or "/"
//    when the URL has no path.
// Any other line comes back unchanged, so the parser still rejects real
// garbage.
std::string repairRequestLine(std::string_view line);

} // namespace vexor::server
