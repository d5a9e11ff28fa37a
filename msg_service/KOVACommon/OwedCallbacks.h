// Internal (kova_model; settled by kova_client's stop at exit).
// The caller's asynchronous callbacks that the client still owes: a produce's,
// a pull's and a commit's. Each is owed from the moment it is handed out
// until it starts, or until it is dropped uncalled (the call it belongs to was
// not issued), and runs exactly once: whoever claims it first runs it, the
// completion of its call (through the wrapper OwedCall hands out) or the stop
// at exit (SettleOwedCallbacks, with the answer given to Owe).
//
// Completions posted to the asynchronous pool are counted from the post until
// their handler starts (QueuedCompletion): the stop leaves them to the pool,
// which runs them with the answer they carry, rather than settling their
// callbacks with its own.
//
// Thread-safety: any thread, at any time, also before main and during or
// after exit: atomics and the owed table under a constant-initialised mutex
// that nothing else takes and that is never held across a callback; none of it
// is destroyed at exit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

namespace KOVA {

class OwedCallback;
typedef std::shared_ptr<OwedCallback> OwedCallbackPtr;

// Owes a callback; `atStop` runs it with its answer at the stop. The wrappers
// that hold the result keep it owed; a parked one (no call will complete it)
// is held by the table until the stop settles it.
OwedCallbackPtr Owe(std::function<void()> atStop, bool parked = false);
// True for the one claim that runs the callback (also for null); false: it has
// run, or runs, elsewhere.
bool Claim(const OwedCallbackPtr& owed);

// `callback`, run only when claimed. The callback is held once, however often
// the wrapper is copied.
template <typename... Args>
std::function<void(Args...)> OwedCall(OwedCallbackPtr owed,
                                      std::shared_ptr<const std::function<void(Args...)>> callback) {
    return [owed, callback](Args... args) {
        if (Claim(owed)) {
            (*callback)(std::forward<Args>(args)...);
        }
    };
}

// A completion queued for the asynchronous pool: `handler`, counted as queued
// from here until it starts (or is dropped unrun with its io_context). Both
// count as progress. Post what this returns.
std::shared_ptr<const void> QueuedMark();
template <typename Handler>
auto QueuedCompletion(Handler handler) {
    return [handler = std::move(handler), queued = QueuedMark()]() mutable {
        queued.reset();
        handler();
    };
}

// ---- The stop's side ---------------------------------------------------------
int OwedCallbackCount();
int QueuedCompletionCount();
// Grows whenever an owed callback is claimed, a completion is queued or starts,
// or NoteStopProgress is called: the stop tells a slow finish from none.
uint64_t StopProgress();
void NoteStopProgress();
// Runs, on this thread, every callback still owed with its answer at the stop.
void SettleOwedCallbacks();

}  // namespace KOVA
