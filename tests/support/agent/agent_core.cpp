#include "agent_core.h"

#include "connection_peer.h"

#include <thread>

namespace kova::test::standin {

namespace {
constexpr int kConsumeNoNewMessage = 16;  // KOVA_CONSUME_NONEWMSG
constexpr int kCommitInvalid = 41;        // KOVA_COMMIT_INVALID
}  // namespace

AgentCore::AgentCore(const StandinAgentOptions& opts)
    : options(opts),
      calls(opts.recordCalls),
      store(opts.keepMessages),
      pusher(registry, opts.pushSettle, opts.pushInvocationTimeout) {
    registry.setOnChange([this] { pusher.wake(); });
}

void AgentCore::setCallbackProxy(const KOVA::KOVACallbackAgentPrx& proxy) {
    std::lock_guard<std::mutex> lock(mutex_);
    callbackProxy_ = proxy;
}

CallTicket AgentCore::record(AgentCall call, const Ice::Current& current) {
    if (current.con) {
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace(current.con.get(), current.con);
    }
    if (options.recordCalls) {
        call.context = current.ctx;
        ConnectionPeer peer = peerOf(current.con);
        call.peerAddress = peer.remoteAddress;
        call.peerPort = peer.remotePort;
        call.receivedAt = std::chrono::steady_clock::now();
    }
    return calls.append(std::move(call));
}

bool AgentCore::closeIfScripted(const ScriptedStep& step, const Ice::Current& current, const CallTicket& ticket) {
    if (!step.closeConnection) return false;
    calls.closed(ticket);
    if (current.con) current.con->close(Ice::ConnectionCloseForcefully);
    return true;
}

void AgentCore::deliver(const ScriptedStep& step, std::function<void()> answer) {
    if (step.hold) {
        deferred.hold(std::move(answer));
    } else if (step.sleep.count() > 0) {
        deferred.at(DeferredReplies::Clock::now() + step.sleep, std::move(answer));
    } else {
        answer();
    }
}

bool AgentCore::prepareSync(const ScriptedStep& step, const Ice::Current& current, const CallTicket& ticket) {
    if (step.sleep.count() > 0) std::this_thread::sleep_for(step.sleep);
    return !closeIfScripted(step, current, ticket);
}

KOVA::ConsumeResultInfo AgentCore::makeResult(const std::string& rid, int code, Ice::Long delay,
                                              const TakenBatch& batch) const {
    KOVA::ConsumeResultInfo info{};
    info.code = code;
    info.delay = delay;
    info.commit.type = code == 0 ? KOVA::StateEnable : KOVA::StateNone;
    info.commit.offset = batch.baseOffset;
    info.commit.id = options.nodeId;
    info.commit.rid = rid;
    info.commit.info.commitid = batch.batchNumber;
    info.commit.info.id = 0;
    info.commit.info.transid = 0;
    info.commit.info.topic = rid;
    info.commit.info.broker = options.nodeId;
    info.commit.info.cluster = "standin";
    std::lock_guard<std::mutex> lock(mutex_);
    info.callback = callbackProxy_;
    return info;
}

void AgentCore::serveConsume(AgentOp op, ConsumeReply reply, const std::string& rid, const std::string& sid, int count,
                             int timeout, const Ice::Current& current) {
    const ScriptedStep step = script.take(op);
    AgentCall call;
    call.op = op;
    call.resource = rid;
    call.sid = sid;
    call.count = count;
    call.timeout = timeout;
    const CallTicket ticket = record(std::move(call), current);
    const bool closed = closeIfScripted(step, current, ticket);

    auto answerWith = [this, reply, ticket, rid, step](TakenBatch batch, int code) {
        auto info = std::make_shared<KOVA::ConsumeResultInfo>(makeResult(rid, code, step.delay.value_or(0), batch));
        auto messages = std::make_shared<KOVAMsg::KOVABatchMessage>(std::move(batch.messages));
        deliver(step, [this, reply, ticket, info, messages] {
            calls.consumeAnswered(ticket, info->code, static_cast<int>(messages->size()), info->commit, info->delay);
            try {
                reply(*info, *messages);
            } catch (const Ice::Exception&) {
                // The caller is gone; the answer has nowhere to go.
            }
        });
    };

    if (closed || (step.code && *step.code != 0)) {
        TakenBatch none;
        none.baseOffset = store.deliveredEnd(rid);
        answerWith(std::move(none), closed ? step.code.value_or(0) : *step.code);
        return;
    }
    auto finish = [answerWith](TakenBatch batch) {
        const int code = batch.messages.empty() ? kConsumeNoNewMessage : 0;
        answerWith(std::move(batch), code);
    };
    if (timeout <= 0) {
        finish(store.take(rid, count));
        return;
    }
    std::optional<uint64_t> waiter = store.takeOrWait(rid, count, finish);
    if (!waiter) return;
    auto wait = std::chrono::milliseconds(static_cast<long long>(timeout) * options.consumeTimeoutUnitMs);
    if (wait > options.maxLongPoll) wait = options.maxLongPoll;
    deferred.at(DeferredReplies::Clock::now() + wait, [this, id = *waiter] { store.expire(id); });
}

int AgentCore::commitCode(const ScriptedStep& step, const KOVA::CommitInfo& commit) {
    if (step.code) {
        if (*step.code == 0) store.acceptCommit(commit.rid, commit.offset);
        return *step.code;
    }
    return store.acceptCommit(commit.rid, commit.offset) ? 0 : kCommitInvalid;
}

void AgentCore::closeTrackedConnections() {
    std::map<Ice::Connection*, Ice::ConnectionPtr> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (const auto& [address, connection] : connections) {
        (void)address;
        try {
            connection->close(Ice::ConnectionCloseForcefully);
        } catch (const Ice::Exception&) {
        }
    }
}

}  // namespace kova::test::standin
