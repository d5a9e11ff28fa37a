// Internal (kova_engine).
// Small helpers shared by the push registration, delivery and monitor sources
// of the engine. Internal to the engine; not part of the client API.
// Thread-safety: every helper that touches a consumer's mutable fields takes
// that consumer's own leaf lock for the copy or the write only.
#pragma once

#include <string>

#include "KOVAClientLibImpl.h"

namespace KOVA {
namespace push {

// The fields the session monitor rewrites, copied together under the
// consumer's lock so that a remote call never reads a half-updated consumer.
struct ConsumerEndpoint {
    KOVAAgentPrx pxy;
    std::string cid;
};

ConsumerEndpoint endpointOf(const ConsumerInfoPtr& info);
void setProxy(const ConsumerInfoPtr& info, const KOVAAgentPrx& pxy);
void setRegistration(const ConsumerInfoPtr& info, const std::string& cid, const std::string& sessionText);

// "<rid>-<local address>:<local port><-<remote address>:<remote port>" of the
// proxy's connection (the rid alone with "-" when it has no IP layer).
std::string sessionTextOf(const std::string& rid, const KOVAAgentPrx& pxy);

const char* statusName(KOVAConsumerStatus status);

}  // namespace push
}  // namespace KOVA
