#include "push_fixture.h"

#include "client_items.h"
#include "push_forwarding.h"

namespace kova::test::push {

std::vector<std::string> clientItems(const std::string& agentProxy, const std::vector<std::string>& extra) {
    return engine::testClientItems("px", agentProxy, extra);
}

std::vector<std::string> defaultRouterItems(const std::string& routerProxy, const std::string& password) {
    return engine::routerItems("Ice.Default.Router", routerProxy, password);
}

PushClient::PushClient(const std::vector<std::string>& items, const KOVA::PushMonitorTimings& timings)
    : _adapter(new KOVA::KOVAClientAdapter(items, "px")),
      _engine(std::make_shared<KOVA::KOVAClientLibImpl>("pxServer.Proxy", _adapter, timings)),
      _work(_monitor.get_executor()),
      _monitorThread([this] { _monitor.run(); }) {}

PushClient::~PushClient() {
    _work.reset();
    _monitor.stop();
    _monitorThread.join();
}

KOVA::KOVAPushCallback PushClient::forwardingCallback() const { return engine::forwardingCallback(_engine); }

bool PushClient::activate() { return _adapter->ActiveAdapter(forwardingCallback(), false); }

int PushClient::registerConsumer(const std::string& rid, const RecordingConsumer& consumer, void* cookie) {
    KOVA::PushConsumerCallback cb = consumer.callback();
    return _engine->RegisterPushConsumer(rid, cb, cookie, 100, 1, _monitor);
}

int PushClient::registerConsumer(const std::string& rid, KOVA::PushConsumerCallback cb) {
    return _engine->RegisterPushConsumer(rid, cb, nullptr, 100, 1, _monitor);
}

}  // namespace kova::test::push
