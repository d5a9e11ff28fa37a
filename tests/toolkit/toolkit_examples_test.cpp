// Valid input: the documented examples of the domain, URL, mail, text and id routines.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "IpLimit.h"
#include "Tools.h"

namespace kova::test::toolkit {
namespace {

TEST(ToolkitExamples, RegistrableDomain) {
    const std::tuple<const char*, int, const char*> cases[] = {
        {"http://w.x.com.cn/index.html", 0, "x.com.cn"},
        {"w.x.com.cn", 0, "x.com.cn"},
        {"w.x.co.jp", 0, "co.jp"},
        {"a.b.x.de", 0, "x.de"},
        {"https://w.x.org/a.b/c", 0, "x.org"},
        {"http:// w.x .org/", 0, "x.org"},
        {"x.xyz", 0, "x.xyz"},
        {"10.1.2.3", 0, "10.1.2.3"},
        {"1..3.4", 0, "1..3.4"},  // an empty label passes
        {"w.x.xyz", -1, "untouched"},
        {"localhost", -1, "untouched"},
        {"10.1.2.3:8080", -1, "untouched"},
        {"w.x.COM", -1, "untouched"},  // suffixes are matched case-sensitively
        {"X.COM", 0, "X.COM"},         // any two-label host is its own domain
        {"", -1, "untouched"}};
    for (const auto& [url, result, expected] : cases) {
        Tools tools;
        std::string domain = "untouched";
        std::vector<std::string> list;
        std::string text = url;
        EXPECT_EQ(result, tools.GetUrlToDomail(&text[0], domain)) << url;
        EXPECT_EQ(expected, domain) << url;
        EXPECT_EQ(result, tools.GetUrlToDomail(&text[0], list)) << url;
        EXPECT_EQ(result == 0 ? expected : "none", list.empty() ? "none" : list.front()) << url;
    }
    Tools tools;
    char url[] = "http://a.b.x.com/";
    std::vector<std::string> list;
    EXPECT_EQ(0, tools.GetUrlToDomail(url, list));
    EXPECT_EQ((std::vector<std::string>{"x.com", "b.x.com", "a.b.x.com"}), list);
    Tools own;
    own.d_vsPostfix.push_back("xyz");  // a caller's suffix, put in before the first use
    char ownUrl[] = "w.x.xyz";
    std::string domain;
    EXPECT_EQ(0, own.GetUrlToDomail(ownUrl, domain));
    EXPECT_EQ("x.xyz", domain);
}

TEST(ToolkitExamples, MailAddresses) {
    const std::pair<const char*, int> cases[] = {
        {"john.doe@example.com", 0}, {"john..doe@example.com", -1}, {"\"john doe\"@192.168.1.20", 0},
        {"john@example.c", -1},      {"j@mail.example.co.uk", 0},   {"john doe@example.com", -1},
        {"@example.com", -1},        {"john@example", -1},          {"john@1.2.3", -1},
    };
    Tools tools;
    for (const auto& c : cases) EXPECT_EQ(c.second, tools.CheckValidMail(c.first)) << c.first;
}

TEST(ToolkitExamples, TextMarkersCutsAndHex) {
    Tools tools;
    std::string pair = "key=value;rest", open = "key=value";
    EXPECT_EQ("value", tools.GetPara(pair, "=", ";"));
    EXPECT_EQ("value", tools.GetPara(open, "=", ";"));
    const std::tuple<std::string, int, std::string> cuts[] = {
        {"abc", 0, "a"}, {"\xb0\xa1\xb0\xa2x", 1, "\xb0\xa1"}, {"ab\xb0\xa1z", 3, "ab\xb0\xa1"}, {"abc", 9, "abc"}};
    for (const auto& [text, count, kept] : cuts) {
        std::string cut = text;
        tools.CutHZ(cut, count);
        EXPECT_EQ(kept, cut) << text;
    }

    char hex[] = "0a1B", odd[] = "0a1", bytes[2], text[7], raw[] = "\x01\xab\xff";
    EXPECT_EQ(0, tools.ConvertToBuf(bytes, 2, hex));
    EXPECT_EQ(std::string("\x0a\x1b"), std::string(bytes, 2));
    EXPECT_EQ(-1, tools.ConvertToBuf(bytes, 2, odd));
    EXPECT_EQ(0, tools.ConvertToText(text, 6, raw, 3));
    EXPECT_STREQ("01abff", text);

    std::ostringstream shown;
    std::streambuf* saved = std::cout.rdbuf(shown.rdbuf());
    char high[] = "\x80\x41";
    tools.ShowHex(high, 2);
    std::cout.rdbuf(saved);
    EXPECT_EQ("80  41  \n", shown.str());
}

TEST(ToolkitExamples, DateTimeText) {
    setenv("TZ", "UTC", 1);
    tzset();
    const std::pair<time_t, const char*> cases[] = {
        {1796562309, "2026-12-06 13:05:09"}, {0, "1970-01-01 00:00:00"}, {-618062400, "1950-06-01 12:00:00"}};
    Tools tools;
    for (const auto& c : cases) EXPECT_EQ(c.second, tools.GetDateTimeStr(&c.first));
}

TEST(ToolkitExamples, IdsLimitsAndCommandNames) {
    const ULong64 base = 1ULL << 32;
    EXPECT_EQ(5u, Tools::Uid64BitsMap32Bits(5, base, base + 10));
    EXPECT_EQ(11u, Tools::Uid64BitsMap32Bits(base + 10, base, base + 10));
    EXPECT_EQ(0u, Tools::Uid64BitsMap32Bits(base + 11, base, base + 10));

    IpLimit limit;
    EXPECT_EQ(0, limit.SetIPLimit("10.0.0.1"));
    EXPECT_EQ(-1, limit.SetIPLimit("255.255.255.255"));
    EXPECT_EQ(-1, limit.SetIPLimit("not an address"));
    EXPECT_EQ(0, limit.SetIPLimit(static_cast<unsigned long>(inet_addr("10.0.0.3"))));
    const std::pair<const char*, int> asked[] = {{"10.0.0.1", 1}, {"10.0.0.2", 0}, {"10.0.0.3", 1}, {"nonsense", 0}};
    for (const auto& a : asked) EXPECT_EQ(a.second, limit.GetIPLimit(a.first)) << a.first;

    const std::pair<int, const char*> names[] = {
        {0, "VX_REG"}, {25, "VX_CTRLSDK"}, {15, "VX_UNKNOWN"}, {-1, "VX_UNKNOWN"}, {256, "VX_UNKNOWN"}};
    for (const auto& n : names) EXPECT_STREQ(n.second, Tools::GetCmdName(n.first)) << n.first;
}

}  // namespace
}  // namespace kova::test::toolkit
