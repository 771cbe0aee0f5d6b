// Whole cycles against the stand-in vendor server (vexor-server) as a separate
// process, checked from the server's own request log.
#include "net/tlssessions.h"
#include "sync/downloadthread.h"

#include "fakemainthread.h"
#include "scopedenv.h"
#include "tempdir.h"
#include "vendorserver.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vexor::sync {
namespace {

using namespace testkit;

using Ids = std::array<std::string, 10>;

const Ids FirstIds = {"100001", "100002", "100003", "100004", "100005",
                      "100006", "100007", "100008", "100009", "100010"};

std::string lineUpText(const Ids& ids, int intervalMs)
{
    std::string text;
    for (const std::string& id : ids)
        text += id + " ";
    return text + std::to_string(intervalMs);
}

class VendorServerCycle : public ::testing::Test {
protected:
    void startServer(const std::vector<std::string>& lineUps, const std::vector<std::string>& extra = {})
    {
        writeVendorContent(server / "content", lineUps);
        std::vector<std::string> args = {"--content", server / "content"};
        args.insert(args.end(), extra.begin(), extra.end());
        vendor = std::make_unique<VendorServer>(VEXOR_SERVER_EXE, args);
        ASSERT_TRUE(vendor->started()) << vendor->errorOutput();
        InitializeConstants(shared, program.path());
        shared.ServerHost = scheme + vendor->host();
        thread = std::make_unique<TDownloadThread>(shared, host, std::chrono::seconds(10));
        host.attach(thread.get());
    }

    std::string scheme;  // "https://" for a server started with --cert and --key
    TempDir program{"app", {"Languages", "advs", "modules"}};
    TempDir server;
    std::unique_ptr<VendorServer> vendor;
    vexor::Constants shared;
    FakeMainThread host{shared};
    std::unique_ptr<TDownloadThread> thread;
};

TEST_F(VendorServerCycle, FirstCycleMakesExactlyTwentyFourRequestsInOrder)
{
    startServer({lineUpText(FirstIds, 5000)});
    shared.StartUps = 1;
    ASSERT_TRUE(host.runCycle());

    std::vector<std::string> expected = {"LANGL", "VERSION", "MODL", "LCOUNT"};
    for (const std::string& id : FirstIds) {
        expected.push_back("LOGO:" + id);
        expected.push_back("HTML:" + id);
    }
    const std::vector<ServerLogLine> log = vendor->scriptRequests();
    EXPECT_EQ(actionNames(log), expected);
    ASSERT_EQ(log.size(), 24u);
    EXPECT_EQ(log[0].value("STARTUP"), "1");
    EXPECT_EQ(log[3].value("LOGOIDS"), std::string(60, '0'));
    EXPECT_EQ(log[3].value("LF"), "2");

    for (std::size_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(program.read("advs/" + FirstIds[slot] + ".gif"), bannerImage(FirstIds[slot], 64));
        EXPECT_EQ(program.read("advs/" + std::to_string(slot) + ".htm"), bannerPage(FirstIds[slot]));
    }
    EXPECT_EQ(program.read("Languages/lang.ini"), "[Languages]\r\nEnglish=english.lng\r\nDeutsch=deutsch.lng\r\n");
    EXPECT_EQ(program.read("modules/modl.ini"), "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n");
    EXPECT_EQ(shared.BannerIds, FirstIds);
    EXPECT_EQ(shared.RotationInterval, 5000);
}

TEST_F(VendorServerCycle, WholeCycleOverTls)
{
    const std::string certs = server.path() + "certs";
    std::filesystem::create_directories(certs);
    const std::string make = VEXOR_SOURCE_DIR "/scripts/make-tls-certs " + certs + " > /dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    scheme = "https://";
    startServer({lineUpText(FirstIds, 5000)}, {"--cert", certs + "/good.pem", "--key", certs + "/good.key"});
    // The system's authorities do not know the test's: every group fails at
    // its handshake, nothing is written and nothing is handed back.
    ScopedEnv noTrust("SSL_CERT_FILE", nullptr);
    const auto before = program.snapshot();
    ASSERT_TRUE(host.runCycle());
    EXPECT_EQ(program.snapshot(), before);
    EXPECT_EQ(host.finishes(), 0);
    EXPECT_TRUE(vendor->scriptRequests().empty());

    const vexor::net::TlsHandshakeCounts handshakes = vexor::net::tlsHandshakeCounts();
    {
        ScopedEnv trust("SSL_CERT_FILE", certs + "/ca.pem");
        ASSERT_TRUE(host.runCycle());
    }
    EXPECT_EQ(host.finishes(), 1);
    EXPECT_EQ(vendor->scriptRequests().size(), 24u);
    // One full handshake; every later request resumes its session.
    EXPECT_EQ(vexor::net::tlsHandshakeCounts().completed - handshakes.completed, 24u);
    EXPECT_EQ(vexor::net::tlsHandshakeCounts().resumed - handshakes.resumed, 23u);
    EXPECT_EQ(program.read("advs/" + FirstIds[9] + ".gif"), bannerImage(FirstIds[9], 64));
    EXPECT_EQ(program.read("modules/modl.ini"), "[Modules]\r\nNotes=Notes\r\nClock=Clock\r\n");
    EXPECT_EQ(shared.BannerIds, FirstIds);
}

TEST_F(VendorServerCycle, RotatingLineUpsRepeatMoveAndEmptySlots)
{
    Ids third = FirstIds;
    third[2] = "200002";   // slot 2 gets another banner...
    third[5] = "100003";   // ...and its old one moves to slot 5
    third[7] = "000000";   // slot 7 is emptied
    startServer({lineUpText(FirstIds, 5000), lineUpText(FirstIds, 6000), lineUpText(third, 7000)},
                {"--rotate-every", "1"});
    ASSERT_TRUE(host.runCycle());
    ASSERT_EQ(vendor->scriptRequests().size(), 24u);

    // Same line-up again: no banner request, counters reported and reset.
    shared.BannerCounts = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x10};
    ASSERT_TRUE(host.runCycle());
    std::vector<ServerLogLine> log = vendor->scriptRequests();
    EXPECT_EQ(actionNames(log, 24), (std::vector<std::string>{"LANGL", "VERSION", "MODL", "LCOUNT"}));
    ASSERT_EQ(log.size(), 28u);
    EXPECT_EQ(log[27].value("LOG"), "000001000002000003000004000005000006000007000008000009000010");
    EXPECT_EQ(log[27].value("LOGOIDS"), "100001100002100003100004100005100006100007100008100009100010");
    EXPECT_EQ(shared.BannerCounts, (std::array<std::int32_t, 10>{}));
    EXPECT_EQ(shared.RotationInterval, 6000);

    ASSERT_TRUE(host.runCycle());
    log = vendor->scriptRequests();
    EXPECT_EQ(actionNames(log, 28), (std::vector<std::string>{"LANGL", "VERSION", "MODL", "LCOUNT", "LOGO:200002",
                                                            "HTML:200002", "LOGO:100003", "HTML:100003"}));
    EXPECT_EQ(program.read("advs/100003.gif"), bannerImage("100003", 64));
    EXPECT_FALSE(program.exists("advs/100006.gif"));
    EXPECT_FALSE(program.exists("advs/100008.gif"));
    EXPECT_EQ(program.read("advs/7.htm"), bannerPage("100008")) << "an emptied slot keeps its page";
    EXPECT_EQ(program.read("advs/5.htm"), bannerPage("100003"));
    EXPECT_EQ(shared.BannerIds, third);
    EXPECT_EQ(shared.RotationInterval, 7000);
}

}  // namespace
}  // namespace vexor::sync
