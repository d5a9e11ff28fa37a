// For callers: the client API; include this header.
// KOVA::KOVAClientLib: the client of the message-queue service, one per process.
//
// =============================================================================
// Lifetime of the process-wide client
// =============================================================================
//
// GetInstance() builds the client on its first successful call: the Ice
// communicator, one engine per separately configured resource plus the default
// engine (each must answer a ping), and, when a fail-store directory is
// configured, the fail-store with its re-produce thread. Every later call returns
// that same client, whatever its arguments. Nothing tears the client down or
// builds a second one: it lives until the process exits.
//
// Threads are started on first use only:
//   * the re-produce thread, right after a client with a fail-store is built;
//   * the session-monitor thread, on the first RegisterPushConsumer();
//   * the asynchronous pool (getMaxClientPoolSize() threads: the larger of
//     Ice.ThreadPool.Client.Size and .SizeMax, at most the processor count, at
//     least one), on the first asynchronous Consume() or Produce();
//   * the adapter thread that serves pushed messages, on the first
//     RegisterPushConsumer();
//   * Ice's own client and server thread pools, inside the communicator.
//
// Order of exit. When the process exits (return from main, or exit()) on a
// thread that is not one of the client's, the client stops in this order, on
// the exiting thread:
//   1. the client is marked stopping: from now on every call (from any thread,
//      callbacks included) answers as after exit, without doing anything:
//      int results 100, a synchronous Consume() a status of 100, bool results
//      false (PauseConsumer() true), a pushed batch is answered 8; calls
//      already in progress go on;
//   2. the re-produce thread is told to stop and woken from its back-off sleep;
//   3. the session monitor is stopped (no new tick) and the listener closed
//      (no activation builds a communicator again);
//   4. the communicator is destroyed, which ends every remote call in progress
//      (a monitor tick's keep-alive included) and the adapter thread; this
//      waits for push callbacks in progress; requests still outstanding
//      complete with a failure (an asynchronous pull is called back with
//      status 100, an asynchronous produce with 100, and with the fail-store
//      on it is stored first, so its callback gets the store-success code);
//   5. the calls still in progress on other threads (ended by step 4) are
//      waited for;
//   6. the monitor thread is joined; the re-produce thread finishes the batch
//      in hand (which fails and stays stored for the next run) and is joined;
//   7. the asynchronous pool runs every completion already queued to its end,
//      then its threads are joined; a callback still owed then (one put off
//      during the stop) runs on the exiting thread: every issued asynchronous
//      call has been called back exactly once when exit goes on;
//   8. the engines, then the adapter (its thread joined), then the fail-store
//      are released.
// No remote call holds exit: destroying the communicator ends every call in
// progress. Exit waits only for callbacks in progress and, for at most 10 s,
// for calls in progress (polling every millisecond): a call that is still
// running then, for instance inside a callback of yours run in place, leaves
// the client unreleased; the asynchronous pool is then given at most 5 s to
// run what is queued, every callback still owed runs on the exiting thread,
// and exit goes on.
//
// When the exiting thread is one of the client's own (a callback that calls
// exit(), see "What code may do" below), the stop can neither join that
// thread nor wait for the call it is in, so it goes differently, still on the
// exiting thread: the client's connections are closed without the closing
// handshake (the calls outstanding on them fail at once); step 1; steps 2 and
// 3; the communicator's destroy is started on a thread of its own; when the
// exiting thread is one of the asynchronous pool's, another thread takes its
// place; then it waits (at most 5 s; and, unless completions are queued on
// the asynchronous pool, which runs them with their own answers, no longer
// than 0.5 s without any owed callback starting, any call ending or any
// completion reaching that pool) for the other callbacks still owed and the
// calls in progress; then the asynchronous pool is stopped (its threads end
// with the callback in hand) and the client's other threads are waited for
// (within the same 5 s); a callback still owed after that is run on the
// exiting thread itself, with 100 (an asynchronous produce: stored first when
// the fail-store is on, then the store-success code; a pull: a status of 100;
// a commit: 100), since no other thread may be left to run it (with one Ice
// client thread, the exiting callback may hold it); so is one that a call
// still in progress (an asynchronous AsyncCommit() included) owes on its way
// out, also when it ends while those callbacks run, as long as such calls
// keep ending; and the client is left unreleased. Past the 5 s bound (a
// callback of yours blocking the asynchronous pool), a callback run on the
// exiting thread may overlap one still running on a pool thread.
//
// What code may do, by where it runs:
//
//   A callback (any kind; see "Callbacks" below): call any operation of the
//   client; during exit (steps 1 to 7) those calls answer as after exit.
//   A callback may also end the process, with exit() (or by returning from
//   main on another thread): on one of the client's own threads (the
//   asynchronous pool, an Ice thread, the push pool, the monitor or re-produce
//   thread) the stop goes as described after step 8: every other callback
//   still owed runs exactly once (with 100, and its batch stored, where no
//   other thread could complete it), and the process ends within a few
//   seconds (Ice may warn on standard error that a communicator was not
//   destroyed). A callback run during that stop, on the exiting thread or
//   on another, must not call exit() again. Engines are never released on
//   an Ice thread of their own communicator, so a callback may also drop
//   the last handle it holds to anything of the client.
//
//   A forked child: the client belongs to the process that built it. A
//   child made by fork() inherits it without any of its threads, so there
//   the client is the parent's: GetInstance() returns null, every call on an
//   inherited handle answers as after exit (see step 1) without touching
//   anything shared with the parent (so does an inherited ConsumeStatus:
//   Commit() and Consume() answer 100, AsyncCommit() calls back once with
//   100 before it returns), and the child's exit (or return from main)
//   leaves the client alone (Ice may then warn on standard error that a
//   communicator was not destroyed). A child that needs a client calls exec()
//   first. A child of a process that never built a client may build its own,
//   unless it was forked while another thread was inside GetInstance().
//
//   Code running before main (a namespace-scope initialiser, a static
//   constructor): may call GetInstance(), which builds the client (and its
//   re-produce thread), Version(), SetLogLevel() and GetLogLevel(). Every
//   other call made before main may answer as after exit (see step 1),
//   without sending anything: the library's generated protocol code may not
//   have been initialised yet (static initialisation order between
//   translation units is not fixed). From main on, every call works. At exit
//   the client stops before the statics built before it are destroyed, and
//   after those built after it.
//
//   Code running during exit (an atexit handler, a static destructor, a thread
//   of yours still running while main returns): may call the client at any
//   time. Until step 1 calls work; from step 1 on they answer as after exit,
//   and after step 8 GetInstance() returns null. Threads of yours may go on
//   calling until the process has ended: no call ever reaches a released
//   client.
//
// =============================================================================
// Result codes
// =============================================================================
//
// int results are KOVA::COMMON::CLIENT_CODE values (KOVACommon.h):
//   0    SUCCESS.
//   1-51 the server's answer (e.g. 3 RESOURCE_NOT_EXIST, 8 NOT_EXIST,
//        9 PRODUCE_RESOURCE_FAILED, 16 CONSUME_NONEWMSG, 41 COMMIT_INVALID).
//   99   CONSUME_FAILED: a pushed batch was empty, or its callback threw.
//   100  INTERNAL_ERROR: the call failed on the client side or in Ice (agent
//        unreachable, connection lost, timeout, communicator destroyed); the
//        reason is in the log (FATAL for synchronous calls).
//   200  PRODUCE_MESSAGE_CACHED: the batch was not delivered but is kept in the
//        fail-store and will be produced again by the re-produce thread. A client
//        configured to report stored batches as success answers 0 instead: this
//        value is the "store-success code" below.
//   201  PRODUCE_MESSAGE_CACHED_FAIL: "STORE" was asked for and the batch could
//        not be stored (no fail-store configured, or the write failed).
//   -1   a message could not be encoded (produce only): nothing was sent,
//        stored or called back.
//
// =============================================================================
// Callbacks
// =============================================================================
//
// Every callback gets back the void* cookie given with it; the library never
// touches the cookie. An exception thrown by a callback is caught and logged
// and goes no further (a push callback's exception makes the reply to the
// server 99); do not rely on that, it is a last resort.
//
// "Later" below means: never on the calling thread inside the registering
// call, but possibly on another thread before that call has returned. Make
// whatever the callback needs ready before the call.
//
// PushConsumerCallback  int(void* cookie, const std::string& rid,
//                           const std::string& sid, KOVA::IMessage&& msg)
//   Thread: with a listener adapter of its own (endpoints configured), the Ice
//   server thread that dispatches the server's push; when pushes arrive over
//   the client's own connection or through a router, a thread of the client's
//   push pool. Either way it runs inside the server's call, which waits for
//   the reply. Several batches (also of one resource) may be delivered at once
//   on different threads. Messages of one batch come in order on one thread.
//   Result: 0 accepts the message; a non-zero result stops the batch and is the
//   reply to the server (which delivers the rest again).
//   Runs: later, from the moment the server accepted the registration (possibly
//   before RegisterPushConsumer() returned) until step 4 of exit; pausing
//   stops new batches only.
//   May call: any operation of the client. Keep it short: the server waits for
//   the reply with a timeout, and the thread serves no other push meanwhile.
//
// PullConsumerCallback  void(const std::string& rid, const std::string& sid,
//                            KOVA::ConsumeStatusPtr status, void* cookie)
//   Called exactly once, later, for every asynchronous Consume() that
//   returned 0, and never for one that returned 100.
//   Thread: for status 0, a thread of the asynchronous pool; for a non-zero
//   status or a call that failed after it was issued, the Ice thread that
//   completed it (also at exit, step 4). When the system refused the pool's
//   threads (ERROR line; the next asynchronous call tries again), the Ice
//   thread for status 0 too. At exit, one that no other thread completed
//   runs on the exiting thread (status 100).
//   `status` is never null; on failure its status is 100 and it has no
//   messages. Commit the batch through status->Commit() or AsyncCommit().
//   May call: any operation of the client, including Consume() again. Do not
//   block in it: it holds a pool thread or an Ice thread.
//
// AsyncProduceCallback  void(int code, void* cookie)
//   Called exactly once for every asynchronous Produce() that returned 0 (or
//   true), and never for one that returned anything else; in some cases it has
//   already run when Produce() returns (see each form).
//   Thread: a thread of the asynchronous pool, for success and failure alike;
//   the calling thread where a form says it has already run (only with
//   "STORE", or when the system refused the pool's threads). At exit, one
//   that no other thread completed runs on the exiting thread; never on a
//   thread that is still inside the Produce() it belongs to.
//   `code`: 0, a server code, 100, or, when the fail-store took the failed
//   batch, the store-success code.
//   May call: any operation of the client. Do not block in it.
//
// CommitCallback (KOVAConsumeStatus.h) runs on an Ice client thread, or on
// the calling thread when nothing is sent (also during exit and in a forked
// child, with 100). At exit, one that no other thread completed runs on the
// exiting thread, with 100.
//
// =============================================================================
// Thread safety and ownership
// =============================================================================
//
// Every operation may be called from any thread at once, at any time of the
// process's life (see "What code may do" above). The facade keeps the
// client's stopping state, a count of the calls in progress (atomics) and a
// table of the callbacks still owed (under a lock of its own, never held
// across a callback); it holds no lock across a remote call (GetInstance()
// takes the creation mutex, while it builds the client). KOVAClientLibPtr is
// a reference-counted handle; dropping it changes nothing, the client stays
// until exit, and the object a handle points to is never freed.
#pragma once

