// Fuzz target: the bytes are a settings file. Reads several keys, writes one
// key (name and value taken from the input), and checks that it reads back
// and that no other key changed.
#include "platform/exception.h"
#include "platform/profileini.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace vexor::platform;

namespace {

const char* const Sections[] = {"Settings", "settings ", "", "a]b", " S"};
const char* const Keys[] = {"Language", "PROXYPASS", "", ";c", "k=v", " x "};

std::string expectedReadBack(std::string value)
{
    for (char& c : value)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
    std::size_t first = 0;
    while (first < value.size() && blank(value[first]))
        ++first;
    std::size_t last = value.size();
    while (last > first && blank(value[last - 1]))
        --last;
    return value.substr(first, last - first).substr(0, ProfileBufferSize - 1);
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string contents(reinterpret_cast<const char*>(data), size);
    constexpr std::size_t SectionCount = sizeof Sections / sizeof *Sections;
    constexpr std::size_t KeyCount = sizeof Keys / sizeof *Keys;
    std::string before[SectionCount][KeyCount];
    for (std::size_t s = 0; s < SectionCount; ++s)
        for (std::size_t k = 0; k < KeyCount; ++k)
            before[s][k] = profileReadIn(Sections[s], Keys[k], "<default>", contents);

    // The first byte picks the key to write, the last 40 bytes are its value.
    std::size_t section = size > 0 ? data[0] % SectionCount : 0;
    std::size_t key = size > 0 ? (data[0] / SectionCount) % KeyCount : 0;
    std::string value = contents.substr(size > 40 ? size - 40 : 0);
    std::string updated;
    try {
        updated = profileWriteIn(Sections[section], Keys[key], value, contents);
    } catch (const vexor::Exception&) {
        return 0;  // a name the file cannot hold
    }
    check(profileReadIn(Sections[section], Keys[key], "<default>", updated) == expectedReadBack(value));
    for (std::size_t s = 0; s < SectionCount; ++s) {
        for (std::size_t k = 0; k < KeyCount; ++k) {
            std::string now = profileReadIn(Sections[s], Keys[k], "<default>", updated);
            bool sameKey = profileReadIn(Sections[s], Keys[k], "", "[" + std::string(Sections[section]) + "]\n"
                                         + Keys[key] + "=1\n") == "1";
            if (!sameKey)
                check(now == before[s][k]);
        }
    }
    return 0;
}
