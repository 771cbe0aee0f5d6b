#include "app/core/settings.h"

#include "platform/exception.h"
#include "platform/fileops.h"
#include "platform/profileini.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>
#include <string_view>

namespace vexor {

namespace {

constexpr std::int32_t MaxCounter = 0xFFFFFF;

// Digits only: no sign, no prefix, no blanks. std::nullopt when anything else
// is there or the value does not fit in `base`'s 32 bits.
std::optional<std::uint32_t> parseUnsigned(std::string_view digits, int base)
{
    if (digits.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (error != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

std::optional<std::int32_t> parseHex(std::string_view digits)
{
    auto value = parseUnsigned(digits, 16);
    if (!value)
        return std::nullopt;
    // Eight digits are a 32-bit pattern: "$FFFFFFFF" is -1, as the original
    // program's conversion gave it.
    return static_cast<std::int32_t>(*value);
}

std::optional<std::int32_t> parseDecimal(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    auto magnitude = parseUnsigned(text, 10);
    if (!magnitude)
        return std::nullopt;
    const std::int64_t value = negative ? -static_cast<std::int64_t>(*magnitude) : *magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::string readText(const std::string& key, const std::string& file)
{
    return platform::profileReadString(SettingsSection, key, std::string(), file);
}

std::int32_t readInt(const std::string& key, std::int32_t defaultValue, const std::string& file)
{
    return settingsToInt(readText(key, file), defaultValue);
}

bool readBool(const std::string& key, bool defaultValue, const std::string& file)
{
    return readInt(key, defaultValue ? 1 : 0, file) != 0;
}

// Slots beyond the last whole chunk keep the values they have.
void readBannerIds(const std::string& text, Constants& c)
{
    for (std::size_t i = 0; i < BannerSlotCount && (i + 1) * BannerIdLength <= text.size(); ++i)
        c.BannerIds[i] = text.substr(i * BannerIdLength, BannerIdLength);
}

void readCounters(const std::string& text, Constants& c)
{
    for (std::size_t i = 0; i < BannerSlotCount && (i + 1) * BannerIdLength <= text.size(); ++i) {
        auto value = parseUnsigned(std::string_view(text).substr(i * BannerIdLength, BannerIdLength), 16);
        c.BannerCounts[i] = value ? static_cast<std::int32_t>(*value) : 0;
    }
}

}  // namespace

std::int32_t settingsToInt(const std::string& text, std::int32_t defaultValue)
{
    std::string_view view(text);
    std::optional<std::int32_t> value;
    if (view.starts_with('$'))
        value = parseHex(view.substr(1));
    else if (view.size() > 2 && (view.starts_with("0x") || view.starts_with("0X")))
        value = parseHex(view.substr(2));
    else
        value = parseDecimal(view);
    return value.value_or(defaultValue);
}

std::string joinBannerIds(const Constants& c)
{
    std::string joined;
    for (const std::string& id : c.BannerIds)
        joined += id;
    return joined;
}

std::string formatCounter(std::int32_t value, bool clampToSixDigits)
{
    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (clampToSixDigits)
        bits = value < 0 ? 0 : static_cast<std::uint32_t>(std::min(value, MaxCounter));
    char digits[8];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, bits, 16);
    (void)error;  // eight hexadecimal digits always fit
    std::string text(digits, end);
    for (char& ch : text)
        ch = (ch >= 'a' && ch <= 'f') ? static_cast<char>(ch - 'a' + 'A') : ch;
    if (text.size() < BannerIdLength)
        text.insert(0, BannerIdLength - text.size(), '0');
    return text;
}

std::string settingsFilePath(const Constants& c)
{
    return c.AppDir + SettingsFileName;
}

WindowSettings ReadSettings(Constants& c)
{
    const std::string file = settingsFilePath(c);
    WindowSettings window;
    window.Language = readText("Language", file);

    ProxySettings proxy;
    proxy.ProxyName = readText("ProxyName", file);
    proxy.ProxyPort = readInt("ProxyPort", 0, file);
    proxy.ProxyUser = readText("ProxyUser", file);
    proxy.ProxyPass = readText("ProxyPass", file);
    c.SetProxy(proxy);

    c.InstallFlag = readBool("Install", true, file);
    c.AutoConnect = readBool("AutoConnect", true, file);
    readBannerIds(readText("Banners", file), c);
    readCounters(readText("Logs", file), c);
    c.BannerPos = readInt("BannerPocitadlo", 0, file);
    c.RotationInterval = readInt("Rotation", 10000, file);
    c.StartUps = readInt("StartUps", 0, file);
    window.Left = readInt("Left", 0, file);
    window.Top = readInt("Top", 0, file);
    return window;
}

void WriteSettings(const Constants& c, const WindowSettings& window)
{
    const std::string file = settingsFilePath(c);
    std::string contents;
    const bool existed = platform::readWholeFile(file, contents);
    if (!existed && platform::fileExists(file))
        throw Exception(formatMessage("Unable to write to %s", file));  // there but unreadable
    std::string updated = contents;
    auto write = [&updated](const char* key, const std::string& value) {
        updated = platform::profileWriteIn(SettingsSection, key, value, updated);
    };
    auto flag = [](bool value) { return std::string(value ? "1" : "0"); };

    const ProxySettings proxy = c.Proxy();
    write("Language", window.Language);
    write("ProxyName", proxy.ProxyName);
    write("ProxyPort", std::to_string(proxy.ProxyPort));
    write("ProxyUser", proxy.ProxyUser);
    write("ProxyPass", proxy.ProxyPass);
    write("Install", flag(c.InstallFlag));
    write("AutoConnect", flag(c.AutoConnect));
    write("Banners", joinBannerIds(c));
    std::string logs;
    for (std::int32_t count : c.BannerCounts)
        logs += formatCounter(count, true);
    write("Logs", logs);
    write("Rotation", std::to_string(c.RotationInterval));
    write("BannerPocitadlo", std::to_string(c.BannerPos));
    write("StartUps", std::to_string(c.StartUps));
    write("Left", std::to_string(window.Left));
    write("Top", std::to_string(window.Top));
    // Every key reaches the disk in one atomic replacement: a client killed
    // while it closes leaves the previous file or this one, never new banner
    // identifiers beside the old banners' counters.
    if (existed && updated == contents)
        return;
    if (!platform::writeFileAtomic(file, updated, 0600))
        throw Exception(formatMessage("Unable to write to %s", file));
}

}  // namespace vexor
