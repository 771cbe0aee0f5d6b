#include "modules/core/pluginlibrary.h"

#include "modulestestsupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace vexor::modules {
namespace {

using testing::ModuleProgram;
using Lines = std::vector<std::string>;

TEST(ShortString, KeepsUpTo255BytesAndCutsTheRest)
{
    struct Row {
        std::string text;
        std::size_t length;
    };
    const Row rows[] = {
        {"", 0},
        {"1131", 4},
        {std::string(255, 'a'), 255},
        {std::string(256, 'b'), 255},
        {std::string(100000, 'c'), 255},
        {std::string("\xC3\xA9\xFF\x80", 4), 4},
        {std::string("a\0b", 3), 3},
    };
    for (const Row& row : rows) {
        const ShortString255 value = MakeShortString(row.text);
        EXPECT_EQ(value.length, row.length) << row.text.size();
        EXPECT_EQ(ShortStringText(value), row.text.substr(0, row.length));
    }
    static_assert(sizeof(ShortString255) == 256, "a length byte and 255 bytes of text");
}

// A host handle that records what modules post.
struct FakeHost {
    VexorHost host{};
    std::vector<std::uint32_t> posted;
    std::int32_t lastId = 0;

    FakeHost()
    {
        host.interface_version = VEXOR_MODULE_INTERFACE_VERSION;
        host.host_context = this;
        host.post_message = [](const VexorHost* h, std::uint32_t message, std::intptr_t, std::intptr_t) {
            static_cast<FakeHost*>(h->host_context)->posted.push_back(message);
            return std::int32_t{1};
        };
        host.next_window_id = [](const VexorHost* h) { return ++static_cast<FakeHost*>(h->host_context)->lastId; };
    }
};

class PluginCalls : public ::testing::Test {
protected:
    platform::LibraryHandle load(const std::string& fixture, std::string* error = nullptr)
    {
        return platform::loadLibrary(testing::fixtureDir() + "/" + fixture + ".mdl", error);
    }

    ModuleProgram m_program;
    FakeHost m_host;
};

TEST_F(PluginCalls, DajOknoGetsItsFiveArgumentsAndProxyValuesAreCutTo255Bytes)
{
    platform::LibraryHandle library = load("Recorder");
    ASSERT_NE(library, nullptr);
    const ModuleEntries entries = LookUpEntries(library);
    ASSERT_NE(entries.DajOkno, nullptr);
    ASSERT_NE(entries.SetProxyParameters, nullptr);
    ASSERT_NE(entries.ZavriOkno, nullptr);

    VexorModuleWindow* window = CallDajOkno(entries.DajOkno, &m_host.host, "/prog/", "1131", "77", true);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ModuleWindowHandle(window), 1);
    ProxySettings proxy;
    proxy.ProxyName = std::string(300, 'h');
    proxy.ProxyUser = "user";
    proxy.ProxyPass = std::string(255, 'p');
    proxy.ProxyPort = 3128;
    CallSetProxyParameters(entries.SetProxyParameters, proxy);
    ShowModuleWindow(window);
    CloseModuleWindow(window);
    DestroyModuleWindow(window);
    entries.ZavriOkno();
    platform::freeLibrary(library);

    EXPECT_EQ(m_program.calls(),
              (Lines{"Recorder load", "Recorder DajOkno version=1 appDir=/prog/ client=4:1131 user=2:77 auto=1",
                     "Recorder SetProxyParameters name=255:" + std::string(255, 'h') +
                         " user=4:user pass=255:" + std::string(255, 'p') + " port=3128",
                     "Recorder show 1", "Recorder close 1", "Recorder destroy 1", "Recorder ZavriOkno",
                     "Recorder unload"}));
}

TEST_F(PluginCalls, EachMissingExportIsLeftOutAlone)
{
    struct Row {
        const char* fixture;
        bool dajOkno, setProxy, zavriOkno;
    };
    for (const Row& row : {Row{"NoDajOkno", false, true, true}, Row{"NoSetProxy", true, false, true},
                           Row{"NoZavriOkno", true, true, false}}) {
        platform::LibraryHandle library = load(row.fixture);
        ASSERT_NE(library, nullptr) << row.fixture;
        const ModuleEntries entries = LookUpEntries(library);
        EXPECT_EQ(entries.DajOkno != nullptr, row.dajOkno) << row.fixture;
        EXPECT_EQ(entries.SetProxyParameters != nullptr, row.setProxy) << row.fixture;
        EXPECT_EQ(entries.ZavriOkno != nullptr, row.zavriOkno) << row.fixture;
        // Calls through absent entries do nothing.
        EXPECT_EQ(CallDajOkno(nullptr, &m_host.host, "/", "", "", false), nullptr);
        CallSetProxyParameters(nullptr, ProxySettings{});
        platform::freeLibrary(library);
    }
    EXPECT_EQ(LookUpEntries(nullptr).DajOkno, nullptr);
}

TEST_F(PluginCalls, LibrariesThatCannotLoadGiveAReason)
{
    std::string error;
    EXPECT_EQ(load("Unresolved", &error), nullptr);
    EXPECT_NE(error.find("vexor_fixture_symbol_that_nobody_defines"), std::string::npos) << error;

    const std::string text = m_program.dir() + "Text.mdl";
    testing::writeFile(text, "this is not a library\n");
    error.clear();
    EXPECT_EQ(platform::loadLibrary(text, &error), nullptr);
    EXPECT_FALSE(error.empty());

    error.clear();
    EXPECT_EQ(platform::loadLibrary(m_program.dir() + "Missing.mdl", &error), nullptr);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(m_program.calls().empty()) << "no constructor of a failed library ran";
}

}  // namespace
}  // namespace vexor::modules
