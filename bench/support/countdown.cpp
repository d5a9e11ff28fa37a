#include "countdown.h"

namespace kova::test::bench {

void Countdown::reset(int n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _remaining = n;
    _failed = false;
}

void Countdown::done(bool failed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _failed = _failed || failed;
    if (--_remaining == 0) {
        _zero.notify_all();
    }
}

bool Countdown::wait() {
    std::unique_lock<std::mutex> lock(_mutex);
    _zero.wait(lock, [this] { return _remaining <= 0; });
    return !_failed;
}

}  // namespace kova::test::bench
