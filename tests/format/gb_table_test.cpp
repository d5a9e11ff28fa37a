// The GB2312 code table built from its text form: every cell against iconv, a round trip
// over every character, lookups before a load and after a failed reload, and input that
// lies outside the table.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "GbConvert.h"

namespace kova::test::format {
namespace {

std::string tableFile() { return KOVA_GB2312_TABLE; }

void loadTable() {
    std::string path = tableFile();
    ASSERT_EQ(Unicode_Lib_Init(&path[0]), 0);
}

// iconv's UCS-2 code of one GB2312 pair, or "" when iconv refuses it.
std::string iconvUnit(iconv_t cd, const char pair[2]) {
    char in[2] = {pair[0], pair[1]}, out[4];
    char *inPtr = in, *outPtr = out;
    size_t inLeft = 2, outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) return "";
    return std::string(out, sizeof out - outLeft);
}

char pairByte(int value) { return static_cast<char>(value); }

// Every cell of the hanzi rows 0xB0..0xF7, the five past the table's last entry included.
const int kHanziCells = 72 * 94;

TEST(GbTable, EveryCellMatchesIconvBothWays) {
    loadTable();
    iconv_t cd = iconv_open("UCS-2BE", "GB2312");
    ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
    int cells = 0;
    for (int k = 0; k < kHanziCells; ++k) {
        char pair[2] = {pairByte(0xB0 + k / 94), pairByte(0xA1 + k % 94)};
        char unit[2] = {0, 0}, back[2] = {0, 0};
        const std::string expected = iconvUnit(cd, pair);
        if (expected.empty()) {
            EXPECT_EQ(char_gb2unicode(pair, unit), -1) << "empty cell " << k;
            continue;
        }
        ++cells;
        ASSERT_EQ(char_gb2unicode(pair, unit), 0) << k;
        ASSERT_EQ(std::string(unit, 2), expected) << k;
        ASSERT_EQ(char_unicode2gb(unit, back), 0) << k;
        ASSERT_EQ(std::string(back, 2), std::string(pair, 2)) << k;
    }
    iconv_close(cd);
    EXPECT_EQ(cells, 6763);
}

TEST(GbTable, EveryCharacterSurvivesARoundTrip) {
    loadTable();
    std::string text = "Az09 ~";
    for (int k = 0; k < kHanziCells; ++k) {
        char pair[2] = {pairByte(0xB0 + k / 94), pairByte(0xA1 + k % 94)}, unit[2];
        if (char_gb2unicode(pair, unit) == 0) text.append(pair, 2);
    }
    std::vector<char> units(2 * text.size());
    int length = 0;
    gb2unicode(&text[0], units.data(), &length);
    ASSERT_EQ(length, static_cast<int>(2 * (6 + 6763)));
    std::vector<char> back(text.size() + 1, 'z');
    unicode2gb(units.data(), back.data(), length);
    EXPECT_EQ(std::string(back.data()), text);
}

TEST(GbTable, LatinUnitsWriteNoLoneHighByte) {
    loadTable();
    char units[] = {0x00, pairByte(0xE9), 0x55, 0x4A}, out[8];  // a lone 0xE9 would swallow the hanzi
    unicode2gb(units, out, sizeof units);
    EXPECT_EQ(std::string(out), "\xB0\xA1");
}

// Run in a fresh process (death-test style "threadsafe"): other tests here load the table.
bool NothingFoundBeforeLoad() {
    char unit[2] = {0x55, 0x4A}, gb[3] = {pairByte(0xB0), pairByte(0xA1), 0}, out[8] = {'z', 'z'};
    unicode2gb(unit, out, 2);
    return out[0] == '\0' && GetIndexOfUnicode(unit) == -1 && char_unicode2gb(unit, out) == -1 &&
           char_gb2unicode(gb, out) == -1;
}
TEST(GbTable, LookupsBeforeAnyLoadFindNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit(NothingFoundBeforeLoad() ? 0 : 1), testing::ExitedWithCode(0), "");
}

TEST(GbTable, FailedReloadKeepsTheLoadedTable) {
    loadTable();
    char shortFile[] = "/tmp/kova-gb-short-XXXXXX";
    const int fd = mkstemp(shortFile);
    ASSERT_GE(fd, 0);
    std::vector<char> zeros(kGbTableBytes - 1);
    ASSERT_EQ(write(fd, zeros.data(), zeros.size()), static_cast<ssize_t>(zeros.size()));
    close(fd);
    char missing[] = "/nonexistent/gb2312.bin";
    EXPECT_EQ(Unicode_Lib_Init(shortFile), 2);
    EXPECT_EQ(Unicode_Lib_Init(missing), 1);
    unlink(shortFile);
    char gb[2] = {pairByte(0xB0), pairByte(0xA1)}, unit[2], back[2];
    ASSERT_EQ(char_gb2unicode(gb, unit), 0);
    EXPECT_EQ(std::string(unit, 2), "\x55\x4A");
    ASSERT_EQ(char_unicode2gb(unit, back), 0);
    EXPECT_EQ(std::string(back, 2), std::string(gb, 2));
}

TEST(GbTable, PairsOutsideTheHanziAreaGiveNothing) {
    loadTable();
    struct Case {
        const char* name;
        std::string in;
        std::string units;
    };
    const std::vector<Case> cases = {
        {"trail below its range", "\xB1\x80", ""},
        {"trail 0xA0", "\xB1\xA0", ""},
        {"trail 0xFF", "\xB0\xFF", ""},
        {"lead past the hanzi rows", "\xF8\xA1", ""},
        {"punctuation row", "\xA1\xA1", ""},
        {"empty cell", "\xD7\xFA", ""},
        {"lead before ASCII",
         "\xB0"
         "A",
         std::string("\0A", 2)},
        {"first and last cells", "\xB0\xA1\xF7\xF9", "\x55\x4A\x9F\x2F"},
    };
    for (const Case& c : cases) {
        std::string in = c.in;
        char units[16];
        int length = -1;
        gb2unicode(&in[0], units, &length);
        EXPECT_EQ(std::string(units, length), c.units) << c.name;
    }
}

}  // namespace
}  // namespace kova::test::format
