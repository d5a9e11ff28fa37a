#include "call_log.h"

namespace kova::test::standin {

CallTicket CallLog::append(AgentCall call) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_[call.op];
    CallTicket ticket{kNotRecorded, call.op};
    if (recordDetails_) {
        ticket.index = firstIndex_ + calls_.size();
        calls_.push_back(std::move(call));
    }
    changed_.notify_all();
    return ticket;
}

AgentCall* CallLog::findLocked(size_t index) {
    if (index < firstIndex_ || index - firstIndex_ >= calls_.size()) return nullptr;
    return &calls_[index - firstIndex_];
}

void CallLog::answered(const CallTicket& ticket, int code, int messageCount) {
    std::lock_guard<std::mutex> lock(mutex_);
    AgentCall* call = findLocked(ticket.index);
    if (call && call->outcome == CallOutcome::Pending) {
        call->outcome = CallOutcome::Answered;
        call->code = code;
        if (messageCount >= 0) call->messageCount = messageCount;
    }
    ++answeredCounts_[ticket.op];
    changed_.notify_all();
}

void CallLog::consumeAnswered(const CallTicket& ticket, int code, int messageCount, const KOVA::CommitInfo& commit,
                              Ice::Long delay) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (AgentCall* call = findLocked(ticket.index)) {
            call->commit = commit;
            call->delay = delay;
        }
    }
    answered(ticket, code, messageCount);
}

void CallLog::closed(const CallTicket& ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (AgentCall* call = findLocked(ticket.index)) call->outcome = CallOutcome::Closed;
    changed_.notify_all();
}

void CallLog::setCid(const CallTicket& ticket, const std::string& cid) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (AgentCall* call = findLocked(ticket.index)) call->cid = cid;
}

void CallLog::markPendingDropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& call : calls_) {
        if (call.outcome == CallOutcome::Pending) call.outcome = CallOutcome::Dropped;
    }
    changed_.notify_all();
}

std::vector<AgentCall> CallLog::all() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<AgentCall> CallLog::of(AgentOp op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<AgentCall> out;
    for (const auto& call : calls_) {
        if (call.op == op) out.push_back(call);
    }
    return out;
}

size_t CallLog::count(AgentOp op) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = counts_.find(op);
    return found == counts_.end() ? 0 : found->second;
}

size_t CallLog::answeredCountLocked(AgentOp op) const {
    auto found = answeredCounts_.find(op);
    return found == answeredCounts_.end() ? 0 : found->second;
}

bool CallLog::waitForCount(AgentOp op, size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        auto found = counts_.find(op);
        return found != counts_.end() && found->second >= n;
    });
}

bool CallLog::waitForAnswered(AgentOp op, size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return answeredCountLocked(op) >= n; });
}

void CallLog::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    firstIndex_ += calls_.size();
    calls_.clear();
    counts_.clear();
    answeredCounts_.clear();
}

}  // namespace kova::test::standin
