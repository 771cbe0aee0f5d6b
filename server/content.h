#pragma once

#include "lineup.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The content folder the server answers from:
//   lang.ini              language index (LANGL)
//   languages/<file>      language files (LANGC)
//   modl.ini              module list (MODL)
//   version.txt           version text (VERSION)
//   lineups/<n>.txt       banner line-ups, n = 1, 2, ... (LCOUNT)
//   banners/<id>.gif      banner images (LOGO)
//   banners/<id>.htm      banner pages (HTML)
//   web/update.htm        the update page
//   web/faq.htm           the FAQ page
// Line-ups are read once, by loadLineups(); every other file is read when it
// is asked for, so a vendor can edit them while the server runs. Reading is
// thread-safe. No request can name a file outside the folder.
namespace vexor::server {

struct LineupLoad {
    std::vector<Lineup> lineups; // in the order of their numbers
    std::string error;           // empty on success, else "<file>: <what is wrong>"
};

class ContentStore {
public:
    explicit ContentStore(std::filesystem::path root);

    const std::filesystem::path& root() const { return m_root; }

    // The list files, with every line end made CR LF: the client accepts a
    // list only when its first line ends in CR, and editors may save LF.
    std::optional<std::string> languageIndex() const;
    std::optional<std::string> moduleList() const;
    // version.txt without trailing line ends: the client rejects a version
    // followed by a line break.
    std::optional<std::string> version() const;
    // A file of languages/, line ends made CR LF; nothing for a name that is
    // not a plain file name (isPlainFileName), is not there, or leads out of
    // languages/ through a link.
    std::optional<std::string> languageFile(std::string_view fileName) const;
    // Banner files by id; nothing for a malformed id (isBannerId) or a missing file.
    std::optional<std::string> bannerImage(std::string_view id) const;
    std::optional<std::string> bannerPage(std::string_view id) const;
    // web/<name> for the fixed names the server uses.
    std::optional<std::string> webPage(std::string_view name) const;

    // All lineups/<n>.txt, n a positive decimal number, ordered by n (gaps
    // allowed). An error when the folder holds none or one does not parse.
    LineupLoad loadLineups() const;

private:
    std::optional<std::string> fileInside(const std::filesystem::path& folder, std::string_view name) const;

    std::filesystem::path m_root;
};

// True for a name that can only mean a file directly in its folder: not empty,
// at most 255 bytes, no "/", "\", "..", control character or leading ".".
bool isPlainFileName(std::string_view name);

// Every CR LF, lone LF and lone CR becomes CR LF.
std::string toCrLf(std::string_view text);

// The whole file, or nothing when it is missing, not a regular file,
// unreadable or larger than `maxBytes`.
std::optional<std::string> readWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

} // namespace vexor::server
