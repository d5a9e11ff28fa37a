// The remote operations the stand-in agent serves, as one enumeration so that the
// script, the call log and the control commands share a single vocabulary.
// Thread-safety: stateless; every function may be called from any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kova::test::standin {

enum class AgentOp {
    Produce,
    Consume,
    RegisterConsumer,
    RegisterWithId,
    RegisterWithProxy,
    UnRegisterConsumer,
    PauseConsume,
    StartConsume,
    KeepAlive,
    Destroy,
    CallbackConsume,  // KOVACallbackAgent::Consume, counted apart from the agent's Consume
    Commit,
};

// Short lower-case names used by the call log and the control commands
// ("produce", "consume", "register_id", "callback_consume", "commit", ...).
const char* opName(AgentOp op);
std::optional<AgentOp> parseOp(const std::string& name);
const std::vector<AgentOp>& allOps();

// Operations whose replies are asynchronous (AMD) and can therefore be held or
// answered late without blocking a dispatch thread.
bool isAsyncOp(AgentOp op);

}  // namespace kova::test::standin
