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

#include "KOVALog.h"

namespace KOVA {

// `call` runs the callback; `describe` gives, only when it threw, the text
// that the ERROR line starts with (the line ends " exception:<what>").
// True when the callback returned normally.
template <typename Call, typename Describe>
bool CallCallerCallback(Call&& call, Describe&& describe) {
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        LOG_ERROR("%s exception:%s", describe().c_str(), e.what());
    } catch (...) {
        LOG_ERROR("%s exception:%s", describe().c_str(), "unknown");
    }
    return false;
}

}  // namespace KOVA
