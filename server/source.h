#pragma once

#include "content.h"
#include "lineup.h"
#include "store.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Where the query script's answers come from: a content folder (answers only,
// as the stand-in always did) or a store (answers and records what clients
// report). Both give the same bytes for the same content.
namespace vexor::server {

class ScriptSource {
public:
    virtual ~ScriptSource() = default;

    // The list files with CR LF line ends; the version text without trailing
    // line ends; language files with CR LF line ends.
    virtual std::optional<std::string> languageList() = 0;
    virtual std::optional<std::string> moduleList() = 0;
    virtual std::optional<std::string> version() = 0;
    virtual std::optional<std::string> languageFile(std::string_view fileName) = 0;
    virtual std::optional<BannerFile> bannerImage(std::string_view id) = 0;
    virtual std::optional<std::string> bannerPage(std::string_view id) = 0;
    virtual std::optional<std::string> webPage(std::string_view name) = 0;
    // The URLs /click may send a client to from this banner.
    virtual std::vector<std::string> linkTargets(std::string_view bannerId) = 0;
    // The line-up of this LCOUNT answer.
    virtual Lineup lineupFor(std::string_view clientId, UnixTime now) = 0;
    // Where reports are recorded; nothing when they are not.
    virtual Store* recorder() { return nullptr; }
};

// The content folder: files read when asked for, the line-ups in turn; link
// targets come from the banner's page. Records nothing.
class ContentSource : public ScriptSource {
public:
    ContentSource(const ContentStore& content, LineupRotation& rotation);

    std::optional<std::string> languageList() override { return m_content.languageIndex(); }
    std::optional<std::string> moduleList() override { return m_content.moduleList(); }
    std::optional<std::string> version() override { return m_content.version(); }
    std::optional<std::string> languageFile(std::string_view fileName) override;
    std::optional<BannerFile> bannerImage(std::string_view id) override;
    std::optional<std::string> bannerPage(std::string_view id) override { return m_content.bannerPage(id); }
    std::optional<std::string> webPage(std::string_view name) override { return m_content.webPage(name); }
    std::vector<std::string> linkTargets(std::string_view bannerId) override;
    Lineup lineupFor(std::string_view clientId, UnixTime now) override;

private:
    const ContentStore& m_content;
    LineupRotation& m_rotation;
};

// The store: answers what it holds and records every report. Store errors
// pass through (the script answers 503).
class StoreSource : public ScriptSource {
public:
    // `rotateEvery`: as --rotate-every, for the standing line-ups.
    StoreSource(Store& store, std::uint64_t rotateEvery);

    std::optional<std::string> languageList() override;
    std::optional<std::string> moduleList() override;
    std::optional<std::string> version() override;
    std::optional<std::string> languageFile(std::string_view fileName) override;
    std::optional<BannerFile> bannerImage(std::string_view id) override;
    std::optional<std::string> bannerPage(std::string_view id) override;
    std::optional<std::string> webPage(std::string_view name) override { return m_store.webPage(name); }
    std::vector<std::string> linkTargets(std::string_view bannerId) override;
    Lineup lineupFor(std::string_view clientId, UnixTime now) override;
    Store* recorder() override { return &m_store; }

private:
    Store& m_store;
    std::uint64_t m_rotateEvery;
    std::atomic<std::uint64_t> m_served { 0 };
};

} // namespace vexor::server
