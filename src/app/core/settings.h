#pragma once

#include "app/core/constants.h"

#include <cstdint>
#include <string>

// The settings file "settings.ini" beside the executable, section "Settings".
// The core reads and writes the values; the main window applies the parts that
// are its own (language selection, window position, timer interval).
namespace vexor {

inline constexpr const char* SettingsFileName = "settings.ini";
inline constexpr const char* SettingsSection = "Settings";

// Integer conversion of a settings text: signed 32-bit decimal with an
// optional "+" or "-"; a leading "$" marks hexadecimal, and so does "0x"/"0X"
// on a text longer than two characters (hex digits in either case, no sign).
// Hexadecimal values are 32-bit patterns: "$FFFFFFFF" is -1, "$80000000" is
// INT32_MIN; more than 32 bits is out of range. Blanks anywhere are not
// accepted (the profile reader has already trimmed the value). Empty,
// out-of-range or unconvertible text ("10s", "1 2", "0x") gives `defaultValue`.
std::int32_t settingsToInt(const std::string& text, std::int32_t defaultValue);

// AppDir + "settings.ini".
std::string settingsFilePath(const Constants& c);

// The values that belong to the main window rather than the shared state.
struct WindowSettings {
    std::string Language;  // the language name to select (may be empty)
    std::int32_t Left = 0;
    std::int32_t Top = 0;
};

// Reads every key of AppDir + "settings.ini" into `c` (proxy, Install,
// AutoConnect, Banners, Logs, BannerPocitadlo, Rotation, StartUps) and returns
// the window's values. Does not increment StartUps; the caller does that after
// applying the window's part. Missing file, section or key: the defaults.
// Banners and Logs are read in whole 6-character chunks; slots past the last
// whole chunk keep their values, and a Logs chunk that is not six hex digits
// (either case; no sign, prefix or blank) gives 0. Never throws for what the
// file holds; BannerPocitadlo is taken as it stands (the rotation copes with
// values outside 0..9).
WindowSettings ReadSettings(Constants& c);

// Writes every key in the fixed order (Language, ProxyName, ProxyPort,
// ProxyUser, ProxyPass, Install, AutoConnect, Banners, Logs, Rotation,
// BannerPocitadlo, StartUps, Left, Top) with the profile functions' rules,
// and stores the result in one atomic replacement of the file, so that a
// crash leaves the old file or the new one. Throws vexor::Exception "Unable
// to write to %s" when the file cannot be written; it is then unchanged.
// A write that changes nothing does not touch the file. Counters above
// FFFFFF are stored as FFFFFF and negative ones as 000000, since the format
// has six digits per slot.
void WriteSettings(const Constants& c, const WindowSettings& window);

// Helpers shared with the server protocol.
std::string joinBannerIds(const Constants& c);
// A counter as upper-case hex, zero-padded to 6 digits. `clampToSixDigits`
// (settings) holds counters above FFFFFF at FFFFFF and negative ones at
// 000000; without it (LOG) a larger value widens ("1000000") and a negative
// one is its 32-bit pattern ("FFFFFFFF" for -1).
std::string formatCounter(std::int32_t value, bool clampToSixDigits);

}  // namespace vexor
