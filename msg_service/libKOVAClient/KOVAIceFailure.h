// Internal (kova_engine, kova_model).
// What an Ice failure means for the engine: the one place that tells a lost,
// refused or closed connection and a destroyed communicator apart. Internal to
// the engine and the consume status; not part of the client API.
//
// Why text is read at all: a Glacier2 router that loses the connection to the
// server behind it cannot send that server's exception on. It answers the
// caller with an Ice::UnknownLocalException whose text names the original
// exception ("::Ice::ConnectionLostException"). Such a failure means the same
// as the typed one, so every test below also accepts it in that wrapping, and
// nowhere else is an exception's text examined.
//
// Thread-safety: stateless functions.
#pragma once

#include <Ice/Ice.h>

#include <string>

namespace KOVA {
namespace ice_failure {

// An UnknownLocalException whose text names the Ice exception `typeId` (as
// ice_id() spells it, e.g. "::Ice::ConnectionLostException"): how a router
// reports that failure of the server behind it.
inline bool isRouterBackendFailure(const Ice::Exception& e, const char* typeId) {
    const Ice::UnknownLocalException* unknown = dynamic_cast<const Ice::UnknownLocalException*>(&e);
    return unknown != nullptr && unknown->unknown.find(typeId) != std::string::npos;
}

inline bool isConnectionLost(const Ice::Exception& e) {
    return dynamic_cast<const Ice::ConnectionLostException*>(&e) != nullptr ||
           isRouterBackendFailure(e, "::Ice::ConnectionLostException");
}

inline bool isConnectionRefused(const Ice::Exception& e) {
    return dynamic_cast<const Ice::ConnectionRefusedException*>(&e) != nullptr ||
           isRouterBackendFailure(e, "::Ice::ConnectionRefusedException");
}

// Closed on purpose, by the peer (CloseConnection) or by this side.
inline bool isConnectionClosed(const Ice::Exception& e) {
    return dynamic_cast<const Ice::CloseConnectionException*>(&e) != nullptr ||
           dynamic_cast<const Ice::ConnectionManuallyClosedException*>(&e) != nullptr;
}

inline bool isCommunicatorDestroyed(const Ice::Exception& e) {
    return dynamic_cast<const Ice::CommunicatorDestroyedException*>(&e) != nullptr ||
           isRouterBackendFailure(e, "::Ice::CommunicatorDestroyedException");
}

}  // namespace ice_failure
}  // namespace KOVA
