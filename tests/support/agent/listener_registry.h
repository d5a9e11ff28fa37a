// Listener registrations the stand-in agent holds, one per resource and listener.
//
// A listener is known by its identity; registering the same identity for the
// same resource again answers the same cid and takes the new proxy, connection
// and session id (a client re-registering after a reconnect). cids carry a
// prefix that changes with every start of the agent, so a restarted agent hands
// out new ones.
//
// Thread-safety: every member is safe to call from any thread (one internal
// mutex); the change callback runs after the lock is released. Owned by
// StandinAgent.
#pragma once

#include <KOVAMessageService.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kova::test::standin {

struct ListenerRegistration {
    std::string resource;
    std::string cid;
    std::string sid;
    Ice::Identity identity;
    bool byIdentity = false;                // RegisterKOVAMsgListenerWithId (listener on the caller's connection)
    KOVA::KOVAMessageListenerPrx listener;  // what the pusher calls
    Ice::ConnectionPtr connection;          // the connection the registration arrived on
    Ice::Context context;
    int maxCountOneBatch = 0;
    int maxBatch = 0;
    bool paused = false;
    int registrations = 0;  // how many times this listener registered for the resource
    std::chrono::steady_clock::time_point registeredAt{};
    std::optional<std::chrono::steady_clock::time_point> lastKeepAlive;
};

class ListenerRegistry {
public:
    void setCidPrefix(const std::string& prefix);
    void setOnChange(std::function<void()> onChange);

    // Returns the cid (the existing one for a known resource and identity).
    std::string add(ListenerRegistration registration);
    bool setPaused(const std::string& resource, const std::string& cid, bool paused);
    bool remove(const std::string& resource, const std::string& cid);
    void keepAliveFrom(const Ice::ConnectionPtr& connection);
    // The most recent registration of the resource that is not paused and
    // registered at least `settle` ago.
    std::optional<ListenerRegistration> pushTarget(const std::string& resource, std::chrono::milliseconds settle) const;
    std::vector<ListenerRegistration> all() const;
    void clear();

private:
    void notify();

    mutable std::mutex mutex_;
    std::vector<ListenerRegistration> registrations_;
    std::string cidPrefix_ = "c";
    long nextCid_ = 1;
    std::function<void()> onChange_;
};

}  // namespace kova::test::standin
