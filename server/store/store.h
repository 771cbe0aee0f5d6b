#pragma once

#include "lineup.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// What the vendor's server keeps: the content it answers with (banners,
// line-ups, lists, languages, version, web pages), what the clients report
// (start-ups, installations, version checks, displays, clicks, rejected
// reports) and the console's users and sessions.
//
// One interface, one implementation per database (SQLite: a file;
// PostgreSQL: a connection string). Every call is safe from any number of
// threads; every write is one transaction, so a crash loses at most the call
// in flight. Times are seconds since the epoch, UTC; a day is "YYYY-MM-DD" in
// UTC. Errors of the database itself (a lost connection, a full disk) raise
// StoreError; a value that breaks a rule of the store (an unknown banner in a
// line-up, a retired banner, a duplicate name) raises StoreRejected with a
// text fit to show beside the form field.
namespace vexor::server {

class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The database is not reachable right now (PostgreSQL away, SQLite busy past
// its wait): the query script answers 503 and the client retries at its next
// cycle.
class StoreUnavailable : public StoreError {
public:
    using StoreError::StoreError;
};

class StoreRejected : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using UnixTime = std::int64_t;

struct Banner {
    std::string id;                       // six ASCII letters or digits, unique
    std::string name;
    std::string imageType;                // "image/gif", "image/png" or "image/jpeg"
    std::string image;                    // the bytes LOGO answers
    std::string page;                     // the bytes HTML answers
    std::vector<std::string> linkTargets; // the URLs /click may redirect to
    bool retired = false;
    UnixTime created = 0;
};

// What LOGO answers: the image and its type.
struct BannerFile {
    std::string type;
    std::string bytes;
};

// A banner without its bytes, for lists.
struct BannerInfo {
    std::string id;
    std::string name;
    std::string imageType;
    std::size_t imageBytes = 0;
    std::size_t pageBytes = 0;
    std::vector<std::string> linkTargets;
    bool retired = false;
    UnixTime created = 0;
};

// A line-up as the vendor plans it. One with neither period nor client
// filter is a standing line-up: the default when no planned one is in force
// (the first by position, or in turn with --rotate-every). A planned one is in
// force while validFrom <= now < validUntil (an open end never ends) and,
// with a client filter, only for that client id.
struct StoredLineup {
    std::int64_t id = 0; // given by the store; 0 for a new one
    std::string name;
    Lineup lineup;
    std::optional<UnixTime> validFrom;
    std::optional<UnixTime> validUntil;
    std::optional<std::string> clientId;
    UnixTime created = 0;

    bool standing() const { return !validFrom && !validUntil && !clientId; }
};

struct ModuleEntry {
    std::string key;  // the part before "=" in modl.ini
    std::string name; // the module's name
};

// The two list files the client downloads: lang.ini (LANGL) and modl.ini (MODL).
enum class ListKind { Languages, Modules };

struct LanguageEntry {
    std::string name;     // the name shown in the client ("English")
    std::string fileName; // the language file ("english.lng")
};

// One LCOUNT report, already checked: ten slots, each an id and a count.
struct DisplayReport {
    std::array<std::string, SlotCount> ids;
    std::array<std::uint32_t, SlotCount> counts {};
};

enum class ClientEvent { Startup, Install, VersionCheck };

// Totals of one UTC day.
struct DayTotals {
    std::string day;
    std::int64_t displays = 0;
    std::int64_t clicks = 0;
    std::int64_t startups = 0;
    std::int64_t installs = 0;
    std::int64_t clients = 0; // distinct client ids that reported anything
};

// One banner on one UTC day.
struct BannerDay {
    std::string day;
    std::string bannerId;
    std::int64_t displays = 0;
    std::int64_t clicks = 0;
};

struct ConsoleSession {
    std::string token;     // the cookie's value
    std::string user;
    std::string csrfToken; // what every changing form must carry
    UnixTime expires = 0;
};

class Store {
public:
    virtual ~Store() = default;

    // Content.
    virtual std::vector<BannerInfo> banners() = 0;
    virtual std::optional<Banner> banner(std::string_view id) = 0;
    // Adds a banner; an empty id gets a new unique one. Returns the id.
    virtual std::string addBanner(Banner banner) = 0;
    virtual void updateBanner(std::string_view id, const std::string& name, const std::vector<std::string>& linkTargets) = 0;
    virtual void retireBanner(std::string_view id, bool retired) = 0;
    // What the query script and /click need of one banner, without the rest;
    // nothing (or no targets) for an unknown id.
    virtual std::vector<std::string> linkTargets(std::string_view bannerId) = 0;
    virtual std::optional<BannerFile> bannerImage(std::string_view id) = 0;
    virtual std::optional<std::string> bannerPage(std::string_view id) = 0;

    virtual std::vector<StoredLineup> lineups() = 0; // standing ones first, by id
    // Adds (id 0) or replaces a line-up; every non-empty slot must name a
    // banner that exists and, for a new or changed slot, is not retired.
    virtual std::int64_t saveLineup(const StoredLineup& lineup) = 0;
    virtual void deleteLineup(std::int64_t id) = 0;

    // The entries of the list files, read and written through listFile and
    // putListFile, so every store and the cache in front of one share them.
    std::vector<LanguageEntry> languages();
    void setLanguages(const std::vector<LanguageEntry>& list);
    virtual std::optional<std::string> languageFile(std::string_view fileName) = 0;
    virtual void putLanguageFile(std::string_view fileName, std::string_view text) = 0;

    std::vector<ModuleEntry> modules();
    void setModules(const std::vector<ModuleEntry>& list);
    // The list files as LANGL and MODL answer them. setLanguages and
    // setModules write the header and one "key=value" line per entry with CR
    // LF; putListFile keeps a file's text as it is (the import), and
    // languages() and modules() read the entries of either.
    virtual std::optional<std::string> listFile(ListKind kind) = 0;
    virtual void putListFile(ListKind kind, std::string_view text) = 0;

    virtual std::optional<std::string> version() = 0;
    virtual void setVersion(std::string_view text) = 0;

    // Web pages by their fixed names ("update.htm", "faq.htm").
    virtual std::optional<std::string> webPage(std::string_view name) = 0;
    virtual void putWebPage(std::string_view name, std::string_view html) = 0;

    // Reports. `day` is the UTC day the request arrived.
    virtual void recordEvent(ClientEvent event, std::string_view clientId, std::string_view day, std::int64_t count) = 0;
    // Adds every slot's count to its banner's row of the day, in one
    // transaction; an empty slot or a count of 0 adds nothing.
    virtual void recordDisplays(const DisplayReport& report, std::string_view clientId, std::string_view day) = 0;
    virtual void recordClick(std::string_view bannerId, std::string_view day) = 0;
    virtual void recordRejected(std::string_view clientId, std::string_view day, std::string_view reason) = 0;

    // Statistics, days inclusive.
    virtual std::vector<DayTotals> dayTotals(std::string_view from, std::string_view to) = 0;
    // Banner and day rows with anything counted; an empty id: every banner.
    virtual std::vector<BannerDay> bannerDays(std::string_view from, std::string_view to, std::string_view bannerId) = 0;
    virtual std::int64_t rejectedReports(std::string_view from, std::string_view to) = 0;
    // Client ids that reported anything on any day of the period, each once.
    virtual std::int64_t distinctClients(std::string_view from, std::string_view to) = 0;

    // Console users: the Argon2id hash text of crypto_pwhash_str.
    virtual void setUser(std::string_view user, std::string_view passwordHash) = 0;
    virtual std::optional<std::string> passwordHash(std::string_view user) = 0;
    virtual bool hasUsers() = 0;
    // Failed logins: counts within the lock-out window.
    virtual void recordFailedLogin(std::string_view user, UnixTime now) = 0;
    virtual int failedLoginsSince(std::string_view user, UnixTime since) = 0;
    virtual void clearFailedLogins(std::string_view user) = 0;

    virtual void saveSession(const ConsoleSession& session) = 0;
    virtual std::optional<ConsoleSession> session(std::string_view token, UnixTime now) = 0;
    virtual void deleteSession(std::string_view token) = 0;
    // Drops the sessions expired by `now` and the failed logins before
    // `failuresBefore`, which no lock-out counts any more: without it a
    // stream of wrong logins would grow the store without end.
    virtual void forgetLogins(UnixTime now, UnixTime failuresBefore) = 0;
};

// Opens the store named by `location`: a "postgresql://" or "postgres://"
// URL is a PostgreSQL connection string, anything else a SQLite file path
// (created with the schema when missing). Migrates an older schema. Raises
// StoreError with a one-line reason when it cannot.
std::unique_ptr<Store> openStore(const std::string& location);

} // namespace vexor::server
