// The harness's JSON texts, Base64 and mailbox, without a client.
#include "Base64.h"
#include "KOVAMessage.h"
#include "PublicTools.h"
#include "ResultMailbox.h"
#include "ResultText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kova::test::python {
namespace {

using namespace kova::harness;

KOVA::IMessage messageOf(const std::string& body, const std::string& encoding = "") {
    KOVAMsg::KOVAMessage record;
    std::string wire = body;
    if (!encoding.empty()) {
        EXPECT_TRUE(TQPublicTool::EncodeContent(KOVA::COMMON::E_GZIP, body, wire));
        record.properties[KOVAMsg::kovasEncodingProperty] = encoding;
    }
    record.message.assign(wire.begin(), wire.end());
    return KOVA::IMessage(record);
}

KOVA::ConsumeStatusPtr statusWith(int code, const std::vector<std::string>& bodies) {
    KOVA::ConsumeStatusPtr status = new KOVA::ConsumeStatus(code, nullptr);
    for (const std::string& body : bodies) status->msgList.push_back(messageOf(body));
    return status;
}

TEST(ResultText, EachShapeIsTabFormattedWithoutTrailingNewline) {
    std::vector<KOVA::IMessage> none;
    std::vector<KOVA::IMessage> two{messageOf("hi"), messageOf("yo")};
    const struct {
        std::string text;
        std::string expected;
    } cases[] = {
        {noResultText(), "[\n\t[\n\t\t-1,\n\t\t\"\"\n\t]\n]"},
        {codeText(16), "[\n\t[\n\t\t-1,\n\t\t16\n\t]\n]"},
        {consumeStatusText(*statusWith(16, {"kept"})), "[\n\t[\n\t\t-1,\n\t\t16\n\t]\n]"},
        {messageText(messageOf("hello", "gzip")), "[\n\t[\n\t\t1,\n\t\t\"aGVsbG8=\"\n\t]\n]"},
        {batchText(two), "[\n\t[\n\t\t0,\n\t\t\"aGk=\"\n\t],\n\t[\n\t\t0,\n\t\t\"eW8=\"\n\t]\n]"},
        {batchText(none), "[]"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.text, c.expected);
    EXPECT_TRUE(two.empty());
}

TEST(Base64, StandardAlphabetWithPadding) {
    const struct {
        std::string bytes;
        std::string expected;
    } cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xfb\xff", 2), "+/8="},
        {std::string("\xff\xfe\x00", 3), "//4A"},
        {std::string("\xc3\x28\x80\x00\xfe", 5), "wyiAAP4="},  // not UTF-8, with a zero byte
    };
    for (const auto& c : cases) EXPECT_EQ(encodeBase64(c.bytes), c.expected);
}

TEST(ResultMailbox, FilledSlotIsKeptAndAnEmptyOneGivesNoResultAfterItsPolls) {
    ResultMailbox mailbox(std::chrono::milliseconds(1), 2);
    mailbox.putCode(7);
    EXPECT_EQ(mailbox.take(), codeText(7));
    EXPECT_EQ(mailbox.take(), codeText(7));
    mailbox.clear();
    EXPECT_EQ(mailbox.take(), noResultText());
}

TEST(ResultMailbox, StatusIsKeptAndItsMessagesMoveIntoTheSlot) {
    ResultMailbox mailbox(std::chrono::milliseconds(1), 2);
    KOVA::ConsumeStatusPtr status = statusWith(0, {"a", "b"});
    mailbox.putStatus(status);
    EXPECT_EQ(mailbox.lastStatus().get(), status.get());
    EXPECT_TRUE(status->msgList.empty());
    EXPECT_NE(mailbox.take().find("\"YQ==\""), std::string::npos);

    mailbox.putStatus(nullptr);
    EXPECT_FALSE(mailbox.lastStatus());
    EXPECT_EQ(mailbox.take(), noResultText());
}

// Callback threads fill the slot while the caller copies and clears it.
TEST(ResultMailbox, FillingWhileTakingAndClearingKeepsWholeTexts) {
    ResultMailbox mailbox(std::chrono::milliseconds(0), 0);
    std::atomic<bool> stop{false};
    std::thread filler([&] {
        const KOVA::IMessage message = messageOf(std::string(300, 'm'));
        for (int i = 0; !stop; ++i) i % 2 ? mailbox.putMessage(message) : mailbox.putCode(i);
    });
    for (int i = 0; i < 20000; ++i) {
        const std::string text = mailbox.take();
        EXPECT_EQ(text.back(), ']');
        if (i % 3 == 0) mailbox.clear();
    }
    stop = true;
    filler.join();
}

}  // namespace
}  // namespace kova::test::python
