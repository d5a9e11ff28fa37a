// The client manager: construction, engine lookup, the lazy io_contexts, the
// fail-store's write side and the stop sequence. The re-produce loop is in
// KOVAClientManagerReProduce.cpp.
#include "KOVAClientManager.h"

#include <pthread.h>

#include <algorithm>
#include <stdexcept>

#include "KOVAClientThreads.h"
#include "KOVALog.h"

namespace KOVA {

namespace {

const char* const kFailStorePrefix = "KOVAProduceFail";

}  // namespace

bool WaitBounded(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline) {
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::shared_ptr<std::thread> KOVAClientManager::startNamedThread(const char* name, std::function<void()> body) {
    ++_runningThreads;
    std::shared_ptr<std::thread> thread;
    try {
        thread = std::make_shared<std::thread>([this, body] {
            MarkClientThread();
            body();
            --_runningThreads;
        });
    } catch (...) {
        --_runningThreads;
        throw;
    }
    // Named from here, so the name is there as soon as the thread exists.
    pthread_setname_np(thread->native_handle(), name);
    return thread;
}

bool KOVAClientManager::isOwnThread() {
    auto isSelf = [](const std::shared_ptr<std::thread>& thread) { return thread && IsCallingThread(*thread); };
    MutexLock lock(_kovaManagerMutex);
    auto anySelf = [&isSelf](const std::vector<std::shared_ptr<std::thread>>& threads) {
        return std::any_of(threads.begin(), threads.end(), isSelf);
    };
    return isSelf(_reProduceThread) || anySelf(_monitor.threads) || anySelf(_asyncPool.threads);
}

void KOVAClientManager::joinUnlessSelf(const std::shared_ptr<std::thread>& thread) {
    if (thread) {
        JoinUnlessCalling(*thread);
    }
}

KOVAClientManager::KOVAClientManager(const std::string& config, const std::string& item, bool valid,
                                     const readCacheCb& rcb)
    : _clientAdapter(new KOVAClientAdapter(config, item)), _reProduceCb(rcb) {
    buildEngines(item, valid);
    openFailStore();
}

KOVAClientManager::KOVAClientManager(const std::vector<std::string>& configs, const std::string& item, bool valid,
                                     const readCacheCb& rcb)
    : _clientAdapter(new KOVAClientAdapter(configs, item)), _reProduceCb(rcb) {
    buildEngines(item, valid);
    openFailStore();
}

void KOVAClientManager::buildEngines(const std::string& item, bool valid) {
    for (const auto& entry : _clientAdapter->getItems()) {
        KOVAClientLibImplPtr engine = std::make_shared<KOVAClientLibImpl>(entry.second, _clientAdapter);
        if (valid && !engine->Ping()) {
            LOG_FATAL("For rid:%s server is not available", entry.first.c_str());
            throw std::runtime_error("Valid config failed!");
        }
        _rid2ClientServer[entry.first] = engine;
    }
    // The default agent's key is the adapter id followed directly by "Server.Proxy".
    _clientProxy = std::make_shared<KOVAClientLibImpl>(item + "Server.Proxy", _clientAdapter);
    if (valid && _clientAdapter->getItems().empty() && !_clientProxy->Ping()) {
        LOG_FATAL("For adapter: `%s' config valid failed!", item.c_str());
        throw std::runtime_error("Valid config failed!");
    }
}

void KOVAClientManager::openFailStore() {
    const KOVAClientAdapterPtr& adapter = _clientAdapter;
    if (adapter->getStoreDir().empty()) {
        return;
    }
    LOG_WARN("Enable the fail-store, path:`%s', file-match:`%s', maxSize: `%d'", adapter->getStoreDir().c_str(),
             adapter->getStoreFile().c_str(), adapter->getMaxFileSize());
    _storeFailHandle =
        std::make_shared<KOVAStoreFile>(adapter->getStoreDir(), kFailStorePrefix, adapter->getStoreFile(),
                                        adapter->isAsyncFlush(), adapter->getMaxFileSize(), adapter->getMaxFileNums());
    _reProduce = true;
}

KOVAClientLibImplPtr KOVAClientManager::getClientHandleByRes(const std::string& rid) const {
    auto found = _rid2ClientServer.find(rid);
    return found != _rid2ClientServer.end() ? found->second : _clientProxy;
}

std::shared_ptr<boost::asio::io_context> KOVAClientManager::getMonitorService() {
    MutexLock lock(_kovaManagerMutex);
    return runningService(_monitor, "kova-monitor", 1);
}

std::shared_ptr<boost::asio::io_context> KOVAClientManager::getAsyncPullService() {
    MutexLock lock(_kovaManagerMutex);
    // A pool without threads would never run a completion.
    return runningService(_asyncPool, "kova-async", std::max(1, _clientAdapter->getMaxClientPoolSize()));
}

// Both services are asked for rarely enough (once per registration or
// asynchronous call) that the mutex is simply taken every time. A service
// whose threads could not be started is not kept: its getter answers null
// (the caller reports the failure) and the next request tries again.
std::shared_ptr<boost::asio::io_context> KOVAClientManager::runningService(Service& service, const char* name,
                                                                           int count) {
    if (service.context || _closing) {
        return service.context;
    }
    auto context = std::make_shared<boost::asio::io_context>();
    std::unique_ptr<WorkGuard> work(new WorkGuard(context->get_executor()));
    std::vector<std::shared_ptr<std::thread>> threads;
    try {
        // Reserved first: a started thread must not be dropped by a failed push_back.
        threads.reserve(count);
        for (int i = 0; i < count; ++i) {
            threads.push_back(startNamedThread(name, [context] { context->run(); }));
        }
    } catch (const std::exception& e) {
        LOG_ERROR("Start %d thread(s) %s failed:%s", count, name, e.what());
        context->stop();
        for (const auto& thread : threads) {
            thread->join();
        }
        return nullptr;
    }
    service.work = std::move(work);
    service.threads = std::move(threads);
    service.context = context;
    return context;
}

bool KOVAClientManager::Store(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
                              const KOVA::COMMON::KOVAProperties& properties) {
    if (!_storeFailHandle) {
        LOG_WARN("The fail handle is invalid!");
        return false;
    }
    try {
        return _storeFailHandle->Store(rid, datas, properties);
    } catch (const std::exception& e) {
        LOG_ERROR("Store of a failed batch for rid:%s threw:%s", rid.c_str(), e.what());
    } catch (...) {
        LOG_ERROR("Store of a failed batch for rid:%s threw:%s", rid.c_str(), "unknown");
    }
    return false;
}

void KOVAClientManager::BeginStop() {
    if (_closing.exchange(true)) {
        return;
    }
    wakeReProduce();
    // A tick may be inside a remote call that never returns (no invocation
    // timeout configured): the communicator is destroyed before the monitor
    // is joined, so the call ends; Close() keeps a failed tick from building
    // a communicator again.
    stopMonitor();
    destroyCommunicator();
}

KOVAClientManager::~KOVAClientManager() {
    BeginStop();
    FinishWork();
    // No thread of the client is left: nothing reads the engine table now.
    _rid2ClientServer.clear();
    _clientProxy.reset();
    // The engines held the adapter too; this is the last handle, so the adapter
    // thread is joined here.
    _clientAdapter = nullptr;
}

void KOVAClientManager::FinishWork() {
    joinMonitor();
    joinReProduce();
    drainAsyncPool();
}

void KOVAClientManager::FinishWorkWithin(std::chrono::steady_clock::time_point deadline) {
    {
        MutexLock lock(_kovaManagerMutex);
        _asyncPool.work.reset();
    }
    const int self = isOwnThread() ? 1 : 0;
    WaitBounded([this, self] { return _runningThreads.load() == self; }, deadline);
}

void KOVAClientManager::StopOnClientThread(const std::function<void()>& waitForOthers,
                                           const std::function<void()>& settle,
                                           std::chrono::steady_clock::time_point deadline) {
    abortConnections();
    BeginStop();
    keepPoolRunningWithoutSelf();
    waitForOthers();
    // The pool cannot drain on its own: the handler this thread may be in
    // counts as work for ever. Stopped, its threads end with the handler in
    // hand, so that no callback the pool runs overlaps one settled here.
    std::shared_ptr<boost::asio::io_context> pool;
    {
        MutexLock lock(_kovaManagerMutex);
        pool = _asyncPool.context;
    }
    if (pool) {
        pool->stop();
    }
    // The rest of exit destroys statics that these threads may still use.
    const int self = isOwnThread() ? 1 : 0;
    WaitBounded([this, self] { return _runningThreads.load() == self; }, deadline);
    settle();
}

void KOVAClientManager::keepPoolRunningWithoutSelf() {
    MutexLock lock(_kovaManagerMutex);
    const auto& threads = _asyncPool.threads;
    if (std::none_of(threads.begin(), threads.end(), [](const auto& t) { return IsCallingThread(*t); })) {
        return;
    }
    // This thread is inside one of the pool's handlers and will not come back:
    // the completions still to come (the calls the closed connections fail)
    // need a thread of their own, above all when this was the only one.
    std::shared_ptr<boost::asio::io_context> context = _asyncPool.context;
    try {
        startNamedThread("kova-async", [context] { context->run(); })->detach();
    } catch (const std::exception& e) {
        LOG_ERROR("Start %d thread(s) %s failed:%s", 1, "kova-async", e.what());
    }
}

void KOVAClientManager::abortConnections() {
    // This thread may be inside a dispatch or a reply that never ends (a
    // callback calling exit()). The communicator's destroy() fails the calls
    // still outstanding on that connection only once the dispatch is over, so
    // their callbacks would never run: the connections are closed first,
    // without the closing handshake, which fails those calls at once.
    std::vector<Ice::ConnectionPtr> connections;
    if (_clientProxy) {
        _clientProxy->OpenConnections(connections);
    }
    for (const auto& entry : _rid2ClientServer) {
        entry.second->OpenConnections(connections);
    }
    for (const Ice::ConnectionPtr& connection : connections) {
        try {
            connection->close(Ice::ConnectionCloseForcefully);
        } catch (const std::exception& e) {
            LOG_WARN("Abort connection at exit failed:%s", e.what());
        }
    }
}

void KOVAClientManager::stopMonitor() {
    std::shared_ptr<boost::asio::io_context> service;
    {
        MutexLock lock(_kovaManagerMutex);
        service = _monitor.context;
    }
    if (service) {
        // Chains re-arm for ever: they are cut, not drained.
        service->stop();
    }
}

void KOVAClientManager::joinMonitor() {
    std::vector<std::shared_ptr<std::thread>> threads;
    {
        MutexLock lock(_kovaManagerMutex);
        threads = _monitor.threads;
    }
    for (const auto& thread : threads) {
        joinUnlessSelf(thread);
    }
}

void KOVAClientManager::destroyCommunicator() {
    // Outstanding asynchronous calls complete with CommunicatorDestroyedException
    // and post their callbacks to the asynchronous pool, which is still running.
    _clientAdapter->Close();
}

void KOVAClientManager::drainAsyncPool() {
    std::vector<std::shared_ptr<std::thread>> threads;
    {
        MutexLock lock(_kovaManagerMutex);
        // Without the guard run() returns once the queue is empty, so every
        // completion already posted still reaches its callback exactly once.
        _asyncPool.work.reset();
        threads = _asyncPool.threads;
    }
    for (const auto& thread : threads) {
        joinUnlessSelf(thread);
    }
}

}  // namespace KOVA
