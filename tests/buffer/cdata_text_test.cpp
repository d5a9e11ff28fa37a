// CData's texts: dumps, integer lists, tokens of a text, telephone numbers, address
// lists and GBK conversion, with the inputs that used to overrun their areas.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "CData.h"

namespace kova::test::buffer {
namespace {

TEST(Dumps, ConsoleAndLogFormsOfSeventeenBytes) {
    std::vector<UChar> bytes(17);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<UChar>(i);
    bytes[1] = 0x80;
    bytes[2] = 'A';
    CData data;
    EXPECT_STREQ(data.DumpPackage(bytes.data(), 17),
                 "0000: 00 80 41 03 - 04 05 06 07 | 08 09 0A 0B - 0C 0D 0E 0F\n0010: 10 ");
    testing::internal::CaptureStdout();
    data.hexShow(bytes.data(), 0, 0);
    data.hexShow(bytes.data(), 17, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "0000: 00 80 41 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f ..A.............\n"
              "0010: 10 " +
                  std::string(45, ' ') + std::string(16, ' ').replace(0, 1, ".") + "\n");
}

TEST(IntegerLists, ParseAndFormatWithinTheirAreas) {
    CData data;
    int parsed[3] = {-1, -1, -1};
    int count = 0;
    char text[] = "1,2,";
    EXPECT_EQ(data.strToIntsz(text, ',', parsed, 3, count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::vector<int>(parsed, parsed + 3), (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(data.strToIntsz(text, ',', parsed, 2, count), -1);

    struct Case {
        std::vector<int> values;
        int size;
        int result;
        const char* text;
    };
    const std::vector<Case> cases = {
        {{1, 22, 333}, 10, 0, "1,22,333"},
        {{1, 22, 333}, 8, -1, "1,22"},
        {{INT_MIN, INT_MIN}, 24, 0, "-2147483648,-2147483648"},
        {{INT_MIN}, 11, -1, ""},
    };
    for (const Case& c : cases) {
        std::vector<char> out(c.size, 'z');
        std::vector<int> values = c.values;
        EXPECT_EQ(data.intszToStr(values.data(), static_cast<int>(values.size()), ',', out.data(), c.size), c.result);
        EXPECT_STREQ(out.data(), c.text);
    }
}

TEST(TextTokens, TokensTelephoneNumbersAndAddressesStayInsideTheirAreas) {
    CData data;
    char token[2] = {'?', '?'};
    char text[] = "ab,cd";
    char comma[] = ",";
    EXPECT_STREQ(data.MyGetToken(token, sizeof token, text, comma), "cd");
    EXPECT_STREQ(token, "a");
    char noSeparator[] = "abcdef";
    EXPECT_EQ(data.MyGetToken(token, sizeof token, noSeparator, comma), noSeparator + 6);
    EXPECT_STREQ(token, "a");
    EXPECT_EQ(data.MyGetToken(token, 0, text, comma), text + 3);

    struct Tel {
        const char* in;
        int result;
        const char* out;
    };
    const std::vector<Tel> tels = {{"+8613800000000", 0, "8613800000000"},
                                   {"13800000000", 0, "8613800000000"},
                                   {"008613800000000", 0, "8613800000000"},
                                   {"0044123", 0, "44123"},
                                   {"12345678901234567890123456789", 0, "8612345678901234567890123456789"},
                                   {"123456789012345678901234567890", -1, "123456789012345678901234567890"}};
    for (const Tel& t : tels) {
        char tel[40];
        strcpy(tel, t.in);
        EXPECT_EQ(data.Updatetel(tel), t.result) << t.in;
        EXPECT_STREQ(tel, t.out);
    }

    std::string longAddress(100, '1');
    std::string ips = " 127.0.0.1, " + longAddress + ",127.0.0.2";
    std::string ports = "80," + std::string(50, '9') + " ";
    sockaddr_in addrs[3] = {};
    int count = 3;
    data.setSetAddrInfo(&ips[0], &ports[0], addrs, count);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(addrs[0].sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(ntohs(addrs[0].sin_port), 80);
    EXPECT_EQ(addrs[1].sin_addr.s_addr, INADDR_NONE);
}

TEST(GbkText, ConversionFillingTheWorkAreaStaysInsideIt) {
    CData data;
    const std::string hanzi = "\xe4\xb8\xad";  // U+4E2D, two bytes in GBK
    std::string exactFit;
    for (int i = 0; i < 15360; ++i) exactFit += hanzi;  // 30720 bytes of GBK
    testing::internal::CaptureStderr();
    const std::string gbk = data.ChangeToGbk(exactFit);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(gbk.size(), 30718u);
    EXPECT_EQ(data.ChangeToUtf(gbk.substr(0, 4)), hanzi + hanzi);
    EXPECT_EQ(data.ChangeToGbk(""), "");
}

}  // namespace
}  // namespace kova::test::buffer
