#include "test_client.h"

namespace kova::test::support_tests {

Ice::CommunicatorPtr makeClient(const std::map<std::string, std::string>& properties) {
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.ThreadPool.Client.SizeMax", "4");
    init.properties->setProperty("Ice.Warn.Connections", "0");
    for (const auto& [key, value] : properties) init.properties->setProperty(key, value);
    return Ice::initialize(init);
}

KOVAMsg::KOVABatchMessage makeBatch(int count, const std::string& prefix) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < count; ++i) {
        KOVAMsg::KOVAMessage message{};
        const std::string body = prefix + "-" + std::to_string(i);
        message.message.assign(body.begin(), body.end());
        message.properties["TAGS"] = "t" + std::to_string(i);
        message.l_properties.push_back(1700000000000 + i);  // born time
        batch.push_back(std::move(message));
    }
    return batch;
}

std::string bodyOf(const KOVAMsg::KOVAMessage& message) {
    return std::string(message.message.begin(), message.message.end());
}

void RecordingListener::ConsumeMessage_async(const KOVA::AMD_KOVAMessageListener_ConsumeMessagePtr& cb,
                                             const std::string& resourceid, const std::string& sid,
                                             const std::string& cid, const KOVAMsg::KOVABatchMessage& msgs,
                                             const Ice::Current& current) {
    ReceivedPush push{"ConsumeMessage", resourceid, sid, cid, {}, current.con.get()};
    for (const auto& message : msgs) push.bodies.push_back(bodyOf(message));
    record(std::move(push));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (hold_) {
            held_.push_back(cb);
            return;
        }
    }
    cb->ice_response(reply_);
}

void RecordingListener::OnMessage_async(const KOVA::AMD_KOVAClient_OnMessagePtr& cb, const std::string& resourceid,
                                        const std::string& sid, const std::string& cid, const KOVAMsg::BatchBytes& req,
                                        const Ice::Current& current) {
    ReceivedPush push{"OnMessage", resourceid, sid, cid, {}, current.con.get()};
    for (const auto& bytes : req) push.bodies.emplace_back(bytes.begin(), bytes.end());
    record(std::move(push));
    cb->ice_response(8);
}

void RecordingListener::setHoldReplies(bool hold) {
    std::lock_guard<std::mutex> lock(mutex_);
    hold_ = hold;
}

void RecordingListener::answerHeld() {
    std::vector<KOVA::AMD_KOVAMessageListener_ConsumeMessagePtr> held;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        held.swap(held_);
    }
    for (const auto& cb : held) {
        try {
            cb->ice_response(reply_);
        } catch (const Ice::Exception&) {
        }
    }
}

}  // namespace kova::test::support_tests
