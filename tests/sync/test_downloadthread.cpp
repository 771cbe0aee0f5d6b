#include "sync/downloadthread.h"

#include "fakemainthread.h"
#include "fakevendor.h"
#include "nettestutil.h"
#include "tempdir.h"
#include "sync/protocol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vexor::sync {
namespace {

using namespace testkit;

using namespace std::chrono_literals;
using Ids = std::array<std::string, 10>;

const std::string LiveLanguages = "[Languages]\r\nEnglish=english.lng\r\n";
const std::string LiveModules = "[Modules]\r\nNotes=Notes\r\n";

std::string lineUp(const Ids& ids, const char* intervalHex = "001388")
{
    std::string text;
    for (const std::string& id : ids)
        text += id;
    return text + intervalHex;
}

Ids numberedIds(char letter)
{
    Ids ids;
    for (std::size_t i = 0; i < ids.size(); ++i)
        ids[i] = std::string(1, letter) + "0000" + std::to_string(i);
    return ids;
}

std::vector<std::string> listRequests()
{
    return {"LANGL", "VERSION", "MODL", "LCOUNT"};
}

class DownloadCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        InitializeConstants(shared, folder.path());
        shared.ServerHost = vendor.host();
        folder.write("Languages/lang.ini", LiveLanguages);
        folder.write("modules/modl.ini", LiveModules);
        FakeVendor::Answers answers;
        answers.lineUp = lineUp(numberedIds('B'));
        vendor.setAnswers(answers);
    }

    void start(std::chrono::milliseconds timeout = 5s)
    {
        thread = std::make_unique<TDownloadThread>(shared, host, timeout);
        host.attach(thread.get());
    }

    // Slots as the settings of an earlier run left them: identifier, image, page.
    void occupy(std::size_t slot, const std::string& id)
    {
        shared.BannerIds[slot] = id;
        folder.write("advs/" + id + ".gif", "old image " + id);
        folder.write("advs/" + std::to_string(slot) + ".htm", "old page " + id);
    }

    TempDir folder{"app", {"Languages", "advs", "modules"}};
    FakeVendor vendor;
    vexor::Constants shared;
    FakeMainThread host{shared};
    std::unique_ptr<TDownloadThread> thread;  // declared last: ends first
};

TEST_F(DownloadCycle, FirstCycleFillsTenSlotsWithTwentyFourRequestsInOrder)
{
    shared.StartUps = 2;
    shared.InstallFlag = true;
    start();
    ASSERT_TRUE(host.runCycle());

    const Ids ids = numberedIds('B');
    std::vector<std::string> expected = listRequests();
    for (const std::string& id : ids) {
        expected.push_back("LOGO:" + id);
        expected.push_back("HTML:" + id);
    }
    EXPECT_EQ(vendor.actions(), expected);
    const std::vector<LoggedRequest> log = vendor.log();
    ASSERT_EQ(log.size(), 24u);
    EXPECT_EQ(log[0].keys(), "A,MID,MCID,MUID,L,STARTUP,INSTALL");
    EXPECT_EQ(log[0].value("STARTUP"), "2");
    EXPECT_EQ(log[0].value("L"), "English");
    EXPECT_EQ(log[0].value("MCID"), "1131");
    EXPECT_EQ(log[1].keys(), "A,MID,MCID,MUID,L");
    EXPECT_EQ(log[3].keys(), "A,MID,MCID,MUID,LOGOIDS,LOG,LF");
    EXPECT_EQ(log[3].value("LOGOIDS"), std::string(60, '0'));
    EXPECT_EQ(log[3].value("LOG"), std::string(60, '0'));
    EXPECT_EQ(log[4].keys(), "A,MID,MCID,MUID,LOGOID");

    FakeVendor::Answers answers;
    EXPECT_EQ(folder.read("Languages/lang.ini"), answers.langList);
    EXPECT_EQ(folder.read("modules/modl.ini"), answers.modList);
    EXPECT_FALSE(folder.exists("Languages/lang.inibak"));
    EXPECT_FALSE(folder.exists("modules/modl.inibak"));
    for (std::size_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(folder.read("advs/" + ids[slot] + ".gif"), answers.image(ids[slot]));
        EXPECT_EQ(folder.read("advs/" + std::to_string(slot) + ".htm"), answers.page(ids[slot]));
        EXPECT_FALSE(folder.exists("advs/" + ids[slot] + ".bak"));
        EXPECT_FALSE(folder.exists("advs/" + std::to_string(slot) + ".htm.new"));
    }
    EXPECT_EQ(shared.BannerIds, ids);
    EXPECT_EQ(shared.RotationInterval, 5000);
    EXPECT_EQ(shared.StartUps, 0);
    EXPECT_FALSE(shared.InstallFlag);
    EXPECT_EQ(host.finishes(), 1);
    EXPECT_EQ(thread->Progress(), 91);
    EXPECT_TRUE(thread->Idle());
}