#include <Ice/Current.h>
#include <IceUtil/Handle.h>
#include <IceUtil/Shared.h>

#include <string>
#include <vector>

#include "KOVACommon.h"
#include "KOVAConsumeStatus.h"
#include "KOVAIMessage.h"
#include "KOVAMessage.h"
#include "KOVAOMessage.h"

namespace KOVA {

class KOVAClientLib : virtual public IceUtil::Shared {
public:
    typedef IceUtil::Handle<KOVAClientLib> KOVAClientLibPtr;

    // The process's client. `config` is the path of an Ice configuration file,
    // `item` the adapter id (the prefix of the client's own keys; the default
    // agent's proxy is the property <item>Server.Proxy).
    // Null on failure, with the reason logged FATAL as
    // "Init kova client:<item> instance error:<reason>": an invalid
    // configuration, or an agent that does not answer its ping. A later call
    // tries again. Once a client exists every call returns it, whatever the
    // arguments. Safe to call from several threads at once: one client is built.
    // Null as well once the client has stopped at exit (step 8 above): no
    // second client is built then; and in a forked child of the process that
    // built the client.
    static KOVAClientLibPtr GetInstance(const std::string& config, const std::string& item);
    // The same, from Key=Value configuration items instead of a file.
    static KOVAClientLibPtr GetInstance(const std::vector<std::string>& configs, const std::string& item);

