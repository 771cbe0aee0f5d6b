// TUUProcessor: base64 and uuencode lines, events, and a round trip through
// an independent decoder.

#include "net/uuencoder.h"

#include "platform/exception.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

namespace vexor::net {
namespace {

struct Encoded {
    std::string text;
    int begins = 0;
    int ends = 0;
};

Encoded encode(const std::string& input, UUMethods method)
{
    Encoded result;
    std::istringstream in(input);
    std::stringstream out;
    TUUProcessor processor;
    processor.Method = method;
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.OnBeginEncode = [&] { ++result.begins; };
    processor.OnEndEncode = [&] { ++result.ends; };
    processor.Encode();
    result.text = out.str();
    EXPECT_EQ(out.tellg(), 0);
    return result;
}

// Decodes standard base64 without relying on the encoder's tables; skips
// CR and LF, stops at "=".
std::string decodeBase64(const std::string& text)
{
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '\r' || c == '\n')
            continue;
        if (c == '=')
            break;
        const int v = value(c);
        if (v < 0)
            ADD_FAILURE() << "not a base64 character: " << int(c);
        bits = (bits << 6) | static_cast<unsigned>(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

TEST(UUProcessorTest, MimeEndsWithPaddingAndCrLf)
{
    const struct {
        std::string input, output;
    } rows[] = {
        {"", ""},
        {"a", "YQ==\r\n"},
        {"ab", "YWI=\r\n"},
        {"abc", "YWJj\r\n"},
        {"user:pass", "dXNlcjpwYXNz\r\n"},
        {std::string("\xff\x00\x80", 3), "/wCA\r\n"},
    };
    for (const auto& row : rows) {
        const Encoded encoded = encode(row.input, UUMethods::uuMime);
        EXPECT_EQ(encoded.text, row.output) << row.input;
        EXPECT_EQ(encoded.begins, 1);
        EXPECT_EQ(encoded.ends, 1);
    }
}

TEST(UUProcessorTest, MimeBreaksAfterFortyFiveInputBytes)
{
    const std::string input(46, 'x');
    const Encoded encoded = encode(input, UUMethods::uuMime);
    const auto lineEnd = encoded.text.find("\r\n");
    ASSERT_EQ(lineEnd, 60u);
    EXPECT_EQ(encoded.text.substr(62), "eA==\r\n");
    EXPECT_EQ(encode(std::string(45, 'x'), UUMethods::uuMime).text.size(), 62u);
}

TEST(UUProcessorTest, UuCodeCarriesTheCountAndAFinalGraveLine)
{
    EXPECT_EQ(encode("abc", UUMethods::uuCode).text, "#86)C\r\n`\r\n");
    EXPECT_EQ(encode("", UUMethods::uuCode).text, "`\r\n");
    // A zero value is the grave accent, never a blank; no padding.
    EXPECT_EQ(encode(std::string("\0", 1), UUMethods::uuCode).text, "!``\r\n`\r\n");
    const std::string lines = encode(std::string(50, 'q'), UUMethods::uuCode).text;
    EXPECT_EQ(lines.front(), 'M');  // 45 bytes
    EXPECT_EQ(lines[lines.find("\r\n") + 2], '%');  // then 5
}

TEST(UUProcessorTest, Base64RoundTripsThroughAnIndependentDecoder)
{
    std::mt19937 random(12345);
    for (std::size_t size : {0u, 1u, 2u, 3u, 44u, 45u, 46u, 89u, 90u, 91u, 1000u}) {
        std::string input(size, '\0');
        for (char& c : input)
            c = static_cast<char>(random());
        const std::string lines = encode(input, UUMethods::uuMime).text;
        EXPECT_EQ(decodeBase64(lines), input) << size;
        const std::string token = TUUProcessor::Base64(input);
        EXPECT_EQ(token.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(decodeBase64(token), input) << size;
        std::string joined = lines;
        std::erase(joined, '\r');
        std::erase(joined, '\n');
        EXPECT_EQ(token, joined);
    }
}

TEST(UUProcessorTest, MissingStreamsRaiseAClearError)
{
    TUUProcessor processor;
    EXPECT_THROW(processor.Encode(), vexor::Exception);
}

}  // namespace
}  // namespace vexor::net
