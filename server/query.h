#pragma once

#include <string>
#include <string_view>
#include <vector>

// The query of a request to the vendor script. The client percent-encodes its
// values; older clients sent a letter above 127 as it is, so the parser is
// lenient and keeps what it cannot decode.
namespace vexor::server {

struct QueryPair {
    std::string key;
    std::string value;

    bool operator==(const QueryPair&) const = default;
};

// Splits the query of a request target (everything after the first "?"; no
// "?" means no pairs) at "&" into pairs, each at its first "=". A piece
// without "=" is a key with an empty value; empty pieces are dropped. "%"
// followed by two hexadecimal digits is decoded in keys and values; any other
// "%" and every "+" stay as they are. Pairs keep the order of the target.
std::vector<QueryPair> parseQuery(std::string_view target);

// The value of the first pair named `key` (exact, case-sensitive), or nullptr.
const std::string* findValue(const std::vector<QueryPair>& pairs, std::string_view key);

// Decodes "%XX" escapes as parseQuery does.
std::string percentDecode(std::string_view text);

// Writes `text` so that it holds no blank, control character or byte above
// 127: those, "%" and every character of `alsoEscape` become "%XX" (upper-case
// hex). The result reads back with percentDecode.
std::string escapeForLog(std::string_view text, std::string_view alsoEscape = {});

} // namespace vexor::server
