#include "source.h"

#include "lineupchoice.h"
#include "reports.h"

namespace vexor::server {

namespace {

std::optional<std::string> crLf(std::optional<std::string> text)
{
    if (!text)
        return std::nullopt;
    return toCrLf(*text);
}

} // namespace

ContentSource::ContentSource(const ContentStore& content, LineupRotation& rotation)
    : m_content(content)
    , m_rotation(rotation)
{
}

std::optional<std::string> ContentSource::languageFile(std::string_view fileName)
{
    return m_content.languageFile(fileName);
}

std::optional<BannerFile> ContentSource::bannerImage(std::string_view id)
{
    auto bytes = m_content.bannerImage(id);
    if (!bytes)
        return std::nullopt;
    return BannerFile { "image/gif", std::move(*bytes) };
}

std::vector<std::string> ContentSource::linkTargets(std::string_view bannerId)
{
    const auto page = m_content.bannerPage(bannerId);
    return page ? clickTargets(*page, bannerId) : std::vector<std::string> {};
}

Lineup ContentSource::lineupFor(std::string_view, UnixTime)
{
    return m_rotation.next();
}

StoreSource::StoreSource(Store& store, std::uint64_t rotateEvery)
    : m_store(store)
    , m_rotateEvery(rotateEvery)
{
}

std::optional<std::string> StoreSource::languageList()
{
    return crLf(m_store.listFile(ListKind::Languages));
}

std::optional<std::string> StoreSource::moduleList()
{
    return crLf(m_store.listFile(ListKind::Modules));
}

std::optional<std::string> StoreSource::version()
{
    auto text = m_store.version();
    // As from version.txt: the client rejects a version followed by a line break.
    while (text && !text->empty() && (text->back() == '\n' || text->back() == '\r'))
        text->pop_back();
    return text;
}

std::optional<std::string> StoreSource::languageFile(std::string_view fileName)
{
    if (!isPlainFileName(fileName))
        return std::nullopt;
    return crLf(m_store.languageFile(fileName));
}

std::optional<BannerFile> StoreSource::bannerImage(std::string_view id)
{
    if (!isBannerId(id))
        return std::nullopt;
    return m_store.bannerImage(id);
}

std::optional<std::string> StoreSource::bannerPage(std::string_view id)
{
    if (!isBannerId(id))
        return std::nullopt;
    return m_store.bannerPage(id);
}

std::vector<std::string> StoreSource::linkTargets(std::string_view bannerId)
{
    if (!isBannerId(bannerId))
        return {};
    return m_store.linkTargets(bannerId);
}

Lineup StoreSource::lineupFor(std::string_view clientId, UnixTime now)
{
    const auto served = m_served.fetch_add(1, std::memory_order_relaxed);
    return chooseLineup(m_store.lineups(), now, clientId, served, m_rotateEvery);
}

} // namespace vexor::server
