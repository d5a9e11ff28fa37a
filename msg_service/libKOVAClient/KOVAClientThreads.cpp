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

bool IsCallingThread(const std::thread& thread) { return thread.get_id() == std::this_thread::get_id(); }

void JoinUnlessCalling(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    if (IsCallingThread(thread)) {
        thread.detach();
        return;
    }
    thread.join();
}

Ice::ThreadNotificationPtr ClientThreadHook() { return new MarkingThreadHook(); }

}  // namespace KOVA
