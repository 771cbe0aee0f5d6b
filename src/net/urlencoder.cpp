#include "net/urlencoder.h"

#include <exception>

namespace vexor::net {

namespace {

bool keptAsIs(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr char Hex[] = "0123456789ABCDEF";

void appendEscaped(std::string& encoded, unsigned char c)
{
    encoded += '%';
    encoded += Hex[c >> 4];
    encoded += Hex[c & 15];
}

// Bytes that are not valid in a URL, and those that change the meaning of a
// query when they stand in a value ("+" is a blank to most CGI decoders).
bool escapedInQuery(unsigned char c)
{
    constexpr std::string_view Escaped = "\"#%<>[\\]^`{|}&=+";
    return c < 0x21 || c > 0x7E || Escaped.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

std::string EncodeQueryValue(std::string_view value)
{
    std::string encoded;
    encoded.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (!escapedInQuery(c)) {
            encoded += ch;
        } else {
            appendEscaped(encoded, c);
        }
    }
    return encoded;
}

std::string TUrlEncoder::EncodedString()
{
    try {
        std::string encoded;
        encoded.reserve(InputString.size() * 3);
        for (const char ch : InputString) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == ' ') {
                encoded += '+';
            } else if (keptAsIs(c)) {
                encoded += ch;
            } else {
                appendEscaped(encoded, c);
            }
        }
        return encoded;
    } catch (const std::exception& error) {
        if (OnError)
            OnError("Error during encode", error.what());
        return InputString;
    }
}

}  // namespace vexor::net
