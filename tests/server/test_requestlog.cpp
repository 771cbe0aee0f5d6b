#include "requestlog.h"

#include "httpexchange.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

namespace vexor::server {
namespace {

using namespace std::chrono;

// 2026-12-08T17:00:00Z
const system_clock::time_point SomeTime = sys_days(year(2026) / December / 8) + hours(17);

LogEntry scriptGet(std::vector<QueryPair> pairs)
{
    return { SomeTime, "127.0.0.1", "GET", "/cgi-bin/script/vexor_parser.pl", true, std::move(pairs) };
}

TEST(FormatLogLineTest, Lines)
{
    const struct {
        LogEntry entry;
        std::string line;
    } rows[] = {
        { scriptGet({ { "A", "LANGL" }, { "MID", "1" }, { "MCID", "1131" }, { "MUID", "1" }, { "L", "English" },
              { "STARTUP", "1" }, { "INSTALL", "True" } }),
            "2026-12-08T17:00:00Z 127.0.0.1 A=LANGL MID=1 MCID=1131 MUID=1 L=English STARTUP=1 INSTALL=True" },
        { scriptGet({}), "2026-12-08T17:00:00Z 127.0.0.1" },
        { scriptGet({ { "L", "Deutsch Schweiz" }, { "X", "a\r\nb" }, { "Y", "100%" } }),
            "2026-12-08T17:00:00Z 127.0.0.1 L=Deutsch%20Schweiz X=a%0D%0Ab Y=100%25" },
        { scriptGet({ { "k=", "v=w" }, { "/k", "" }, { "", "" } }), "2026-12-08T17:00:00Z 127.0.0.1 k%3D=v=w %2Fk= =" },
        { scriptGet({ { "L", "Fran\xE7" "ais" } }), "2026-12-08T17:00:00Z 127.0.0.1 L=Fran%E7ais" },
        { { SomeTime, "::1", "GET", "/update/index.php", false, { { "MID", "1" }, { "MCID", "1131" }, { "MUID", "1" } } },
            "2026-12-08T17:00:00Z ::1 GET /update/index.php MID=1 MCID=1131 MUID=1" },
        { { SomeTime, "", "POST", "/a b=c", false, {} }, "2026-12-08T17:00:00Z - POST /a%20b%3Dc" },
        { { SomeTime, "10.0.0.1", "", "", false, {} }, "2026-12-08T17:00:00Z 10.0.0.1 - -" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(formatLogLine(row.entry), row.line);
}

TEST(RequestLogTest, AppendsToAnExistingFile)
{
    test::TempDir dir;
    const auto path = dir / "server.log";
    test::writeFile(path, "earlier line\n");
    std::string error;
    {
        auto log = RequestLog::open(path, error);
        ASSERT_TRUE(log) << error;
        log->write(scriptGet({ { "A", "VERSION" } }));
        // Flushed at once: readable while the log is still open.
        EXPECT_EQ(test::readFile(path), "earlier line\n2026-12-08T17:00:00Z 127.0.0.1 A=VERSION\n");
    }
}

TEST(RequestLogTest, OpenFailureIsReported)
{
    std::string error;
    EXPECT_FALSE(RequestLog::open("/nonexistent-folder/x/server.log", error));
    EXPECT_NE(error.find("/nonexistent-folder/x/server.log"), std::string::npos) << error;
}

TEST(RequestLogTest, ConcurrentWritersNeverMixLines)
{
    test::TempDir dir;
    const auto path = dir / "server.log";
    std::string error;
    auto log = RequestLog::open(path, error);
    ASSERT_TRUE(log) << error;
    constexpr int Threads = 8;
    constexpr int Lines = 200;
    const std::string filler(300, 'f');
    std::vector<std::thread> writers;
    for (int t = 0; t < Threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < Lines; ++i)
                log->write(scriptGet({ { "T", std::to_string(t) }, { "I", std::to_string(i) }, { "F", filler } }));
        });
    for (auto& w : writers)
        w.join();
    std::set<std::string> seen;
    std::istringstream in(test::readFile(path));
    for (std::string line; std::getline(in, line);) {
        const auto t = line.find(" T=");
        const auto f = line.find(" F=");
        ASSERT_TRUE(line.starts_with("2026-12-08T17:00:00Z 127.0.0.1 T=") && f != std::string::npos) << line;
        ASSERT_EQ(line.substr(f + 3), filler) << "line cut or mixed: " << line;
        seen.insert(line.substr(t, f - t));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Threads * Lines));
}

} // namespace
} // namespace vexor::server
