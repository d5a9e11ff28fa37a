#include "completion_pool.h"

#include <boost/asio/post.hpp>

#include <future>

namespace kova::test::engine {

CompletionPool::CompletionPool(int threads)
    : _service(std::make_shared<boost::asio::io_context>()), _work(_service->get_executor()) {
    for (int i = 0; i < threads; ++i) {
        _threads.emplace_back([service = _service] { service->run(); });
        _ids.insert(_threads.back().get_id());
    }
}

CompletionPool::~CompletionPool() {
    _work.reset();
    _service->stop();
    for (std::thread& t : _threads) {
        t.join();
    }
}

bool CompletionPool::drain(std::chrono::milliseconds timeout) {
    auto reached = std::make_shared<std::promise<void>>();
    std::future<void> done = reached->get_future();
    boost::asio::post(*_service, [reached] { reached->set_value(); });
    return done.wait_for(timeout) == std::future_status::ready;
}

}  // namespace kova::test::engine