    // The client library's version: "102".
    static std::string Version();

    // Level of the process's log (one log per process, shared by every caller).
    void SetLogLevel(KOVA::COMMON::elogLevel logLevel);
    KOVA::COMMON::elogLevel GetLogLevel();

    // ---- Push ----------------------------------------------------------------
    // Has the server push the messages of `rid` to `cb` (moved in) until exit.
    // True: registered (a second registration of `rid` is true as well and keeps
    // the first callback). False: the listener could not be served (see the
    // log), or the server refused the registration or could not be reached; `cb`
    // is not called then. A registered consumer is kept alive by the session
    // monitor and registered again after a lost session.
    bool RegisterPushConsumer(const std::string& rid, KOVA::PushConsumerCallback& cb, void* cookie);
    // Asks the server to stop pushing `rid`. Always true, also for a resource
    // that has no consumer (failures are logged).
    bool PauseConsumer(const std::string& rid);
    // Asks the server to push `rid` again. True when the server agreed, or when
    // the session was lost (the monitor registers the consumer again). False for
    // a resource without a consumer (8) or a refusal or failure (logged).
    bool ResumeConsumer(const std::string& rid);

    // ---- Pull ----------------------------------------------------------------
    // Pulls up to `maxFetch` messages of `rid`, waiting up to `timeout` on the
    // server for new ones. An empty `sid` is replaced by a fresh session id,
    // written back. Never null; status() is 0 with messages, 16 when nothing new
    // arrived in time, another server code, or 100 (client or Ice failure; also
    // during exit). Commit what was pulled through the returned status.
    KOVA::ConsumeStatusPtr Consume(const std::string& rid, std::string& sid, int maxFetch,
                                   const KOVA::COMMON::KOVAProperties& properties, int timeout);
    // Asynchronous pull. 0: issued; `cb` (possibly moved from) runs exactly
    // once later, see PullConsumerCallback. 100: nothing was issued (agent
    // session could not be built, communicator destroyed); `cb` never runs.
    int Consume(const std::string& rid, std::string& sid, KOVA::PullConsumerCallback& cb, void* ck, int maxFetch,
                const KOVA::COMMON::KOVAProperties& properties, int timeout);

