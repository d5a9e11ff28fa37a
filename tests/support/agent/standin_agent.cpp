#include "standin_agent.h"

#include "agent_servants.h"

#include <IceUtil/Time.h>

namespace kova::test::standin {

namespace {
int boundPort(const Ice::ObjectAdapterPtr& adapter) {
    for (const auto& endpoint : adapter->getEndpoints()) {
        if (Ice::IPEndpointInfoPtr ip = Ice::IPEndpointInfoPtr::dynamicCast(endpoint->getInfo())) return ip->port;
    }
    throw std::runtime_error("stand-in agent: adapter has no IP endpoint");
}

std::string endpointsFor(const std::string& host, int port) { return "tcp -h " + host + " -p " + std::to_string(port); }
}  // namespace

StandinAgent::StandinAgent(StandinAgentOptions options)
    : core_(std::make_unique<AgentCore>(options)), agentPort_(options.agentPort), callbackPort_(options.callbackPort) {}

StandinAgent::~StandinAgent() { stop(); }

void StandinAgent::start() {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    if (communicator_) return;
    const StandinAgentOptions& opts = core_->options;

    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Ice.ThreadPool.Server.Size", "4");
    init.properties->setProperty("Ice.ThreadPool.Server.SizeMax", std::to_string(opts.serverThreads));
    init.properties->setProperty("Ice.ThreadPool.Client.Size", "2");
    init.properties->setProperty("Ice.ThreadPool.Client.SizeMax", "8");
    // Registrations live on their connections: never close them for idleness.
    init.properties->setProperty("Ice.ACM.Server.Close", "0");
    init.properties->setProperty("Ice.Warn.Connections", "0");
    init.properties->setProperty("Ice.Warn.Dispatch", "0");
    init.properties->setProperty("KOVAAgent.Endpoints", endpointsFor(opts.host, agentPort_));
    init.properties->setProperty("KOVACallbackAgent.Endpoints", endpointsFor(opts.host, callbackPort_));
    if (!opts.locator.empty() && !opts.adapterId.empty()) {
        init.properties->setProperty("Ice.Default.Locator", opts.locator);
        init.properties->setProperty("KOVAAgent.AdapterId", opts.adapterId);
    }

    Ice::CommunicatorPtr communicator = Ice::initialize(init);
    try {
        callbackAdapter_ = communicator->createObjectAdapter("KOVACallbackAgent");
        callbackAdapter_->add(new StandinCallbackAgentServant(*core_), Ice::stringToIdentity(kCallbackIdentity));
        agentAdapter_ = communicator->createObjectAdapter("KOVAAgent");
        agentAdapter_->add(new StandinAgentServant(*core_), Ice::stringToIdentity(kAgentIdentity));
        agentAdapter_->add(new SilentServant(*core_), Ice::stringToIdentity(kSilentIdentity));

        core_->registry.setCidPrefix("c" +
                                     std::to_string(IceUtil::Time::now(IceUtil::Time::Realtime).toMicroSeconds()));
        core_->deferred.start();
        core_->pusher.start();

        callbackAdapter_->activate();
        callbackPort_ = boundPort(callbackAdapter_);
        auto callbackPrx = KOVA::KOVACallbackAgentPrx::uncheckedCast(
            callbackAdapter_->createDirectProxy(Ice::stringToIdentity(kCallbackIdentity)));
        core_->setCallbackProxy(callbackPrx);
        callbackProxy_ = communicator->proxyToString(callbackPrx);

        agentAdapter_->activate();
        agentPort_ = boundPort(agentAdapter_);
        agentProxy_ =
            communicator->proxyToString(agentAdapter_->createDirectProxy(Ice::stringToIdentity(kAgentIdentity)));
    } catch (...) {
        communicator_ = communicator;
        stopLocked();
        throw;
    }
    communicator_ = communicator;
}

void StandinAgent::stop() {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    stopLocked();
}

void StandinAgent::stopLocked() {
    if (!communicator_) return;
    core_->pusher.beginStop();
    core_->calls.markPendingDropped();
    core_->closeTrackedConnections();
    // Every parked reply is answered (into closed connections) so that no
    // dispatch stays open and destroy() can finish.
    core_->store.expireAll();
    core_->deferred.stop();
    communicator_->destroy();
    core_->pusher.join();
    core_->registry.clear();
    core_->setCallbackProxy(KOVA::KOVACallbackAgentPrx());
    agentAdapter_ = 0;
    callbackAdapter_ = 0;
    communicator_ = 0;
}

void StandinAgent::restart() {
    stop();
    start();
}

bool StandinAgent::running() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return communicator_ ? true : false;
}

int StandinAgent::agentPort() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return agentPort_;
}

int StandinAgent::callbackPort() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return callbackPort_;
}

std::string StandinAgent::agentProxyString() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return agentProxy_;
}

std::string StandinAgent::callbackProxyString() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return callbackProxy_;
}

std::string StandinAgent::silentProxyString() const {
    std::lock_guard<std::mutex> lock(lifecycleMutex_);
    return std::string(kSilentIdentity) + ":tcp -h " + core_->options.host + " -p " + std::to_string(agentPort_);
}

std::string StandinAgent::indirectProxyString() const {
    const StandinAgentOptions& opts = core_->options;
    if (opts.locator.empty() || opts.adapterId.empty()) return std::string();
    return std::string(kAgentIdentity) + "@" + opts.adapterId;
}

void StandinAgent::push(const std::string& rid, KOVAMsg::KOVABatchMessage messages, const std::string& sid) {
    PushJob job;
    job.resource = rid;
    job.sid = sid;
    job.kind = PushKind::ConsumeMessage;
    job.messages = std::move(messages);
    core_->pusher.enqueue(std::move(job));
}

void StandinAgent::pushBytes(const std::string& rid, KOVAMsg::BatchBytes bytes, const std::string& sid) {
    PushJob job;
    job.resource = rid;
    job.sid = sid;
    job.kind = PushKind::OnMessage;
    job.bytes = std::move(bytes);
    core_->pusher.enqueue(std::move(job));
}

void StandinAgent::clearRecords() {
    core_->calls.clear();
    core_->pusher.clearRecords();
}

}  // namespace kova::test::standin
