// Unsafe input: each routine family given what a hostile packet or text may hold.
// Buffers are sized exactly, so the sanitizer build reports any byte read or written
// past them; the assertions pin the bounded results.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "Tools.h"

namespace kova::test::toolkit {
namespace {

// An exact-size heap copy of `text` with its terminator.
std::vector<char> ExactCopy(const std::string& text) {
    return std::vector<char>(text.c_str(), text.c_str() + text.size() + 1);
}

TEST(ToolkitUnsafeInput, UrlEscapes) {
    const std::pair<const char*, const char*> cases[] = {
        {"a%20b", "a b"}, {"%4a%4A", "JJ"}, {"a+b", "a+b"}, {"%e4%b8%ad", "\xe4\xb8\xad"},  // valid
        {"%", "%"},       {"ab%", "ab%"},   {"%4", "%4"},   {"ab%4", "ab%4"},
        {"%41%", "A%"}};
    Tools tools;
    for (const auto& c : cases) {
        std::vector<char> url = ExactCopy(c.first);
        tools.unescape_url(url.data());
        EXPECT_STREQ(c.second, url.data()) << c.first;
    }
}

TEST(ToolkitUnsafeInput, GbkLeadByteWithoutTrail) {
    Tools tools;
    const std::pair<std::string, int> lengths[] = {{"a\xb0", 2}, {"\xb0", 1}, {"\xb0\xa1\xb0", 2}};
    for (const auto& l : lengths) {
        std::vector<char> text = ExactCopy(l.first);
        EXPECT_EQ(l.second, tools.GetHZLength(reinterpret_cast<unsigned char*>(text.data()))) << l.first;
    }
    // 200 bytes whose 199-byte cut ends in a lead byte; the character it starts is cut too.
    const std::string lastLead = std::string(198, 'a') + "\xb0\xa1";
    const std::tuple<std::string, int, std::string> cuts[] = {{lastLead, 199, lastLead.substr(0, 198)},
                                                              {lastLead, 500, lastLead.substr(0, 198)},
                                                              {std::string("ab\0cd", 5), 9, "ab"},
                                                              {"", 0, ""}};
    for (const auto& [text, count, kept] : cuts) {
        std::string cut = text;
        EXPECT_EQ(0, tools.CutHZ(cut, count));
        EXPECT_EQ(kept, cut);
    }
}

struct FieldCase {
    const char* name;
    std::vector<unsigned char> packet;
    int leave;     // bytes the caller says are left
    int capacity;  // destination size for the checked forms
    int result;    // of GetStringCheck (GetString gives -1 or 0 alike)
    int leaveAfter;
};

TEST(ToolkitUnsafeInput, PacketStringLengths) {
    const FieldCase cases[] = {
        {"length beyond the packet", {0x00, 0x09, 'a', 'b'}, 4, 16, -1, -7},
        {"all-ones length", {0xff, 0xff, 'a', 'b'}, 4, 16, -1, -65533},
        {"length with the sign bit, packet says long", {0x80, 0x00, 'a'}, 100000, 16, -2, 100000 - 2 - 0x8000},
        {"exactly the destination", {0x00, 0x04, 'a', 'b', 'c', 'd'}, 6, 4, -2, 0},
        {"one under the destination", {0x00, 0x03, 'a', 'b', 'c'}, 5, 4, 0, 0},
        {"empty string", {0x00, 0x00}, 2, 1, 0, 0},
        {"counter near its minimum", {0x00, 0x01, 'a'}, -2147483647, 16, -1, -2147483647},
        {"no byte left", {}, 0, 16, -1, 0},
        {"one byte left", {0x00}, 1, 16, -1, 1},
        {"negative destination size", {0x00, 0x02, 'a', 'b'}, 4, -1, -2, 0},
    };
    Tools tools;
    for (const FieldCase& c : cases) {
        // Exact size on the heap, an empty packet included, so a read past it is seen.
        std::unique_ptr<char[]> packet(new char[c.packet.size()]);
        std::copy(c.packet.begin(), c.packet.end(), packet.get());
        const bool prefixRead = c.leave >= 2;
        std::vector<char> dest(static_cast<size_t>(std::max(c.capacity, 1)));
        short length = 0;
        int leave = c.leave;
        char* cursor = packet.get();
        EXPECT_EQ(c.result, tools.GetStringCheck(dest.data(), &cursor, &length, &leave, c.capacity)) << c.name;
        EXPECT_EQ(c.leaveAfter, leave) << c.name;
        EXPECT_EQ(prefixRead ? static_cast<short>(c.packet[0] << 8 | c.packet[1]) : 0, length) << c.name;
        EXPECT_EQ(c.result == 0 ? c.packet.size()
                  : prefixRead  ? 2u
                                : 0u,
                  static_cast<size_t>(cursor - packet.get()))
            << c.name;

        leave = c.leave;
        EXPECT_EQ(c.result, tools.GetString2(dest.data(), packet.get(), &length, &leave, c.capacity)) << c.name;
        if (c.result != -2) {
            leave = c.leave;
            cursor = packet.get();
            EXPECT_EQ(c.result, tools.GetString(dest.data(), &cursor, &length, &leave)) << c.name;
        }
    }

    char field[8] = {0};
    int total = 0;
    EXPECT_EQ(-1, tools.SetString(field, "abc", -1, &total));
    EXPECT_EQ(0, total);
    EXPECT_EQ(0, tools.SetString(field, "abc", 3, &total));
    EXPECT_EQ(5, total);
    EXPECT_EQ(0, memcmp(field,
                        "\x00\x03"
                        "abc",
                        5));
}

TEST(ToolkitUnsafeInput, HexTextSizes) {
    Tools tools;
    char output[2] = {'x', 'y'}, text[3] = {'x', 'y', 'z'}, longText[] = "00112233", bytes[] = "\x01\x02";
    EXPECT_EQ(-1, tools.ConvertToBuf(output, 2, longText));
    EXPECT_EQ(-1, tools.ConvertToBuf(output, -4, longText));
    for (int length : {-1, 2, 1 << 30}) EXPECT_EQ(-1, tools.ConvertToText(text, 2, bytes, length));
    EXPECT_EQ("xyxyz", std::string(output, 2) + std::string(text, 3));  // nothing touched
}

}  // namespace
}  // namespace kova::test::toolkit