    // ---- Produce -------------------------------------------------------------
    // `publicProperties` travel as the request context of the call. The key
    // "STORE" (its presence; the value plays no part) asks to store the batch in
    // the fail-store instead of sending it: the stored properties lack "STORE",
    // and the re-produce thread sends the batch later. `timeout` is not used
    // (the configured Ice invocation timeout governs).
    //
    // Synchronous. 0: delivered. With "STORE": the store-success code, or 201.
    // Otherwise, when the server refuses the batch or the call fails and the
    // fail-store takes it: the store-success code; when there is no fail-store
    // or it refuses: the server's code or 100. -1: a message could not be
    // encoded (nothing sent or stored). An empty `datas` is sent as an empty
    // batch.
    int Produce(const std::string& rid, const std::string& sid, const std::vector<KOVA::OMessage>& datas,
                const KOVA::COMMON::KOVAProperties& publicProperties, int timeout);
    // Asynchronous.
    //   0  with "STORE": the batch was stored, or could not be, and `cb` has
    //      already run on the calling thread with the store-success code or 201.
    //   0  otherwise: issued; `cb` runs once later on the asynchronous pool (a
    //      failure there is stored first when the fail-store is on, and `cb` then
    //      gets the store-success code). When the call could not be issued and
    //      the fail-store took the batch and the store-success code is 0, `cb`
    //      runs once later with 0, on the asynchronous pool too (on the calling
    //      thread, before Produce() returns, only when the system refused the
    //      pool's threads), so a lock held across Produce() may be taken in it.
    //   200 the call could not be issued; the batch is stored; `cb` never runs.
    //   100 (or another code) the call could not be issued and the batch was not
    //      stored; `cb` never runs.
    //   -1 a message could not be encoded; `cb` never runs.
    int Produce(const std::string& rid, const std::string& sid, const std::vector<KOVA::OMessage>& datas,
                KOVA::AsyncProduceCallback& cb, void* cookie, const KOVA::COMMON::KOVAProperties& publicProperties,
                int timeout);