TEST_F(DownloadCycle, RepeatedLineUpAsksForNoBannerAndResetsTheCounters)
{
    const Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot) {
        occupy(slot, ids[slot]);
        shared.BannerCounts[slot] = static_cast<std::int32_t>(slot + 1);
    }
    shared.BannerCounts[9] = 0x1000000;
    FakeVendor::Answers answers;
    answers.langList = LiveLanguages;
    answers.modList = LiveModules;
    answers.lineUp = lineUp(ids);
    vendor.setAnswers(answers);
    const auto before = folder.snapshot();
    start();
    ASSERT_TRUE(host.runCycle());

    EXPECT_EQ(vendor.actions(), listRequests());
    EXPECT_EQ(vendor.log()[3].value("LOGOIDS"), lineUp(ids, ""));
    EXPECT_EQ(vendor.log()[3].value("LOG"),
              "000001000002000003000004000005000006000007000008000009" "1000000");
    for (std::int32_t count : shared.BannerCounts)
        EXPECT_EQ(count, 0);
    EXPECT_EQ(host.finishes(), 1);
    EXPECT_EQ(folder.snapshot(), before);
}

TEST_F(DownloadCycle, EmptiedSlotKeepsItsPageAndLosesItsImage)
{
    Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot)
        occupy(slot, ids[slot]);
    ids[3] = "000000";
    vendor.setLineUp(lineUp(ids));
    shared.BannerCounts[3] = 7;
    start();
    ASSERT_TRUE(host.runCycle());

    EXPECT_EQ(vendor.actions(), listRequests());
    EXPECT_FALSE(folder.exists("advs/B00003.gif"));
    EXPECT_EQ(folder.read("advs/3.htm"), "old page B00003");
    EXPECT_EQ(shared.BannerIds[3], "000000");
    EXPECT_EQ(shared.BannerCounts[3], 0);
}

TEST_F(DownloadCycle, IdentifierMovedFromSlotTwoToSlotFiveIsFetchedAgain)
{
    Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot)
        occupy(slot, ids[slot]);
    const std::string moving = ids[2];
    ids[2] = "N00002";
    ids[5] = moving;
    vendor.setLineUp(lineUp(ids));
    start();
    ASSERT_TRUE(host.runCycle());

    std::vector<std::string> expected = listRequests();
    for (const char* request : {"LOGO:N00002", "HTML:N00002", "LOGO:B00002", "HTML:B00002"})
        expected.push_back(request);
    EXPECT_EQ(vendor.actions(), expected);
    FakeVendor::Answers answers;
    EXPECT_EQ(folder.read("advs/B00002.gif"), answers.image("B00002"));  // fresh, not "old image"
    EXPECT_EQ(folder.read("advs/N00002.gif"), answers.image("N00002"));
    EXPECT_FALSE(folder.exists("advs/B00005.gif"));
    EXPECT_EQ(folder.read("advs/2.htm"), answers.page("N00002"));
    EXPECT_EQ(folder.read("advs/5.htm"), answers.page("B00002"));
    EXPECT_EQ(shared.BannerIds, ids);
}

