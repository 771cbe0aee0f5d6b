#pragma once
// Developers: read DEVELOPERS.md at the top of the tree before changing this unit.

#include "app/constants.h"

#include <cstdint>
#include <string>

// The settings file "settings.ini" beside the executable, section "Settings".
// The core reads and writes the values; the main window applies the parts that
// are its own (language selection, window position, timer interval).
namespace vexor {

inline constexpr const char* SettingsFileName = "settings.ini";
inline constexpr const char* SettingsSection = "Settings";

// Integer conversion of a settings text: signed 32-bit decimal; a leading "$"
// marks hexadecimal, and so does "0x"/"0X" on a text longer than two
// characters. Empty or unconvertible text gives `defaultValue`.
std::int32_t settingsToInt(const std::string& text, std::int32_t defaultValue);

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
WindowSettings ReadSettings(Constants& c);

// Writes every key in the fixed order, one write each. Throws vexor::Exception
// "Unable to write to %s" when a write fails. Counters above FFFFFF are stored
// as FFFFFF, since the format has six digits per slot.
void WriteSettings(const Constants& c, const WindowSettings& window);

// Helpers shared with the server protocol.
std::string joinBannerIds(const Constants& c);
// Each counter as upper-case hex, zero-padded to 6 digits; `clampToSixDigits`
// holds counters above FFFFFF at FFFFFF (settings) instead of widening (LOG).
std::string formatCounter(std::int32_t value, bool clampToSixDigits);

}  // namespace vexor