    // ---- Older produce forms -------------------------------------------------
    // One body, or one message per string, with encoding `etype`. With `trans`
    // true, etype E_GZIP, E_LZ4 and E_ZSTD mean the body is encoded already and
    // is sent unchanged, marked with its encoding. The session id is made by the
    // client. "STORE" has no meaning here and is sent like any property.
    // True when the batch was delivered, or when it failed and the fail-store
    // took it; false when a body could not be encoded or the batch is lost.
    bool Produce(const std::string& rid, const std::string& data, KOVA::COMMON::IEncodingType etype, bool trans,
                 const KOVA::COMMON::KOVAProperties& properties);
    bool BatchProduce(const std::string& rid, const std::vector<std::string>& datas, KOVA::COMMON::IEncodingType etype,
                      bool trans, const KOVA::COMMON::KOVAProperties& properties);
    // Asynchronous: true when issued (`cb` runs once later, as for the OMessage
    // form), or when the call could not be issued and the fail-store took the
    // batch (`cb` then runs once later with the store-success code, on the
    // asynchronous pool as for the OMessage form); false otherwise, and `cb`
    // never runs.
    bool Produce(const std::string& rid, const std::string& data, const KOVA::AsyncProduceCallback& cb, void* cookie,
                 KOVA::COMMON::IEncodingType etype, bool trans, const KOVA::COMMON::KOVAProperties& properties);
    bool BatchProduce(const std::string& rid, const std::vector<std::string>& datas,
                      const KOVA::AsyncProduceCallback& cb, void* cookie, KOVA::COMMON::IEncodingType etype, bool trans,
                      const KOVA::COMMON::KOVAProperties& properties);

    virtual ~KOVAClientLib();

private:
    KOVAClientLib();
    KOVAClientLib(const KOVAClientLib&);
    KOVAClientLib& operator=(const KOVAClientLib&);
};

typedef KOVAClientLib::KOVAClientLibPtr KOVAClientLibPtr;

// ---- Entry points the library's own parts call -------------------------------
// Not for callers of the client.

// Delivers one pushed batch of `rid` to its consumer; the result is the reply to
// the server: 0, the first non-zero callback result, 99 for an empty batch, 8
// when `rid` has no consumer (or the client is exiting). Runs on Ice server
// threads or the push pool (see PushConsumerCallback).
int pushConsumerCallback(const std::string& rid, const std::string& sid, const std::string& cid,
                         const std::vector<KOVAMsg::KOVAMessage>& datas, const Ice::Current& cu);

// Produces one stored batch again, to the configured replacement resource when
// there is one, else to `rid`, with session id "dummysid". True when the server
// took it; false leaves it in the store (WARN line). Runs on the re-produce
// thread.
bool ReProduceCb(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
                 const KOVA::COMMON::KOVAProperties& props);

}  // namespace KOVA
