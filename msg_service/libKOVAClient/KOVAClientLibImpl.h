// Internal (kova_engine).
// KOVA::KOVAClientLibImpl: the client engine for one agent id. It reaches its
// agent (directly, through a locator, or behind a Glacier2 router with an
// IceGrid session), keeps the proxies derived from the agent proxy, and runs
// produce, pull and push consumption over them.
//
// The agent id is the name of an Ice property whose value is the agent's proxy.
// Sessions and proxies are built lazily by the first call that needs them and
// dropped after a lost connection behind a router (or a destroyed
// communicator), so that the next call builds them again.
//
// The implementation is split by purpose:
//   KOVAClientLibImplSession.cpp  construction, Ping, agent session, proxy families
//   KOVAClientLibImplProduce.cpp  synchronous and asynchronous produce
//   KOVAClientLibImplPull*.cpp    synchronous, asynchronous and direct pull
//   KOVAClientLibImplPush*.cpp    push registration, session monitor, delivery
//
// Thread-safety: every public operation may be called from any thread at once
// (caller threads, the manager's async-pull and monitor threads, Ice threads
// running completions and dispatches).
//
// Locks. Two kinds:
//  * Ordered locks, taken in this order and never the reverse:
//        _consumerMutex  ->  _agentProxyMutex
//    _consumerMutex is held across the remote calls of registration, pause and
//    resume; _agentProxyMutex is held across the remote calls of one session
//    build, so concurrent first callers wait for that single build.
//  * Handle locks: _agentHandleMutex, _producePxyMutex, _pullPxyMutex,
//    _asyncPullPxyMutex, _rid2RegPxysMutex, _consumersTableMutex and each
//    _ConsumerInfo::_mutex.
//    They are leaves: held only to copy or swap handles, never across a remote
//    call and never while taking any other lock. Every read of a proxy handle
//    goes through a copy made under its handle lock (the accessors below), so
//    a concurrent uninitAllproxy() never leaves a caller with a dangling handle.
//    Because uninitAllproxy() takes only handle locks, an Ice thread that drops
//    proxies never waits for a session build.
//  The compiler checks which lock guards which field (KOVAThreadAnnotations.h).
//
// Ownership: always held by a std::shared_ptr (KOVAClientLibImplPtr); completions
// of asynchronous calls keep only a std::weak_ptr to the engine and a shared_ptr
// to the io_context they post to, so they never reach a destroyed engine. One
// rule for every path: the last engine reference is dropped on a thread that no
// communicator of the engine owns. A completion that takes a strong reference
// on an Ice thread gives it to releaseOffIceThread; nothing queued on a
// completion io_context holds the engine, so an io_context that is stopped, or
// dies on an Ice thread, keeps neither the engine nor its adapter alive and
// releases neither there. The engine refers to its io_context weakly. The
// engine keeps the client adapter alive for its whole life. Destruction makes
// no remote call: sessions and registrations are left
// to expire on the server side.
#pragma once

#include <Glacier2/Router.h>
#include <Ice/Ice.h>
#include <IceGrid/Session.h>
#include <IceUtil/Shared.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "KOVAClientAdapter.h"
#include "KOVACommon.h"
#include "KOVAConsumeStatus.h"
#include "KOVAIMessage.h"
#include "KOVAMessageService.h"
#include "KOVAMutex.h"
#include "KOVAOMessage.h"
#include "KOVASharedMutex.h"

namespace KOVA {

// One registered push consumer.
// Thread-safety: _cb, _cookie, _batch, _count and _rid never change after
// construction. _pxy, _cid and _sid are rewritten by the session monitor while
// pause and resume read them: access them under _mutex (a handle lock, see the
// engine's lock rules) and use copies across remote calls. _status is atomic.
// Ownership: shared by the consumer table and the consumer's monitor chain.
struct _ConsumerInfo : public IceUtil::Shared {
    _ConsumerInfo(const KOVAAgentPrx& pxy, const std::string& rid, const std::string& sid,
                  const PushConsumerCallback& cb, void* cookie, int batch, int count, const std::string& cid)
        : _cb(cb),
          _cookie(cookie),
          _batch(batch),
          _count(count),
          _rid(rid),
          _cid(cid),
          _pxy(pxy),
          _sid(sid),
          _status(RUNNING) {}
    virtual ~_ConsumerInfo() {}

    // Set by the constructor, read-only afterwards: read without a lock.
    const PushConsumerCallback _cb;
    void* const _cookie;
    const int _batch;
    const int _count;
    const std::string _rid;

