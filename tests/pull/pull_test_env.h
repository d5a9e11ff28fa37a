// Shared pieces of the pull tests: a client adapter and engine for one agent,
// batches with unique keys, a recorder of asynchronous pull callbacks, and a
// reader of the log lines written since a mark.
// Thread-safety: PullRecorder is safe from any thread;
// LogMark is used from one thread; the free functions are stateless.
#pragma once

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "completion_pool.h"

namespace kova::pulltest {

using kova::test::engine::CompletionPool;

// The engine's configuration key for its agent.
constexpr const char* kAgentKey = "PullAgent";

// A client adapter of its own (own communicator) logging at INFO into the
// test binary's log directory, plus `items`.
KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items);
// An engine for the agent at `agentProxy` (extra items may add a router).
KOVA::KOVAClientLibImplPtr makeEngine(const std::string& agentProxy, const std::vector<std::string>& extra = {});

// Records whose "KEYS" are prefix0, prefix1, ...
KOVAMsg::KOVABatchMessage batchOf(int records, const std::string& prefix = "key-");
std::string keyOf(const KOVA::IMessage& message);

// Lines of the log files written after construction (all files of the log
// directory, so a rotation in between loses nothing).
class LogMark {
public:
    LogMark();
    std::string text() const;
    size_t count(const std::string& needle) const;

private:
    std::map<std::string, std::uintmax_t> sizes_;
};

// What one asynchronous pull callback received.
struct PullCallback {
    std::string rid;
    std::string sid;
    KOVA::ConsumeStatusPtr status;
    void* cookie = nullptr;
    std::thread::id thread;
};

class PullRecorder {
public:
    // A callback that appends to this recorder.
    KOVA::PullConsumerCallback callback();
    // Bounded wait until at least n callbacks arrived; false on timeout.
    bool waitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    std::vector<PullCallback> all() const;
    size_t count() const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<PullCallback> calls_;
};

}  // namespace kova::pulltest
