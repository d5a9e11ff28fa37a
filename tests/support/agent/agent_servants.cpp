#include "agent_servants.h"

#include <Ice/Ice.h>

#include <stdexcept>

namespace kova::test::standin {

namespace {
constexpr int kInvalidOp = 6;  // KOVA_INVALID_OP
constexpr int kNotExist = 8;   // KOVA_NOT_EXIST

// Answers an AMD callback, ignoring a caller that has gone away meanwhile.
template <class Callback, class... Args>
void answerQuietly(const Callback& cb, Args&&... args) {
    try {
        cb->ice_response(std::forward<Args>(args)...);
    } catch (const Ice::Exception&) {
    }
}
}  // namespace

Ice::Int StandinAgentServant::registerListener(AgentOp op, const std::string& resourceid, const std::string& sid,
                                               Ice::Int maxCountOneBatch, Ice::Int maxBatch,
                                               const Ice::Identity& identity,
                                               const KOVA::KOVAMessageListenerPrx& listener, std::string& cid,
                                               const Ice::Current& current) {
    const ScriptedStep step = core_.script.take(op);
    AgentCall call;
    call.op = op;
    call.resource = resourceid;
    call.sid = sid;
    call.count = maxCountOneBatch;
    call.maxBatch = maxBatch;
    call.listener = listener ? listener->ice_toString() : std::string();
    const CallTicket ticket = core_.record(std::move(call), current);
    if (!core_.prepareSync(step, current, ticket)) return 0;
    int code = step.code.value_or(0);
    if (code == 0 && !listener) code = kInvalidOp;
    if (code == 0) {
        ListenerRegistration registration;
        registration.resource = resourceid;
        registration.sid = sid;
        registration.identity = identity;
        registration.byIdentity = op == AgentOp::RegisterWithId;
        registration.listener = listener;
        registration.connection = current.con;
        registration.context = current.ctx;
        registration.maxCountOneBatch = maxCountOneBatch;
        registration.maxBatch = maxBatch;
        cid = core_.registry.add(std::move(registration));
        core_.calls.setCid(ticket, cid);
    }
    core_.calls.answered(ticket, code);
    return code;
}

Ice::Int StandinAgentServant::RegisterKOVAMsgListenerWithId(const std::string& resourceid, const std::string& sid,
                                                            Ice::Int maxCountOneBatch, Ice::Int maxBatch,
                                                            const Ice::Identity& client, std::string& cid,
                                                            const Ice::Current& current) {
    // The listener lives on the client's side of this very connection.
    KOVA::KOVAMessageListenerPrx listener;
    if (current.con) listener = KOVA::KOVAMessageListenerPrx::uncheckedCast(current.con->createProxy(client));
    return registerListener(AgentOp::RegisterWithId, resourceid, sid, maxCountOneBatch, maxBatch, client, listener, cid,
                            current);
}

Ice::Int StandinAgentServant::RegisterKOVAMsgListenerWithProxy(const std::string& resourceid, const std::string& sid,
                                                               Ice::Int maxCountOneBatch, Ice::Int maxBatch,
                                                               const KOVA::KOVAMessageListenerPrx& client,
                                                               std::string& cid, const Ice::Current& current) {
    const Ice::Identity identity = client ? client->ice_getIdentity() : Ice::Identity();
    return registerListener(AgentOp::RegisterWithProxy, resourceid, sid, maxCountOneBatch, maxBatch, identity, client,
                            cid, current);
}

Ice::Int StandinAgentServant::RegisterConsumer(const std::string& resourceid, const std::string& sid,
                                               Ice::Int maxCountOneBatch, Ice::Int maxBatch,
                                               const KOVA::KOVAClientPrx& client, std::string& cid,
                                               const Ice::Current& current) {
    // Kept minimal: the client never uses this registration form.
    const ScriptedStep step = core_.script.take(AgentOp::RegisterConsumer);
    AgentCall call;
    call.op = AgentOp::RegisterConsumer;
    call.resource = resourceid;
    call.sid = sid;
    call.count = maxCountOneBatch;
    call.maxBatch = maxBatch;
    call.listener = client ? client->ice_toString() : std::string();
    const CallTicket ticket = core_.record(std::move(call), current);
    if (!core_.prepareSync(step, current, ticket)) return 0;
    const int code = step.code.value_or(0);
    if (code == 0) {
        cid = "plain-" + std::to_string(++plainConsumers_);
        core_.calls.setCid(ticket, cid);
    }
    core_.calls.answered(ticket, code);
    return code;
}

Ice::Int StandinAgentServant::consumerControl(AgentOp op, const std::string& resourceid, const std::string& sid,
                                              const std::string& cid, const Ice::Current& current,
                                              const std::function<bool()>& natural) {
    const ScriptedStep step = core_.script.take(op);
    AgentCall call;
    call.op = op;
    call.resource = resourceid;
    call.sid = sid;
    call.cid = cid;
    const CallTicket ticket = core_.record(std::move(call), current);
    if (!core_.prepareSync(step, current, ticket)) return 0;
    int code = 0;
    if (step.code && *step.code != 0) {
        code = *step.code;
    } else {
        code = natural() ? 0 : kNotExist;
    }
    core_.calls.answered(ticket, code);
    return code;
}

Ice::Int StandinAgentServant::UnRegisterConsumer(const std::string& resourceid, const std::string& sid,
                                                 const std::string& cid, const Ice::Current& current) {
    return consumerControl(AgentOp::UnRegisterConsumer, resourceid, sid, cid, current,
                           [&] { return core_.registry.remove(resourceid, cid); });
}

void StandinAgentServant::PauseConsume(const std::string& resourceid, const std::string& sid, const std::string& cid,
                                       const Ice::Current& current) {
    consumerControl(AgentOp::PauseConsume, resourceid, sid, cid, current,
                    [&] { return core_.registry.setPaused(resourceid, cid, true); });
}

Ice::Int StandinAgentServant::StartConsume(const std::string& resourceid, const std::string& sid,
                                           const std::string& cid, const Ice::Current& current) {
    return consumerControl(AgentOp::StartConsume, resourceid, sid, cid, current,
                           [&] { return core_.registry.setPaused(resourceid, cid, false); });
}

void StandinAgentServant::keepAlive(const Ice::Current& current) {
    const ScriptedStep step = core_.script.take(AgentOp::KeepAlive);
    AgentCall call;
    call.op = AgentOp::KeepAlive;
    const CallTicket ticket = core_.record(std::move(call), current);
    if (!core_.prepareSync(step, current, ticket)) return;
    core_.registry.keepAliveFrom(current.con);
    core_.calls.answered(ticket, 0);
}

void StandinAgentServant::Destroy(const KOVAMsg::Bytes& req, const Ice::Current& current) {
    const ScriptedStep step = core_.script.take(AgentOp::Destroy);
    AgentCall call;
    call.op = AgentOp::Destroy;
    call.messageCount = static_cast<int>(req.size());
    const CallTicket ticket = core_.record(std::move(call), current);
    if (!core_.prepareSync(step, current, ticket)) return;
    core_.calls.answered(ticket, 0);
}

void StandinAgentServant::Produce_async(const KOVA::AMD_KOVAAgent_ProducePtr& cb, const std::string& resourceid,
                                        const std::string& sid, const KOVAMsg::KOVABatchMessage& msgs,
                                        const Ice::Current& current) {
    const ScriptedStep step = core_.script.take(AgentOp::Produce);
    AgentCall call;
    call.op = AgentOp::Produce;
    call.resource = resourceid;
    call.sid = sid;
    call.messageCount = static_cast<int>(msgs.size());
    const CallTicket ticket = core_.record(std::move(call), current);
    const bool closed = core_.closeIfScripted(step, current, ticket);
    const int code = step.code.value_or(0);
    if (!closed && code == 0) {
        if (core_.options.autoPush && core_.registry.pushTarget(resourceid, std::chrono::milliseconds(0))) {
            PushJob job;
            job.resource = resourceid;
            job.sid = sid;
            job.messages = msgs;
            core_.pusher.enqueue(std::move(job));
        } else {
            core_.store.append(resourceid, msgs);
        }
    }
    // Answered even after a scripted close: an unanswered dispatch would keep
    // the communicator from ever being destroyed.
    core_.deliver(step, [this, cb, code, ticket] {
        // Recorded before the reply leaves, so a caller that has its answer also
        // finds it in the call log.
        core_.calls.answered(ticket, code);
        answerQuietly(cb, code);
    });
}

void StandinAgentServant::Consume_async(const KOVA::AMD_KOVAAgent_ConsumePtr& cb, const std::string& resourceid,
                                        const std::string& sid, Ice::Int count, Ice::Int timeout,
                                        const Ice::Current& current) {
    core_.serveConsume(
        AgentOp::Consume,
        [cb](const KOVA::ConsumeResultInfo& info, const KOVAMsg::KOVABatchMessage& datas) {
            cb->ice_response(info, datas);
        },
        resourceid, sid, count, timeout, current);
}

void StandinCallbackAgentServant::Consume_async(const KOVA::AMD_KOVACallbackAgent_ConsumePtr& cb,
                                                const std::string& resourceid, const std::string& sid, Ice::Int count,
                                                Ice::Int timeout, const Ice::Current& current) {
    core_.serveConsume(
        AgentOp::CallbackConsume,
        [cb](const KOVA::ConsumeResultInfo& info, const KOVAMsg::KOVABatchMessage& datas) {
            cb->ice_response(info, datas);
        },
        resourceid, sid, count, timeout, current);
}

void StandinCallbackAgentServant::Commit_async(const KOVA::AMD_KOVACallbackAgent_CommitPtr& cb, const std::string& sid,
                                               Ice::Int status, const KOVA::CommitInfo& commit,
                                               const Ice::Current& current) {
    const ScriptedStep step = core_.script.take(AgentOp::Commit);
    AgentCall call;
    call.op = AgentOp::Commit;
    call.resource = commit.rid;
    call.sid = sid;
    call.status = status;
    call.commit = commit;
    const CallTicket ticket = core_.record(std::move(call), current);
    const bool closed = core_.closeIfScripted(step, current, ticket);
    const int code = closed ? step.code.value_or(0) : core_.commitCode(step, commit);
    core_.deliver(step, [this, cb, code, ticket] {
        // Recorded before the reply leaves, so a caller that has its answer also
        // finds it in the call log.
        core_.calls.answered(ticket, code);
        answerQuietly(cb, code);
    });
}

void SilentServant::ice_invoke_async(const Ice::AMD_Object_ice_invokePtr& cb, const std::vector<Ice::Byte>&,
                                     const Ice::Current& current) {
    const std::string operation = current.operation;
    core_.deferred.hold([cb, operation] {
        try {
            cb->ice_exception(std::runtime_error("held " + operation + " released"));
        } catch (const Ice::Exception&) {
        }
    });
}

}  // namespace kova::test::standin
