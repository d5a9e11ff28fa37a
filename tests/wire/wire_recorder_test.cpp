// Calls every operation of the service's interfaces through our generated proxies
// against a recorder that knows nothing of our Slice, and checks each request's
// operation name, mode and parameter bytes against a table written from the
// protocol's definition. A peer built from the same Slice would accept a wrong
// `idempotent` or a swapped parameter; this one does not.
#include "wire_bytes.h"

#include <KOVAMessageService.h>

#include <Ice/Ice.h>
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>

namespace kova::test::wire {
namespace {

struct Recorded {
    std::string identity;
    std::string operation;
    Ice::OperationMode mode;
    std::vector<Ice::Byte> params;  // the request's encapsulation body
    Ice::Context context;
};

// Answers ice_isA from a fixed list of type ids per identity and every other
// operation with a reply written by hand, recording what it receives.
class Recorder : public Ice::Blobject {
public:
    explicit Recorder(std::map<std::string, std::set<std::string>> typeIds) : _typeIds(std::move(typeIds)) {}

    void SetReply(const std::string& operation, const WireBytes& body) { _replies[operation] = body.bytes; }

    bool ice_invoke(const std::vector<Ice::Byte>& inEncaps, std::vector<Ice::Byte>& outEncaps,
                    const Ice::Current& current) override {
        Recorded entry{current.id.name, current.operation, current.mode, {}, current.ctx};
        if (inEncaps.size() >= 6) {
            entry.params.assign(inEncaps.begin() + 6, inEncaps.end());
        }
        WireBytes reply;
        if (current.operation == "ice_isA") {
            Ice::InputStream in(current.adapter->getCommunicator(), inEncaps);
            in.startEncapsulation();
            std::string typeId;
            in.read(typeId);
            in.endEncapsulation();
            const std::set<std::string>& ids = _typeIds[current.id.name];
            reply.boolean(typeId == "::Ice::Object" || ids.count(typeId) > 0);
        } else {
            auto canned = _replies.find(current.operation);
            if (canned != _replies.end()) reply.append(canned->second);
        }
        {
            std::lock_guard<std::mutex> lock(_mutex);
            _requests.push_back(std::move(entry));
        }
        WireBytes encaps;
        encaps.encapsulation(reply);
        outEncaps = encaps.bytes;
        return true;
    }

    std::vector<Recorded> Take() {
        std::lock_guard<std::mutex> lock(_mutex);
        std::vector<Recorded> taken;
        taken.swap(_requests);
        return taken;
    }

private:
    std::map<std::string, std::set<std::string>> _typeIds;
    std::map<std::string, std::vector<Ice::Byte>> _replies;
    std::mutex _mutex;
    std::vector<Recorded> _requests;
};
typedef IceUtil::Handle<Recorder> RecorderPtr;

struct ExpectedCall {
    std::string identity;
    std::string operation;
    Ice::OperationMode mode;
    WireBytes params;
};

const char* ModeName(Ice::OperationMode mode) {
    switch (mode) {
        case Ice::Normal: return "Normal";
        case Ice::Nonmutating: return "Nonmutating";
        case Ice::Idempotent: return "Idempotent";
    }
    return "?";
}

class WireRecorder : public ::testing::Test {
protected:
    void SetUp() override {
        Ice::InitializationData serverInit;
        serverInit.properties = Ice::createProperties();
        serverInit.properties->setProperty("Recorder.Endpoints", "tcp -h 127.0.0.1 -p 0");
        _server = Ice::initialize(serverInit);
        _recorder = new Recorder({{"agent", {"::KOVA::KOVAAgent"}},
                                  {"callback", {"::KOVA::KOVACallbackAgent"}},
                                  {"listener", {"::KOVA::KOVAClient", "::KOVA::KOVAMessageListener"}}});
        SetCannedReplies();
        _adapter = _server->createObjectAdapter("Recorder");
        _adapter->addDefaultServant(_recorder, "");
        _adapter->activate();

        Ice::InitializationData clientInit;
        clientInit.properties = Ice::createProperties();
        clientInit.properties->setProperty("Ice.Default.InvocationTimeout", "10000");
        _client = Ice::initialize(clientInit);
        _endpoint = _adapter->getEndpoints().front()->toString();
    }

    void TearDown() override {
        _client->destroy();
        _server->destroy();
    }

    Ice::ObjectPrx Proxy(const std::string& identity) { return _client->stringToProxy(identity + ":" + _endpoint); }

