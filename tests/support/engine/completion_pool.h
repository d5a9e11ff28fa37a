// An io_context run by its own threads until destruction, for the engine's
// asynchronous completions.
// Thread-safety: every member is safe from any thread; the pool owns its
// threads and joins them in the destructor.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace kova::test::engine {

class CompletionPool {
public:
    explicit CompletionPool(int threads = 2);
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

}  // namespace kova::test::engine
