// A Glacier2 permissions verifier that accepts one user and password and
// refuses everything else, counting what it was asked. The router asks it once
// per createSession, so `accepted()` counts the sessions created: a client that
// rebuilds its router session makes it go up.
//
// VerifierHost serves one on its own communicator at 127.0.0.1 on a free port;
// the router is configured with `Glacier2.PermissionsVerifier=<proxyString()>`.
//
// Thread-safety: the counters are atomic and the servant may be dispatched on
// any thread. VerifierHost is not copyable; construct and destroy it on one
// thread; its getters are safe from any thread.
#pragma once

#include <Glacier2/PermissionsVerifier.h>
#include <Ice/Ice.h>

#include <atomic>
#include <chrono>
#include <string>

namespace kova::test::standin {

class CountingPermissionsVerifier : public Glacier2::PermissionsVerifier {
public:
    CountingPermissionsVerifier(std::string user, std::string password)
        : user_(std::move(user)), password_(std::move(password)) {}

    bool checkPermissions(const std::string& userId, const std::string& password, std::string& reason,
                          const Ice::Current& current) const override;

    long checks() const { return checks_; }
    long accepted() const { return accepted_; }
    long refused() const { return checks_ - accepted_; }

private:
    const std::string user_;
    const std::string password_;
    mutable std::atomic<long> checks_{0};
    mutable std::atomic<long> accepted_{0};
};
typedef IceUtil::Handle<CountingPermissionsVerifier> CountingPermissionsVerifierPtr;

class VerifierHost {
public:
    VerifierHost(const std::string& user, const std::string& password);
    ~VerifierHost();
    VerifierHost(const VerifierHost&) = delete;
    VerifierHost& operator=(const VerifierHost&) = delete;

    std::string proxyString() const { return proxy_; }
    const CountingPermissionsVerifier& verifier() const { return *verifier_; }
    // Bounded wait until at least n sessions were accepted.
    bool waitForAccepted(long n, std::chrono::milliseconds timeout) const;

private:
    Ice::CommunicatorPtr communicator_;
    CountingPermissionsVerifierPtr verifier_;
    std::string proxy_;
};

}  // namespace kova::test::standin
