// Internal (kova_engine).
// KOVA::KOVAPushPool: the threads that run push callbacks for the listener
// modes whose pushes arrive on the client's Ice threads (shared connection and
// router). The Ice thread only parks the push in a slot and wakes a waiting
// thread, so it is free again at once to read the replies of the calls a
// callback makes.
//
// A push costs no allocation once the pool has as many slots as pushes were
// ever waiting or running at once: slots are made on demand and reused, the
// batch is taken over from Ice instead of copied, and the strings and the
// dispatch context are assigned into the slot's own storage. Pushes are taken
// in the order they were posted; with more than one thread, pushes waiting
// together may run at the same time and finish in any order.
//
// Thread-safety: post() from any thread, concurrently. join() (also run by the
// destructor) from any thread, once posting has ended: it lets the threads run
// every push already posted, then joins them; called on one of the pool's own
// threads it leaves that thread to end by itself.
// Ownership: owned by the client adapter. A waiting push holds its listener
// and its AMD callback until its callback has run and it has been answered.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KOVAMessageService.h"

namespace KOVA {

class KOVAMessageListenerI;

class KOVAPushPool {
public:
    // threads: at least 1; all are started here and wait for pushes. Throws (after
    // an ERROR line, with none of them left running) when one cannot be started.
    explicit KOVAPushPool(int threads);
    ~KOVAPushPool();

    KOVAPushPool(const KOVAPushPool&) = delete;
    KOVAPushPool& operator=(const KOVAPushPool&) = delete;

    // Has listener->deliver run on a pool thread with these arguments. The
    // batch is taken over: `batch` is left with unspecified contents.
    void post(KOVAMessageListenerI* listener, const AMD_KOVAMessageListener_ConsumeMessagePtr& handle,
              const std::string& rid, const std::string& sid, const std::string& cid, KOVAMsg::KOVABatchMessage& batch,
              const Ice::Current& current);

    void join();

private:
    struct Slot;
    struct Queue;
    static void serve(const std::shared_ptr<Queue>& queue);

    // Shared with the threads, so that one left to end by itself (join() on
    // a pool thread) never outlives what it reads.
    const std::shared_ptr<Queue> _queue;
    std::vector<std::thread> _threads;
};

}  // namespace KOVA
