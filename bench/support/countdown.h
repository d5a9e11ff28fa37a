// Counts the completions of one benchmark iteration's asynchronous calls and
// notes whether any of them failed. Also serves as the target of the
// generated typed Ice callbacks (response/exception).
// Thread-safety: every member is safe from any thread (one mutex). Owned
// through IceUtil::Handle, as the generated callbacks hold it that way.
#pragma once

#include <Ice/Ice.h>

#include <condition_variable>
#include <mutex>

namespace kova::test::bench {

class Countdown : public IceUtil::Shared {
public:
    // Expects n completions from now on and forgets earlier failures.
    void reset(int n);
    void done(bool failed = false);
    void response(Ice::Int reply) { done(reply != 0); }
    void exception(const Ice::Exception&) { done(true); }
    // Until every expected completion came; true when none failed.
    bool wait();

private:
    std::mutex _mutex;
    std::condition_variable _zero;
    int _remaining = 0;
    bool _failed = false;
};
typedef IceUtil::Handle<Countdown> CountdownPtr;

}  // namespace kova::test::bench
