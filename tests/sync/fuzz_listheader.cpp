// libFuzzer target: the first-line test and the file-name check of a
// downloaded language list. A text that passes both starts with the header
// line, and no entry of its first section names a file through a separator.
#include "sync/cachefiles.h"
#include "sync/protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// The entries of the section opened by the first line, read line by line
// with the simplest possible reader (any CR or LF ends a line).
bool firstSectionHasSeparatorInAName(std::string_view text)
{
    std::size_t at = text.find_first_of("\r\n");
    while (at != std::string_view::npos && at < text.size()) {
        ++at;
        const std::size_t end = text.find_first_of("\r\n", at);
        const std::string_view line = text.substr(at, end == std::string_view::npos ? end : end - at);
        if (!line.empty() && line.front() == '[' && line.back() == ']')
            return false;
        const std::size_t equals = line.find('=');
        if (!line.empty() && line.front() != ';' && equals != std::string_view::npos &&
            line.find_first_of("/\\", equals) != std::string_view::npos)
            return true;
        at = end;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool header = vexor::sync::FirstLineIs(text, vexor::sync::LanguagesHeader);
    const bool names = vexor::sync::LanguageListNamesAreSafe(text);
    if (header && (text.substr(0, 11) != "[Languages]" || (size > 11 && text[11] != '\r')))
        std::abort();
    if (header && names && firstSectionHasSeparatorInAName(text))
        std::abort();
    return 0;
}
