// Shared pieces of the push tests: a client (adapter + engine + monitor
// thread) wired the way the facade wires it, a recording push callback, and a
// probe into the engine's consumer table.
// Thread-safety: RecordingConsumer is safe from any thread (one mutex);
// PushClient is used from the test thread, while its callbacks run on Ice
// threads and its monitor runs on its own thread.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"
#include "waits.h"

namespace KOVA {

// Reads the consumer table of an engine (friend of the engine).
struct KOVAClientLibImplProbe {
    static bool has(const KOVAClientLibImpl& engine, const std::string& rid);
    static std::string cid(const KOVAClientLibImpl& engine, const std::string& rid);
    static KOVAConsumerStatus status(const KOVAClientLibImpl& engine, const std::string& rid);
};

}  // namespace KOVA

namespace kova::pushtest {

// Short monitor cadence for the recovery tests.
constexpr std::chrono::milliseconds kFastFirstTick{150};
constexpr std::chrono::milliseconds kFastInterval{250};

using kova::test::engine::batchOf;
using kova::test::engine::eventually;
using kova::test::fixtures::SharedInfrastructure;
using kova::test::standin::AgentOp;
using kova::test::standin::StandinAgent;

// The client's configuration items with the test binary's log directory; the
// default agent key "pxServer.Proxy" names `agentProxy`.
std::vector<std::string> clientItems(const std::string& agentProxy, const std::vector<std::string>& extra = {});

// The items that put the client behind the router at `routerProxy`.
std::vector<std::string> defaultRouterItems(const std::string& routerProxy, const std::string& password);

// One pushed message as the caller saw it.
struct Received {
    void* cookie = nullptr;
    std::string rid;
    std::string sid;
    std::string body;
};

// A push callback that records every message and answers from a script
// (0 once the script is used up); a scripted value of -1 throws instead.
class RecordingConsumer {
public:
    void script(std::vector<int> results);
    KOVA::PushConsumerCallback callback();
    std::vector<Received> received() const;
    size_t count() const;
    bool waitFor(size_t n, std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) const;

private:
    int take(void* cookie, const std::string& rid, const std::string& sid, KOVA::IMessage&& message);

    mutable std::mutex _mutex;
    mutable std::condition_variable _changed;
    std::vector<int> _script;
    std::vector<Received> _received;
};

// The client side as the facade builds it: one adapter, one engine, the
// monitor io_context on its own thread, and the adapter's push callback
// forwarding to the engine.
class PushClient {
public:
    PushClient(const std::vector<std::string>& items, const KOVA::PushMonitorTimings& timings = {});
    ~PushClient();
    PushClient(const PushClient&) = delete;
    PushClient& operator=(const PushClient&) = delete;

    // ActiveAdapter with the forwarding callback, then RegisterPushConsumer
    // (maximum count 100, maximum batch 1, as the facade registers).
    bool activate();
    int registerConsumer(const std::string& rid, RecordingConsumer& consumer, void* cookie = nullptr);
    int registerConsumer(const std::string& rid, KOVA::PushConsumerCallback cb);

    const KOVA::KOVAClientAdapterPtr& adapter() const { return _adapter; }
    KOVA::KOVAClientLibImpl& engine() { return *_engine; }
    // The forwarding callback, for tests that activate by hand.
    KOVA::KOVAPushCallback forwardingCallback() const;

private:
    KOVA::KOVAClientAdapterPtr _adapter;
    std::shared_ptr<KOVA::KOVAClientLibImpl> _engine;
    boost::asio::io_context _monitor;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> _work;
    std::thread _monitorThread;
};

}  // namespace kova::pushtest
