// Consumed and produced messages: decoding by "CONTENT_ENCODING" with its warnings,
// the raw fall-back, positional getters, copies and the produced message's body rules.
#include "KOVAIMessage.h"
#include "KOVAOMessage.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "log_reader.h"
#include "test_log.h"

#include <KOVAMessage.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace kova::test::model {
namespace {

using fixtures::countOccurrences;

const std::string kDecodeWarn = "WARN: Decode content for type:";
const std::string kUnknownWarn = "WARN: Can't support encode type:";

KOVAMsg::KOVAMessage Record(const std::string& body, const std::string& encoding = std::string(),
                            KOVAMsg::kovaInternalProperties ids = {"m1"}) {
    KOVAMsg::KOVAMessage record{};
    if (!encoding.empty()) record.properties[KOVAMsg::kovasEncodingProperty] = encoding;
    record.properties["k"] = "v";
    record.s_properties = std::move(ids);
    record.message.assign(body.begin(), body.end());
    return record;
}

std::string Encoded(int etype, const std::string& body) {
    std::string out;
    EXPECT_TRUE(TQPublicTool::EncodeContent(etype, body, out));
    return out;
}

TEST(IMessageDecoding, EachKnownEncodingIsDecodedSilently) {
    const std::string body = codecs::CompressibleBody(4096);
    const std::pair<int, std::string> encodings[] = {{1, "gzip"}, {2, "lz4"}, {3, "zstd"}};
    const fixtures::LogMark mark(fixtures::testLogDir());
    for (const auto& [etype, name] : encodings) {
        SCOPED_TRACE(name);
        const std::string wire = Encoded(etype, body);
        KOVAMsg::KOVAMessage record = Record(wire, name);
        KOVA::IMessage msg(&record);
        EXPECT_EQ(msg.EType(), etype);
        EXPECT_EQ(msg.ETypeStr(), name);
        EXPECT_EQ(msg.Message(), body);
        EXPECT_EQ(msg.RMessage(), wire);
    }
    EXPECT_EQ(mark.text(), "");
}

TEST(IMessageDecoding, WithoutEncodingPropertyTheBodyIsRawAndNothingIsLogged) {
    const fixtures::LogMark mark(fixtures::testLogDir());
    KOVAMsg::KOVAMessage record = Record(std::string("a\0b", 3));
    KOVA::IMessage msg(&record);
    EXPECT_EQ(msg.EType(), KOVA::COMMON::E_RAW);
    EXPECT_EQ(msg.ETypeStr(), "");
    EXPECT_EQ(msg.Message(), std::string("a\0b", 3));
    EXPECT_EQ(&msg.Message(), &msg.RMessage());
    EXPECT_EQ(mark.text(), "");
}

TEST(IMessageDecoding, UnknownValueLogsBothWarningsAndDeliversRaw) {
    const std::string wire = Encoded(1, codecs::CompressibleBody(4096));
    KOVAMsg::KOVAMessage record = Record(wire, "GZIP");
    const fixtures::LogMark mark(fixtures::testLogDir());
    KOVA::IMessage msg(&record);
    const std::string log = mark.text();
    EXPECT_EQ(countOccurrences(log, kUnknownWarn + "GZIP, for message:m1"), 1u) << log;
    EXPECT_EQ(countOccurrences(log, kDecodeWarn + "GZIP, message:m1 failed, data size:" + std::to_string(wire.size())),
              1u)
        << log;
    EXPECT_EQ(countOccurrences(log, "(IMessage) WARN"), 2u) << log;
    EXPECT_EQ(msg.EType(), KOVA::COMMON::E_RAW);
    EXPECT_EQ(msg.ETypeStr(), "GZIP");
    EXPECT_EQ(msg.Message(), wire);
}

TEST(IMessageDecoding, FailedDecodeFallsBackToTheReceivedBytes) {
    // A body that is no frame at all, and a gzip stream cut in half whose decoder
    // may already have produced a prefix: neither may reach the consumer.
    const std::string gzipped = Encoded(1, codecs::CompressibleBody(4096));
    const std::pair<std::string, std::string> cases[] = {
        {"lz4", "not a frame"},
        {"gzip", gzipped.substr(0, gzipped.size() / 2)},
        {"zstd", Encoded(3, codecs::CompressibleBody(4096)).substr(0, 20)},
    };
    for (const auto& [name, wire] : cases) {
        SCOPED_TRACE(name);
        KOVAMsg::KOVAMessage record = Record(wire, name, {});
        const fixtures::LogMark mark(fixtures::testLogDir());
        KOVA::IMessage msg(&record);
        const std::string log = mark.text();
        const std::string failed = kDecodeWarn + name + ", message: failed, data size:" + std::to_string(wire.size());
        EXPECT_EQ(countOccurrences(log, failed), 1u) << log;
        EXPECT_EQ(countOccurrences(log, kUnknownWarn), 0u) << log;
        EXPECT_EQ(msg.EType(), KOVA::COMMON::E_RAW);
        EXPECT_EQ(msg.ETypeStr(), name);
        EXPECT_EQ(msg.Message(), wire);
        EXPECT_EQ(msg.RMessage(), wire);
    }
}

TEST(IMessageRecord, PropertyListsAreTakenOverAndTheBodyIsCopied) {
    KOVAMsg::KOVAMessage record = Record("body");
    record.i_properties = {4, 5};
    record.l_properties = {100, 200, 300};
    KOVA::IMessage msg(&record);
    EXPECT_TRUE(record.properties.empty());
    EXPECT_TRUE(record.s_properties.empty());
    EXPECT_TRUE(record.i_properties.empty());
    EXPECT_TRUE(record.l_properties.empty());
    EXPECT_EQ(std::string(record.message.begin(), record.message.end()), "body");
    EXPECT_EQ(msg.GetProperty("k"), "v");
    EXPECT_EQ(msg.GetMessageId(), "m1");
    EXPECT_EQ(msg.GetBornTimestamp(), 100);
    EXPECT_EQ(msg.GetStoreTimestamp(), 200);
}

TEST(IMessageRecord, AConstRecordIsCopiedWholeAndDecodedAsATakenOne) {
    const std::string body = codecs::CompressibleBody(4096);
    KOVAMsg::KOVAMessage source = Record(Encoded(3, body), "zstd");
    source.i_properties = {4, 5};
    source.l_properties = {100, 200};
    const KOVAMsg::KOVAMessage record = source;
    KOVA::IMessage copied(record);
    KOVA::IMessage taken(&source);
    EXPECT_EQ(copied.ToString(), taken.ToString());
    EXPECT_EQ(copied.Message(), body);
    EXPECT_EQ(copied.GetProperties(), taken.GetProperties());
    EXPECT_EQ(record.properties.size(), 2u);
    EXPECT_EQ(record.s_properties, KOVAMsg::kovaInternalProperties{"m1"});
    EXPECT_EQ(record.i_properties.size(), 2u);
    EXPECT_EQ(record.l_properties.size(), 2u);
    EXPECT_EQ(std::string(record.message.begin(), record.message.end()), copied.RMessage());

    // Its warnings name the constructor too.
    const KOVAMsg::KOVAMessage unknown = Record(Encoded(1, body), "GZIP");
    const fixtures::LogMark mark(fixtures::testLogDir());
    EXPECT_EQ(KOVA::IMessage(unknown).EType(), KOVA::COMMON::E_RAW);
    const std::string log = mark.text();
    EXPECT_EQ(countOccurrences(log, "(IMessage) WARN"), 2u) << log;
}

TEST(IMessageRecord, PositionalGettersFallBackWhenListsAreShort) {
    KOVAMsg::KOVAMessage none = Record("", "", {});
    KOVA::IMessage empty(&none);
    EXPECT_EQ(empty.GetMessageId(), "");
    EXPECT_EQ(empty.GetBornHost(), "");
    EXPECT_EQ(empty.GetBornTimestamp(), -1);
    EXPECT_EQ(empty.GetStoreTimestamp(), -1);
    EXPECT_EQ(empty.GetProperty("absent"), "");

    KOVAMsg::KOVAMessage one = Record("", "", {"id"});
    one.l_properties = {42};
    KOVA::IMessage partial(&one);
    EXPECT_EQ(partial.GetMessageId(), "id");
    EXPECT_EQ(partial.GetBornHost(), "");
    EXPECT_EQ(partial.GetBornTimestamp(), 42);
    EXPECT_EQ(partial.GetStoreTimestamp(), -1);

    KOVAMsg::KOVAMessage two = Record("", "", {"id", "host"});
    EXPECT_EQ(KOVA::IMessage(&two).GetBornHost(), "host");
}

TEST(IMessageRecord, ToStringHasFixedKeysAndNoEscaping) {
    const std::string body = codecs::CompressibleBody(4096);
    const std::string wire = Encoded(3, body);
    KOVAMsg::KOVAMessage record = Record(wire, "zstd", {"m\"1", "h"});
    record.properties[KOVAMsg::kovasTagsProperty] = "t";
    record.l_properties = {17};
    KOVA::IMessage msg(&record);
    EXPECT_EQ(msg.ToString(),
              "{\"msgid\":\"m\"1\",\"bornHost\":\"h\",\"bornTimestamp\":17,\"tags\":\"t\","
              "\"storeTimestamp\":-1,\"encodingType\":3,\"rawMsgLength\":" +
                  std::to_string(wire.size()) + ",\"msgLength\":" + std::to_string(body.size()) + "}");
}

TEST(IMessageRecord, CopiesMovesAndSelfAssignmentKeepEverything) {
    const std::string body = codecs::CompressibleBody(4096);
    KOVAMsg::KOVAMessage record = Record(Encoded(2, body), "lz4");
    record.l_properties = {5, 6};
    KOVA::IMessage original(&record);
    const std::string text = original.ToString();

    KOVA::IMessage copy(original);
    EXPECT_EQ(copy.ToString(), text);
    EXPECT_EQ(copy.Message(), body);
    KOVA::IMessage& alias = copy;
    copy = alias;
    EXPECT_EQ(copy.ToString(), text);
    copy = std::move(alias);
    EXPECT_EQ(copy.ToString(), text);

    KOVA::IMessage moved(std::move(copy));
    EXPECT_EQ(moved.ToString(), text);
    EXPECT_EQ(moved.GetProperty("k"), "v");
    KOVAMsg::KOVAMessage other = Record("x");
    KOVA::IMessage target(&other);
    target = moved;
    EXPECT_EQ(target.ToString(), text);
    EXPECT_EQ(target.Message(), body);
}

TEST(OMessageBody, CopiesKeepTheBornTime) {
    KOVA::OMessage original("body", KOVA::COMMON::E_GZIP);
    original.SetMessageId("m1");
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    KOVA::OMessage later;
    EXPECT_GT(later.GetBornTimestamp(), original.GetBornTimestamp());

    KOVA::OMessage copy(original);
    later = original;
    KOVA::OMessage moved(std::move(copy));
    for (const KOVA::OMessage* each : {&later, &moved}) {
        EXPECT_EQ(each->GetBornTimestamp(), original.GetBornTimestamp());
        EXPECT_EQ(each->Message(), "body");
        EXPECT_EQ(each->EType(), KOVA::COMMON::E_GZIP);
        EXPECT_EQ(each->GetMessageId(), "m1");
    }
}

TEST(OMessageBody, PointerAndLengthFormsKeepZeroBytesAndRefuseBadInput) {
    const char bytes[] = {'a', 'b', '\0', 'c', 'd'};
    KOVA::OMessage five(bytes, 5, KOVA::COMMON::E_RAW);
    EXPECT_EQ(five.Message(), std::string(bytes, 5));

    EXPECT_EQ(KOVA::OMessage(nullptr, 5, KOVA::COMMON::E_RAW).Message(), "");
    EXPECT_EQ(KOVA::OMessage(bytes, -1, KOVA::COMMON::E_RAW).Message(), "");

    five.SetMessage(five.Message().data(), 2);  // its own buffer: left alone
    EXPECT_EQ(five.Message(), std::string(bytes, 5));
    five.SetMessage(five.Message());
    EXPECT_EQ(five.Message(), std::string(bytes, 5));
    five.SetMessage(bytes + 3, 2);
    EXPECT_EQ(five.Message(), "cd");
    five.SetMessage(nullptr, 3);
    EXPECT_EQ(five.Message(), "");
    five.SetMessage(bytes, -4);
    EXPECT_EQ(five.Message(), "");
}

}  // namespace
}  // namespace kova::test::model