    // Rewritten by the session monitor; copied and written through
    // KOVAClientLibImplPushShared.h.
    Mutex _mutex;
    std::string _cid GUARDED_BY(_mutex);
    KOVAAgentPrx _pxy GUARDED_BY(_mutex);
    std::string _sid GUARDED_BY(_mutex);

    std::atomic<KOVAConsumerStatus> _status;
};
typedef IceUtil::Handle<_ConsumerInfo> ConsumerInfoPtr;

// Cadence of a push consumer's session monitor: the first tick this long after
// a successful registration, every later one this long after the previous tick
// ended.
constexpr std::chrono::milliseconds kPushMonitorFirstTick{2000};
constexpr std::chrono::milliseconds kPushMonitorInterval{10000};

struct PushMonitorTimings {
    std::chrono::milliseconds firstTick = kPushMonitorFirstTick;
    std::chrono::milliseconds interval = kPushMonitorInterval;
};

// One issued asynchronous pull: created by the issuing call, finished (callback
// called, node deleted) exactly once by its completion, or deleted by the
// issuing call when the pull could not be issued.
// Thread-safety: touched by one thread at a time (the issuer until the call is
// issued, then the completing Ice thread, then the dispatching thread).
// Ownership: the completion takes it into a std::unique_ptr first thing, so a
// callback that throws, or a posted dispatch that never runs, still frees it.
struct _AsyncPullConsumerNode {
    _AsyncPullConsumerNode(const std::string& rid, const std::string& sid, void* cookie, PullConsumerCallback&& cb,
                           bool isDirect)
        : _cb(std::move(cb)), _rid(rid), _sid(sid), _cookie(cookie), _isDirect(isDirect) {}

    PullConsumerCallback _cb;
    std::string _rid;
    std::string _sid;
    void* _cookie;
    bool _isDirect;
    // The direct-pull proxy this pull went to (direct pulls only): a completion
    // switches direct pulling off only while the engine still holds this very
    // proxy, never one that a later agent reply put in its place.
    KOVACallbackAgentPrx _directPrx;
};

class KOVAClientLibImpl : public std::enable_shared_from_this<KOVAClientLibImpl> {
public:
    // Makes no remote call and cannot fail; the session is built on first use.
    KOVAClientLibImpl(const std::string& agentID, const KOVAClientAdapterPtr& clientAdapter);
    // Same, with another session-monitor cadence (tests shorten it).
    KOVAClientLibImpl(const std::string& agentID, const KOVAClientAdapterPtr& clientAdapter,
                      const PushMonitorTimings& monitorTimings);
    ~KOVAClientLibImpl();

    KOVAClientLibImpl(const KOVAClientLibImpl&) = delete;
    KOVAClientLibImpl& operator=(const KOVAClientLibImpl&) = delete;

    // Builds the agent session when needed and pings the agent.
    bool Ping();

    // Adds to `out` the connections this engine's proxies use now (each once),
    // without connecting or waiting. For the stop on one of the client's own
    // threads, which closes them at once (see KOVAClientManager).
    void OpenConnections(std::vector<Ice::ConnectionPtr>& out) const;

    // ---- Produce -------------------------------------------------------------
    // Returns the server's code, or 100 on any Ice failure.
    int Produce(const std::string& rid, const std::string& _sid, const KOVAMsg::KOVABatchMessage& datas,
                const KOVA::COMMON::KOVAProperties& properties);
    // Returns 0 when issued (then ocb(code, ck) runs exactly once, later, on a
    // thread of the engine's completion io_context) or 100 (then ocb never runs).
    // An empty ocb is skipped; an exception thrown by ocb is logged (ERROR) and
    // goes no further.
    int Produce(const std::string& rid, const std::string& _sid, const KOVAMsg::KOVABatchMessage& datas,
                const KOVA::COMMON::KOVAProperties& properties, KOVA::AsyncProduceCallback ocb, void* ck,
                std::shared_ptr<boost::asio::io_context> asycPullService);

