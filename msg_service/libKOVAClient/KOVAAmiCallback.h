// Internal (kova_engine, kova_model).
// Completion shim for the engine's asynchronous remote calls (produce, pull,
// commit).
//
// The classic Ice mapping offers only typed callback wrappers bound to member
// functions (`newCallback_<Iface>_<op>`); the engine wants closures that carry
// their own state (the caller's callback and cookie, the io_context, a weak
// handle to the engine). `KOVAAmiCallback` is the one member-function target
// those wrappers need: it forwards the reply values to one std::function and
// the failure to another.
//
// Thread-safety: immutable after construction. Ice calls exactly one of
// `response` or `exception`, once, on one of its client threads; a call that
// cannot be issued throws from `begin_` instead and calls neither.
// Ownership: the typed wrapper returned by the `new...Callback` helpers holds
// the shim by intrusive count; Ice releases both after the completion ran.
#pragma once

#include <Ice/Ice.h>

#include <functional>
#include <utility>

#include "KOVAMessageService.h"

namespace KOVA {

typedef std::function<void(const Ice::Exception&)> AmiExceptionFunction;

template <typename... Results>
class KOVAAmiCallback : public IceUtil::Shared {
public:
    typedef std::function<void(Results...)> ResponseFunction;

    KOVAAmiCallback(ResponseFunction response, AmiExceptionFunction exception)
        : _response(std::move(response)), _exception(std::move(exception)) {}

    // Signatures match the generated typed wrappers exactly (by value for
    // numbers, by const reference for records), so no adaptor is needed.
    void response(Results... results) { _response(results...); }
    void exception(const Ice::Exception& e) { _exception(e); }

private:
    ResponseFunction _response;
    AmiExceptionFunction _exception;
};

// One helper per remote operation that the engine calls asynchronously; each
// binds a shim into the operation's typed wrapper.

inline Callback_KOVAAgent_ProducePtr newAgentProduceCallback(std::function<void(Ice::Int)> response,
                                                             AmiExceptionFunction exception) {
    typedef KOVAAmiCallback<Ice::Int> Shim;
    IceUtil::Handle<Shim> shim = new Shim(std::move(response), std::move(exception));
    return newCallback_KOVAAgent_Produce(shim, &Shim::response, &Shim::exception);
}

typedef std::function<void(const ConsumeResultInfo&, const KOVAMsg::KOVABatchMessage&)> AmiConsumeResponse;

inline Callback_KOVAAgent_ConsumePtr newAgentConsumeCallback(AmiConsumeResponse response,
                                                             AmiExceptionFunction exception) {
    typedef KOVAAmiCallback<const ConsumeResultInfo&, const KOVAMsg::KOVABatchMessage&> Shim;
    IceUtil::Handle<Shim> shim = new Shim(std::move(response), std::move(exception));
    return newCallback_KOVAAgent_Consume(shim, &Shim::response, &Shim::exception);
}

inline Callback_KOVACallbackAgent_ConsumePtr newCallbackAgentConsumeCallback(AmiConsumeResponse response,
                                                                             AmiExceptionFunction exception) {
    typedef KOVAAmiCallback<const ConsumeResultInfo&, const KOVAMsg::KOVABatchMessage&> Shim;
    IceUtil::Handle<Shim> shim = new Shim(std::move(response), std::move(exception));
    return newCallback_KOVACallbackAgent_Consume(shim, &Shim::response, &Shim::exception);
}

inline Callback_KOVACallbackAgent_CommitPtr newCallbackAgentCommitCallback(std::function<void(Ice::Int)> response,
                                                                           AmiExceptionFunction exception) {
    typedef KOVAAmiCallback<Ice::Int> Shim;
    IceUtil::Handle<Shim> shim = new Shim(std::move(response), std::move(exception));
    return newCallback_KOVACallbackAgent_Commit(shim, &Shim::response, &Shim::exception);
}

}  // namespace KOVA
