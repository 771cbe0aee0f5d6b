#pragma once

// TUUProcessor: encodes a byte stream as base64 (RFC 2045, a CR LF after every
// 60 characters and after the last line) or as uuencoded lines. No decoding.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace vexor::net {

enum class UUMethods : std::uint8_t { uuMime = 0, uuCode = 1 };

class TUUProcessor {
public:
    std::function<void()> OnBeginEncode;
    std::function<void()> OnEndEncode;  // also after an error
    std::function<void()> OnBeginDecode, OnEndDecode;  // never raised
    std::string Alphabet;               // 64 characters, loaded by Encode
    std::istream* InputStream = nullptr;   // not owned; read from position 0
    std::iostream* OutputStream = nullptr; // not owned; text appended, read position 0 afterwards
    UUMethods Method = UUMethods::uuMime;

    // Raises vexor::Exception when a stream is missing or cannot be read/written.
    void Encode();

    // Base64 of `bytes` as one unbroken token (no line breaks).
    static std::string Base64(std::string_view bytes);
};

}  // namespace vexor::net
