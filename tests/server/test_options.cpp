#include "options.h"

#include <gtest/gtest.h>

namespace vexor::server {
namespace {

TEST(ParseOptionsTest, DefaultsListenOnLoopback8431)
{
    const auto parsed = parseOptions({});
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->listenAddress, "127.0.0.1");
    EXPECT_EQ(parsed.options->port, 8431);
    EXPECT_FALSE(parsed.options->contentDir);
    EXPECT_EQ(parsed.options->logFile, "");
    EXPECT_EQ(parsed.options->rotateEvery, 0u);
    EXPECT_EQ(parsed.options->portFile, "");
    EXPECT_FALSE(parsed.options->versionAnswer);
}

TEST(ParseOptionsTest, EveryOptionInBothForms)
{
    for (const bool joined : { false, true }) {
        std::vector<std::string> args;
        const std::pair<const char*, const char*> given[] = { { "--listen", "::1" }, { "--port", "0" },
            { "--content", "/srv/c" }, { "--log", "/tmp/l" }, { "--rotate-every", "3" }, { "--port-file", "/tmp/p" },
            { "--version-answer", "1.4" }, { "--cache-ms", "500" } };
        for (const auto& [name, value] : given) {
            if (joined) {
                args.push_back(std::string(name) + "=" + value);
            } else {
                args.push_back(name);
                args.push_back(value);
            }
        }
        const auto parsed = parseOptions(args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->listenAddress, "::1");
        EXPECT_EQ(parsed.options->port, 0);
        EXPECT_EQ(parsed.options->contentDir, "/srv/c");
        EXPECT_EQ(parsed.options->logFile, "/tmp/l");
        EXPECT_EQ(parsed.options->rotateEvery, 3u);
        EXPECT_EQ(parsed.options->portFile, "/tmp/p");
        EXPECT_EQ(parsed.options->versionAnswer, "1.4");
        EXPECT_EQ(parsed.options->cacheMilliseconds, 500u);
    }
}

TEST(ParseOptionsTest, VersionAnswerKeepsBlanksAndMayBeEmpty)
{
    EXPECT_EQ(parseOptions({ "--version-answer", " 1.4 " }).options->versionAnswer, " 1.4 ");
    EXPECT_EQ(parseOptions({ "--version-answer=" }).options->versionAnswer, "");
}

TEST(ParseOptionsTest, HelpWins)
{
    for (const char* help : { "--help", "-h" }) {
        const auto parsed = parseOptions({ "--port", "1", help, "--bogus" });
        EXPECT_TRUE(parsed.help);
        EXPECT_FALSE(parsed.options);
    }
    EXPECT_NE(usageText().find("--rotate-every"), std::string::npos);
}

TEST(ParseOptionsTest, BadArgumentsAreNamed)
{
    const struct {
        std::vector<std::string> args;
        std::string errorPart;
    } rows[] = {
        { { "--port" }, "--port: a value is missing" },
        { { "--port", "-1" }, "--port: \"-1\" is not a port number" },
        { { "--port", "65536" }, "not a port number" },
        { { "--port", "80x" }, "not a port number" },
        { { "--port", "" }, "not a port number" },
        { { "--port=99999999999999999999" }, "not a port number" },
        { { "--rotate-every", "-2" }, "--rotate-every: \"-2\" is not a count" },
        { { "--rotate-every", "two" }, "not a count" },
        { { "--cache-ms", "3600001" }, "--cache-ms: \"3600001\" is not a time in milliseconds" },
        { { "--listen", "" }, "--listen: an address is needed" },
        { { "--content=" }, "--content: a folder is needed" },
        { { "--log", "" }, "--log: a file name is needed" },
        { { "--port-file=" }, "--port-file: a file name is needed" },
        { { "--cert", "c.pem" }, "--cert and --key go together" },
        { { "--key=k.pem" }, "--cert and --key go together" },
        { { "--bogus" }, "unknown argument \"--bogus\"" },
        { { "8431" }, "unknown argument \"8431\"" },
        { { "--help=1" }, "unknown argument" },
        { { "--PORT", "1" }, "unknown argument" },
    };
    for (const auto& row : rows) {
        const auto parsed = parseOptions(row.args);
        EXPECT_FALSE(parsed.options);
        EXPECT_FALSE(parsed.help);
        EXPECT_NE(parsed.error.find(row.errorPart), std::string::npos) << parsed.error;
    }
}

TEST(ParseOptionsTest, LaterOptionOverridesEarlier)
{
    EXPECT_EQ(parseOptions({ "--port", "1", "--port", "2" }).options->port, 2);
}

} // namespace
} // namespace vexor::server
