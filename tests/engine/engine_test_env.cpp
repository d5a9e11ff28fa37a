#include "engine_test_env.h"

#include <boost/asio/post.hpp>

#include <future>

#include "temp_dir.h"

namespace kova::enginetest {

namespace {

// One log directory per test binary, removed at exit.
const std::string& logDir() {
    static const kova::fixtures::TempDir dir("kova-engine-log");
    static const std::string path = dir.path().string();
    return path;
}

}  // namespace

KOVA::KOVAClientAdapterPtr makeAdapter(const std::vector<std::string>& items) {
    std::vector<std::string> all{"et.LogDir=" + logDir(), "et.LogLevel=INFO",
                                 "etServer.Proxy=KOVAAgent:tcp -h 127.0.0.1 -p 9",
                                 "etServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9",
                                 // A call that hangs fails the test instead of the run.
                                 "Ice.Default.InvocationTimeout=15000"};
    all.insert(all.end(), items.begin(), items.end());
    return new KOVA::KOVAClientAdapter(all, "et");
}

std::vector<std::string> routedAgentItems(const std::string& key, const std::string& agentProxy,
                                          const std::string& routerProxy, const std::string& password) {
    return {key + "=" + agentProxy, key + ".Router=" + routerProxy, key + ".Router.User=kova",
            key + ".Router.Password=" + password};
}

KOVAMsg::KOVABatchMessage batchOf(int records) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < records; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = "key-" + std::to_string(i);
        message.message.assign(16, static_cast<Ice::Byte>('a' + i % 26));
        batch.push_back(message);
    }
    return batch;
}

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

}  // namespace kova::enginetest
