// Golden bytes of the service's records: the generated marshalling must write what
// the encoding rules say, byte for byte, and read the hand-written bytes back.
#include "wire_bytes.h"

#include <KOVAMessageService.h>

#include <Ice/Ice.h>
#include <gtest/gtest.h>

namespace kova::test::wire {
namespace {

class WireGoldenBytes : public ::testing::Test {
protected:
    static void SetUpTestSuite() { communicator_ = Ice::initialize(); }
    static void TearDownTestSuite() {
        communicator_->destroy();
        communicator_ = nullptr;
    }

    template <typename T>
    static std::vector<Ice::Byte> Write(const T& value) {
        Ice::OutputStream out(communicator_);
        out.write(value);
        std::vector<Ice::Byte> bytes;
        out.finished(bytes);
        return bytes;
    }

    template <typename T>
    static T Read(const std::vector<Ice::Byte>& bytes) {
        Ice::InputStream in(communicator_, bytes);
        T value{};
        in.read(value);
        EXPECT_EQ(in.i, in.b.end()) << "bytes left over after reading";
        return value;
    }

    static KOVA::KOVAQueueInfo Queue() {
        KOVA::KOVAQueueInfo queue{};
        queue.commitid = -2;
        queue.id = -32768;
        queue.transid = 9;
        queue.topic = "t";
        queue.broker = "b";
        queue.cluster = "c";
        return queue;
    }
    static WireBytes QueueBytes() {
        WireBytes w;
        w.i64(-2).i16(-32768).i32(9).str("t").str("b").str("c");
        return w;
    }
    static KOVA::CommitInfo Commit() {
        KOVA::CommitInfo commit{};
        commit.type = KOVA::StateLess;
        commit.offset = 300;
        commit.id = "node";
        commit.rid = "res";
        commit.info = Queue();
        return commit;
    }
    static WireBytes CommitBytes() {
        WireBytes w;
        w.byte(2).i64(300).str("node").str("res").append(QueueBytes().bytes);
        return w;
    }

