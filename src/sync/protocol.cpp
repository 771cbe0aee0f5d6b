#include "sync/protocol.h"

#include "app/core/settings.h"
#include "net/urlencoder.h"
#include "platform/asciitext.h"
#include "platform/fileops.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace vexor::sync {

namespace {

void appendValue(std::string& url, std::string_view value)
{
    url += net::EncodeQueryValue(value);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Checks the grammar [+-] digits [. digits] [(e|E) [+-] digits], with at least
// one digit in the mantissa, and returns the decimal order of magnitude of the
// mantissa's first non-zero digit plus the exponent (used only when the value
// does not fit a double).
struct NumberShape {
    bool valid = false;
    bool negative = false;
    bool zero = true;
    long long order = 0;
};

std::size_t skipDigits(std::string_view text, std::size_t at)
{
    while (at < text.size() && isDigit(text[at]))
        ++at;
    return at;
}

NumberShape inspectNumber(std::string_view text)
{
    NumberShape shape;
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        shape.negative = text[at++] == '-';
    const std::size_t intStart = at;
    at = skipDigits(text, at);
    const std::size_t intEnd = at;
    std::size_t fracStart = at, fracEnd = at;
    if (at < text.size() && text[at] == '.') {
        fracStart = ++at;
        fracEnd = at = skipDigits(text, at);
    }
    if (intEnd == intStart && fracEnd == fracStart)
        return shape;
    long long exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        const bool negativeExponent = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '+' || text[at] == '-'))
            ++at;
        const std::size_t expStart = at;
        at = skipDigits(text, at);
        if (at == expStart)
            return shape;
        for (std::size_t i = expStart; i < at && exponent < 1'000'000'000; ++i)
            exponent = exponent * 10 + (text[i] - '0');
        if (negativeExponent)
            exponent = -exponent;
    }
    if (at != text.size())
        return shape;
    shape.valid = true;
    for (std::size_t i = intStart; i < intEnd && shape.zero; ++i) {
        if (text[i] != '0') {
            shape.zero = false;
            shape.order = static_cast<long long>(intEnd - i);
        }
    }
    for (std::size_t i = fracStart; i < fracEnd && shape.zero; ++i) {
        if (text[i] != '0') {
            shape.zero = false;
            shape.order = -static_cast<long long>(i - fracStart);
        }
    }
    shape.order += exponent;
    return shape;
}

}  // namespace

std::string_view ActionName(Action action)
{
    switch (action) {
    case Action::LANGL: return "LANGL";
    case Action::VERSION: return "VERSION";
    case Action::MODL: return "MODL";
    case Action::LCOUNT: return "LCOUNT";
    case Action::LOGO: return "LOGO";
    case Action::HTML: return "HTML";
    case Action::LANGC: return "LANGC";
    }
    return {};
}

std::string HostUrl(std::string_view host)
{
    const auto hasScheme = [host](std::string_view scheme) {
        if (host.size() < scheme.size())
            return false;
        for (std::size_t i = 0; i < scheme.size(); ++i) {
            if (std::tolower(static_cast<unsigned char>(host[i])) != scheme[i])
                return false;
        }
        return true;
    };
    if (hasScheme("https://") || hasScheme("http://"))
        return std::string(host);
    return "http://" + std::string(host);
}

std::string BuildQueryUrl(std::string_view host, Action action, const ClientIdentity& who,
                          std::initializer_list<QueryKey> extraKeys)
{
    std::string url = HostUrl(host);
    url += ScriptPath;
    url += "?A=";
    url += ActionName(action);
    url += "&MID=1&MCID=";
    appendValue(url, who.ClientId);
    url += "&MUID=";
    appendValue(url, who.UserId);
    for (const QueryKey& key : extraKeys) {
        url += '&';
        url += key.Name;
        url += '=';
        appendValue(url, key.Value);
    }
    return url;
}

std::string LanglUrl(std::string_view host, const ClientIdentity& who, std::string_view language,
                     std::int32_t startUps, bool install)
{
    std::string url = BuildQueryUrl(host, Action::LANGL, who, {{"L", language}});
    if (startUps > 0)
        url += "&STARTUP=" + std::to_string(startUps);
    if (install)
        url += "&INSTALL=True";
    return url;
}

std::string VersionUrl(std::string_view host, const ClientIdentity& who, std::string_view language)
{
    return BuildQueryUrl(host, Action::VERSION, who, {{"L", language}});
}

