// Conversions between messages and wire records: each encoding type on the way out,
// the message id's move into the positional strings, and the pull reply's turn into
// a ConsumeStatus with its commit state (routed or not, with or without a callback).
#include "ConsumeResultConversion.h"
#include "KOVAOMessage.h"
#include "KOVAPublic.h"
#include "ProduceConversion.h"
#include "PublicTools.h"
#include "codec_bodies.h"

#include <Ice/Ice.h>
#include <gtest/gtest.h>

namespace kova::test::model {
namespace {

std::string BodyOf(const KOVAMsg::KOVAMessage& record) {
    return std::string(record.message.begin(), record.message.end());
}

TEST(OMessageToKOVAMessage, RawTypeCarriesPropertiesBornTimeAndBodyUnchanged) {
    KOVA::OMessage msg(std::string("x\0y", 3), KOVA::COMMON::E_RAW);
    msg.SetProperty("a", "b");
    KOVAMsg::KOVAMessage record{};
    ASSERT_TRUE(KOVA::OMessageToKOVAMessage(msg, record));
    EXPECT_EQ(record.properties, (KOVAMsg::KOVAProperties{{"a", "b"}}));
    EXPECT_EQ(record.l_properties, (KOVAMsg::kovaInternalI64Properties{msg.GetBornTimestamp()}));
    EXPECT_TRUE(record.s_properties.empty());
    EXPECT_TRUE(record.i_properties.empty());
    EXPECT_EQ(BodyOf(record), std::string("x\0y", 3));

    // A caller's own "CONTENT_ENCODING" on a raw message travels as given.
    msg.SetProperty(KOVAMsg::kovasEncodingProperty, "gzip");
    KOVAMsg::KOVAMessage passthrough{};
    ASSERT_TRUE(KOVA::OMessageToKOVAMessage(msg, passthrough));
    EXPECT_EQ(passthrough.properties[KOVAMsg::kovasEncodingProperty], "gzip");
    EXPECT_EQ(BodyOf(passthrough), std::string("x\0y", 3));
}

TEST(OMessageToKOVAMessage, ClientCompressedTypesEncodeAndRoundTripThroughIMessage) {
    const std::string body = codecs::CompressibleBody(4096);
    const std::pair<KOVA::COMMON::IEncodingType, std::string> types[] = {
        {KOVA::COMMON::E_GZIP, "gzip"}, {KOVA::COMMON::E_LZ4, "lz4"}, {KOVA::COMMON::E_ZSTD, "zstd"}};
    for (const auto& [etype, name] : types) {
        SCOPED_TRACE(name);
        KOVAMsg::KOVAMessage record{};
        ASSERT_TRUE(KOVA::OMessageToKOVAMessage(KOVA::OMessage(body, etype), record));
        EXPECT_EQ(record.properties[KOVAMsg::kovasEncodingProperty], name);
        EXPECT_LT(record.message.size(), body.size());
        std::string decoded;
        ASSERT_TRUE(TQPublicTool::DecodeContent(etype, BodyOf(record), decoded));
        EXPECT_EQ(decoded, body);

        KOVA::IMessage consumed(&record);
        EXPECT_EQ(consumed.EType(), etype);
        EXPECT_EQ(consumed.Message(), body);
    }
}

TEST(OMessageToKOVAMessage, PreEncodedTypesOnlyNameTheirEncoding) {
    const std::string body("\x1f\x8b\0 already encoded \xff", 22);
    const std::pair<KOVA::COMMON::IEncodingType, std::string> types[] = {
        {KOVA::COMMON::E_TGZIP, "gzip"}, {KOVA::COMMON::E_TLZ4, "lz4"}, {KOVA::COMMON::E_TZSTD, "zstd"}};
    for (const auto& [etype, name] : types) {
        SCOPED_TRACE(name);
        KOVAMsg::KOVAMessage record{};
        ASSERT_TRUE(KOVA::OMessageToKOVAMessage(KOVA::OMessage(body, etype), record));
        EXPECT_EQ(record.properties[KOVAMsg::kovasEncodingProperty], name);
        EXPECT_EQ(BodyOf(record), body);
    }
}

TEST(OMessageToKOVAMessage, MessageIdMovesIntoPositionalStringsUnlessEmpty) {
    KOVA::OMessage msg("b", KOVA::COMMON::E_TLZ4);
    msg.SetMessageId("m1");
    msg.SetTags("tag");
    KOVAMsg::KOVAMessage record{};
    ASSERT_TRUE(KOVA::OMessageToKOVAMessage(msg, record));
    EXPECT_EQ(record.properties.count(KOVAMsg::kovasMsgidProperty), 0u);
    EXPECT_EQ(record.s_properties, (KOVAMsg::kovaInternalProperties{"m1"}));
    EXPECT_EQ(record.properties[KOVAMsg::kovasTagsProperty], "tag");
    EXPECT_EQ(msg.GetMessageId(), "m1") << "the conversion must only read the message";

    msg.SetMessageId("");
    KOVAMsg::KOVAMessage unnamed{};
    ASSERT_TRUE(KOVA::OMessageToKOVAMessage(msg, unnamed));
    ASSERT_EQ(unnamed.properties.count(KOVAMsg::kovasMsgidProperty), 1u);
    EXPECT_EQ(unnamed.properties[KOVAMsg::kovasMsgidProperty], "");
    EXPECT_TRUE(unnamed.s_properties.empty());
}

class ConsumeResultConversion : public ::testing::Test {
protected:
    static void SetUpTestSuite() { communicator_ = Ice::initialize(); }
    static void TearDownTestSuite() {
        communicator_->destroy();
        communicator_ = nullptr;
    }

