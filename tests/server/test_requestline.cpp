#include "requestline.h"

#include <gtest/gtest.h>

namespace vexor::server {
namespace {

TEST(RepairRequestLineTest, MakesThreePartsOrLeavesTheLineAlone)
{
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        // Already well-formed lines pass unchanged.
        { "GET /cgi-bin/script/vexor_parser.pl?A=VERSION&MID=1 HTTP/1.0",
            "GET /cgi-bin/script/vexor_parser.pl?A=VERSION&MID=1 HTTP/1.0" },
        { "GET / HTTP/1.1", "GET / HTTP/1.1" },
        // Raw blanks are left for the parser to refuse, as real servers do.
        { "GET /x?A=LANGL&L=Deutsch Schweiz&STARTUP=2 HTTP/1.0", "GET /x?A=LANGL&L=Deutsch Schweiz&STARTUP=2 HTTP/1.0" },
        { "GET /x?L= HTTP/1.0", "GET /x?L= HTTP/1.0" },
        // Proxy requests carry the whole URL.
        { "GET http://127.0.0.1:8431/cgi-bin/script/vexor_parser.pl?A=MODL HTTP/1.0",
            "GET /cgi-bin/script/vexor_parser.pl?A=MODL HTTP/1.0" },
        { "GET HTTP://vendor.example/faq HTTP/1.0", "GET /faq HTTP/1.0" },
        { "GET http://vendor.example HTTP/1.0", "GET / HTTP/1.0" },
        { "GET http://vendor.example?A=VERSION HTTP/1.0", "GET /?A=VERSION HTTP/1.0" },
        { "GET http://h/x?L=a%20b HTTP/1.0", "GET /x?L=a%20b HTTP/1.0" },
        // Lines the parser must go on rejecting.
        { "", "" },
        { "GET", "GET" },
        { "GET /", "GET /" },
        { "   ", "   " },
        { "GET /x?L=a b FTP/1.0", "GET /x?L=a b FTP/1.0" },
        { "GET /x?L=a b", "GET /x?L=a b" },
        { "\xFF\xFE garbage \x01", "\xFF\xFE garbage \x01" },
        { "GET\t/x\tHTTP/1.0", "GET\t/x\tHTTP/1.0" },
    };
    for (const auto& row : rows)
        EXPECT_EQ(repairRequestLine(row.in), row.out) << "line: \"" << row.in << '"';
}

TEST(RepairRequestLineTest, OverlongLineKeepsItsLength)
{
    const std::string value(100000, 'v');
    const auto repaired = repairRequestLine("GET /x?L=" + value + " HTTP/1.0");
    EXPECT_EQ(repaired, "GET /x?L=" + value + " HTTP/1.0");
}

} // namespace
} // namespace vexor::server
