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

// A value for the query of a URL: ASCII letters, digits and "-", ".", "_",
// "~" stay as they are; every other byte (a blank, "&", "=", "+", "%", "#", a
// control character, a byte above 127) becomes "%XX" (upper case) of that
// byte itself.
std::string EncodeQueryValue(std::string_view value);

}  // namespace vexor::net