    static KOVA::ConsumeResultInfo Result(int code) {
        KOVA::ConsumeResultInfo result{};
        result.code = code;
        result.delay = 250;
        result.commit.type = KOVA::StateEnable;
        result.commit.offset = 1000;
        result.commit.id = "node-1";
        result.commit.rid = "res-1";
        result.commit.info.commitid = 12;
        result.commit.info.id = -3;
        result.commit.info.transid = 4;
        result.commit.info.topic = "topic";
        result.commit.info.broker = "broker";
        result.commit.info.cluster = "cluster";
        result.callback =
            KOVA::KOVACallbackAgentPrx::uncheckedCast(communicator_->stringToProxy("cb:tcp -h 127.0.0.1 -p 10000"));
        return result;
    }

    static KOVAMsg::KOVABatchMessage Records(int count) {
        KOVAMsg::KOVABatchMessage records;
        for (int i = 0; i < count; ++i) {
            KOVAMsg::KOVAMessage record{};
            record.s_properties = {"id" + std::to_string(i)};
            record.properties["n"] = std::to_string(i);
            record.message = {static_cast<Ice::Byte>('a' + i)};
            records.push_back(record);
        }
        return records;
    }

    static Glacier2::RouterPrx Router() {
        return Glacier2::RouterPrx::uncheckedCast(communicator_->stringToProxy("TG2/router:tcp -h 127.0.0.1 -p 10001"));
    }

    static Ice::CommunicatorPtr communicator_;
};

Ice::CommunicatorPtr ConsumeResultConversion::communicator_;

TEST_F(ConsumeResultConversion, FailedPullCarriesOnlyItsCode) {
    KOVAMsg::KOVABatchMessage records = Records(2);
    KOVA::ConsumeStatusPtr status = KOVA::GetLocalStatusFromConsumeResult(Result(16), records, Router(), -1);
    EXPECT_EQ(status->Status(), 16);
    EXPECT_TRUE(status->msgList.empty());
    EXPECT_EQ(status->CommitState(), nullptr);
    EXPECT_EQ(status->Delay(), 0);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].properties.at("n"), "1") << "the records of a failed pull must be left alone";
}

TEST_F(ConsumeResultConversion, EmptySuccessfulPullHasCommitStateOfSizeZero) {
    KOVAMsg::KOVABatchMessage none;
    KOVA::ConsumeStatusPtr status = KOVA::GetLocalStatusFromConsumeResult(Result(0), none, nullptr, -1);
    EXPECT_EQ(status->Status(), 0);
    EXPECT_TRUE(status->msgList.empty());
    ASSERT_NE(status->CommitState(), nullptr);
    EXPECT_EQ(status->CommitState()->_size, 0);
    EXPECT_EQ(status->Delay(), 250);
}

