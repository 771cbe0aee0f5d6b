#pragma once

// The query protocol spoken with the vendor's script: every URL the program
// builds, and the parsers for the script's short answers. Pure functions, safe
// on any thread; nothing here touches the process locale.

#include "app/core/constants.h"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace vexor::sync {

inline constexpr std::string_view ScriptPath = "/cgi-bin/script/vexor_parser.pl";
inline constexpr std::string_view UpdatePagePath = "/update/index.php";
// The version this client reports and compares server versions against.
inline constexpr std::string_view ClientVersion = "1.3";

// The seven actions of the script ("A=" key).
enum class Action : std::uint8_t { LANGL, VERSION, MODL, LCOUNT, LOGO, HTML, LANGC };
std::string_view ActionName(Action action);

// Who is asking: sent as MCID and MUID after the action in every request.
struct ClientIdentity {
    std::string ClientId;
    std::string UserId;
};

struct QueryKey {
    std::string_view Name;   // without "&" and "="
    std::string_view Value;  // percent-encoded (see BuildQueryUrl)
};

// Scheme and host of a host setting: "https://host[:port]" (or "http://...")
// as it is, a bare "host[:port]" with "http://" in front.
std::string HostUrl(std::string_view host);

// HostUrl(host) + ScriptPath + "?A=" action "&MID=1&MCID=" ClientId
// "&MUID=" UserId, then "&" name "=" value for each extra key, in the given
// order. `host` is "name[:port]", optionally after "https://" (a build setting).
//
// Values are percent-encoded (net::EncodeQueryValue): letters, digits and
// "-._~" stay, so every value the protocol shows (actions, "1", identifiers,
// counters, "True", "English") goes out unchanged, while a blank becomes "%20"
// and a byte above 127 "%XX" of that byte: servers such as Apache answer 400
// to a raw blank in the request line, and no value can end that line.
std::string BuildQueryUrl(std::string_view host, Action action, const ClientIdentity& who,
                          std::initializer_list<QueryKey> extraKeys = {});

// The requests of one cycle and of the language download, keys in the order
// the script expects.
// LANGL: "&L=" language; "&STARTUP=" n only when n > 0; "&INSTALL=True" only
// when an installation report is pending.
std::string LanglUrl(std::string_view host, const ClientIdentity& who, std::string_view language,
                     std::int32_t startUps, bool install);
std::string VersionUrl(std::string_view host, const ClientIdentity& who, std::string_view language);
std::string ModlUrl(std::string_view host, const ClientIdentity& who, std::string_view language);
// LCOUNT: "&LOGOIDS=" the ten identifiers joined, "&LOG=" the ten counters
// (FormatCounters), "&LF=2".
std::string LcountUrl(std::string_view host, const ClientIdentity& who,
                      const std::array<std::string, BannerSlotCount>& bannerIds,
                      const std::array<std::int32_t, BannerSlotCount>& bannerCounts);
std::string LogoUrl(std::string_view host, const ClientIdentity& who, std::string_view bannerId);
std::string HtmlUrl(std::string_view host, const ClientIdentity& who, std::string_view bannerId);
// LANGC: "&L=" the language's file name (not its display name).
std::string LangcUrl(std::string_view host, const ClientIdentity& who, std::string_view languageFile);

// HostUrl(webHost) + "/update/index.php?MID=1&MCID=" ClientId "&MUID=" UserId.
// Opened in the user's browser, never fetched by the client.
std::string UpdatePageUrl(std::string_view webHost, std::string_view clientId, std::string_view userId);

// One counter as upper-case hexadecimal, zero-padded to at least 6 digits; a
// value above FFFFFF takes as many digits as it needs. A negative counter is
// sent as its 32-bit two's complement (8 digits), as the original client did.
std::string FormatCounter(std::int32_t value);
std::string FormatCounters(const std::array<std::int32_t, BannerSlotCount>& counts);
std::string JoinBannerIds(const std::array<std::string, BannerSlotCount>& ids);

// VERSION answer. True when the whole body is a decimal number (optional sign,
// digits with an optional "." and fraction, optional exponent "e"/"E" with an
// optional sign), with any number of blanks (0x20) around it, and that number
// is strictly greater than 1.3. Anything else (a comma, a line break, an empty
// body, a bare sign) gives false. "." is the decimal separator whatever the
// locale; the process locale is never read or changed.
bool IsNewerVersion(std::string_view body);
// The number of a VERSION answer, or nullopt when the body does not parse.
std::optional<double> ParseVersionNumber(std::string_view body);

// The new line-up of an LCOUNT answer.
struct CountAnswer {
    std::array<std::string, BannerSlotCount> BannerIds;  // slot 0 first; "000000" empties a slot
    std::int32_t RotationInterval = 1000;   // milliseconds
};

// LCOUNT answer: exactly 66 characters, ten 6-character identifiers followed by
// six hexadecimal digits (either case) giving the rotation interval in
// milliseconds; an interval that is not six hexadecimal digits gives 1000.
// nullopt ("no change") when the length is not 66, or when any identifier is
// not a safe banner identifier (IsSafeBannerId): identifiers become file names,
// so one hostile identifier discards the whole answer like a wrong length.
std::optional<CountAnswer> ParseCountAnswer(std::string_view body);

// A banner identifier that may be joined to a folder and sent in a URL: exactly
// six printable ASCII characters (0x21..0x7E), none of them "/", "\", ".",
// ":" or one of the URL delimiters "?", "#", "&", "%", "=". Letters, digits,
// "-" and "_" (everything an identifier of the vendor's has been seen to use)
// pass; blanks, NUL, control characters and bytes above 127 do not.
bool IsSafeBannerId(std::string_view id);

// The first line of `path` (up to the first CR; a LF alone does not end it)
// equals `header` exactly, case-sensitively. A byte-order mark or a blank line
// before the header makes it differ; a file that cannot be opened fails.
bool HasHeaderLine(const std::string& path, std::string_view header);
// The same test on text already in memory (used by the fuzz target).
bool FirstLineIs(std::string_view text, std::string_view header);

}  // namespace vexor::sync
