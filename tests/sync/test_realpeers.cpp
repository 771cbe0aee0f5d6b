// Whole cycles against the kind of vendor stack clients meet: Apache running
// the query script as a CGI program (answers with and without Content-Length)
// and Squid asking for credentials in front of it, which keeps the connection
// open after every answer with a length.

#include "sync/downloadthread.h"

#include "fakemainthread.h"
#include "peers.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace vexor::sync {
namespace {

using namespace std::chrono_literals;
using namespace testkit;

const std::string Languages = "[Languages]\r\nEnglish=english.lng\r\n";
const std::string Modules = "[Modules]\r\nNotes=Notes\r\n";

std::array<std::string, 10> lineUpIds()
{
    std::array<std::string, 10> ids;
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = "AP000" + std::to_string(i);
    return ids;
}

class RealPeersCycle : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (!ApachePeer::available() || !SquidPeer::available())
            return;
        s_dir = std::make_unique<TempDir>();
        s_apache = std::make_unique<ApachePeer>(s_dir->path() + "apache");
        const auto content = s_apache->content();
        writeFile(content / "lang.ini", Languages);
        writeFile(content / "modl.ini", Modules);
        writeFile(content / "version.txt", "1.4");
        std::string lineUp;
        for (const std::string& id : lineUpIds()) {
            lineUp += id;
            writeFile(content / (id + ".gif"), "GIF89a " + id + std::string(3000, 'g'));
            writeFile(content / (id + ".htm"), "<html>" + id + "</html>");
        }
        writeFile(content / "lineup.txt", lineUp + "0007D0");
        s_squid = std::make_unique<SquidPeer>(s_dir->path() + "squid", "vexor", "pass word");
    }
    static void TearDownTestSuite()
    {
        s_squid.reset();
        s_apache.reset();
        s_dir.reset();
    }
    void SetUp() override
    {
        if (!s_apache)
            GTEST_SKIP() << "apache2, squid or apache2-utils is missing";
        ASSERT_TRUE(s_apache->ready()) << s_apache->diagnostics();
        ASSERT_TRUE(s_squid->ready()) << s_squid->diagnostics();
    }

    static std::unique_ptr<TempDir> s_dir;
    static std::unique_ptr<ApachePeer> s_apache;
    static std::unique_ptr<SquidPeer> s_squid;
};

std::unique_ptr<TempDir> RealPeersCycle::s_dir;
std::unique_ptr<ApachePeer> RealPeersCycle::s_apache;
std::unique_ptr<SquidPeer> RealPeersCycle::s_squid;

// The language name goes out percent-encoded and arrives as its own bytes.
TEST_F(RealPeersCycle, WholeCycleDirectAndThroughSquidWithAnyLanguageName)
{
    const struct {
        const char* what;
        bool proxied;
        std::string language;
    } rows[] = {
        {"direct", false, "English"},
        {"through Squid, a blank", true, "British English"},
        {"direct, bytes above 127", false, "Fran\xE7" "ais \xC3\xA9"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir folder{"app", {"Languages", "advs", "modules"}};
        vexor::Constants shared;
        InitializeConstants(shared, folder.path());
        shared.ServerHost = s_apache->host();
        shared.StartUps = 2;
        if (row.proxied)
            shared.SetProxy({"127.0.0.1", s_squid->port(), "vexor", "pass word"});
        FakeMainThread host(shared);
        host.language = row.language;
        const std::size_t before = s_apache->queries().size();
        {
            TDownloadThread thread(shared, host, 5s);
            host.attach(&thread);
            ASSERT_TRUE(host.runCycle());
            host.attach(nullptr);
        }
        EXPECT_EQ(host.finishes(), 1);
        EXPECT_EQ(shared.BannerIds, lineUpIds());
        EXPECT_EQ(shared.RotationInterval, 2000);
        EXPECT_EQ(folder.read("Languages/lang.ini"), Languages);
        EXPECT_EQ(folder.read("modules/modl.ini"), Modules);
        EXPECT_EQ(folder.read("advs/AP0009.gif"), "GIF89a AP0009" + std::string(3000, 'g'));
        EXPECT_EQ(folder.read("advs/9.htm"), "<html>AP0009</html>");
        const std::vector<std::string> queries = s_apache->queries();
        ASSERT_EQ(queries.size(), before + 24);
        EXPECT_EQ(queries[before], "A=LANGL\tMID=1\tMCID=1131\tMUID=1\tL=" + row.language + "\tSTARTUP=2");
        EXPECT_EQ(queries[before + 1], "A=VERSION\tMID=1\tMCID=1131\tMUID=1\tL=" + row.language);
    }
}

}  // namespace
}  // namespace vexor::sync