TEST_F(DownloadCycle, ServerDownChangesNothingAndSkipsFinishSync)
{
    const QuietPort refused;
    shared.ServerHost = refused.host();
    occupy(0, "B00000");
    shared.BannerCounts = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    shared.StartUps = 3;
    shared.InstallFlag = true;
    const vexor::Constants expected = shared;
    const auto before = folder.snapshot();
    start();
    ASSERT_TRUE(host.runCycle());

    EXPECT_EQ(folder.snapshot(), before);
    EXPECT_EQ(host.prepares(), 1);
    EXPECT_EQ(host.finishes(), 0);
    EXPECT_EQ(shared.BannerIds, expected.BannerIds);
    EXPECT_EQ(shared.BannerCounts, expected.BannerCounts);
    EXPECT_EQ(shared.RotationInterval, expected.RotationInterval);
    EXPECT_EQ(shared.StartUps, 3);
    EXPECT_TRUE(shared.InstallFlag);
    EXPECT_TRUE(thread->Idle());
}

TEST_F(DownloadCycle, StopDuringTheImageOfSlotFourEndsTheCycleThere)
{
    const Ids ids = numberedIds('B');
    vendor.stallOn("LOGO", ids[4]);
    vendor.onStalled = [this] { host.poke(); };
    start();
    ASSERT_TRUE(thread->TryConnect());
    ASSERT_TRUE(host.serveUntil([this] { return vendor.waitStalled(0ms); }));
    thread->Shutdown();
    vendor.release();

    std::vector<std::string> expected = listRequests();
    for (std::size_t slot = 0; slot < 4; ++slot) {
        expected.push_back("LOGO:" + ids[slot]);
        expected.push_back("HTML:" + ids[slot]);
    }
    expected.push_back("LOGO:" + ids[4]);
    EXPECT_EQ(vendor.actions(), expected);
    for (std::size_t slot = 0; slot < 10; ++slot) {
        EXPECT_EQ(folder.exists("advs/" + ids[slot] + ".gif"), slot < 4) << slot;
        EXPECT_EQ(folder.exists("advs/" + std::to_string(slot) + ".htm"), slot < 4) << slot;
    }
    EXPECT_EQ(host.finishes(), 0);
    for (const std::string& id : shared.BannerIds)
        EXPECT_EQ(id, "000000");
    EXPECT_FALSE(thread->TryConnect());
}

TEST_F(DownloadCycle, CountAnswerOfTheWrongLengthChangesNothing)
{
    const Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot)
        occupy(slot, ids[slot]);
    shared.BannerCounts.fill(5);
    const std::string good = lineUp(numberedIds('C'), "0003E8");
    start();
    for (const std::string& answer : {good.substr(0, 65), good + "0", good + "\r\n"}) {
        vendor.clearLog();
        vendor.setLineUp(answer);
        shared.StartUps = 1;
        ASSERT_TRUE(host.runCycle());
        EXPECT_EQ(vendor.actions(), listRequests()) << answer.size();
        EXPECT_EQ(shared.BannerIds, ids) << answer.size();
        for (std::int32_t count : shared.BannerCounts)
            EXPECT_EQ(count, 5) << answer.size();
        EXPECT_EQ(shared.RotationInterval, 10000) << answer.size();
        EXPECT_EQ(shared.StartUps, 0) << "FinishSync runs all the same";
    }
    EXPECT_EQ(host.finishes(), 3);
}

TEST_F(DownloadCycle, ListFailingTheFirstLineTestStaysUnderItsTemporaryName)
{
    FakeVendor::Answers answers;
    answers.langList = "[languages]\r\nEnglish=english.lng\r\n";
    answers.modList = "<html><body>500 Internal Server Error</body></html>";
    answers.lineUp = lineUp(numberedIds('B'));
    vendor.setAnswers(answers);
    start();
    ASSERT_TRUE(host.runCycle());

    EXPECT_EQ(folder.read("Languages/lang.ini"), LiveLanguages);
    EXPECT_EQ(folder.read("Languages/lang.inibak"), answers.langList);
    EXPECT_EQ(folder.read("modules/modl.ini"), LiveModules);
    EXPECT_EQ(folder.read("modules/modl.inibak"), answers.modList);
    EXPECT_EQ(host.finishes(), 1);
}

