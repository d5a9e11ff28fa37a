// The client thread-pool size must reach Ice's real client pool, which Ice builds
// inside Ice::initialize: asynchronous completions of one communicator have to be
// able to run side by side.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "KOVAClientAdapter.h"
#include "adapter_fixture.h"

namespace kova::test::adapter {
namespace {

// Every completion waits, up to a bound, for a second completion to be running at
// the same time; a one-thread pool can never show two.
class Rendezvous : public IceUtil::Shared {
public:
    explicit Rendezvous(std::chrono::milliseconds partnerWait) : _partnerWait(partnerWait) {}

    void completed(const Ice::AsyncResultPtr& result) {
        try {
            result->getProxy()->end_ice_ping(result);
        } catch (const Ice::Exception&) {
            ++_failures;
        }
        std::unique_lock<std::mutex> lock(_mutex);
        ++_inside;
        _maxInside = std::max(_maxInside, _inside);
        _cv.notify_all();
        _cv.wait_for(lock, _partnerWait, [this] { return _maxInside >= 2; });
        --_inside;
        ++_done;
        _cv.notify_all();
    }

    // Bounded: gives up after 15 s so a broken pool cannot hang the test.
    bool waitDone(int expected) {
        std::unique_lock<std::mutex> lock(_mutex);
        return _cv.wait_for(lock, std::chrono::seconds(15), [&] { return _done >= expected; });
    }
    int maxInside() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _maxInside;
    }
    int failures() {
        std::lock_guard<std::mutex> lock(_mutex);
        return _failures;
    }

private:
    const std::chrono::milliseconds _partnerWait;
    std::mutex _mutex;
    std::condition_variable _cv;
    int _inside = 0;
    int _maxInside = 0;
    int _done = 0;
    int _failures = 0;
};
typedef IceUtil::Handle<Rendezvous> RendezvousPtr;

// Any servant answers ice_ping.
class PingServant : public Ice::Object {};

// A peer in its own communicator (so calls to it are never collocated) that answers
// ice_ping on 127.0.0.1.
class PingPeer {
public:
    PingPeer() {
        Ice::InitializationData init;
        init.properties = Ice::createProperties();
        init.properties->setProperty("Peer.Endpoints", "tcp -h 127.0.0.1 -p 0");
        _ic = Ice::initialize(init);
        Ice::ObjectAdapterPtr adapter = _ic->createObjectAdapter("Peer");
        _proxyText = adapter->add(new PingServant(), Ice::stringToIdentity("peer"))->ice_toString();
        adapter->activate();
    }
    ~PingPeer() { _ic->destroy(); }
    const std::string& proxyText() const { return _proxyText; }

private:
    Ice::CommunicatorPtr _ic;
    std::string _proxyText;
};

int MaxConcurrentCompletions(const std::vector<std::string>& extra, std::chrono::milliseconds partnerWait) {
    PingPeer peer;
    std::vector<std::string> items{std::string("c1Server.Proxy=") + kAgentX,
                                   std::string("c1Server.Proxy.Locator=") + kLocatorL};
    items.insert(items.end(), extra.begin(), extra.end());
    KOVA::KOVAClientAdapterPtr adapter = new KOVA::KOVAClientAdapter(items, "c1");
    Ice::ObjectPrx target = adapter->getCommunicator()->stringToProxy(peer.proxyText());
    target->ice_ping();  // connection up before the race

    RendezvousPtr rendezvous = new Rendezvous(partnerWait);
    Ice::CallbackPtr cb = Ice::newCallback(rendezvous, &Rendezvous::completed);
    target->begin_ice_ping(cb);
    target->begin_ice_ping(cb);
    EXPECT_TRUE(rendezvous->waitDone(2));
    EXPECT_EQ(rendezvous->failures(), 0);
    return rendezvous->maxInside();
}

}  // namespace

TEST(ClientPool, UnsetSizeGivesConcurrentCompletions) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: the pool is one thread";
    EXPECT_EQ(MaxConcurrentCompletions({}, std::chrono::seconds(5)), 2);
}

TEST(ClientPool, ZeroMaximumIsTreatedAsUnset) {
    if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one processor: the pool is one thread";
    EXPECT_EQ(MaxConcurrentCompletions({"Ice.ThreadPool.Client.SizeMax=0"}, std::chrono::seconds(5)), 2);
}

TEST(ClientPool, ConfiguredSingleThreadSerialisesCompletions) {
    // Shows the probe can tell the difference: one thread never runs two completions.
    EXPECT_EQ(MaxConcurrentCompletions({"Ice.ThreadPool.Client.SizeMax=1"}, std::chrono::milliseconds(300)), 1);
}

}  // namespace kova::test::adapter
