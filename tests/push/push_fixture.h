// The push tests' client: adapter "px" + engine + monitor thread, wired the
// way the facade wires it, and its configuration items.
// Thread-safety: PushClient is used from the test thread, while its callbacks
// run on Ice threads and its monitor runs on its own thread.
#pragma once

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVAClientLibImpl.h"
#include "batches.h"
#include "callback_recorders.h"
#include "engine_probe.h"
#include "shared_infrastructure.h"
#include "standin_agent.h"
#include "waits.h"

namespace kova::test::push {

// Short monitor cadence for the recovery tests.
constexpr std::chrono::milliseconds kFastFirstTick{150};
constexpr std::chrono::milliseconds kFastInterval{250};

using kova::test::engine::batchOf;
using kova::test::engine::eventually;
using kova::test::engine::Received;
using kova::test::engine::RecordingConsumer;
using kova::test::fixtures::SharedInfrastructure;
using kova::test::standin::AgentOp;
using kova::test::standin::StandinAgent;
using Probe = KOVA::KOVAClientLibImplProbe;

// The client's configuration items with the test binary's log directory; the
// default agent key "pxServer.Proxy" names `agentProxy`.
std::vector<std::string> clientItems(const std::string& agentProxy, const std::vector<std::string>& extra = {});

// The items that put the client behind the router at `routerProxy`.
std::vector<std::string> defaultRouterItems(const std::string& routerProxy, const std::string& password);

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
    int registerConsumer(const std::string& rid, const RecordingConsumer& consumer, void* cookie = nullptr);
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

}  // namespace kova::test::push
