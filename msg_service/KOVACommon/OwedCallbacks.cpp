#include "OwedCallbacks.h"

#include <atomic>
#include <map>
#include <vector>

#include "KOVAMutex.h"

namespace KOVA {

namespace {

std::atomic<int> g_owed{0};
std::atomic<int> g_queued{0};
std::atomic<uint64_t> g_progress{0};

}  // namespace

// Registered in the owed table for its whole life; a parked one (no wrapper
// holds it) is owned by the table until the stop settles it.
class OwedCallback {
public:
    explicit OwedCallback(std::function<void()> atStop) : _atStop(std::move(atStop)) { ++g_owed; }
    ~OwedCallback();
    OwedCallback(const OwedCallback&) = delete;
    OwedCallback& operator=(const OwedCallback&) = delete;

    bool claim() {
        if (_claimed.exchange(true)) {
            return false;
        }
        --g_owed;
        ++g_progress;
        return true;
    }
    void settleAtStop() {
        if (claim()) {
            _atStop();
        }
    }
    uint64_t id = 0;

private:
    std::atomic<bool> _claimed{false};
    const std::function<void()> _atStop;
};

namespace {

// The owed table, in the order the callbacks were owed.
Mutex g_owedMutex;
uint64_t g_nextOwedId GUARDED_BY(g_owedMutex) = 0;
struct OwedEntry {
    std::weak_ptr<OwedCallback> owed;
    OwedCallbackPtr parked;
};
std::map<uint64_t, OwedEntry>& owedTable() REQUIRES(g_owedMutex) {
    // Never destroyed: callbacks may still be owed while statics go.
    static auto* table = new std::map<uint64_t, OwedEntry>();
    return *table;
}

}  // namespace

OwedCallback::~OwedCallback() {
    claim();
    MutexLock lock(g_owedMutex);
    owedTable().erase(id);
}

OwedCallbackPtr Owe(std::function<void()> atStop, bool parked) {
    auto owed = std::make_shared<OwedCallback>(std::move(atStop));
    MutexLock lock(g_owedMutex);
    owed->id = ++g_nextOwedId;
    owedTable()[owed->id] = OwedEntry{owed, parked ? owed : nullptr};
    return owed;
}

bool Claim(const OwedCallbackPtr& owed) { return !owed || owed->claim(); }

std::shared_ptr<const void> QueuedMark() {
    ++g_queued;
    ++g_progress;
    static const int kToken = 0;
    return std::shared_ptr<const void>(&kToken, [](const void*) {
        --g_queued;
        ++g_progress;
    });
}

int OwedCallbackCount() { return g_owed.load(); }

int QueuedCompletionCount() { return g_queued.load(); }

uint64_t StopProgress() { return g_progress.load(); }

void NoteStopProgress() { ++g_progress; }

void SettleOwedCallbacks() {
    std::vector<OwedCallbackPtr> owed;
    {
        MutexLock lock(g_owedMutex);
        for (auto& entry : owedTable()) {
            if (OwedCallbackPtr live = entry.second.owed.lock()) {
                owed.push_back(std::move(live));
            }
            entry.second.parked.reset();
        }
    }
    for (const auto& callback : owed) {
        callback->settleAtStop();
    }
}

}  // namespace KOVA
