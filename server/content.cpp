#include "content.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace vexor::server {

namespace {

// Far above anything the demo ships; guards against serving a huge file by mistake.
constexpr std::size_t MaxContentBytes = 16 * 1024 * 1024;
constexpr std::size_t MaxFileNameBytes = 255;

std::optional<std::string> crLf(std::optional<std::string> text)
{
    if (!text)
        return std::nullopt;
    return toCrLf(*text);
}

// "12.txt" -> 12; anything else -> nothing.
std::optional<unsigned> lineupNumber(const std::string& name)
{
    if (!name.ends_with(".txt") || name.size() <= 4)
        return std::nullopt;
    unsigned number = 0;
    const auto* begin = name.data();
    const auto* end = name.data() + name.size() - 4;
    const auto [ptr, ec] = std::from_chars(begin, end, number);
    if (ec != std::errc() || ptr != end || number == 0 || *begin == '0')
        return std::nullopt;
    return number;
}

bool isInside(const fs::path& folder, const fs::path& file)
{
    std::error_code ec;
    const auto realFolder = fs::canonical(folder, ec);
    if (ec)
        return false;
    const auto realFile = fs::canonical(file, ec);
    if (ec)
        return false;
    return realFile.parent_path() == realFolder;
}

} // namespace

bool isPlainFileName(std::string_view name)
{
    if (name.empty() || name.size() > MaxFileNameBytes || name.front() == '.')
        return false;
    if (name.find("..") != std::string_view::npos)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}

std::string toCrLf(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (text[i] == '\n') {
            out += "\r\n";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::optional<std::string> readWholeFile(const fs::path& path, std::size_t maxBytes)
{
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return std::nullopt;
    const auto size = fs::file_size(path, ec);
    if (ec || size > maxBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string data(static_cast<std::size_t>(size), '\0');
    in.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        return std::nullopt;
    return data;
}

ContentStore::ContentStore(fs::path root)
    : m_root(std::move(root))
{
}

std::optional<std::string> ContentStore::languageIndex() const
{
    return crLf(readWholeFile(m_root / "lang.ini", MaxContentBytes));
}

std::optional<std::string> ContentStore::moduleList() const
{
    return crLf(readWholeFile(m_root / "modl.ini", MaxContentBytes));
}

std::optional<std::string> ContentStore::version() const
{
    auto text = readWholeFile(m_root / "version.txt", MaxContentBytes);
    if (!text)
        return std::nullopt;
    while (!text->empty() && (text->back() == '\n' || text->back() == '\r'))
        text->pop_back();
    return text;
}

std::optional<std::string> ContentStore::languageFile(std::string_view fileName) const
{
    return crLf(fileInside(m_root / "languages", fileName));
}

std::optional<std::string> ContentStore::bannerImage(std::string_view id) const
{
    if (!isBannerId(id))
        return std::nullopt;
    return fileInside(m_root / "banners", std::string(id) + ".gif");
}

std::optional<std::string> ContentStore::bannerPage(std::string_view id) const
{
    if (!isBannerId(id))
        return std::nullopt;
    return fileInside(m_root / "banners", std::string(id) + ".htm");
}

std::optional<std::string> ContentStore::webPage(std::string_view name) const
{
    return fileInside(m_root / "web", name);
}

std::optional<std::string> ContentStore::fileInside(const fs::path& folder, std::string_view name) const
{
    if (!isPlainFileName(name))
        return std::nullopt;
    const auto path = folder / fs::path(std::string(name));
    // A link inside the folder could still lead elsewhere.
    if (!isInside(folder, path))
        return std::nullopt;
    return readWholeFile(path, MaxContentBytes);
}

LineupLoad ContentStore::loadLineups() const
{
    const auto folder = m_root / "lineups";
    std::map<unsigned, fs::path> files;
    std::error_code ec;
    if (!fs::exists(folder, ec))
        return { {}, folder.string() + ": no line-up files (1.txt, 2.txt, ...)" };
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (const auto number = lineupNumber(it->path().filename().string()))
            files.emplace(*number, it->path());
    }
    if (ec)
        return { {}, folder.string() + ": " + ec.message() };
    if (files.empty())
        return { {}, folder.string() + ": no line-up files (1.txt, 2.txt, ...)" };
    LineupLoad load;
    for (const auto& [number, path] : files) {
        const auto text = readWholeFile(path, MaxContentBytes);
        if (!text)
            return { {}, path.string() + ": cannot be read" };
        auto parsed = parseLineup(*text);
        if (!parsed.lineup)
            return { {}, path.string() + ": " + parsed.error };
        load.lineups.push_back(*parsed.lineup);
    }
    return load;
}

} // namespace vexor::server
