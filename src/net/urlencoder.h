#pragma once

// TUrlEncoder: form-encodes a text for an HTML form body: a blank becomes "+",
// ASCII letters and digits stay, every other byte becomes "%XX" (upper case).

#include <functional>
#include <string>
#include <string_view>

namespace vexor::net {

class TUrlEncoder {
public:
    std::string InputString;
    // Called when encoding fails; EncodedString then returns InputString.
    std::function<void(const std::string& Operation, const std::string& ErrMsg)> OnError;

    std::string EncodedString();
};

// A value for the query of a URL, sent as raw as a URL allows: bytes below
// 0x21 and above 0x7E, the characters " # % < > [ \ ] ^ ` { | } that a URL
// cannot carry, and & = + that would change the query's meaning become "%XX"
// (upper case) of the byte itself; every other printable character stays.
std::string EncodeQueryValue(std::string_view value);

}  // namespace vexor::net