    // ---- Pull ----------------------------------------------------------------
    // Session ids: an empty _sid becomes "<client id>-<microseconds since 1970>"
    // and is written back to the caller's string; a non-empty one is used as is.
    // fillPullSid does that alone (the facade settles the id before a pull).
    static void fillPullSid(std::string& sid);
    //
    // Direct pulling. An agent reply with status 0 and a delay above 10000 names
    // a callback agent that holds the data; the next min(1000, delay / 100)
    // pulls go straight to it. The budget is one per engine, shared by every
    // resource pulled through it and by both forms (kept that way on purpose: it
    // follows the agent's load, not a resource). Each pull spends one unit with
    // a single atomic decrement, so concurrent pullers never spend more than was
    // granted. The thresholds for leaving direct pulling are deliberately not
    // the same for both forms: a synchronous direct pull answered with a delay
    // below 1000 switches it off, an asynchronous one below 10000 does. Any
    // failed direct pull switches it off as well.
    //
    // Synchronous pull. Never returns null. A direct pull answered with status 0
    // is returned as is; otherwise the agent is asked in the same call. Every
    // non-zero server code (16, nothing new, included) writes a FATAL line on
    // every pull: kept as is, operators watch for it. An Ice failure gives
    // status 100; a lost connection behind a router also drops the agent
    // proxies so that the next call builds a new router session.
    ConsumeStatusPtr Consume(const std::string& rid, std::string& _sid, int maxFetchCount,
                             const KOVA::COMMON::KOVAProperties& properties, int timeout);
    // Asynchronous pull. Returns 0 when a pull was issued: cb then runs exactly
    // once, never inside this call: on a thread of the engine's completion
    // io_context for status 0, on the completing Ice thread for a non-zero
    // status or a failure after issue (status 100, no messages), and in place on
    // the Ice thread with a WARN line when the engine has no io_context. Returns
    // 100 when nothing could be issued: cb never runs. A pull issued to the
    // agent moves cb out of the caller's object; a direct pull copies it. The
    // io_context offered replaces the kept one when that is gone or stopped. An exception
    // thrown by cb is logged (ERROR) and goes no further.
    int Consume(const std::string& rid, std::string& _sid, int maxFetchCount, PullConsumerCallback& cb, void* cookie,
                const KOVA::COMMON::KOVAProperties& properties, int timeout,
                std::shared_ptr<boost::asio::io_context> asyncPullService);

    // ---- Push ----------------------------------------------------------------
    // The listener must be served (KOVAClientAdapter::ActiveAdapter) before.
    // 0 when registered (or registered before), else the agent's code or 100.
    // A registered consumer is monitored on `monitorService` for the engine's
    // life: kept alive, and registered again after a lost session.
    int RegisterPushConsumer(const std::string& rid, PushConsumerCallback& cb, void* cookie, int maxcount, int maxbatch,
                             boost::asio::io_context& monitorService) EXCLUDES(_consumerMutex);
    // Delivers one pushed batch; the result is the reply to the server. The
    // consumer's callback runs on the calling thread (see PushConsumerCallback).
    int ConsumeCallback(const std::string& rid, const std::string& sid, const std::string& cid,
                        const KOVAMsg::KOVABatchMessage& _datas, const Ice::Current& cu);
    void PauseConsume(const std::string& rid) EXCLUDES(_consumerMutex);
    // 0 or the agent's code; 8 for an unknown resource; 100 on a remote failure
    // other than a connection that is gone (then 0: the monitor re-registers).
    int ResumeConsume(const std::string& rid) EXCLUDES(_consumerMutex);

    const std::string& agentID() const { return _agentID; }

private:
    // Tests observe which proxies are held (defined only in the engine's tests).
    friend struct KOVAClientLibImplProbe;

    // ---- Session and proxy families (KOVAClientLibImplSession.cpp) -----------
    KOVAAgentPrx initKOVAAgentSession(bool force) EXCLUDES(_agentProxyMutex, _agentHandleMutex);
    KOVAAgentPrx getRegisterProxyByRid(const std::string& rid, bool force) EXCLUDES(_rid2RegPxysMutex);
    void removeRegisterProxyByRid(const std::string& rid) EXCLUDES(_rid2RegPxysMutex);
    // Build the family's proxy when it is null. Ice exceptions reach the caller.
    void initProduceProxy(bool force) EXCLUDES(_producePxyMutex);
    void initPullProxy(bool force) EXCLUDES(_pullPxyMutex);
    void initAsyncPullProxy(bool force) EXCLUDES(_asyncPullPxyMutex);
    void uninitAllproxy() EXCLUDES(_agentHandleMutex, _producePxyMutex, _pullPxyMutex, _asyncPullPxyMutex);

