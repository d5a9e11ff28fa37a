#include "push_test_env.h"

#include "client_items.h"
#include "push_forwarding.h"

namespace KOVA {

bool KOVAClientLibImplProbe::has(const KOVAClientLibImpl& engine, const std::string& rid) {
    return engine.findConsumer(rid);
}

std::string KOVAClientLibImplProbe::cid(const KOVAClientLibImpl& engine, const std::string& rid) {
    ConsumerInfoPtr info = engine.findConsumer(rid);
    if (!info) {
        return std::string();
    }
    std::lock_guard<std::mutex> lock(info->_mutex);
    return info->_cid;
}

KOVAConsumerStatus KOVAClientLibImplProbe::status(const KOVAClientLibImpl& engine, const std::string& rid) {
    ConsumerInfoPtr info = engine.findConsumer(rid);
    return info ? info->_status.load() : STOPED;
}

}  // namespace KOVA

namespace kova::pushtest {

std::vector<std::string> clientItems(const std::string& agentProxy, const std::vector<std::string>& extra) {
    return kova::test::engine::testClientItems("px", agentProxy, extra);
}

std::vector<std::string> defaultRouterItems(const std::string& routerProxy, const std::string& password) {
    return kova::test::engine::routerItems("Ice.Default.Router", routerProxy, password);
}

void RecordingConsumer::script(std::vector<int> results) {
    std::lock_guard<std::mutex> lock(_mutex);
    _script = std::move(results);
}

KOVA::PushConsumerCallback RecordingConsumer::callback() {
    return [this](void* cookie, const std::string& rid, const std::string& sid, KOVA::IMessage&& message) {
        return take(cookie, rid, sid, std::move(message));
    };
}

int RecordingConsumer::take(void* cookie, const std::string& rid, const std::string& sid, KOVA::IMessage&& message) {
    std::lock_guard<std::mutex> lock(_mutex);
    _received.push_back(Received{cookie, rid, sid, message.Message()});
    _changed.notify_all();
    int result = 0;
    if (!_script.empty()) {
        result = _script.front();
        _script.erase(_script.begin());
    }
    if (result == -1) {
        throw std::runtime_error("consumer refuses the message");
    }
    return result;
}

std::vector<Received> RecordingConsumer::received() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _received;
}

size_t RecordingConsumer::count() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return _received.size();
}

bool RecordingConsumer::waitFor(size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, timeout, [&] { return _received.size() >= n; });
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

KOVA::KOVAPushCallback PushClient::forwardingCallback() const {
    return kova::test::engine::forwardingCallback(_engine);
}

bool PushClient::activate() { return _adapter->ActiveAdapter(forwardingCallback(), false); }

int PushClient::registerConsumer(const std::string& rid, RecordingConsumer& consumer, void* cookie) {
    KOVA::PushConsumerCallback cb = consumer.callback();
    return _engine->RegisterPushConsumer(rid, cb, cookie, 100, 1, _monitor);
}

int PushClient::registerConsumer(const std::string& rid, KOVA::PushConsumerCallback cb) {
    return _engine->RegisterPushConsumer(rid, cb, nullptr, 100, 1, _monitor);
}

}  // namespace kova::pushtest
