// Internal (kova_client).
// The life of the process's one client as the facade sees it: which manager a
// call may use, the stop at exit, and the process that owns the client.
//
// Every facade operation and every entry point that the lower layers call
// (push delivery, re-produce) opens a ClientCall first and works only through
// the manager it hands out. The stop at exit marks the client stopping (from
// then on a ClientCall hands out no manager: callers get the after-exit
// answers 100, a status of 100, false), destroys the communicator so that the
// calls in flight end quickly, and frees the manager only once no ClientCall
// is left, so no call ever sees a freed manager. A forked child inherits the
// parent's client but none of its threads: there ClientCall hands out no
// manager and the exit leaves the client alone.
//
// Thread-safety: everything here may be used from any thread at any time,
// also before main and during or after exit: the state is atomics and
// constant-initialised thread-locals, none of which is destroyed at exit.
// Ownership: the client's statics (set up by AdoptClient) own the manager and
// the facade object; a ClientCall's manager pointer is a plain view.
#pragma once

#include <string>

#include "KOVAClientLib.h"
#include "KOVAClientManager.h"

namespace KOVA {

// One facade operation in progress; open it before anything else.
class ClientCall {
public:
    ClientCall();
    ~ClientCall();
    ClientCall(const ClientCall&) = delete;
    ClientCall& operator=(const ClientCall&) = delete;

    // Null: answer as after exit (no client yet, stopping or stopped, or a
    // forked child).
    KOVAClientManager* manager() const { return _manager; }
    // The engine of `rid` (or the default engine); null as manager().
    KOVAClientLibImplPtr engine(const std::string& rid) const;

private:
    KOVAClientManager* _manager;
};

// The caller's asynchronous callback, counted as owed from now until it
// starts or is dropped uncalled: a stop running on one of the client's own
// threads waits (bounded) until no other callback is owed. Empty stays empty.
AsyncProduceCallback CountedCallback(AsyncProduceCallback cb);
PullConsumerCallback CountedCallback(PullConsumerCallback cb);

// The client made by GetInstance (under its creation mutex): held until exit,
// when it is stopped, and published to ClientCall.
void AdoptClient(const KOVAClientManagerPtr& manager, const KOVAClientLibPtr& instance);
// The published facade object; null before the first client and after exit.
KOVAClientLib* PublishedInstance();
// True once the stop at exit has begun: GetInstance builds nothing more.
bool ClientStopping();
// True in a forked child of the process that built the client (set by a
// pthread_atfork handler): the client and its locks are the parent's.
bool InForkedChild();

}  // namespace KOVA