std::string ModlUrl(std::string_view host, const ClientIdentity& who, std::string_view language)
{
    return BuildQueryUrl(host, Action::MODL, who, {{"L", language}});
}

std::string LcountUrl(std::string_view host, const ClientIdentity& who,
                      const std::array<std::string, BannerSlotCount>& bannerIds,
                      const std::array<std::int32_t, BannerSlotCount>& bannerCounts)
{
    const std::string ids = JoinBannerIds(bannerIds);
    const std::string counts = FormatCounters(bannerCounts);
    return BuildQueryUrl(host, Action::LCOUNT, who, {{"LOGOIDS", ids}, {"LOG", counts}, {"LF", "2"}});
}

std::string LogoUrl(std::string_view host, const ClientIdentity& who, std::string_view bannerId)
{
    return BuildQueryUrl(host, Action::LOGO, who, {{"LOGOID", bannerId}});
}

std::string HtmlUrl(std::string_view host, const ClientIdentity& who, std::string_view bannerId)
{
    return BuildQueryUrl(host, Action::HTML, who, {{"LOGOID", bannerId}});
}

std::string LangcUrl(std::string_view host, const ClientIdentity& who, std::string_view languageFile)
{
    return BuildQueryUrl(host, Action::LANGC, who, {{"L", languageFile}});
}

std::string UpdatePageUrl(std::string_view webHost, std::string_view clientId, std::string_view userId)
{
    std::string url = HostUrl(webHost);
    url += UpdatePagePath;
    url += "?MID=1&MCID=";
    appendValue(url, clientId);
    url += "&MUID=";
    appendValue(url, userId);
    return url;
}

std::string FormatCounter(std::int32_t value)
{
    // The report widens past six digits, unlike the settings file.
    return formatCounter(value, false);
}

std::string FormatCounters(const std::array<std::int32_t, BannerSlotCount>& counts)
{
    std::string text;
    for (std::int32_t count : counts)
        text += FormatCounter(count);
    return text;
}

std::string JoinBannerIds(const std::array<std::string, BannerSlotCount>& ids)
{
    std::string text;
    for (const std::string& id : ids)
        text += id;
    return text;
}

std::optional<double> ParseVersionNumber(std::string_view body)
{
    std::string_view text = platform::trimmed(body, " ");
    const NumberShape shape = inspectNumber(text);
    if (!shape.valid)
        return std::nullopt;
    // from_chars takes no leading "+"; the grammar has been checked above.
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Too large or too small for a double: the order of magnitude says which.
        if (shape.zero || shape.order <= 0)
            return shape.negative ? -0.0 : 0.0;
        return shape.negative ? -std::numeric_limits<double>::infinity()
                              : std::numeric_limits<double>::infinity();
    }
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool IsNewerVersion(std::string_view body)
{
    static const double own = *ParseVersionNumber(ClientVersion);
    const std::optional<double> server = ParseVersionNumber(body);
    return server && *server > own;
}

bool IsSafeBannerId(std::string_view id)
{
    constexpr std::string_view Forbidden = "/\\.:?#&%=";
    if (id.size() != 6)
        return false;
    for (char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x21 || byte > 0x7E || Forbidden.find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

std::optional<CountAnswer> ParseCountAnswer(std::string_view body)
{
    // Ten ids and the interval in six hexadecimal digits: 66 characters.
    constexpr std::size_t IntervalAt = BannerSlotCount * BannerIdLength;
    constexpr std::size_t IntervalLength = 6;
    if (body.size() != IntervalAt + IntervalLength)
        return std::nullopt;
    CountAnswer answer;
    for (std::size_t slot = 0; slot < BannerSlotCount; ++slot) {
        answer.BannerIds[slot] = std::string(body.substr(slot * BannerIdLength, BannerIdLength));
        if (!IsSafeBannerId(answer.BannerIds[slot]))
            return std::nullopt;
    }
    std::int32_t interval = 0;
    for (char c : body.substr(IntervalAt, IntervalLength)) {
        const int digit = platform::hexValue(c);
        if (digit < 0) {
            interval = 1000;
            break;
        }
        interval = interval * 16 + digit;
    }
    answer.RotationInterval = interval;
    return answer;
}

bool FirstLineIs(std::string_view text, std::string_view header)
{
    return text.substr(0, text.find('\r')) == header;
}

bool HasHeaderLine(const std::string& path, std::string_view header)
{
    // One byte more than the header is enough to tell a longer line apart.
    return platform::readFirstLine(path, header.size() + 1) == header;
}

}  // namespace vexor::sync
