#include "KOVAClientThreads.h"

namespace KOVA {

namespace {

// Constant-initialised, so it is valid on threads started before main.
thread_local bool tClientThread = false;

class MarkingThreadHook : public Ice::ThreadNotification {
public:
    void start() override { MarkClientThread(); }
    void stop() override {}
};

}  // namespace

void MarkClientThread() { tClientThread = true; }

bool OnClientThread() { return tClientThread; }

Ice::ThreadNotificationPtr ClientThreadHook() { return new MarkingThreadHook(); }

}  // namespace KOVA
