#pragma once

// TUrlEncoder: form-encodes a text for an HTML form body: a blank becomes "+",
// ASCII letters and digits stay, every other byte becomes "%XX" (upper case).

#include <functional>
#include <string>

namespace vexor::net {

class TUrlEncoder {
public:
    std::string InputString;
    // Called when encoding fails; EncodedString then returns InputString.
    std::function<void(const std::string& Operation, const std::string& ErrMsg)> OnError;

    std::string EncodedString();
};

}  // namespace vexor::net
