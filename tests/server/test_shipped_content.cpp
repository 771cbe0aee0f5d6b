// Checks of the demo content that ships with the server: what a client built
// from this tree finds when it talks to the server.
#include "content.h"

#include "httpexchange.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace vexor::server {
namespace {

using test::readFile;
using test::shippedContent;

// Section name -> key -> value, for the plain files shipped here.
using IniKeys = std::map<std::string, std::map<std::string, std::string>>;

IniKeys readIni(const std::string& text)
{
    IniKeys keys;
    std::string section;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos)
            keys[section].emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return keys;
}

// Every key the client looks up, by section.
const std::map<std::string, std::set<std::string>> ClientKeys {
    { "Texts",
        { "MainCaption", "MainButton1", "LangMenu", "ModulMenu", "PreferMenu", "Version", "LDDownloadButton",
            "FPCaption", "FPLabel1", "FPLabel2", "FPLabel3", "FPButton1", "FPButton2", "AutoConnect", "Page1", "Page2",
            "LDCaption", "LDCancelButton", "LDFirstText", "LDOKButton", "LDSuccess" } },
    { "Errors", { "ModlNotInstaled", "ConnectionEstabilished", "ConnectionFailed", "ConnectionNoHost" } },
};

std::set<std::string> keysOf(const IniKeys& ini, const std::string& section)
{
    std::set<std::string> keys;
    if (const auto it = ini.find(section); it != ini.end())
        for (const auto& [key, value] : it->second)
            keys.insert(key);
    return keys;
}

bool allLinesEndCrLf(const std::string& text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return text.ends_with("\r\n");
}

TEST(ShippedContentTest, LanguageIndexListsEnglishAndGerman)
{
    const auto text = readFile(shippedContent() / "lang.ini");
    EXPECT_TRUE(text.starts_with("[Languages]\r\n"));
    EXPECT_TRUE(allLinesEndCrLf(text));
    const auto index = readIni(text);
    ASSERT_EQ(keysOf(index, "Languages"), (std::set<std::string> { "English", "Deutsch" }));
    for (const auto& [name, file] : index.at("Languages"))
        EXPECT_TRUE(fs::is_regular_file(shippedContent() / "languages" / file)) << name << " -> " << file;
}

TEST(ShippedContentTest, LanguageFilesHaveEveryKeyTranslated)
{
    const auto english = readIni(readFile(shippedContent() / "languages" / "english.lng"));
    const auto german = readIni(readFile(shippedContent() / "languages" / "deutsch.lng"));
    EXPECT_TRUE(allLinesEndCrLf(readFile(shippedContent() / "languages" / "deutsch.lng")));
    int translated = 0;
    for (const auto& [section, keys] : ClientKeys) {
        EXPECT_EQ(keysOf(english, section), keys) << section;
        EXPECT_EQ(keysOf(german, section), keys) << section;
        for (const auto& key : keys) {
            EXPECT_FALSE(german.at(section).at(key).empty()) << key;
            translated += german.at(section).at(key) != english.at(section).at(key);
        }
    }
    // Only words that read the same in both ("Vexor", "OK") may stay as they are.
    EXPECT_GE(translated, 22);
}

TEST(ShippedContentTest, EnglishMatchesTheClientsOwnFile)
{
    const auto client = fs::path(VEXOR_SOURCE_DIR) / "data" / "stage" / "Languages" / "english.lng";
    if (!fs::exists(client))
        GTEST_SKIP() << "the client's English file is not in this tree";
    const auto mine = readIni(readFile(shippedContent() / "languages" / "english.lng"));
    const auto theirs = readIni(readFile(client));
    for (const char* section : { "Texts", "Errors" })
        EXPECT_EQ(keysOf(mine, section), keysOf(theirs, section)) << section;
}

TEST(ShippedContentTest, GermanIsOfferedButNotInstalledWithTheClient)
{
    const auto clientIndex = fs::path(VEXOR_SOURCE_DIR) / "data" / "stage" / "Languages" / "lang.ini";
    if (!fs::exists(clientIndex))
        GTEST_SKIP() << "the client's language index is not in this tree";
    EXPECT_EQ(keysOf(readIni(readFile(clientIndex)), "Languages").count("Deutsch"), 0u);
    EXPECT_FALSE(fs::exists(clientIndex.parent_path() / "deutsch.lng"));
}

