#include "agent_ops.h"

#include <utility>

namespace kova::test::standin {

namespace {
const std::vector<std::pair<AgentOp, const char*>>& opTable() {
    static const std::vector<std::pair<AgentOp, const char*>> table = {
        {AgentOp::Produce, "produce"},
        {AgentOp::Consume, "consume"},
        {AgentOp::RegisterConsumer, "register_consumer"},
        {AgentOp::RegisterWithId, "register_id"},
        {AgentOp::RegisterWithProxy, "register_proxy"},
        {AgentOp::UnRegisterConsumer, "unregister"},
        {AgentOp::PauseConsume, "pause"},
        {AgentOp::StartConsume, "start"},
        {AgentOp::KeepAlive, "keepalive"},
        {AgentOp::Destroy, "destroy"},
        {AgentOp::CallbackConsume, "callback_consume"},
        {AgentOp::Commit, "commit"},
    };
    return table;
}
}  // namespace

const char* opName(AgentOp op) {
    for (const auto& [value, name] : opTable()) {
        if (value == op) return name;
    }
    return "unknown";
}

std::optional<AgentOp> parseOp(const std::string& name) {
    for (const auto& [value, text] : opTable()) {
        if (name == text) return value;
    }
    return std::nullopt;
}

const std::vector<AgentOp>& allOps() {
    static const std::vector<AgentOp> ops = [] {
        std::vector<AgentOp> out;
        for (const auto& entry : opTable()) out.push_back(entry.first);
        return out;
    }();
    return ops;
}

bool isAsyncOp(AgentOp op) {
    return op == AgentOp::Produce || op == AgentOp::Consume || op == AgentOp::CallbackConsume || op == AgentOp::Commit;
}

}  // namespace kova::test::standin
