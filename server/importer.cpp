#include "importer.h"

#include "reports.h"

#include <filesystem>
#include <map>
#include <set>
#include <vector>

namespace fs = std::filesystem;

namespace vexor::server {

namespace {

// Banner ids with both files, sorted.
std::set<std::string> bannerIds(const fs::path& folder)
{
    std::map<std::string, int> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto ext = it->path().extension().string();
        const auto id = it->path().stem().string();
        if (isBannerId(id) && id != EmptySlotId && (ext == ".gif" || ext == ".htm"))
            files[id] |= ext == ".gif" ? 1 : 2;
    }
    std::set<std::string> ids;
    for (const auto& [id, found] : files) {
        if (found == 3)
            ids.insert(id);
    }
    return ids;
}

std::vector<std::string> languageFileNames(const fs::path& folder)
{
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const auto name = it->path().filename().string();
        if (isPlainFileName(name))
            names.insert(name);
    }
    return { names.begin(), names.end() };
}

// The banners with both files, read whole: the line-ups are checked against
// them before anything is written.
std::vector<Banner> readBanners(const ContentStore& content)
{
    std::vector<Banner> banners;
    for (const auto& id : bannerIds(content.root() / "banners")) {
        auto image = content.bannerImage(id);
        auto page = content.bannerPage(id);
        if (!image || !page)
            continue;
        Banner banner;
        banner.id = id;
        banner.name = pageTitle(*page);
        if (banner.name.empty())
            banner.name = id;
        banner.imageType = "image/gif";
        banner.linkTargets = clickTargets(*page, id);
        banner.image = std::move(*image);
        banner.page = std::move(*page);
        banners.push_back(std::move(banner));
    }
    return banners;
}

// The first slot of a line-up that names no banner of `banners`, as the
// store words it; empty when there is none.
std::string missingBanner(const std::vector<Banner>& banners, const std::vector<Lineup>& lineups)
{
    std::set<std::string> ids;
    for (const auto& banner : banners)
        ids.insert(banner.id);
    for (std::size_t n = 0; n < lineups.size(); ++n) {
        for (std::size_t slot = 0; slot < lineups[n].ids.size(); ++slot) {
            const auto& id = lineups[n].ids[slot];
            if (id != EmptySlotId && !ids.contains(id))
                return "line-up " + std::to_string(n + 1) + ": slot " + std::to_string(slot) + ": no banner " + id;
        }
    }
    return {};
}

} // namespace

ImportResult importContent(const ContentStore& content, Store& store)
{
    ImportResult result;
    if (!store.banners().empty() || !store.lineups().empty())
        return { "the store holds banners or line-ups already; import into a new file" };
    auto load = content.loadLineups();
    if (!load.error.empty())
        return { load.error };
    // Everything that can be wrong with the content is found before the
    // first write: a PostgreSQL store is not removed again like a new file.
    auto banners = readBanners(content);
    if (const auto missing = missingBanner(banners, load.lineups); !missing.empty())
        return { missing + " (banners/<id>.gif and .htm)" };
    if (const auto list = content.languageIndex())
        store.putListFile(ListKind::Languages, *list);
    if (const auto list = content.moduleList())
        store.putListFile(ListKind::Modules, *list);
    if (const auto version = content.version())
        store.setVersion(*version);
    for (const auto& name : languageFileNames(content.root() / "languages")) {
        if (const auto text = content.languageFile(name)) {
            store.putLanguageFile(name, *text);
            ++result.languageFiles;
        }
    }
    for (const char* page : { "update.htm", "faq.htm" }) {
        if (const auto html = content.webPage(page))
            store.putWebPage(page, *html);
    }
    for (auto& banner : banners) {
        store.addBanner(std::move(banner));
        ++result.banners;
    }
    for (std::size_t n = 0; n < load.lineups.size(); ++n) {
        StoredLineup lineup;
        lineup.name = "line-up " + std::to_string(n + 1);
        lineup.lineup = load.lineups[n];
        try {
            store.saveLineup(lineup);
        } catch (const StoreRejected& e) {
            return { "line-up " + std::to_string(n + 1) + ": " + e.what() + " (banners/<id>.gif and .htm)" };
        }
        ++result.lineups;
    }
    return result;
}

} // namespace vexor::server
