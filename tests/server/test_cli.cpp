// The vexor-server binary's command line: options, start-up errors, signals.
#include "httpexchange.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace vexor::server::test {
namespace {

TEST(ServerCommandLineTest, VersionAnswerOption)
{
    VendorServer server(VEXOR_SERVER_EXE, { "--content", shippedContent().string(), "--version-answer", "1.4" });
    ASSERT_TRUE(server.started()) << server.errorOutput();
    EXPECT_EQ(get(server.port(), query("VERSION")).body, "1.4");
}

TEST(ServerCommandLineTest, DefaultContentLiesBesideTheProgram)
{
    VendorServer server(VEXOR_SERVER_EXE, {});
    ASSERT_TRUE(server.started()) << server.errorOutput();
    EXPECT_EQ(get(server.port(), query("VERSION")).body, "1.3");
    EXPECT_EQ(get(server.port(), query("LANGC", "&L=deutsch.lng")).status, 200);
}

TEST(ServerCommandLineTest, PortFileHoldsThePort)
{
    TempDir dir;
    const auto portFile = dir / "port";
    VendorServer server(VEXOR_SERVER_EXE, { "--content", shippedContent().string(), "--port-file", portFile });
    ASSERT_TRUE(server.started()) << server.errorOutput();
    EXPECT_EQ(readFile(portFile), std::to_string(server.port()) + "\n");
}

TEST(ServerCommandLineTest, SignalsStopItCleanly)
{
    for (const int signal : { SIGTERM, SIGINT }) {
        VendorServer server(VEXOR_SERVER_EXE, { "--content", shippedContent().string() });
        ASSERT_TRUE(server.started()) << server.errorOutput();
        EXPECT_EQ(get(server.port(), query("VERSION")).body, "1.3");
        EXPECT_EQ(server.stop(signal), 0) << "signal " << signal;
    }
}

TEST(ServerCommandLineTest, SignalRightAfterStartIsNotLost)
{
    VendorServer server(VEXOR_SERVER_EXE, { "--content", shippedContent().string() });
    ASSERT_TRUE(server.started()) << server.errorOutput();
    EXPECT_EQ(server.stop(SIGTERM), 0);
}

TEST(ServerCommandLineTest, TakenPortIsAnError)
{
    VendorServer first(VEXOR_SERVER_EXE, { "--content", shippedContent().string() });
    ASSERT_TRUE(first.started()) << first.errorOutput();
    const auto run = runServer({ "--port", std::to_string(first.port()), "--content", shippedContent().string() }, 10s);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos) << run.err;
    EXPECT_EQ(get(first.port(), query("VERSION")).body, "1.3");
}

TEST(ServerCommandLineTest, BadStartsExplainThemselves)
{
    TempDir dir;
    const auto junk = dir.write("junk.db", std::string(4096, 'x'));
    const struct {
        std::vector<std::string> args;
        int exitStatus;
        std::string errorPart;
    } rows[] = {
        { { "--bogus" }, 2, "unknown argument \"--bogus\"" },
        { { "--port", "http" }, 2, "--port: \"http\" is not a port number" },
        { { "--port", "0", "--content", (dir / "none") }, 1, "does not exist" },
        { { "--port", "0", "--content", dir.path() }, 1, "no line-up files" },
        { { "--port", "0", "--content", shippedContent().string(), "--log", (dir / "no/such/dir/log") },
            1, "cannot open the log file" },
        { { "--port", "0", "--listen", "256.1.2.3", "--content", shippedContent().string() }, 1, "cannot listen on" },
        { { "--port", "0", "--content", shippedContent().string(), "--cert", (dir / "none.pem"),
              "--key", (dir / "none.key") },
            1, "cannot load the certificate" },
        { { "--port", "0", "--store", junk }, 1, "cannot open the store" },
        { { "--store", junk, "--content", dir.path() }, 2, "--store and --content: one or the other" },
        { { "import", "--store", dir / "s.db" }, 2, "import: --store FILE and --content DIR are needed" },
        { { "import", "--bogus" }, 2, "import: unknown argument \"--bogus\"" },
        { { "import", "--store", dir / "s.db", "--content", dir / "none" }, 1, "does not exist" },
        { { "import", "--store", junk, "--content", shippedContent().string() }, 1, "import: " },
    };
    for (const auto& row : rows) {
        const auto run = runServer(row.args, 10s);
        EXPECT_EQ(run.exitStatus, row.exitStatus) << row.errorPart;
        EXPECT_NE(run.err.find(row.errorPart), std::string::npos) << run.err;
    }
}

TEST(ServerCommandLineTest, FailedImportLeavesNoStore)
{
    TempDir dir;
    writeVendorContent(dir / "content", { "100001 000000 000000 000000 000000 000000 000000 000000 000000 000000 5000" });
    dir.write("content/lineups/2.txt", "100009 000000 000000 000000 000000 000000 000000 000000 000000 000000 5000");
    const auto run = runServer({ "import", "--store", dir / "store.db", "--content", dir / "content" }, 30s);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("line-up 2: slot 0: no banner 100009"), std::string::npos) << run.err;
    EXPECT_FALSE(dir.exists("store.db"));
    const auto again = runServer({ "import", "--store", dir / "store.db", "--content", shippedContent().string() }, 30s);
    EXPECT_EQ(again.exitStatus, 0) << again.err;
    EXPECT_NE(again.out.find("imported 8 banners, 3 line-ups and 2 language files"), std::string::npos) << again.out;
    const auto twice = runServer({ "import", "--store", dir / "store.db", "--content", shippedContent().string() }, 30s);
    EXPECT_EQ(twice.exitStatus, 1);
    EXPECT_NE(twice.err.find("holds banners or line-ups already"), std::string::npos) << twice.err;
}

TEST(ServerCommandLineTest, Help)
{
    const auto run = runServer({ "--help" }, 10s);
    EXPECT_EQ(run.exitStatus, 0);
    for (const char* option : { "--listen", "--port", "--content", "--store", "--log", "--rotate-every", "--port-file", "--version-answer" })
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    EXPECT_NE(runServer({ "import", "--help" }, 10s).out.find("--store FILE --content DIR"), std::string::npos);
}

} // namespace
} // namespace vexor::server::test
