// libFuzzer target: the VERSION answer parser. A body that parses must still
// parse with blanks around it and give the same number; a body with a line
// break or a comma never parses.
#include "sync/protocol.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    const auto number = vexor::sync::ParseVersionNumber(body);
    const bool newer = vexor::sync::IsNewerVersion(body);
    if (!number) {
        if (newer)
            std::abort();
        return 0;
    }
    if (std::isnan(*number) || newer != (*number > 1.3))
        std::abort();
    if (body.find_first_of("\r\n,") != std::string::npos)
        std::abort();
    const auto padded = vexor::sync::ParseVersionNumber("  " + body + " ");
    if (!padded || *padded != *number)
        std::abort();
    return 0;
}
