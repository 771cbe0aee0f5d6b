// libFuzzer target: the settings values. The input goes through the integer
// conversion, then is written as a whole settings.ini into a private
// temporary folder and read with ReadSettings.
#include "app/core/settings.h"
#include "tempdir.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void fuzzConversion(const std::string& text)
{
    const std::int32_t a = vexor::settingsToInt(text, 1);
    const std::int32_t b = vexor::settingsToInt(text, 2);
    if (a == b) {
        // Converted: the decimal text of the value converts back to it.
        check(vexor::settingsToInt(std::to_string(a), a ^ 1) == a);
    }
    const std::string counter = vexor::formatCounter(a, true);
    check(counter.size() == 6);
    check(vexor::settingsToInt("$" + counter, -1) == (a < 0 ? 0 : (a > 0xFFFFFF ? 0xFFFFFF : a)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const vexor::testkit::TempDir folder;
    const std::string text(reinterpret_cast<const char*>(data), size);
    fuzzConversion(text);

    {
        std::ofstream out(folder.path() + vexor::SettingsFileName, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    vexor::Constants c;
    vexor::InitializeConstants(c, folder.path());
    const vexor::WindowSettings window = vexor::ReadSettings(c);
    check(window.Language.size() < 2048);
    for (const std::string& id : c.BannerIds)
        check(id.size() == 6);
    for (std::int32_t count : c.BannerCounts)
        check(count >= 0 && count <= 0xFFFFFF);
    return 0;
}
