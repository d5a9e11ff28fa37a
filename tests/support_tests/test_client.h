// Helpers the support tests share: a client communicator, batches, and a
// listener servant that records what the agent pushes.
// Thread-safety: RecordingListener is dispatched on Ice threads and locks
// itself; the free functions are stateless.
#pragma once

#include "KOVAMessageService.h"
#include <Ice/Ice.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "call_recorder.h"

namespace kova::test::support_tests {

// A client communicator; the extra properties override the defaults.
Ice::CommunicatorPtr makeClient(const std::map<std::string, std::string>& properties = {});

KOVAMsg::KOVABatchMessage makeBatch(int count, const std::string& prefix = "body");
std::string bodyOf(const KOVAMsg::KOVAMessage& message);

struct ReceivedPush {
    std::string operation;  // "ConsumeMessage" or "OnMessage"
    std::string resource;
    std::string sid;
    std::string cid;
    std::vector<std::string> bodies;
    Ice::Connection* connection = nullptr;  // compared by address only
};

// Records every push (all(), waitFor()) and answers ConsumeMessage with `reply`,
// OnMessage with 8.
class RecordingListener : public KOVA::KOVAMessageListener, public kova::test::fixtures::CallRecorder<ReceivedPush> {
public:
    explicit RecordingListener(int reply = 0) : reply_(reply) {}

    void ConsumeMessage_async(const KOVA::AMD_KOVAMessageListener_ConsumeMessagePtr& cb, const std::string& resourceid,
                              const std::string& sid, const std::string& cid, const KOVAMsg::KOVABatchMessage& msgs,
                              const Ice::Current& current) override;
    void OnMessage_async(const KOVA::AMD_KOVAClient_OnMessagePtr& cb, const std::string& resourceid,
                         const std::string& sid, const std::string& cid, const KOVAMsg::BatchBytes& req,
                         const Ice::Current& current) override;

    // While true, ConsumeMessage replies are kept unanswered until answerHeld().
    void setHoldReplies(bool hold);
    void answerHeld();

private:
    const int reply_;
    std::mutex mutex_;
    bool hold_ = false;
    std::vector<KOVA::AMD_KOVAMessageListener_ConsumeMessagePtr> held_;
};
typedef IceUtil::Handle<RecordingListener> RecordingListenerPtr;

}  // namespace kova::test::support_tests
