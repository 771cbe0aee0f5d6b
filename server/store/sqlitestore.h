#pragma once

#include "sqlitedb.h"
#include "store.h"

// The Store in one SQLite file (WAL mode, with its "-wal" and "-shm" files
// beside it). Every call takes a connection from a pool, so that readers run
// side by side and only writers wait for each other.
namespace vexor::server {

class SqliteStore : public Store {
public:
    // Opens or creates `path` and brings its schema up to date; raises
    // StoreError with the reason when it cannot.
    explicit SqliteStore(const std::string& path);

    std::vector<BannerInfo> banners() override;
    std::optional<Banner> banner(std::string_view id) override;
    std::string addBanner(Banner banner) override;
    void updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets) override;
    void retireBanner(std::string_view id, bool retired) override;
    std::vector<std::string> linkTargets(std::string_view bannerId) override;
    std::optional<BannerFile> bannerImage(std::string_view id) override;
    std::optional<std::string> bannerPage(std::string_view id) override;

    std::vector<StoredLineup> lineups() override;
    std::int64_t saveLineup(const StoredLineup& lineup) override;
    void deleteLineup(std::int64_t id) override;

    std::optional<std::string> languageFile(std::string_view fileName) override;
    void putLanguageFile(std::string_view fileName, std::string_view text) override;
    std::optional<std::string> listFile(ListKind kind) override;
    void putListFile(ListKind kind, std::string_view text) override;

    std::optional<std::string> version() override;
    void setVersion(std::string_view text) override;
    std::optional<std::string> webPage(std::string_view name) override;
    void putWebPage(std::string_view name, std::string_view html) override;

    void recordEvent(ClientEvent event, std::string_view clientId, std::string_view day, std::int64_t count) override;
    void recordDisplays(const DisplayReport& report, std::string_view clientId, std::string_view day) override;
    void recordClick(std::string_view bannerId, std::string_view day) override;
    void recordRejected(std::string_view clientId, std::string_view day, std::string_view reason) override;

    std::vector<DayTotals> dayTotals(std::string_view from, std::string_view to) override;
    std::vector<BannerDay> bannerDays(std::string_view from, std::string_view to, std::string_view bannerId) override;
    std::int64_t rejectedReports(std::string_view from, std::string_view to) override;
    std::int64_t distinctClients(std::string_view from, std::string_view to) override;

    void setUser(std::string_view user, std::string_view passwordHash) override;
    std::optional<std::string> passwordHash(std::string_view user) override;
    bool hasUsers() override;
    void recordFailedLogin(std::string_view user, UnixTime now) override;
    int failedLoginsSince(std::string_view user, UnixTime since) override;
    void clearFailedLogins(std::string_view user) override;

    void saveSession(const ConsoleSession& session) override;
    std::optional<ConsoleSession> session(std::string_view token, UnixTime now) override;
    void deleteSession(std::string_view token) override;
    void forgetLogins(UnixTime now, UnixTime failuresBefore) override;

private:
    void migrate();
    // One value of a table keyed by name (texts, web pages, files).
    std::optional<std::string> namedBytes(const char* sql, std::string_view name);
    void putNamedBytes(const char* sql, std::string_view name, std::string_view bytes);
    void checkLineupSlots(sqlite::Connection& db, const StoredLineup& lineup);

    sqlite::Pool m_pool;
};

} // namespace vexor::server
