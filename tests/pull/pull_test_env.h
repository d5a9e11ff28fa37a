// Shared pieces of the pull tests: a client adapter and engine for one agent,
// batches with unique keys, a completion pool that knows its threads, a
// recorder of asynchronous pull callbacks, and a reader of the log lines
// written since a mark.
// Thread-safety: PullRecorder and CompletionPool are safe from any thread;
// LogMark is used from one thread; the free functions are stateless.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"

namespace kova::pulltest {

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

// An io_context run by its own threads until destruction.
class CompletionPool {
public:
    explicit CompletionPool(int threads = 2);
    ~CompletionPool();
    CompletionPool(const CompletionPool&) = delete;
    CompletionPool& operator=(const CompletionPool&) = delete;

    const std::shared_ptr<boost::asio::io_context>& service() const { return service_; }
    bool ownsThread(std::thread::id id) const { return ids_.count(id) != 0; }

private:
    std::shared_ptr<boost::asio::io_context> service_;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work_;
    std::vector<std::thread> threads_;
    std::set<std::thread::id> ids_;
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
