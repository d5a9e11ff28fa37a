// What the stand-in agent does on its next calls, per operation.
//
// Each kind of instruction (result code, consume delay, sleep, hold, forceful
// close) has its own first-in first-out queue per operation; a call takes the
// front of every queue of its operation at once. So `nextCode(Produce, 5)` and
// `nextSleep(Produce, 100ms)` together make the next Produce answer 5 after
// 100 ms, while two `nextCode` calls script two successive calls. A delay cycle
// is a repeating pattern used when the one-shot delay queue is empty.
//
// Thread-safety: every member is safe to call from any thread (one internal
// mutex). Owned by the StandinAgent; servants read it, tests write it.
#pragma once

#include "agent_ops.h"

#include <Ice/Config.h>

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace kova::test::standin {

// The instructions a single call picked up.
struct ScriptedStep {
    std::optional<int> code;             // result code to answer instead of the normal one
    std::optional<Ice::Long> delay;      // ConsumeResultInfo.delay (consume operations)
    std::chrono::milliseconds sleep{0};  // wait before answering
    bool hold = false;                   // park the reply until released (asynchronous operations)
    bool closeConnection = false;        // close the caller's connection forcefully, no reply
};

class AgentScript {
public:
    AgentScript& nextCode(AgentOp op, int code);
    AgentScript& nextCodes(AgentOp op, const std::vector<int>& codes);
    AgentScript& nextDelay(AgentOp op, Ice::Long delay);
    // Repeats for every call of op while no one-shot delay is queued; empty clears it.
    AgentScript& delayCycle(AgentOp op, const std::vector<Ice::Long>& delays);
    AgentScript& nextSleep(AgentOp op, std::chrono::milliseconds sleep);
    AgentScript& holdNext(AgentOp op, int calls = 1);
    AgentScript& closeNext(AgentOp op, int calls = 1);

    // Convenience spellings for the common cases.
    AgentScript& nextProduceCode(int code) { return nextCode(AgentOp::Produce, code); }
    AgentScript& nextConsumeCode(int code) { return nextCode(AgentOp::Consume, code); }
    AgentScript& nextCommitCode(int code) { return nextCode(AgentOp::Commit, code); }
    AgentScript& nextConsumeDelay(Ice::Long delay) { return nextDelay(AgentOp::Consume, delay); }

    // Removes and returns the instructions for the call being dispatched now.
    ScriptedStep take(AgentOp op);
    void clear();

private:
    struct PerOp {
        std::deque<int> codes;
        std::deque<Ice::Long> delays;
        std::vector<Ice::Long> delayCycle;
        size_t cyclePosition = 0;
        std::deque<std::chrono::milliseconds> sleeps;
        int holds = 0;
        int closes = 0;
    };

    std::mutex mutex_;
    std::map<AgentOp, PerOp> ops_;
};

}  // namespace kova::test::standin
