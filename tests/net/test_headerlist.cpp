#include "net/headerlist.h"

#include <gtest/gtest.h>

namespace vexor::net {
namespace {

TEST(HeaderListTest, FindsTheFirstLineByNameWithoutCase)
{
    THeaderList list;
    list.Add("GET / HTTP/1.0");
    list.Add("no separator here");
    list.Add("Host: a");
    list.Add("host: b");
    list.Add("Hostname: c");
    list.Add(":empty name");
    EXPECT_EQ(list.IndexOfName("HOST"), 2);
    EXPECT_EQ(list.IndexOfName("hostname"), 4);
    EXPECT_EQ(list.IndexOfName("no separator here"), -1);
    EXPECT_EQ(list.IndexOfName("Hos"), -1);
    EXPECT_EQ(list.IndexOfName(""), 5);
    EXPECT_EQ(list.IndexOfName("GET / HTTP/1.0"), -1);
}

TEST(HeaderListTest, SetValueReplacesInPlaceAppendsOrDeletes)
{
    THeaderList list;
    list.Add("A: 1");
    list.Add("Host: old");
    list.Add("B: 2");
    list.SetValue("host", "new");
    EXPECT_EQ(list.Text(), "A: 1\r\nhost: new\r\nB: 2\r\n");
    list.SetValue("Cookie", "x=1");
    EXPECT_EQ(list[3], "Cookie: x=1");
    list.SetValue("A", "");
    EXPECT_EQ(list.Text(), "host: new\r\nB: 2\r\nCookie: x=1\r\n");
    list.SetValue("Missing", "");
    EXPECT_EQ(list.Count(), 3);
}

}  // namespace
}  // namespace vexor::net
