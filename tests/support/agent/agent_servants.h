// The servants of the stand-in agent: KOVAAgent, KOVACallbackAgent and an
// object that answers nothing (a router or agent that hangs).
//
// Both only translate Ice dispatches into AgentCore steps; every reply, late or
// not, is answered exactly once (see DeferredReplies).
//
// Thread-safety: dispatched concurrently on the agent's Ice server threads; all
// state lives in the AgentCore, which locks itself. The core must outlive the
// servants (StandinAgent destroys the communicator first).
#pragma once

#include "agent_core.h"

#include <KOVAMessageService.h>

#include <atomic>

namespace kova::test::standin {

class StandinAgentServant : public KOVA::KOVAAgent {
public:
    explicit StandinAgentServant(AgentCore& core) : core_(core) {}

    Ice::Int RegisterConsumer(const std::string& resourceid, const std::string& sid, Ice::Int maxCountOneBatch,
                              Ice::Int maxBatch, const KOVA::KOVAClientPrx& client, std::string& cid,
                              const Ice::Current& current) override;
    Ice::Int RegisterKOVAMsgListenerWithId(const std::string& resourceid, const std::string& sid,
                                           Ice::Int maxCountOneBatch, Ice::Int maxBatch, const Ice::Identity& client,
                                           std::string& cid, const Ice::Current& current) override;
    Ice::Int RegisterKOVAMsgListenerWithProxy(const std::string& resourceid, const std::string& sid,
                                              Ice::Int maxCountOneBatch, Ice::Int maxBatch,
                                              const KOVA::KOVAMessageListenerPrx& client, std::string& cid,
                                              const Ice::Current& current) override;
    Ice::Int UnRegisterConsumer(const std::string& resourceid, const std::string& sid, const std::string& cid,
                                const Ice::Current& current) override;
    void PauseConsume(const std::string& resourceid, const std::string& sid, const std::string& cid,
                      const Ice::Current& current) override;
    Ice::Int StartConsume(const std::string& resourceid, const std::string& sid, const std::string& cid,
                          const Ice::Current& current) override;
    void Produce_async(const KOVA::AMD_KOVAAgent_ProducePtr& cb, const std::string& resourceid, const std::string& sid,
                       const KOVAMsg::KOVABatchMessage& msgs, const Ice::Current& current) override;
    void Destroy(const KOVAMsg::Bytes& req, const Ice::Current& current) override;
    void keepAlive(const Ice::Current& current) override;
    void Consume_async(const KOVA::AMD_KOVAAgent_ConsumePtr& cb, const std::string& resourceid, const std::string& sid,
                       Ice::Int count, Ice::Int timeout, const Ice::Current& current) override;

private:
    // Both listener registrations; listener is what the pusher will call.
    Ice::Int registerListener(AgentOp op, const std::string& resourceid, const std::string& sid,
                              Ice::Int maxCountOneBatch, Ice::Int maxBatch, const Ice::Identity& identity,
                              const KOVA::KOVAMessageListenerPrx& listener, std::string& cid,
                              const Ice::Current& current);
    // Pause, start and unregister: record, then the scripted code or natural().
    Ice::Int consumerControl(AgentOp op, const std::string& resourceid, const std::string& sid, const std::string& cid,
                             const Ice::Current& current, const std::function<bool()>& natural);

    AgentCore& core_;
    std::atomic<long> plainConsumers_{0};
};

class StandinCallbackAgentServant : public KOVA::KOVACallbackAgent {
public:
    explicit StandinCallbackAgentServant(AgentCore& core) : core_(core) {}

    void Commit_async(const KOVA::AMD_KOVACallbackAgent_CommitPtr& cb, const std::string& sid, Ice::Int status,
                      const KOVA::CommitInfo& commit, const Ice::Current& current) override;
    void Consume_async(const KOVA::AMD_KOVACallbackAgent_ConsumePtr& cb, const std::string& resourceid,
                       const std::string& sid, Ice::Int count, Ice::Int timeout, const Ice::Current& current) override;

private:
    AgentCore& core_;
};

// Holds every request, whatever its interface, among the agent's held replies;
// releaseHeld() or stop() fails each with an Ice::UnknownException.
class SilentServant : public Ice::BlobjectAsync {
public:
    explicit SilentServant(AgentCore& core) : core_(core) {}

    void ice_invoke_async(const Ice::AMD_Object_ice_invokePtr& cb, const std::vector<Ice::Byte>& inParams,
                          const Ice::Current& current) override;

private:
    AgentCore& core_;
};

}  // namespace kova::test::standin
