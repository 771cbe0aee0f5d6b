#include "net/uuencoder.h"

#include "platform/exception.h"

#include <algorithm>
#include <istream>
#include <sstream>

namespace vexor::net {

namespace {

constexpr char MimeAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t BytesPerLine = 45;

std::string uuAlphabet()
{
    // The grave accent stands for 0 so that a line never starts with a blank.
    std::string alphabet(1, '`');
    for (char c = '!'; c <= '_'; ++c)
        alphabet += c;
    return alphabet;
}

void fire(const std::function<void()>& event)
{
    if (event)
        event();
}

// One output line for up to 45 input bytes, without its CR LF.
std::string encodeLine(const std::string& alphabet, UUMethods method, const unsigned char* in, std::size_t n)
{
    std::string line;
    if (method == UUMethods::uuCode)
        line += alphabet[n];
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        line += alphabet[in[i] >> 2];
        line += alphabet[(in[i] % 4) * 16 + (in[i + 1] >> 4)];
        line += alphabet[(in[i + 1] % 16) * 4 + (in[i + 2] >> 6)];
        line += alphabet[in[i + 2] % 64];
    }
    if (n - i == 1) {
        line += alphabet[in[i] >> 2];
        line += alphabet[(in[i] % 4) * 16];
        if (method == UUMethods::uuMime)
            line += "==";
    } else if (n - i == 2) {
        line += alphabet[in[i] >> 2];
        line += alphabet[(in[i] % 4) * 16 + (in[i + 1] >> 4)];
        line += alphabet[(in[i + 1] % 16) * 4];
        if (method == UUMethods::uuMime)
            line += '=';
    }
    return line;
}

}  // namespace

void TUUProcessor::Encode()
{
    if (!InputStream || !OutputStream)
        throw vexor::Exception("Encode needs an input and an output stream");
    struct EndGuard {
        TUUProcessor& self;
        ~EndGuard()
        {
            self.OutputStream->clear();
            self.OutputStream->seekg(0);
            fire(self.OnEndEncode);
        }
    };
    InputStream->clear();
    InputStream->seekg(0);
    fire(OnBeginEncode);
    EndGuard guard{*this};
    Alphabet = Method == UUMethods::uuMime ? std::string(MimeAlphabet) : uuAlphabet();
    unsigned char block[BytesPerLine];
    for (;;) {
        InputStream->read(reinterpret_cast<char*>(block), BytesPerLine);
        const auto n = static_cast<std::size_t>(InputStream->gcount());
        if (n == 0)
            break;
        *OutputStream << encodeLine(Alphabet, Method, block, n) << "\r\n";
        if (n < BytesPerLine)
            break;
    }
    if (InputStream->bad())
        throw vexor::Exception("Encode could not read its input");
    if (Method == UUMethods::uuCode)
        *OutputStream << Alphabet[0] << "\r\n";
    if (!*OutputStream)
        throw vexor::Exception("Encode could not write its output");
}

std::string TUUProcessor::Base64(std::string_view bytes)
{
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += BytesPerLine) {
        const std::size_t n = std::min(BytesPerLine, bytes.size() - at);
        text += encodeLine(MimeAlphabet, UUMethods::uuMime, in + at, n);
    }
    return text;
}

}  // namespace vexor::net