    static Ice::CommunicatorPtr communicator_;
};

Ice::CommunicatorPtr WireGoldenBytes::communicator_;

TEST_F(WireGoldenBytes, EmptyMessageIsFiveZeroSizesAndEmptyBatchIsOne) {
    KOVAMsg::KOVAMessage empty{};
    EXPECT_EQ(Hex(Write(empty)), "00 00 00 00 00");
    KOVAMsg::KOVAMessage back = Read<KOVAMsg::KOVAMessage>({0, 0, 0, 0, 0});
    EXPECT_TRUE(back.properties.empty() && back.s_properties.empty() && back.i_properties.empty() &&
                back.l_properties.empty() && back.message.empty());

    EXPECT_EQ(Hex(Write(KOVAMsg::KOVABatchMessage())), "00");
    EXPECT_TRUE(Read<KOVAMsg::KOVABatchMessage>({0}).empty());
    EXPECT_EQ(Hex(Write(KOVAMsg::KOVABatchMessage(2))), "02 00 00 00 00 00 00 00 00 00 00");
}

TEST_F(WireGoldenBytes, MessageMembersInOrderWithKeysInByteOrder) {
    KOVAMsg::KOVAMessage msg{};
    // Inserted out of byte order: the wire must still carry "B" < "a" < "b".
    msg.properties["b"] = "2";
    msg.properties["a"] = "1";
    msg.properties["B"] = "3";
    msg.s_properties = {"m1"};
    msg.i_properties = {7, -1};
    msg.l_properties = {0x0102030405060708L};
    msg.message = {0x00, 0xff};

    WireBytes expected;
    expected.size(3).str("B").str("3").str("a").str("1").str("b").str("2");
    expected.size(1).str("m1");
    expected.size(2).i32(7).i32(-1);
    expected.size(1).i64(0x0102030405060708L);
    expected.size(2).raw({0x00, 0xff});
    EXPECT_EQ(Hex(Write(msg)), Hex(expected.bytes));

    KOVAMsg::KOVAMessage back = Read<KOVAMsg::KOVAMessage>(expected.bytes);
    EXPECT_EQ(back.properties, msg.properties);
    EXPECT_EQ(back.s_properties, msg.s_properties);
    EXPECT_EQ(back.i_properties, msg.i_properties);
    EXPECT_EQ(back.l_properties, msg.l_properties);
    EXPECT_EQ(back.message, msg.message);
}

TEST_F(WireGoldenBytes, BodyOfMoreThan254BytesUsesTheLongSizeForm) {
    KOVAMsg::KOVAMessage msg{};
    msg.message.assign(300, 0x5a);
    WireBytes expected;
    expected.raw({0, 0, 0, 0}).raw({0xff, 0x2c, 0x01, 0x00, 0x00});
    expected.bytes.insert(expected.bytes.end(), 300, 0x5a);
    EXPECT_EQ(Write(msg), expected.bytes);
}

TEST_F(WireGoldenBytes, QueueAndCommitLayouts) {
    EXPECT_EQ(Hex(Write(Queue())), Hex(QueueBytes().bytes));
    EXPECT_EQ(Read<KOVA::KOVAQueueInfo>(QueueBytes().bytes), Queue());

    EXPECT_EQ(Hex(Write(Commit())), Hex(CommitBytes().bytes));
    EXPECT_EQ(Read<KOVA::CommitInfo>(CommitBytes().bytes), Commit());
}

TEST_F(WireGoldenBytes, ConsumeResultWithNullAndWithTcpCallback) {
    KOVA::ConsumeResultInfo result{};
    result.code = 16;
    result.delay = -5;
    result.commit = Commit();

    WireBytes expected;
    expected.i32(16).i64(-5).append(CommitBytes().bytes).nullProxy();
    EXPECT_EQ(Hex(Write(result)), Hex(expected.bytes));
    KOVA::ConsumeResultInfo back = Read<KOVA::ConsumeResultInfo>(expected.bytes);
    EXPECT_EQ(back.code, 16);
    EXPECT_EQ(back.delay, -5);
    EXPECT_EQ(back.commit, Commit());
    EXPECT_FALSE(back.callback);

    result.callback =
        KOVA::KOVACallbackAgentPrx::uncheckedCast(communicator_->stringToProxy("cb:tcp -h 127.0.0.1 -p 10000 -t 5000"));
    WireBytes routed;
    routed.i32(16).i64(-5).append(CommitBytes().bytes).tcpProxy("cb", "127.0.0.1", 10000, 5000);
    EXPECT_EQ(Hex(Write(result)), Hex(routed.bytes));
    back = Read<KOVA::ConsumeResultInfo>(routed.bytes);
    ASSERT_TRUE(back.callback);
    EXPECT_EQ(back.callback->ice_getIdentity().name, "cb");
    EXPECT_EQ(communicator_->proxyToString(back.callback), communicator_->proxyToString(result.callback));
}

TEST_F(WireGoldenBytes, CommitTypeOutOfRangeFailsBothWays) {
    KOVA::CommitInfo commit = Commit();
    commit.type = static_cast<KOVA::CommitType>(3);
    Ice::OutputStream out(communicator_);
    try {
        out.write(commit);
        FAIL() << "a commit type of 3 was written";
    } catch (const Ice::MarshalException& e) {
        EXPECT_NE(e.reason.find("enumerator out of range"), std::string::npos) << e.reason;
    }
    EXPECT_EQ(out.b.size(), 0u) << "something of the record was written before the check";

    WireBytes bad;
    bad.byte(3).i64(300).str("node").str("res").append(QueueBytes().bytes);
    Ice::InputStream in(communicator_, bad.bytes);
    KOVA::CommitInfo read{};
    read.type = KOVA::StateEnable;
    try {
        in.read(read);
        FAIL() << "a commit type of 3 was read";
    } catch (const Ice::MarshalException& e) {
        EXPECT_NE(e.reason.find("enumerator out of range"), std::string::npos) << e.reason;
    }
    EXPECT_EQ(read.type, KOVA::StateEnable);
}

}  // namespace
}  // namespace kova::test::wire