    // Replies written from the reply rules: out-parameters first, then the result.
    void SetCannedReplies() {
        WireBytes registered;
        registered.str("cid-7").i32(41);
        for (const char* op :
             {"RegisterConsumer", "RegisterKOVAMsgListenerWithId", "RegisterKOVAMsgListenerWithProxy"}) {
            _recorder->SetReply(op, registered);
        }
        WireBytes code;
        code.i32(31);
        for (const char* op :
             {"UnRegisterConsumer", "StartConsume", "Produce", "Commit", "ConsumeMessage", "OnMessage"}) {
            _recorder->SetReply(op, code);
        }
        WireBytes consumed;
        consumed.size(1).size(0).size(0).size(0).size(0).size(1).byte('x');  // one record, body "x"
        consumed.i32(16).i64(5);                                             // code, delay
        consumed.byte(1).i64(77).str("node").str("res");                     // commit
        consumed.i64(3).i16(-2).i32(4).str("topic").str("broker").str("cluster");
        consumed.nullProxy();
        _recorder->SetReply("Consume", consumed);
    }

    static KOVAMsg::KOVABatchMessage OneMessageBatch() {
        KOVAMsg::KOVAMessage msg{};
        msg.properties["k"] = "v";
        msg.s_properties = {"id"};
        msg.l_properties = {9};
        msg.message = {'h', 'i'};
        return KOVAMsg::KOVABatchMessage{msg};
    }
    static WireBytes OneMessageBatchBytes() {
        WireBytes w;
        w.size(1).size(1).str("k").str("v").size(1).str("id").size(0).size(1).i64(9).size(2).raw({'h', 'i'});
        return w;
    }

    static void ExpectRecorded(const std::vector<Recorded>& recorded, const std::vector<ExpectedCall>& expected) {
        ASSERT_EQ(recorded.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE("call " + std::to_string(i) + ": " + expected[i].operation);
            EXPECT_EQ(recorded[i].identity, expected[i].identity);
            EXPECT_EQ(recorded[i].operation, expected[i].operation);
            EXPECT_STREQ(ModeName(recorded[i].mode), ModeName(expected[i].mode));
            EXPECT_EQ(Hex(recorded[i].params), Hex(expected[i].params.bytes));
        }
    }

    static void ExpectConsumeReply(const KOVA::ConsumeResultInfo& result, const KOVAMsg::KOVABatchMessage& datas) {
        EXPECT_EQ(result.code, 16);
        EXPECT_EQ(result.delay, 5);
        EXPECT_EQ(result.commit.type, KOVA::StateEnable);
        EXPECT_EQ(result.commit.offset, 77);
        EXPECT_EQ(result.commit.rid, "res");
        EXPECT_EQ(result.commit.info.id, -2);
        EXPECT_EQ(result.commit.info.cluster, "cluster");
        EXPECT_FALSE(result.callback);
        ASSERT_EQ(datas.size(), 1u);
        EXPECT_EQ(datas[0].message, KOVAMsg::Bytes{'x'});
    }

