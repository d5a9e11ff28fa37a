// Shared pieces of the engine tests: client adapters built from Key=Value
// items, small batches, and an io_context pool that knows its own threads.
// Thread-safety: CompletionPool's members are safe from any thread; the free
// functions are stateless.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"

namespace kova::enginetest {

// A client adapter of its own (so its own communicator and router connection)
// with the test binary's log directory and a default agent that satisfies the
// configuration check; engines use the agent keys given in `items`.
KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items);

// Items naming `key` as an agent behind the shared router with the given password.
std::vector<std::string> routedAgentItems(const std::string& key, const std::string& agentProxy,
                                          const std::string& routerProxy, const std::string& password);

KOVAMsg::KOVABatchMessage batchOf(int records);

// An io_context run by its own threads until destruction.
class CompletionPool {
public:
    explicit CompletionPool(int threads);
    ~CompletionPool();
    CompletionPool(const CompletionPool&) = delete;
    CompletionPool& operator=(const CompletionPool&) = delete;

    const std::shared_ptr<boost::asio::io_context>& service() const { return _service; }
    bool ownsThread(std::thread::id id) const { return _ids.count(id) != 0; }
    // Runs one handler through the pool and waits for it: every handler posted
    // before has been started by then (bounded wait; false on timeout).
    bool drain(std::chrono::milliseconds timeout);

private:
    std::shared_ptr<boost::asio::io_context> _service;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> _work;
    std::vector<std::thread> _threads;
    std::set<std::thread::id> _ids;
};

}  // namespace kova::enginetest
