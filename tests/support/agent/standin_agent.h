// StandinAgent: an in-process stand-in for the service's agents, on 127.0.0.1.
//
//   StandinAgent agent;                 // or StandinAgent agent(options)
//   agent.start();                      // binds; the ports stay fixed for restarts
//   auto prx = agent.agentProxyString();
//   agent.script().nextProduceCode(5);  // the next Produce answers 5
//   ... client calls ...
//   agent.calls(AgentOp::Produce)       // what arrived, with contexts and peers
//
// Two object adapters: "KOVAAgent" (KOVAAgent) on the agent port and
// "KOVACallbackAgent" (KOVACallbackAgent) on a second port; every consume reply
// names the callback agent. stop() behaves like a crashed server: it closes every
// connection that carried a call forcefully, answers pending replies into the
// void, forgets registrations and drops push jobs not yet delivered; queued
// messages and commit offsets survive. start() after stop() binds the same ports
// and hands out new cids.
//
// Thread-safety: start(), stop() and restart() are serialised internally and
// may not be called from inside a dispatch of this agent; every other member
// may be called from any thread at any time. The object owns its communicator,
// threads and records; destroying it stops it.
#pragma once

#include "agent_core.h"
#include "standin_options.h"

#include <Ice/Ice.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kova::test::standin {

class StandinAgent {
public:
    static constexpr const char* kAgentIdentity = "KOVAAgent";
    static constexpr const char* kCallbackIdentity = "KOVACallbackAgent";
    static constexpr const char* kSilentIdentity = "Silent";

    explicit StandinAgent(StandinAgentOptions options = {});
    ~StandinAgent();
    StandinAgent(const StandinAgent&) = delete;
    StandinAgent& operator=(const StandinAgent&) = delete;

    void start();
    void stop();
    void restart();
    bool running() const;

    int agentPort() const;
    int callbackPort() const;
    // Direct proxies, e.g. "KOVAAgent -t -e 1.1:tcp -h 127.0.0.1 -p 40123 -t 60000".
    std::string agentProxyString() const;
    std::string callbackProxyString() const;
    // "KOVAAgent@<adapterId>" when registered with a locator, else empty.
    std::string indirectProxyString() const;
    // An object on the agent port that answers nothing: each request it gets
    // is held like a held reply (heldCount(), and releaseHeld() or stop()
    // fails it).
    std::string silentProxyString() const;
    const StandinAgentOptions& options() const { return core_->options; }

    AgentScript& script() { return core_->script; }

    std::vector<AgentCall> calls() const { return core_->calls.all(); }
    std::vector<AgentCall> calls(AgentOp op) const { return core_->calls.of(op); }
    size_t callCount(AgentOp op) const { return core_->calls.count(op); }
    bool waitForCalls(AgentOp op, size_t n, std::chrono::milliseconds timeout) const {
        return core_->calls.waitForCount(op, n, timeout);
    }
    bool waitForAnswers(AgentOp op, size_t n, std::chrono::milliseconds timeout) const {
        return core_->calls.waitForAnswered(op, n, timeout);
    }

    // Queues, as if produced (for pull tests that need data without a producer).
    void preload(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages) {
        core_->store.append(rid, messages);
    }
    // Every pull of rid answers this batch again (see MessageStore); empty ends it.
    void setStandingBatch(const std::string& rid, const KOVAMsg::KOVABatchMessage& messages) {
        core_->store.setStandingBatch(rid, messages);
    }
    size_t queued(const std::string& rid) const { return core_->store.queued(rid); }
    Ice::Long deliveredEnd(const std::string& rid) const { return core_->store.deliveredEnd(rid); }
    std::optional<Ice::Long> committedOffset(const std::string& rid) const { return core_->store.committedOffset(rid); }

    std::vector<ListenerRegistration> registrations() const { return core_->registry.all(); }
    // Delivered by the pusher thread once the resource has a settled, running listener.
    void push(const std::string& rid, KOVAMsg::KOVABatchMessage messages, const std::string& sid = "standin-push");
    void pushBytes(const std::string& rid, KOVAMsg::BatchBytes bytes, const std::string& sid = "standin-push");
    std::vector<PushRecord> pushes() const { return core_->pusher.records(); }
    bool waitForPushes(size_t n, std::chrono::milliseconds timeout) const {
        return core_->pusher.waitForRecords(n, timeout);
    }

    size_t releaseHeld() { return core_->deferred.releaseHeld(); }
    size_t heldCount() const { return core_->deferred.heldCount(); }
    bool waitForHeld(size_t n, std::chrono::milliseconds timeout) const {
        return core_->deferred.waitForHeld(n, timeout);
    }

    // Forgets recorded calls and pushes (not the script, queues or registrations).
    void clearRecords();

private:
    void stopLocked();

    std::unique_ptr<AgentCore> core_;
    mutable std::mutex lifecycleMutex_;
    Ice::CommunicatorPtr communicator_;
    Ice::ObjectAdapterPtr agentAdapter_;
    Ice::ObjectAdapterPtr callbackAdapter_;
    int agentPort_ = 0;
    int callbackPort_ = 0;
    std::string agentProxy_;
    std::string callbackProxy_;
};

}  // namespace kova::test::standin
