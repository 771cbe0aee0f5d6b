// libFuzzer target: the LCOUNT answer parser. Whatever the server sends, the
// parse either refuses it or gives ten identifiers that are safe to join to a
// folder and an interval in 0..FFFFFF.
#include "sync/protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const auto answer = vexor::sync::ParseCountAnswer(body);
    if (!answer)
        return 0;
    if (size != 66 || answer->RotationInterval < 0 || answer->RotationInterval > 0xFFFFFF)
        std::abort();
    for (const std::string& id : answer->BannerIds) {
        if (!vexor::sync::IsSafeBannerId(id))
            std::abort();
    }
    return 0;
}