TEST_F(DownloadCycle, HostileIdentifierOrFileNameChangesNothingOnDisk)
{
    FakeVendor::Answers answers;
    answers.langList = "[Languages]\r\nEnglish=english.lng\r\nEvil=../../evil.lng\r\n";
    answers.modList = LiveModules;
    vendor.setAnswers(answers);
    shared.BannerCounts.fill(4);
    start();
    for (const char* hostile : {"../../", "..\\..\\", "a/b/c.", "\0\0\0\0\0\0", "ab\r\ncd", "\xC0\xAF.gif"}) {
        Ids ids = numberedIds('H');
        ids[3] = std::string(hostile, 6);
        vendor.clearLog();
        vendor.setLineUp(lineUp(ids));
        const auto before = folder.snapshot();
        ASSERT_TRUE(host.runCycle());

        EXPECT_EQ(vendor.actions(), listRequests());
        auto after = folder.snapshot();
        EXPECT_EQ(after["Languages/lang.inibak"], answers.langList);
        after.erase("Languages/lang.inibak");
        auto expected = before;
        expected.erase("Languages/lang.inibak");
        EXPECT_EQ(after, expected);
        for (std::int32_t count : shared.BannerCounts)
            EXPECT_EQ(count, 4);
    }
}

TEST_F(DownloadCycle, ServerThatNeverAnswersFailsEachGroupAfterTheTimeOut)
{
    const QuietPort silent(true);
    shared.ServerHost = silent.host();
    const auto before = folder.snapshot();
    start(300ms);
    ASSERT_TRUE(host.runCycle());
    EXPECT_EQ(folder.snapshot(), before);
    EXPECT_EQ(host.finishes(), 0);
    EXPECT_TRUE(thread->Idle());
}

TEST_F(DownloadCycle, VersionThatNeverComesEndsOnlyTheLanguageGroup)
{
    vendor.stallOn("VERSION");
    start(300ms);
    ASSERT_TRUE(host.runCycle());
    vendor.release();

    FakeVendor::Answers answers;
    // Downloaded and valid, but the group ended before the replacement.
    EXPECT_EQ(folder.read("Languages/lang.ini"), LiveLanguages);
    EXPECT_EQ(folder.read("Languages/lang.inibak"), answers.langList);
    EXPECT_EQ(folder.read("modules/modl.ini"), answers.modList);
    EXPECT_EQ(vendor.actions().size(), 24u);
    EXPECT_EQ(host.finishes(), 1);
}

TEST_F(DownloadCycle, PageCutOffMidwayNeverReplacesTheShownPage)
{
    occupy(0, "OLD000");
    FakeVendor::Answers answers;
    answers.lineUp = lineUp(numberedIds('B'));
    answers.cutPageOf = "B00000";
    vendor.setAnswers(answers);
    start();
    ASSERT_TRUE(host.runCycle());

    EXPECT_EQ(folder.read("advs/0.htm"), "old page OLD000");
    EXPECT_FALSE(folder.exists("advs/0.htm.new"));
    // The image had arrived whole and is in place; the group ended with the page.
    EXPECT_EQ(folder.read("advs/B00000.gif"), answers.image("B00000"));
    EXPECT_EQ(vendor.actions().size(), 6u);
    EXPECT_EQ(host.finishes(), 0);
    EXPECT_EQ(shared.BannerIds[0], "OLD000");
}

TEST_F(DownloadCycle, CountsAddedWhileTheCycleRunsAreKept)
{
    const Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot)
        occupy(slot, ids[slot]);
    shared.BannerCounts.fill(10);
    // The rotation keeps counting after the hand-over.
    host.afterPrepare = [this](TDownloadThread&) {
        for (std::int32_t& count : shared.BannerCounts)
            count += 3;
    };
    start();
    ASSERT_TRUE(host.runCycle());
    EXPECT_EQ(vendor.log()[3].value("LOG").substr(0, 6), "00000A");
    for (std::int32_t count : shared.BannerCounts)
        EXPECT_EQ(count, 3) << "reported counts reset, later ones kept";

    vendor.setLineUp("too short");
    ASSERT_TRUE(host.runCycle());
    for (std::int32_t count : shared.BannerCounts)
        EXPECT_EQ(count, 6) << "nothing reset, later ones kept";
}

