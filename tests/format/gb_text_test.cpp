// Whole-text conversions: HTML references of long texts, the UTF-8 decoder on cut, wide
// and malformed characters, the iconv wrappers' bounds and results, and file_transcode's exits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GbConvert.h"

namespace kova::test::format {
namespace {

TEST(GbText, ReferencesOfATextLongerThanFiveThousandCharacters) {
    std::string path = KOVA_GB2312_TABLE;
    ASSERT_EQ(Unicode_Lib_Init(&path[0]), 0);
    std::string gb;
    for (int i = 0; i < 6000; ++i) gb += "\xB0\xA1";
    gb += "A";
    std::vector<char> uni(8 * 6001 + 1);
    EXPECT_EQ(gb_uni(&gb[0], uni.data()), 0);
    const std::string text(uni.data());
    ASSERT_EQ(text.size(), 8u * 6001);
    EXPECT_EQ(text.substr(0, 8), "&#x554a;");
    EXPECT_EQ(text.substr(text.size() - 8), "&#x0041;");
}

TEST(GbText, Utf8DecoderStopsAtCutWideAndMalformedCharacters) {
    struct Case {
        const char* name;
        std::string in;
        int result;
        std::string units;
    };
    const std::vector<Case> cases = {
        {"ASCII and a hanzi", "A\xE4\xB8\xAD", 0, std::string("\0A\x4E\x2D", 4)},
        {"cut inside a character", "A\xE4\xB8", 1, std::string("\0A", 2)},
        {"four-byte character",
         "A\xF0\x9F\x98\x80"
         "B",
         2, std::string("\0A", 2)},
        {"overlong slash", "A\xC0\xAF", 3, std::string("\0A", 2)},
        {"overlong NUL", "A\xC0\x80", 3, std::string("\0A", 2)},
        {"surrogate", "A\xED\xA0\x80", 3, std::string("\0A", 2)},
        {"continuation byte missing", "A\xC3\x2F", 3, std::string("\0A", 2)},
    };
    for (const Case& c : cases) {
        std::vector<unsigned char> in(c.in.begin(), c.in.end());
        unsigned char units[16];
        int count = -1;
        EXPECT_EQ(ConvertUTF8toUCS2(in.data(), in.data() + in.size(), units, &count), c.result) << c.name;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(units), count), c.units) << c.name;
    }
}

TEST(GbText, IconvWrappersStayInsideTheirOutputAndReportFailure) {
    const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // two hanzi, four bytes in GBK
    struct Case {
        const char* name;
        int room;
        int result;
    };
    const std::vector<Case> cases = {{"room for text and terminator", 5, 4}, {"exact fit", 4, -1}, {"none", 0, -1}};
    for (const Case& c : cases) {
        std::vector<char> out(c.room + 1, 'z');
        testing::internal::CaptureStderr();
        EXPECT_EQ(Utf8ToGbk(utf8.data(), static_cast<int>(utf8.size()), out.data(), c.room), c.result) << c.name;
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(out[c.room], 'z') << c.name;
        if (c.result > 0) {
            EXPECT_EQ(out[c.result], '\0') << c.name;
        }
    }

    std::string gb = "a\nb\t\xD6\xD0";
    char out[16] = {0};
    EXPECT_EQ(Gb2312ToUtf8(&gb[0], static_cast<int>(gb.size()), out, sizeof out), 0);
    EXPECT_EQ(std::string(out), "a b\t\xE4\xB8\xAD");
    std::vector<char> bad = {'a', '\xD6'};  // cut inside a character, and not terminated
    testing::internal::CaptureStderr();
    EXPECT_EQ(Gb2312ToUtf8(bad.data(), static_cast<int>(bad.size()), out, sizeof out), -1);
    EXPECT_EQ(GbkToUtf8(gb.data(), static_cast<int>(gb.size()), out, 2), -1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("iconv "), std::string::npos);
}

TEST(FileTranscode, EndsWithStatusOneTwoOrThreeWhenAFileFails) {
    std::string text = std::string(KOVA_GB2312_TABLE_TEXT);
    struct Case {
        const char* name;
        std::string in, out;
        int status;
    };
    const std::vector<Case> cases = {{"input missing", "/nonexistent/table.txt", "/dev/null", 1},
                                     {"output not creatable", text, "/nonexistent/table.bin", 2},
                                     {"output full", text, "/dev/full", 3}};
    for (const Case& c : cases) {
        std::string in = c.in, out = c.out;
        EXPECT_EXIT(file_transcode(&in[0], &out[0]), testing::ExitedWithCode(c.status), "") << c.name;
    }
}

}  // namespace
}  // namespace kova::test::format