    // Copies taken under the family's handle lock; use the copy for the call.
    KOVAAgentPrx currentAgentProxy() const EXCLUDES(_agentHandleMutex);
    KOVAAgentPrx currentProduceProxy() const EXCLUDES(_producePxyMutex);
    KOVAAgentPrx currentPullProxy() const EXCLUDES(_pullPxyMutex);
    KOVAAgentPrx currentAsyncPullProxy() const EXCLUDES(_asyncPullPxyMutex);
    KOVACallbackAgentPrx currentDirectPullProxy() const EXCLUDES(_pullPxyMutex);
    void setDirectPullProxy(const KOVACallbackAgentPrx& prx) EXCLUDES(_pullPxyMutex);
    Glacier2::RouterPrx currentRouter() const EXCLUDES(_agentHandleMutex);
    bool routed() const { return currentRouter(); }
    // The completion io_context: the one offered replaces the kept one when that
    // is gone or stopped (every asynchronous call offers its own).
    std::shared_ptr<boost::asio::io_context> adoptAsyncService(const std::shared_ptr<boost::asio::io_context>& offered)
        EXCLUDES(_asyncPullPxyMutex);
    std::shared_ptr<boost::asio::io_context> currentAsyncService() const EXCLUDES(_asyncPullPxyMutex);
    // The one way a reference taken on an Ice thread is let go: it is dropped
    // on the process's releaser thread, which no communicator owns, so the last
    // reference never destroys the engine (and its client adapter) on an Ice
    // thread, whatever became of the completion io_context
    // (KOVAClientLibImplRelease.cpp).
    static void releaseOffIceThread(std::shared_ptr<KOVAClientLibImpl> self);

    // Drops every agent-derived proxy when `e` means the agent session is gone:
    // a destroyed communicator always; a lost connection (or, when
    // refusedCountsAsLoss, a refused one) only behind a router, where the
    // router's report of a loss behind it counts too (KOVAIceFailure.h).
    // Returns true when the proxies were dropped.
    bool dropProxiesAfter(const Ice::Exception& e, bool refusedCountsAsLoss = false);

    // Decimal time since 1970 for session ids.
    static std::string microsecondsNow();
    static std::string millisecondsNow();

    // ---- Pull internals (KOVAClientLibImplPull*.cpp) ------------------------
    // A pull from the agent answered with a delay above this turns direct pulling on.
    static constexpr int64_t kDirectPullDelay = 10000;
    // A direct pull answered with a delay below this switches direct pulling off.
    static constexpr int64_t kSyncDirectKeepDelay = 1000;
    static constexpr int64_t kAsyncDirectKeepDelay = 10000;
    // The budget granted is the delay divided by this, at most kMaxDirectPulls.
    static constexpr int64_t kDelayPerDirectPull = 100;
    static constexpr int64_t kMaxDirectPulls = 1000;

    // Null when the agent must be asked: not direct now (nothing spent), or the
    // direct pull failed (direct pulling is then off). Otherwise its answer.
    ConsumeStatusPtr directConsume(const std::string& rid, std::string& _sid, int maxFetchCount,
                                   const KOVA::COMMON::KOVAProperties& properties, int timeout);
    // 0 when a direct pull was issued, 100 when the agent must be asked.
    int directConsume(const std::string& rid, std::string& _sid, int maxFetchCount, PullConsumerCallback& cb,
                      void* cookie, const KOVA::COMMON::KOVAProperties& properties, int timeout,
                      std::shared_ptr<boost::asio::io_context> asyncPullService);
    // Completions of an asynchronous pull; both take ownership of the node.
    void PullConsumeSuccess(_AsyncPullConsumerNode* node, const ConsumeResultInfo& csinfo,
                            const KOVAMsg::KOVABatchMessage& datas);
    void PullConsumeException(_AsyncPullConsumerNode* node, const Ice::Exception& e);
    // The failure path of an issued pull: FATAL line, status 100, callback in place.
    void finishFailedPull(std::unique_ptr<_AsyncPullConsumerNode> node, const char* what);
    // Issues Consume on `proxy` (agent or callback agent) with completions bound
    // to the node; the node is freed here when issuing throws.
    template <typename Proxy>
    void beginPull(const Proxy& proxy, std::unique_ptr<_AsyncPullConsumerNode> node, int maxFetchCount,
                   const KOVA::COMMON::KOVAProperties& properties, int timeout);

    // Null: not direct now (nothing spent). Otherwise the proxy to pull from,
    // with one unit of the budget spent on it.
    KOVACallbackAgentPrx takeDirectPullTurn();
    void startDirectPull(const KOVACallbackAgentPrx& callback, int64_t delay);
    // Switches direct pulling off only while `used` is still the current proxy.
    void stopDirectPull(const KOVACallbackAgentPrx& used) EXCLUDES(_pullPxyMutex);

