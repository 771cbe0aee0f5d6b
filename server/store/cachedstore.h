#pragma once

#include "store.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vexor::server {

// A store in front of another that keeps, for a short time, what the query
// script reads on every cycle: banner images, pages and link targets, the
// list files, language files, the version, web pages and the line-ups. A
// client cycle reads twenty banner files and the line-ups; without this each
// is a round trip to the database.
//
// An entry lives `ttl` after it was read, then the next call reads again; so
// a change another server makes is seen here within `ttl`. A content write
// through this object (what the console and the import do) empties the cache
// at once, also when it fails (it may have reached the database). Reports,
// statistics, users and sessions pass straight through and are never kept.
// At most `maxBytes` of keys and values are kept: a value that would exceed
// it is answered but not kept. Safe from any number of threads; `store` must
// outlive this object.
class CachedStore : public Store {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds DefaultTtl { 2000 };
    // Room for the banners of a few line-ups (a banner is at most 1 MiB +
    // 64 KiB) beside the lists and language files.
    static constexpr std::size_t DefaultMaxBytes = std::size_t { 64 } << 20;

    CachedStore(Store& store, std::chrono::milliseconds ttl = DefaultTtl, std::size_t maxBytes = DefaultMaxBytes,
        Clock clock = {});

    // Cached reads.
    std::vector<std::string> linkTargets(std::string_view bannerId) override;
    std::optional<BannerFile> bannerImage(std::string_view id) override;
    std::optional<std::string> bannerPage(std::string_view id) override;
    std::vector<StoredLineup> lineups() override;
    std::optional<std::string> languageFile(std::string_view fileName) override;
    std::optional<std::string> listFile(ListKind kind) override;
    std::optional<std::string> version() override;
    std::optional<std::string> webPage(std::string_view name) override;

    // Content writes: passed on, then the cache is emptied.
    std::string addBanner(Banner banner) override;
    void updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets) override;
    void retireBanner(std::string_view id, bool retired) override;
    std::int64_t saveLineup(const StoredLineup& lineup) override;
    void deleteLineup(std::int64_t id) override;
    void putLanguageFile(std::string_view fileName, std::string_view text) override;
    void putListFile(ListKind kind, std::string_view text) override;
    void setVersion(std::string_view text) override;
    void putWebPage(std::string_view name, std::string_view html) override;

    // Passed straight through.
    std::vector<BannerInfo> banners() override { return m_store.banners(); }
    std::optional<Banner> banner(std::string_view id) override { return m_store.banner(id); }
    void recordEvent(ClientEvent event, std::string_view clientId, std::string_view day, std::int64_t count) override
    {
        m_store.recordEvent(event, clientId, day, count);
    }
    void recordDisplays(const DisplayReport& report, std::string_view clientId, std::string_view day) override
    {
        m_store.recordDisplays(report, clientId, day);
    }
    void recordClick(std::string_view bannerId, std::string_view day) override { m_store.recordClick(bannerId, day); }
    void recordRejected(std::string_view clientId, std::string_view day, std::string_view reason) override
    {
        m_store.recordRejected(clientId, day, reason);
    }
    std::vector<DayTotals> dayTotals(std::string_view from, std::string_view to) override
    {
        return m_store.dayTotals(from, to);
    }
    std::vector<BannerDay> bannerDays(std::string_view from, std::string_view to, std::string_view bannerId) override
    {
        return m_store.bannerDays(from, to, bannerId);
    }
    std::int64_t rejectedReports(std::string_view from, std::string_view to) override
    {
        return m_store.rejectedReports(from, to);
    }
    std::int64_t distinctClients(std::string_view from, std::string_view to) override
    {
        return m_store.distinctClients(from, to);
    }
    void setUser(std::string_view user, std::string_view hash) override { m_store.setUser(user, hash); }
    std::optional<std::string> passwordHash(std::string_view user) override { return m_store.passwordHash(user); }
    bool hasUsers() override { return m_store.hasUsers(); }
    void recordFailedLogin(std::string_view user, UnixTime now) override { m_store.recordFailedLogin(user, now); }
    int failedLoginsSince(std::string_view user, UnixTime since) override
    {
        return m_store.failedLoginsSince(user, since);
    }
    void clearFailedLogins(std::string_view user) override { m_store.clearFailedLogins(user); }
    void saveSession(const ConsoleSession& session) override { m_store.saveSession(session); }
    std::optional<ConsoleSession> session(std::string_view token, UnixTime now) override
    {
        return m_store.session(token, now);
    }
    void deleteSession(std::string_view token) override { m_store.deleteSession(token); }
    void forgetLogins(UnixTime now, UnixTime failuresBefore) override { m_store.forgetLogins(now, failuresBefore); }

private:
    struct Entry {
        std::shared_ptr<const void> value;
        std::chrono::steady_clock::time_point expires;
        std::size_t bytes = 0;
    };

    template <class T, class Load>
    T cached(std::string key, Load load);
    template <class Write>
    auto changing(Write write);
    void keep(std::string key, std::shared_ptr<const void> value, std::size_t bytes, std::uint64_t generation);
    void invalidate();

    Store& m_store;
    const std::chrono::milliseconds m_ttl;
    const std::size_t m_maxBytes;
    const Clock m_clock;
    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
    std::size_t m_bytes = 0;
    // Counts the writes: a value read before a write is not kept after it.
    std::uint64_t m_generation = 0;
};

} // namespace vexor::server
