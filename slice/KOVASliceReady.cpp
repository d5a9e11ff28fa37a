#include "KOVASliceReady.h"

#include <atomic>

namespace KOVA {

namespace {

// Constant-initialised: zero before any dynamic initialiser runs.
std::atomic<bool> g_ready{false};

}  // namespace

bool SliceStaticsReady() { return g_ready.load(std::memory_order_acquire); }

bool MarkSliceStaticsReady() {
    g_ready.store(true, std::memory_order_release);
    return true;
}

}  // namespace KOVA
