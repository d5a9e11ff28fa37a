#include "agent_script.h"

namespace kova::test::standin {

AgentScript& AgentScript::nextCode(AgentOp op, int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].codes.push_back(code);
    return *this;
}

AgentScript& AgentScript::nextCodes(AgentOp op, const std::vector<int>& codes) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& queue = ops_[op].codes;
    queue.insert(queue.end(), codes.begin(), codes.end());
    return *this;
}

AgentScript& AgentScript::nextDelay(AgentOp op, Ice::Long delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].delays.push_back(delay);
    return *this;
}

AgentScript& AgentScript::delayCycle(AgentOp op, const std::vector<Ice::Long>& delays) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].delayCycle = delays;
    ops_[op].cyclePosition = 0;
    return *this;
}

AgentScript& AgentScript::nextSleep(AgentOp op, std::chrono::milliseconds sleep) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].sleeps.push_back(sleep);
    return *this;
}

AgentScript& AgentScript::holdNext(AgentOp op, int calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].holds += calls;
    return *this;
}

AgentScript& AgentScript::closeNext(AgentOp op, int calls) {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_[op].closes += calls;
    return *this;
}

ScriptedStep AgentScript::take(AgentOp op) {
    std::lock_guard<std::mutex> lock(mutex_);
    ScriptedStep step;
    auto found = ops_.find(op);
    if (found == ops_.end()) return step;
    PerOp& per = found->second;
    if (!per.codes.empty()) {
        step.code = per.codes.front();
        per.codes.pop_front();
    }
    if (!per.delays.empty()) {
        step.delay = per.delays.front();
        per.delays.pop_front();
    } else if (!per.delayCycle.empty()) {
        step.delay = per.delayCycle[per.cyclePosition % per.delayCycle.size()];
        ++per.cyclePosition;
    }
    if (!per.sleeps.empty()) {
        step.sleep = per.sleeps.front();
        per.sleeps.pop_front();
    }
    if (per.holds > 0) {
        --per.holds;
        step.hold = true;
    }
    if (per.closes > 0) {
        --per.closes;
        step.closeConnection = true;
    }
    return step;
}

void AgentScript::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ops_.clear();
}

}  // namespace kova::test::standin
