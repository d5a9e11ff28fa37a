// Internal (kova_engine, kova_model).
// Calls a caller's callback from one of the client's own threads: an Ice
// thread, a thread of the completion io_context or of the push pool. Whatever
// the callback throws stops here and is logged at ERROR: left to go on, it
// would end that thread (and with it the process), or reach Ice, which would
// swallow it with the result the caller is owed. Internal to the engine and
// the consume status.
//
// Thread-safety: stateless; the callback decides for itself.
#pragma once

#include <exception>
#include <string>
#include <type_traits>
#include <utility>

#include "KOVALog.h"

namespace KOVA {

// Calls `callback(args...)`; `describe` gives, only when it threw, the text
// that the ERROR line starts with (the line ends " exception:<what>"). An
// empty callback (a std::function or function pointer the caller left unset)
// is skipped: callers need not test for it. A lambda is always called; one
// that keeps the callback's result sets it by reference.
// False only when the callback threw.
template <typename Callback, typename Describe, typename... Args>
bool CallCallerCallback(const Callback& callback, Describe&& describe, Args&&... args) {
    if constexpr (std::is_constructible<bool, const Callback&>::value) {
        if (!callback) {
            return true;
        }
    }
    try {
        callback(std::forward<Args>(args)...);
        return true;
    } catch (const std::exception& e) {
        LOG_ERROR("%s exception:%s", describe().c_str(), e.what());
    } catch (...) {
        LOG_ERROR("%s exception:%s", describe().c_str(), "unknown");
    }
    return false;
}

}  // namespace KOVA
