// Settings of the stand-in agent.
// Thread-safety: a plain value; copy it freely.
#pragma once

#include <chrono>
#include <string>

namespace kova::test::standin {

struct StandinAgentOptions {
    std::string host = "127.0.0.1";
    int agentPort = 0;     // 0: a free port, kept for later restarts
    int callbackPort = 0;  // the KOVACallbackAgent's own port; 0: a free one
    // Registration with an IceGrid registry for the locator path: both or neither.
    std::string locator;                  // e.g. "TGrid/Locator:tcp -h 127.0.0.1 -p 4061"
    std::string adapterId;                // clients then use "KOVAAgent@<adapterId>"
    std::string nodeId = "standin-node";  // CommitInfo.id and KOVAQueueInfo.broker of every reply
    // Consume's `timeout` argument is multiplied by this to get milliseconds
    // (1: milliseconds, 1000: seconds); every long poll is cut to maxLongPoll.
    int consumeTimeoutUnitMs = 1;
    std::chrono::milliseconds maxLongPoll{30000};
    // A registration must be this old before the pusher calls its listener, so
    // the push arrives after the registration reply.
    std::chrono::milliseconds pushSettle{50};
    std::chrono::milliseconds pushInvocationTimeout{5000};
    // Produce to a resource with an active listener pushes the batch instead of
    // queueing it for pulls.
    bool autoPush = false;
    // Off for benchmarks: calls are only counted, produced messages only numbered.
    bool recordCalls = true;
    bool keepMessages = true;
    int serverThreads = 16;
};

}  // namespace kova::test::standin