TEST(ShippedContentTest, ModuleListNamesTheSampleModulesAndOneMore)
{
    const auto text = readFile(shippedContent() / "modl.ini");
    EXPECT_TRUE(text.starts_with("[Modules]\r\n"));
    EXPECT_TRUE(allLinesEndCrLf(text));
    std::set<std::string> names;
    auto ini = readIni(text);
    for (const auto& [key, name] : ini["Modules"])
        names.insert(name);
    EXPECT_TRUE(names.count("Notes"));
    EXPECT_TRUE(names.count("Clock"));
    EXPECT_GE(names.size(), 3u) << "one module that is not installed";
}

TEST(ShippedContentTest, VersionIsExactly13)
{
    EXPECT_EQ(readFile(shippedContent() / "version.txt"), "1.3");
}

// The few facts of a GIF the tests need.
struct GifInfo {
    bool valid = false;
    int width = 0;
    int height = 0;
    int frames = 0;
};

// Walks the blocks of a GIF (header, screen descriptor, colour table,
// extensions and images up to the trailer).
GifInfo inspectGif(const std::string& data)
{
    GifInfo info;
    const auto byte = [&](std::size_t i) { return i < data.size() ? static_cast<unsigned char>(data[i]) : 0u; };
    if (!data.starts_with("GIF89a") && !data.starts_with("GIF87a"))
        return info;
    info.width = static_cast<int>(byte(6) | byte(7) << 8);
    info.height = static_cast<int>(byte(8) | byte(9) << 8);
    std::size_t pos = 13;
    if (byte(10) & 0x80)
        pos += 3u << ((byte(10) & 7) + 1);
    const auto skipSubBlocks = [&] {
        while (pos < data.size() && byte(pos) != 0)
            pos += byte(pos) + 1u;
        ++pos;
    };
    while (pos < data.size()) {
        const auto kind = byte(pos);
        if (kind == 0x3B) {
            info.valid = true;
            return info;
        }
        if (kind == 0x21) {
            pos += 2;
            skipSubBlocks();
        } else if (kind == 0x2C) {
            ++info.frames;
            const auto flags = byte(pos + 9);
            pos += 10;
            if (flags & 0x80)
                pos += 3u << ((flags & 7) + 1);
            ++pos; // LZW minimum code size
            skipSubBlocks();
        } else {
            return info;
        }
    }
    return info;
}

TEST(ShippedContentTest, LineupsNameBannersThatExistAndFitThePane)
{
    const ContentStore content(shippedContent());
    const auto load = content.loadLineups();
    ASSERT_TRUE(load.error.empty()) << load.error;
    ASSERT_GE(load.lineups.size(), 2u);
    std::set<std::string> banners;
    for (const auto& lineup : load.lineups)
        for (const auto& id : lineup.ids)
            if (id != EmptySlotId)
                banners.insert(id);
    EXPECT_GE(banners.size(), 6u);
    int animated = 0;
    for (const auto& id : banners) {
        const auto image = content.bannerImage(id);
        const auto page = content.bannerPage(id);
        ASSERT_TRUE(image && page) << id;
        const auto gif = inspectGif(*image);
        EXPECT_TRUE(gif.valid) << id;
        EXPECT_EQ(gif.width, 124) << id;
        EXPECT_EQ(gif.height, 94) << id;
        EXPECT_LT(image->size(), 16u * 1024) << id;
        animated += gif.frames >= 3;
        // The client stores the image as advs/<id>.gif beside the page.
        EXPECT_NE(page->find("src=\"" + id + ".gif\""), std::string::npos) << id;
        EXPECT_NE(page->find("margin:0"), std::string::npos) << id;
    }
    EXPECT_GE(animated, 2);
}

TEST(ShippedContentTest, InspectGifRejectsBrokenFiles)
{
    const auto good = readFile(shippedContent() / "banners" / "100003.gif");
    EXPECT_TRUE(inspectGif(good).valid);
    EXPECT_FALSE(inspectGif(good.substr(0, good.size() / 2)).valid);
    EXPECT_FALSE(inspectGif("GIF89a").valid);
    EXPECT_FALSE(inspectGif("PNG").valid);
}

} // namespace
} // namespace vexor::server
