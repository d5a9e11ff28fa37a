// The harness's three callbacks. The client hands them the cookie it was given, which
// may belong to a KOVATest that Python has deleted since: each one reaches its object
// only through the registry of live harnesses.
#include "KOVATest.h"

#include "LiveObjects.h"

#include <atomic>

namespace {

// Admit one asynchronous outcome of each kind at a time; an outcome that overlaps the
// one being stored is dropped, as the mailbox keeps one result only.
std::atomic<int> g_ConsumerCount{0};
std::atomic<int> g_ProductCount{0};

// Stores through `store` into the live KOVATest that `cookie` belongs to; false when
// there is none. Callback threads belong to the client, so nothing may be thrown back at them.
template <typename Store>
bool storeInLiveHarness(void* cookie, Store&& store) {
    try {
        return kova::harness::liveHarnesses().runIfLive(
            cookie, [&](void* harness) { store(*static_cast<KOVATest*>(harness)); });
    } catch (...) {
        return false;
    }
}

template <typename Store>
void storeOnceAtATime(std::atomic<int>& count, void* cookie, Store&& store) {
    if (count == 0 && storeInLiveHarness(cookie, std::forward<Store>(store))) ++count;
    count = 0;
}

}  // namespace

int ConsumerCb(void* cookie, const std::string&, const std::string&, KOVA::IMessage&& imsg) {
    storeInLiveHarness(cookie, [&](KOVATest& harness) { harness.async_set(imsg); });
    return 0;
}

void PullConsumerCb(const std::string&, const std::string&, KOVA::ConsumeStatusPtr cstatus, void* cookie) {
    storeOnceAtATime(g_ConsumerCount, cookie, [&](KOVATest& harness) { harness.async_set(cstatus); });
}

void ProductCb(int ret, void* cookie) {
    storeOnceAtATime(g_ProductCount, cookie, [&](KOVATest& harness) { harness.async_set(ret); });
}
