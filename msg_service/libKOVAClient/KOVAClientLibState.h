// Internal (kova_client).
// The life of the process's one client as the facade sees it: which manager a
// call may use, the stop at exit, and the process that owns the client.
//
// Every facade operation and every entry point that the lower layers call
// (push delivery, re-produce) opens a ClientCall first and works only through
// the manager it hands out; only a call that got a manager counts as in
// flight (CallInFlight, ClientGate.h). The stop at exit closes the gate
// (from then on a ClientCall hands out no manager: callers get the
// after-exit answers 100, a status of 100, false), destroys the
// communicator so that the calls in flight end quickly, settles the
// callbacks still owed, and frees the manager only once no call holding it
// is left, so no call ever sees a freed manager. The facade object
// itself holds nothing and is never freed. A forked child inherits the
// parent's client but none of its threads: there ClientCall hands out no
// manager and the exit leaves the client alone.
//
// Thread-safety: everything here may be used from any thread at any time,
// also before main and during or after exit: the state is atomics,
// constant-initialised thread-locals and the owed callbacks
// (OwedCallbacks.h), none of which is destroyed at exit.
// Ownership: the client's statics (set up by AdoptClient) own the manager; a
// ClientCall's manager pointer is a plain view.
#pragma once

#include <memory>
#include <string>

#include "ClientGate.h"
#include "KOVAClientLib.h"
#include "KOVAClientManager.h"
#include "OwedCallbacks.h"

namespace KOVA {

// One facade operation in progress; open it before anything else.
class ClientCall {
public:
    ClientCall();
    ClientCall(const ClientCall&) = delete;
    ClientCall& operator=(const ClientCall&) = delete;

    // Null: answer as after exit (no client yet, the gate closed, or stopped).
    KOVAClientManager* manager() const { return _manager; }
    // The engine of `rid` (or the default engine); null as manager().
    KOVAClientLibImplPtr engine(const std::string& rid) const;

private:
    CallInFlight _inFlight;
    KOVAClientManager* _manager;
};

// The caller's asynchronous callbacks, owed (OwedCallbacks.h) from the moment
// they are handed out. The wrapper returned runs the callback only if nobody
// settled it before. What the stop at exit settles (once no other thread
// gets to it: the stopping thread may be the only one that could have
// completed it) runs there with the answer given here: a produce's
// completion with `codeAtStop` (which stores the batch first when the
// fail-store is on), a pull's callback with a status of 100. Empty stays
// empty. `claimed`, when given, receives the owed callback: a call that
// failed to issue claims it (Claim()) before it reports the failure, and
// reports none when the stop has called back already.
//
// `completion` runs the produce's completion (the caller's callback, after
// the fail-store step), held once: the wrapper and the answer at the stop
// share it.
AsyncProduceCallback OwedProduceCallback(AsyncProduceCallback completion, void* cookie, int codeAtStop,
                                         OwedCallbackPtr* claimed = nullptr);
PullConsumerCallback OwedPullCallback(PullConsumerCallback cb, const std::string& rid, const std::string& sid,
                                      void* cookie, OwedCallbackPtr* claimed = nullptr);
// Runs a produce callback on the facade's own account (in place, or at the
// stop); like the completion threads, it lets no exception of the caller's
// through.
void CallProduceCallback(const AsyncProduceCallback& cb, int code, void* cookie);
// A produce's callback that is owed `code` but has no thread to run on while
// the client stops (no asynchronous pool): the stop runs it, never the
// calling thread.
void OweUntilStop(AsyncProduceCallback cb, int code, void* cookie);

// The client made by GetInstance (under its creation mutex): held until exit,
// when it is stopped, and published to ClientCall.
void AdoptClient(const KOVAClientManagerPtr& manager, const KOVAClientLibPtr& instance);
// The published facade object; null before the first client and after exit.
KOVAClientLib* PublishedInstance();
// Opened first by every GetInstance, before its creation mutex. From the
// first one on, forks are watched: a child forked while a client exists, or
// while a GetInstance is in progress (which may hold the creation mutex or be
// building), gets a closed gate (ClientGate.h) and never takes that mutex.
class GetInstanceInProgress {
public:
    GetInstanceInProgress();
    ~GetInstanceInProgress();
    GetInstanceInProgress(const GetInstanceInProgress&) = delete;
    GetInstanceInProgress& operator=(const GetInstanceInProgress&) = delete;
};

}  // namespace KOVA
