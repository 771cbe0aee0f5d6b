#include "net/urlencoder.h"

#include <gtest/gtest.h>

namespace vexor::net {
namespace {

TEST(UrlEncoderTest, FormEncodingTable)
{
    const struct {
        std::string input, output;
    } rows[] = {
        {"", ""},
        {"abcXYZ019", "abcXYZ019"},
        {"a b/c\xE9", "a+b%2Fc%E9"},
        {"  ", "++"},
        {"-_.~*", "%2D%5F%2E%7E%2A"},
        {std::string("\0\n\r", 3), "%00%0A%0D"},
        {"\xEF\xBB\xBF" "BOM", "%EF%BB%BFBOM"},
        {"100%", "100%25"},
        {"a=1&b=2", "a%3D1%26b%3D2"},
    };
    for (const auto& row : rows) {
        TUrlEncoder encoder;
        encoder.InputString = row.input;
        EXPECT_EQ(encoder.EncodedString(), row.output) << row.input;
    }
}

}  // namespace
}  // namespace vexor::net