    Ice::CommunicatorPtr _server;
    Ice::CommunicatorPtr _client;
    Ice::ObjectAdapterPtr _adapter;
    RecorderPtr _recorder;
    std::string _endpoint;
};

TEST_F(WireRecorder, AgentOperationsNamesModesAndParameters) {
    KOVA::KOVAAgentPrx agent = KOVA::KOVAAgentPrx::checkedCast(Proxy("agent"));
    ASSERT_TRUE(agent);
    EXPECT_FALSE(KOVA::KOVAAgentPrx::checkedCast(Proxy("callback")));
    std::vector<Recorded> casts = _recorder->Take();
    ASSERT_EQ(casts.size(), 2u);
    EXPECT_EQ(casts[0].operation, "ice_isA");
    EXPECT_EQ(Hex(casts[0].params), Hex(WireBytes().str("::KOVA::KOVAAgent").bytes));

    KOVA::KOVAMessageListenerPrx listener =
        KOVA::KOVAMessageListenerPrx::uncheckedCast(_client->stringToProxy("l:tcp -h 127.0.0.1 -p 10000 -t 5000"));
    Ice::Identity identity{"n", "c"};
    std::string cid;

    EXPECT_EQ(agent->RegisterConsumer("rid", "sid", 3, 4, nullptr, cid), 41);
    EXPECT_EQ(cid, "cid-7");
    cid.clear();
    EXPECT_EQ(agent->RegisterKOVAMsgListenerWithId("rid", "sid", 3, 4, identity, cid), 41);
    EXPECT_EQ(cid, "cid-7");
    EXPECT_EQ(agent->RegisterKOVAMsgListenerWithProxy("rid", "sid", 3, 4, listener, cid), 41);
    EXPECT_EQ(agent->UnRegisterConsumer("rid", "sid", "cid"), 31);
    agent->PauseConsume("rid", "sid", "cid");
    EXPECT_EQ(agent->StartConsume("rid", "sid", "cid"), 31);
    Ice::Context context{{"__ks1", "host-a"}};
    EXPECT_EQ(agent->Produce("rid", "sid", OneMessageBatch(), context), 31);
    agent->Destroy(KOVAMsg::Bytes{1, 2, 3});
    agent->keepAlive();
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo result = agent->Consume("rid", "sid", 7, 8, datas);
    ExpectConsumeReply(result, datas);

    WireBytes head;
    head.str("rid").str("sid").i32(3).i32(4);
    WireBytes triple;
    triple.str("rid").str("sid").str("cid");
    std::vector<ExpectedCall> expected = {
        {"agent", "RegisterConsumer", Ice::Idempotent, WireBytes(head).nullProxy()},
        {"agent", "RegisterKOVAMsgListenerWithId", Ice::Normal, WireBytes(head).str("n").str("c")},
        {"agent", "RegisterKOVAMsgListenerWithProxy", Ice::Normal,
         WireBytes(head).tcpProxy("l", "127.0.0.1", 10000, 5000)},
        {"agent", "UnRegisterConsumer", Ice::Normal, triple},
        {"agent", "PauseConsume", Ice::Idempotent, triple},
        {"agent", "StartConsume", Ice::Idempotent, triple},
        {"agent", "Produce", Ice::Normal, WireBytes().str("rid").str("sid").append(OneMessageBatchBytes().bytes)},
        {"agent", "Destroy", Ice::Normal, WireBytes().size(3).raw({1, 2, 3})},
        {"agent", "keepAlive", Ice::Idempotent, WireBytes()},
        {"agent", "Consume", Ice::Normal, WireBytes().str("rid").str("sid").i32(7).i32(8)},
    };
    std::vector<Recorded> recorded = _recorder->Take();
    ExpectRecorded(recorded, expected);
    ASSERT_EQ(recorded.size(), expected.size());
    EXPECT_EQ(recorded[6].context, context) << "the produce context did not travel";
}

TEST_F(WireRecorder, CallbackAgentOperationsNamesModesAndParameters) {
    KOVA::KOVACallbackAgentPrx callback = KOVA::KOVACallbackAgentPrx::checkedCast(Proxy("callback"));
    ASSERT_TRUE(callback);
    _recorder->Take();

    KOVA::CommitInfo commit{};
    commit.type = KOVA::StateEnable;
    commit.offset = 1234;
    commit.id = "node";
    commit.rid = "res";
    commit.info.commitid = 8;
    commit.info.id = 300;
    commit.info.transid = -1;
    commit.info.topic = "t";
    EXPECT_EQ(callback->Commit("sid", 5, commit), 31);
    KOVAMsg::KOVABatchMessage datas;
    KOVA::ConsumeResultInfo result = callback->Consume("rid", "sid", 7, 8, datas);
    ExpectConsumeReply(result, datas);

    ExpectRecorded(_recorder->Take(),
                   {
                       {"callback", "Commit", Ice::Normal,
                        WireBytes()
                            .str("sid")
                            .i32(5)
                            .byte(1)
                            .i64(1234)
                            .str("node")
                            .str("res")
                            .i64(8)
                            .i16(300)
                            .i32(-1)
                            .str("t")
                            .str("")
                            .str("")},
                       {"callback", "Consume", Ice::Normal, WireBytes().str("rid").str("sid").i32(7).i32(8)},
                   });
}

TEST_F(WireRecorder, ListenerOperationsIncludingTheInheritedOne) {
    KOVA::KOVAMessageListenerPrx listener = KOVA::KOVAMessageListenerPrx::checkedCast(Proxy("listener"));
    ASSERT_TRUE(listener);
    EXPECT_TRUE(KOVA::KOVAClientPrx::checkedCast(Proxy("listener")));
    _recorder->Take();

    EXPECT_EQ(listener->ConsumeMessage("rid", "sid", "cid", OneMessageBatch()), 31);
    EXPECT_EQ(listener->OnMessage("rid", "sid", "cid", KOVAMsg::BatchBytes{{1}, {2, 3}}), 31);

    ExpectRecorded(_recorder->Take(),
                   {
                       {"listener", "ConsumeMessage", Ice::Normal,
                        WireBytes().str("rid").str("sid").str("cid").append(OneMessageBatchBytes().bytes)},
                       {"listener", "OnMessage", Ice::Normal,
                        WireBytes().str("rid").str("sid").str("cid").size(2).size(1).byte(1).size(2).raw({2, 3})},
                   });
}

}  // namespace
}  // namespace kova::test::wire
