// Bounded waits for state that other threads or processes change.
// Thread-safety: stateless; `condition` is called from the waiting thread.
#pragma once

#include <chrono>
#include <functional>

namespace kova::test::engine {

// Polls `condition` every `step` until it holds (true) or `timeout` passes (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                std::chrono::milliseconds step = std::chrono::milliseconds(10));

}  // namespace kova::test::engine
