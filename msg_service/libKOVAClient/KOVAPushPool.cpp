#include "KOVAPushPool.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

#include "KOVAClientThreads.h"
#include "KOVALog.h"
#include "KOVAMessageListenerI.h"

namespace KOVA {

struct KOVAPushPool::Slot {
    KOVAMessageListenerIPtr listener;
    AMD_KOVAMessageListener_ConsumeMessagePtr handle;
    std::string rid;
    std::string sid;
    std::string cid;
    KOVAMsg::KOVABatchMessage batch;
    Ice::Current current;
    Slot* next = nullptr;

    // Keeps the storage of the strings for the next push, nothing that holds
    // the listener, the server's call or its connection alive.
    void release() {
        listener = 0;
        handle = 0;
        batch.clear();
        current.adapter = 0;
        current.con = 0;
    }
};

// Two intrusive lists of slots: the pushes waiting in posting order, and the
// free slots. Every slot ever made stays in `slots`.
struct KOVAPushPool::Queue {
    std::mutex mutex;
    std::condition_variable ready;
    Slot* head = nullptr;
    Slot** tail = &head;
    Slot* free = nullptr;
    std::vector<std::unique_ptr<Slot>> slots;
    bool stopping = false;

    Slot* take() {
        std::lock_guard<std::mutex> lock(mutex);
        if (free) {
            Slot* slot = free;
            free = slot->next;
            return slot;
        }
        slots.push_back(std::unique_ptr<Slot>(new Slot));
        return slots.back().get();
    }
};

KOVAPushPool::KOVAPushPool(int threads) : _queue(std::make_shared<Queue>()) {
    const int count = std::max(1, threads);
    try {
        for (int i = 0; i < count; ++i) {
            _threads.emplace_back([queue = _queue] { serve(queue); });
        }
    } catch (const std::exception& e) {
        // The threads already started must end before _threads goes: a joinable one
        // would terminate the process. The caller reports the failed activation.
        LOG_ERROR("Start %d thread(s) %s failed:%s", count, "push pool", e.what());
        join();
        throw;
    }
}

KOVAPushPool::~KOVAPushPool() { join(); }

void KOVAPushPool::post(KOVAMessageListenerI* listener, const AMD_KOVAMessageListener_ConsumeMessagePtr& handle,
                        const std::string& rid, const std::string& sid, const std::string& cid,
                        KOVAMsg::KOVABatchMessage& batch, const Ice::Current& current) {
    Slot* slot = _queue->take();
    slot->listener = listener;
    slot->handle = handle;
    slot->rid = rid;
    slot->sid = sid;
    slot->cid = cid;
    slot->batch.swap(batch);
    slot->current = current;
    slot->next = nullptr;
    {
        std::lock_guard<std::mutex> lock(_queue->mutex);
        *_queue->tail = slot;
        _queue->tail = &slot->next;
    }
    _queue->ready.notify_one();
}

void KOVAPushPool::join() {
    {
        std::lock_guard<std::mutex> lock(_queue->mutex);
        _queue->stopping = true;
    }
    _queue->ready.notify_all();
    for (std::thread& thread : _threads) {
        JoinUnlessCalling(thread);
    }
}

void KOVAPushPool::serve(const std::shared_ptr<Queue>& queue) {
    MarkClientThread();
    std::unique_lock<std::mutex> lock(queue->mutex);
    while (true) {
        queue->ready.wait(lock, [&queue] { return queue->head || queue->stopping; });
        Slot* slot = queue->head;
        if (!slot) {
            // Stopping, and every push posted has been answered.
            return;
        }
        queue->head = slot->next;
        if (!queue->head) {
            queue->tail = &queue->head;
        }
        lock.unlock();
        slot->listener->deliver(slot->handle, slot->rid, slot->sid, slot->cid, slot->batch, slot->current);
        slot->release();
        lock.lock();
        slot->next = queue->free;
        queue->free = slot;
    }
}

}  // namespace KOVA
