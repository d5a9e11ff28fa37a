#include "permissions_verifier.h"

#include <thread>

namespace kova::test::standin {

bool CountingPermissionsVerifier::checkPermissions(const std::string& userId, const std::string& password,
                                                   std::string& reason, const Ice::Current&) const {
    ++checks_;
    if (userId == user_ && password == password_) {
        ++accepted_;
        return true;
    }
    reason = "unknown user or wrong password";
    return false;
}

VerifierHost::VerifierHost(const std::string& user, const std::string& password)
    : verifier_(new CountingPermissionsVerifier(user, password)) {
    Ice::InitializationData init;
    init.properties = Ice::createProperties();
    init.properties->setProperty("Verifier.Endpoints", "tcp -h 127.0.0.1 -p 0");
    init.properties->setProperty("Ice.Warn.Connections", "0");
    communicator_ = Ice::initialize(init);
    try {
        Ice::ObjectAdapterPtr adapter = communicator_->createObjectAdapter("Verifier");
        Ice::ObjectPrx proxy = adapter->add(verifier_, Ice::stringToIdentity("KovaVerifier"));
        adapter->activate();
        proxy_ = communicator_->proxyToString(adapter->createDirectProxy(proxy->ice_getIdentity()));
    } catch (...) {
        communicator_->destroy();
        throw;
    }
}

VerifierHost::~VerifierHost() {
    try {
        communicator_->destroy();
    } catch (const Ice::Exception&) {
    }
}

bool VerifierHost::waitForAccepted(long n, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (verifier_->accepted() < n) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace kova::test::standin