TEST_F(DownloadCycle, NewerVersionIsKeptUntilAnAnswerDoesNotParse)
{
    FakeVendor::Answers answers;
    answers.lineUp = lineUp(numberedIds('B'));
    start();
    const struct {
        const char* version;
        bool newer;
    } steps[] = {{"1.3", false}, {"1.4", true}, {"1.3", true}, {"1.0", true}, {"1.4\n", false}, {"2", true}, {"", false}};
    for (const auto& step : steps) {
        answers.version = step.version;
        vendor.setAnswers(answers);
        ASSERT_TRUE(host.runCycle());
        EXPECT_EQ(thread->NewerVersion, step.newer) << '"' << step.version << '"';
    }
}

TEST_F(DownloadCycle, ProxySettingsAreReadAtTheStartOfEveryCycle)
{
    shared.ServerHost = "vendor.invalid:81";
    shared.SetProxy({"127.0.0.1", vendor.port(), "user", "pass"});
    start();
    ASSERT_TRUE(host.runCycle());
    const std::vector<LoggedRequest> log = vendor.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].target.rfind("http://vendor.invalid:81/cgi-bin/script/vexor_parser.pl?A=LANGL&", 0), 0u)
        << log[0].target;
    EXPECT_EQ(log[0].authorization, "Basic dXNlcjpwYXNz");

    const QuietPort refused;
    shared.SetProxy({"127.0.0.1", refused.port(), "", ""});
    vendor.clearLog();
    ASSERT_TRUE(host.runCycle());
    EXPECT_TRUE(vendor.log().empty());
}

TEST_F(DownloadCycle, FailingMainThreadStepsEndTheCycleAndTheThreadGoesOn)
{
    host.afterPrepare = [](TDownloadThread&) { throw std::runtime_error("settings went away"); };
    start();
    ASSERT_TRUE(host.runCycle());
    EXPECT_TRUE(vendor.log().empty()) << "no state, no request";

    host.afterPrepare = nullptr;
    host.inFinish = [](TDownloadThread&) { throw std::runtime_error("module list missing"); };
    ASSERT_TRUE(host.runCycle());
    EXPECT_EQ(vendor.actions().size(), 24u);
    EXPECT_EQ(shared.StartUps, 1) << "the rest of FinishSync was skipped";

    host.inFinish = nullptr;
    ASSERT_TRUE(host.runCycle());
    EXPECT_EQ(shared.StartUps, 0);
}

TEST_F(DownloadCycle, ShutdownWhileAStepWaitsForTheMainThreadDoesNotDeadlock)
{
    start();
    ASSERT_TRUE(thread->TryConnect());
    ASSERT_TRUE(host.waitTurnRequested());  // PrepareSync waits; nobody serves it
    auto done = std::async(std::launch::async, [this] { thread->Shutdown(); });
    if (done.wait_for(20s) != std::future_status::ready) {
        std::fputs("Shutdown deadlocked\n", stderr);
        std::abort();
    }
    EXPECT_EQ(host.prepares(), 1) << "the shutdown ran the waiting step itself";
    EXPECT_TRUE(vendor.log().empty()) << "nothing is sent after the stop";
}

TEST_F(DownloadCycle, ShutdownWhileFinishSyncWaitsDoesNotDeadlock)
{
    start();
    ASSERT_TRUE(thread->TryConnect());
    ASSERT_TRUE(host.serveUntil([this] { return host.prepares() == 1; }));
    ASSERT_TRUE(host.waitTurnRequested());  // FinishSync waits; nobody serves it
    thread->Shutdown();
    EXPECT_EQ(host.finishes(), 1);
    EXPECT_EQ(vendor.actions().size(), 24u);
}