    // ---- Push internals (KOVAClientLibImplPush*.cpp) ------------------------
    void addKeepAliveWork(ConsumerInfoPtr info, boost::asio::io_context& monitorService);
    void sessionMonitor(ConsumerInfoPtr info, std::shared_ptr<boost::asio::steady_timer> t);
    // The chain's handler holds the timer, the consumer and a weak handle to
    // the engine, so a chain outliving the engine ends at its next tick.
    void armSessionMonitor(const ConsumerInfoPtr& info, const std::shared_ptr<boost::asio::steady_timer>& t,
                           std::chrono::milliseconds delay);
    // One tick's keep-alive: keepAlive on the consumer's proxy, or behind a
    // router a repeated registration. Ice exceptions reach the caller.
    void keepConsumerAlive(const ConsumerInfoPtr& info);
    // After a failed keep-alive: renews the router session when it is gone and
    // gives a running consumer a fresh register proxy. True: re-register it.
    bool recoverConsumerSession(const ConsumerInfoPtr& info, const Ice::Exception& e);
    // Re-activates the listener behind the router (new communicator and
    // session); true when it is served again.
    bool renewRouterSession(const std::string& rid);
    // A running consumer gets a fresh register proxy; true: register it again.
    bool adoptFreshRegisterProxy(const ConsumerInfoPtr& info);
    void reRegisterConsumer(const ConsumerInfoPtr& info);
    // Registers the listener for `rid` on `pxy`: by identity over that very
    // connection in shared-connection mode, else by proxy; behind a router with
    // the routed marker context. `cid` is the out-parameter.
    int registerListener(const KOVAAgentPrx& pxy, const std::string& rid, const std::string& sid, int maxcount,
                         int maxbatch, std::string& cid);
    // Lookup under the table's leaf lock; null when rid has no consumer.
    ConsumerInfoPtr findConsumer(const std::string& rid) const EXCLUDES(_consumersTableMutex);

    // ---- Constant after construction ----
    const std::string _agentID;
    const std::string _clientID;
    const KOVAClientAdapterPtr _clientAdapter;
    PushMonitorTimings _monitorTimings;  // written by the constructor only

    // ---- Lock-free ----
    // The agent proxy's invocation timeout (Ice's -1 until a session is built),
    // given to every proxy an agent's reply names (direct pull, commit).
    std::atomic<int> _agentInvocationTimeout{-1};
    // Remaining direct-pull budget; each direct pull spends one unit with a
    // single atomic decrement.
    std::atomic<int> _directPullCount;

    // ---- _consumerMutex (ordered, first): serialises registration, pause
    // and resume, held across their remote calls; guards no field itself ----
    Mutex _consumerMutex ACQUIRED_BEFORE(_agentProxyMutex);

    // ---- _agentProxyMutex (ordered, after _consumerMutex): serialises the
    // build of the agent session, held across its remote calls; guards no
    // field itself (the session's handles are under _agentHandleMutex) ----
    Mutex _agentProxyMutex;

    // ---- _agentHandleMutex (leaf) guards ----
    mutable Mutex _agentHandleMutex;
    KOVAAgentPrx _agentProxy GUARDED_BY(_agentHandleMutex);
    Glacier2::RouterPrx _router GUARDED_BY(_agentHandleMutex);  // once set, never cleared
    IceGrid::SessionPrx _sessionPrx GUARDED_BY(_agentHandleMutex);

    // ---- _producePxyMutex (leaf) guards ----
    mutable Mutex _producePxyMutex;
    KOVAAgentPrx _agentProduceProxy GUARDED_BY(_producePxyMutex);

    // ---- _pullPxyMutex (leaf) guards ----
    mutable Mutex _pullPxyMutex;
    KOVAAgentPrx _agentPullProxy GUARDED_BY(_pullPxyMutex);
    KOVACallbackAgentPrx _directPullProxy GUARDED_BY(_pullPxyMutex);

    // ---- _asyncPullPxyMutex (leaf) guards ----
    mutable Mutex _asyncPullPxyMutex;
    KOVAAgentPrx _asyncAgentPullProxy GUARDED_BY(_asyncPullPxyMutex);
    std::weak_ptr<boost::asio::io_context> _asyncPullService GUARDED_BY(_asyncPullPxyMutex);

    // ---- _rid2RegPxysMutex (leaf) guards ----
    Mutex _rid2RegPxysMutex;
    std::map<std::string, KOVAAgentPrx> _mapRid2RegisterPxys GUARDED_BY(_rid2RegPxysMutex);
    std::map<std::string, std::string> _mapRid2RegisterPxyIDs GUARDED_BY(_rid2RegPxysMutex);

    // ---- _consumersTableMutex (leaf) guards: shared for lookups
    // (deliveries), exclusive for inserts (made under _consumerMutex) ----
    mutable SharedMutex _consumersTableMutex;
    std::unordered_map<std::string, ConsumerInfoPtr> _consumers GUARDED_BY(_consumersTableMutex);
};

typedef std::shared_ptr<KOVAClientLibImpl> KOVAClientLibImplPtr;

}  // namespace KOVA
