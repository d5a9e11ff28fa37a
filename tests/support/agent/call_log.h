// The record of every call the stand-in agent received, in arrival order.
//
// A call is appended when it arrives (so held or long-polling calls are visible)
// and its outcome is filled in when it is answered. With recording turned off
// (benchmarks) only the per-operation counters move.
//
// Thread-safety: every member is safe to call from any thread (one internal
// mutex plus a condition variable for the bounded waits). Owned by StandinAgent.
#pragma once

#include "agent_ops.h"

#include <KOVAMessageService.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kova::test::standin {

enum class CallOutcome {
    Pending,   // not answered yet (held, sleeping or long-polling)
    Answered,  // `code` holds the answer (0 for operations without a result)
    Closed,    // the caller's connection was closed forcefully instead of answering
    Dropped,   // the agent stopped before answering (a late answer goes nowhere and is not recorded)
};

struct AgentCall {
    AgentOp op = AgentOp::Produce;
    std::string resource;
    std::string sid;
    std::string cid;          // pause, start, unregister; the cid handed out by registrations
    Ice::Context context;     // the request context exactly as received
    std::string peerAddress;  // remote IP of the caller's connection (the router's behind Glacier2)
    int peerPort = 0;
    int messageCount = 0;       // produce: records sent; consume: records answered
    int count = 0;              // consume: requested count; registrations: maxCountOneBatch
    int maxBatch = 0;           // registrations
    int timeout = 0;            // consume: the timeout argument as sent
    int status = 0;             // commit: the status argument
    KOVA::CommitInfo commit{};  // commit: as sent; consume: as answered
    Ice::Long delay = 0;        // consume: the delay answered
    std::string listener;       // registrations: listener proxy (identity form: made on the connection)
    CallOutcome outcome = CallOutcome::Pending;
    int code = 0;
    std::chrono::steady_clock::time_point receivedAt{};
};

// Identifies an appended call for its later outcome.
struct CallTicket {
    size_t index = 0;
    AgentOp op = AgentOp::Produce;
};

class CallLog {
public:
    explicit CallLog(bool recordDetails = true) : recordDetails_(recordDetails) {}

    // Counts even when details are off; the ticket names the call for its outcome.
    CallTicket append(AgentCall call);
    void answered(const CallTicket& ticket, int code, int messageCount = -1);
    void consumeAnswered(const CallTicket& ticket, int code, int messageCount, const KOVA::CommitInfo& commit,
                         Ice::Long delay);
    void closed(const CallTicket& ticket);
    void setCid(const CallTicket& ticket, const std::string& cid);
    void markPendingDropped();

    std::vector<AgentCall> all() const;
    std::vector<AgentCall> of(AgentOp op) const;
    size_t count(AgentOp op) const;
    // Bounded wait until at least n calls of op arrived; false on timeout.
    bool waitForCount(AgentOp op, size_t n, std::chrono::milliseconds timeout) const;
    // Bounded wait until at least n calls of op were answered (any code).
    bool waitForAnswered(AgentOp op, size_t n, std::chrono::milliseconds timeout) const;
    void clear();

private:
    static constexpr size_t kNotRecorded = static_cast<size_t>(-1);
    size_t answeredCountLocked(AgentOp op) const;
    AgentCall* findLocked(size_t index);

    const bool recordDetails_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<AgentCall> calls_;
    std::map<AgentOp, size_t> counts_;
    std::map<AgentOp, size_t> answeredCounts_;
    size_t firstIndex_ = 0;  // index of calls_[0]; clear() moves it so stale indexes stay harmless
};

}  // namespace kova::test::standin