// The close comes while the request waits for its lookup, its connect, the
// answer or the rest of a body: the request ends at once, not at its time-out.
TEST_F(DownloadCycle, ShutdownEndsTheRequestInEveryWait)
{
    net::testing::BlackHole blackHole;
    auto bodyStarted = std::make_shared<std::atomic<bool>>(false);
    LoopbackServer bodyServer([bodyStarted](ServerConnection& connection, int) {
        connection.readRequest();
        connection.send("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npart");
        bodyStarted->store(true);
        connection.waitForPeerClose();
    });
    auto asked = std::make_shared<std::atomic<bool>>(false);
    auto lookupAnswers = std::make_shared<std::atomic<bool>>(false);
    const struct {
        const char* wait;
        std::string host;
        std::function<bool()> reached;
    } rows[] = {
        {"lookup", "vendor.test:80", [&] { return asked->load(); }},
        {"connect", "vendor.test:" + std::to_string(blackHole.port()), [&] { return asked->load(); }},
        {"answer", vendor.host(), [&] { return vendor.waitStalled(0ms); }},
        {"body", "127.0.0.1:" + std::to_string(bodyServer.port()), [&] { return bodyStarted->load(); }},
    };
    vendor.stallOn("LANGL");
    for (const auto& row : rows) {
        asked->store(false);
        lookupAnswers->store(std::string(row.wait) == "connect");
        shared.ServerHost = row.host;
        start(60s);
        thread->SetResolver([asked, lookupAnswers](const std::string&) {
            asked->store(true);
            while (!lookupAnswers->load())
                std::this_thread::sleep_for(1ms);  // a lookup that hangs until the test ends
            return net::LookupAnswer{0, {net::testing::AddressOf("127.0.0.1")}};
        });
        const int prepared = host.prepares();
        ASSERT_TRUE(thread->TryConnect());
        ASSERT_TRUE(host.serveUntil([&] { return host.prepares() > prepared; })) << row.wait;
        for (int turn = 0; turn < 10000 && !row.reached(); ++turn)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(row.reached()) << row.wait;
        const auto stopAt = std::chrono::steady_clock::now();
        thread->Shutdown();
        EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 10s) << row.wait;
        EXPECT_EQ(host.finishes(), 0) << row.wait;
    }
    lookupAnswers->store(true);
    vendor.release();
}

TEST_F(DownloadCycle, IdleThreadTouchesNothingAfterShutdown)
{
    const auto before = folder.snapshot();
    start();
    thread->Shutdown();
    thread->Shutdown();  // a second call returns at once
    EXPECT_FALSE(thread->TryConnect());
    EXPECT_TRUE(vendor.log().empty());
    EXPECT_EQ(host.prepares(), 0);
    EXPECT_EQ(folder.snapshot(), before);
}

TEST_F(DownloadCycle, TenThousandConnectRequestsGiveOneCyclePerIdlePeriod)
{
    const Ids ids = numberedIds('B');
    for (std::size_t slot = 0; slot < 10; ++slot)
        occupy(slot, ids[slot]);
    vendor.setLineUp(lineUp(ids));
    start();
    // A hundred bursts of a hundred requests. Within a burst nobody serves the
    // main-thread steps, so the cycle the first request started is still
    // running when the other 99 arrive; between bursts the cycle is served to
    // its end and the thread is idle again.
    int accepted = 0;
    for (int burst = 0; burst < 100; ++burst) {
        int acceptedInBurst = 0;
        for (int i = 0; i < 100; ++i)
            acceptedInBurst += thread->TryConnect() ? 1 : 0;
        EXPECT_EQ(acceptedInBurst, 1) << "burst " << burst;
        accepted += acceptedInBurst;
        ASSERT_TRUE(host.serveUntil([&] { return host.cyclesEnded() == accepted; })) << "burst " << burst;
        EXPECT_TRUE(thread->Idle());
    }
    EXPECT_EQ(host.prepares(), 100);
    EXPECT_EQ(host.finishes(), 100);
    const std::vector<std::string> actions = vendor.actions();
    ASSERT_EQ(actions.size(), 400u);
    for (std::size_t i = 0; i < actions.size(); ++i)
        EXPECT_EQ(actions[i], listRequests()[i % 4]) << i;
}

}  // namespace
}  // namespace vexor::sync
