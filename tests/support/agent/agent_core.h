// The state and behaviour that the agent's two servants share: the script, the
// call log, the queues, the deferred replies, the listener registrations and
// the pusher, plus the common steps of answering a call (record it, sleep, hold,
// close the caller's connection).
//
// Thread-safety: every member is safe to call from any thread; the parts lock
// themselves. Owned by StandinAgent for its whole life (it survives restarts);
// the servants hold a reference and are destroyed first.
#pragma once

#include "agent_script.h"
#include "call_log.h"
#include "deferred_replies.h"
#include "listener_registry.h"
#include "message_store.h"
#include "pusher.h"
#include "standin_options.h"

#include <KOVAMessageService.h>

#include <functional>
#include <map>
#include <mutex>
#include <optional>

namespace kova::test::standin {

using ConsumeReply = std::function<void(const KOVA::ConsumeResultInfo&, const KOVAMsg::KOVABatchMessage&)>;

class AgentCore {
public:
    explicit AgentCore(const StandinAgentOptions& options);

    const StandinAgentOptions options;
    AgentScript script;
    CallLog calls;
    MessageStore store;
    DeferredReplies deferred;
    ListenerRegistry registry;
    Pusher pusher;

    void setCallbackProxy(const KOVA::KOVACallbackAgentPrx& proxy);

    // Appends the call with its context, peer and arrival time, and remembers
    // the connection so that stop() can close it.
    CallTicket record(AgentCall call, const Ice::Current& current);
    // Closes the caller's connection forcefully when the step says so.
    bool closeIfScripted(const ScriptedStep& step, const Ice::Current& current, const CallTicket& ticket);
    // Runs answer now, after the step's sleep, or when released (hold).
    void deliver(const ScriptedStep& step, std::function<void()> answer);
    // The synchronous operations' part of a step: sleeps in the dispatch thread
    // and closes when scripted. False when the connection was closed.
    bool prepareSync(const ScriptedStep& step, const Ice::Current& current, const CallTicket& ticket);

    // Consume of either interface: scripted code, queued messages, or a long poll
    // that ends with 16 (no new message) after the timeout.
    void serveConsume(AgentOp op, ConsumeReply reply, const std::string& rid, const std::string& sid, int count,
                      int timeout, const Ice::Current& current);
    int commitCode(const ScriptedStep& step, const KOVA::CommitInfo& commit);

    void closeTrackedConnections();

private:
    KOVA::ConsumeResultInfo makeResult(const std::string& rid, int code, Ice::Long delay,
                                       const TakenBatch& batch) const;

    mutable std::mutex mutex_;
    KOVA::KOVACallbackAgentPrx callbackProxy_;
    // Keyed by address: Ice handles compare the objects they point to.
    std::map<Ice::Connection*, Ice::ConnectionPtr> connections_;
};

}  // namespace kova::test::standin