TEST_F(ConsumeResultConversion, RoutedPullKeepsOrderAndCopiesTheCommitRecord) {
    const KOVA::ConsumeResultInfo result = Result(0);
    KOVAMsg::KOVABatchMessage records = Records(3);
    Glacier2::RouterPrx router = Router();
    KOVA::ConsumeStatusPtr status = KOVA::GetLocalStatusFromConsumeResult(result, records, router, -1);

    ASSERT_EQ(status->msgList.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(status->msgList[i].GetMessageId(), "id" + std::to_string(i));
        EXPECT_EQ(status->msgList[i].Message(), std::string(1, static_cast<char>('a' + i)));
    }
    const KOVA::LocalConsmueStatus* state = status->CommitState();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->_consumeStatus, 0);
    EXPECT_EQ(state->_size, 3);
    EXPECT_EQ(state->_delay, 250);
    EXPECT_EQ(state->_commitInfo, result.commit);
    EXPECT_EQ(result.commit.info.topic, "topic") << "the caller's record must not be emptied";
    ASSERT_TRUE(state->_commitPrx);
    EXPECT_EQ(state->_commitPrx->ice_getIdentity(), result.callback->ice_getIdentity());
    ASSERT_TRUE(state->_commitPrx->ice_getRouter());
    EXPECT_EQ(communicator_->proxyToString(state->_commitPrx->ice_getRouter()), communicator_->proxyToString(router));
    EXPECT_FALSE(result.callback->ice_getRouter());
}

TEST_F(ConsumeResultConversion, UnroutedPullUsesTheCallbackAsIs) {
    KOVAMsg::KOVABatchMessage records = Records(1);
    const KOVA::ConsumeResultInfo result = Result(0);
    KOVA::ConsumeStatusPtr status = KOVA::GetLocalStatusFromConsumeResult(result, records, nullptr, -1);
    ASSERT_NE(status->CommitState(), nullptr);
    EXPECT_EQ(status->CommitState()->_commitPrx, result.callback);
    EXPECT_FALSE(status->CommitState()->_commitPrx->ice_getRouter());
}

TEST_F(ConsumeResultConversion, MissingCallbackWithRouterLeavesCommitProxyNull) {
    KOVA::ConsumeResultInfo result = Result(0);
    result.callback = nullptr;
    KOVAMsg::KOVABatchMessage records = Records(2);
    KOVA::ConsumeStatusPtr status;
    ASSERT_NO_THROW(status = KOVA::GetLocalStatusFromConsumeResult(result, records, Router(), -1));
    EXPECT_EQ(status->Status(), 0);
    EXPECT_EQ(status->msgList.size(), 2u);
    ASSERT_NE(status->CommitState(), nullptr);
    EXPECT_FALSE(status->CommitState()->_commitPrx);
    EXPECT_EQ(status->CommitState()->_size, 2);
}

TEST_F(ConsumeResultConversion, CommitStateText) {
    KOVA::ConsumeResultInfo result = Result(0);
    result.commit.info.topic = "to\"pic";
    KOVAMsg::KOVABatchMessage records = Records(2);
    KOVA::ConsumeStatusPtr status = KOVA::GetLocalStatusFromConsumeResult(result, records, nullptr, -1);
    EXPECT_EQ(status->CommitState()->ToString(),
              "{\"consumeStatus\":0,\"delay\":250,\"consumeSize\":2,\"commitinfo\":{\"commitid\":12,"
              "\"queue\":{\"id\":-3,\"topic\":\"to\"pic\",\"broker\":\"broker\",\"cluster\":\"cluster\"},"
              "\"transid\":4,\"offset\":1000,\"resource\":\"res-1\",\"nodeid\":\"node-1\"}}");

    EXPECT_EQ(KOVA::LocalConsmueStatus(7).ToString(),
              "{\"consumeStatus\":7,\"delay\":-1,\"consumeSize\":0,\"commitinfo\":{\"commitid\":0,"
              "\"queue\":{\"id\":0,\"topic\":\"\",\"broker\":\"\",\"cluster\":\"\"},"
              "\"transid\":0,\"offset\":0,\"resource\":\"\",\"nodeid\":\"\"}}");
}

}  // namespace
}  // namespace kova::test::model
