#include "cachedstore.h"

namespace vexor::server {

namespace {

// What an entry costs beside its texts: the map's node, the pointers.
constexpr std::size_t EntryOverhead = 128;

std::size_t bytesOf(const std::optional<std::string>& text)
{
    return text ? text->size() : 0;
}

std::size_t bytesOf(const std::optional<BannerFile>& file)
{
    return file ? file->type.size() + file->bytes.size() : 0;
}

std::size_t bytesOf(const std::vector<std::string>& texts)
{
    std::size_t total = 0;
    for (const auto& text : texts)
        total += sizeof(std::string) + text.size();
    return total;
}

std::size_t bytesOf(const std::vector<StoredLineup>& lineups)
{
    std::size_t total = 0;
    for (const auto& lineup : lineups)
        total += sizeof(StoredLineup) + lineup.name.size() + (lineup.clientId ? lineup.clientId->size() : 0);
    return total;
}

// Keys: one letter for the kind of read, then its argument.
std::string key(char kind, std::string_view argument)
{
    std::string text(1, kind);
    text += argument;
    return text;
}

} // namespace

CachedStore::CachedStore(Store& store, std::chrono::milliseconds ttl, std::size_t maxBytes, Clock clock)
    : m_store(store)
    , m_ttl(ttl)
    , m_maxBytes(maxBytes)
    , m_clock(clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); })
{
}

template <class T, class Load>
T CachedStore::cached(std::string key, Load load)
{
    std::uint64_t generation = 0;
    std::shared_ptr<const void> hit;
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_entries.find(key);
        if (it != m_entries.end() && m_clock() < it->second.expires)
            hit = it->second.value;
        generation = m_generation;
    }
    // Copied outside the lock: a banner is up to a megabyte.
    if (hit)
        return *std::static_pointer_cast<const T>(hit);
    // Read without the lock: a slow database holds up only this request.
    auto value = std::make_shared<const T>(load());
    const auto bytes = bytesOf(*value) + key.size() + EntryOverhead;
    keep(std::move(key), value, bytes, generation);
    return *value;
}

void CachedStore::keep(std::string key, std::shared_ptr<const void> value, std::size_t bytes, std::uint64_t generation)
{
    const std::lock_guard lock(m_mutex);
    if (generation != m_generation)
        return;
    const auto now = m_clock();
    if (const auto old = m_entries.find(key); old != m_entries.end()) {
        m_bytes -= old->second.bytes;
        m_entries.erase(old);
    }
    if (m_bytes + bytes > m_maxBytes) {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (it->second.expires <= now) {
                m_bytes -= it->second.bytes;
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (m_bytes + bytes > m_maxBytes)
        return;
    m_bytes += bytes;
    m_entries.emplace(std::move(key), Entry { std::move(value), now + m_ttl, bytes });
}

void CachedStore::invalidate()
{
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    m_entries.clear();
    m_bytes = 0;
}

template <class Write>
auto CachedStore::changing(Write write)
{
    // Also after a failure: a commit whose answer was lost may have landed.
    struct Invalidate {
        CachedStore& store;
        ~Invalidate() { store.invalidate(); }
    } guard { *this };
    return write();
}

std::vector<std::string> CachedStore::linkTargets(std::string_view bannerId)
{
    return cached<std::vector<std::string>>(key('t', bannerId), [&] { return m_store.linkTargets(bannerId); });
}

std::optional<BannerFile> CachedStore::bannerImage(std::string_view id)
{
    return cached<std::optional<BannerFile>>(key('i', id), [&] { return m_store.bannerImage(id); });
}

std::optional<std::string> CachedStore::bannerPage(std::string_view id)
{
    return cached<std::optional<std::string>>(key('p', id), [&] { return m_store.bannerPage(id); });
}

std::vector<StoredLineup> CachedStore::lineups()
{
    return cached<std::vector<StoredLineup>>(key('u', {}), [&] { return m_store.lineups(); });
}

std::optional<std::string> CachedStore::languageFile(std::string_view fileName)
{
    return cached<std::optional<std::string>>(key('f', fileName), [&] { return m_store.languageFile(fileName); });
}

std::optional<std::string> CachedStore::listFile(ListKind kind)
{
    return cached<std::optional<std::string>>(
        key(kind == ListKind::Languages ? 'l' : 'm', {}), [&] { return m_store.listFile(kind); });
}

std::optional<std::string> CachedStore::version()
{
    return cached<std::optional<std::string>>(key('v', {}), [&] { return m_store.version(); });
}

std::optional<std::string> CachedStore::webPage(std::string_view name)
{
    return cached<std::optional<std::string>>(key('w', name), [&] { return m_store.webPage(name); });
}

std::string CachedStore::addBanner(Banner banner)
{
    return changing([&] { return m_store.addBanner(std::move(banner)); });
}

void CachedStore::updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets)
{
    changing([&] { m_store.updateBanner(id, name, linkTargets); });
}

void CachedStore::retireBanner(std::string_view id, bool retired)
{
    changing([&] { m_store.retireBanner(id, retired); });
}

std::int64_t CachedStore::saveLineup(const StoredLineup& lineup)
{
    return changing([&] { return m_store.saveLineup(lineup); });
}

void CachedStore::deleteLineup(std::int64_t id)
{
    changing([&] { m_store.deleteLineup(id); });
}

void CachedStore::putLanguageFile(std::string_view fileName, std::string_view text)
{
    changing([&] { m_store.putLanguageFile(fileName, text); });
}

void CachedStore::putListFile(ListKind kind, std::string_view text)
{
    changing([&] { m_store.putListFile(kind, text); });
}

void CachedStore::setVersion(std::string_view text)
{
    changing([&] { m_store.setVersion(text); });
}

void CachedStore::putWebPage(std::string_view name, std::string_view html)
{
    changing([&] { m_store.putWebPage(name, html); });
}

} // namespace vexor::server
