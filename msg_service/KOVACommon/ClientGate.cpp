#include "ClientGate.h"

#include <atomic>

#include "KOVASliceReady.h"

namespace KOVA {

namespace {

std::atomic<bool> g_stopping{false};
std::atomic<bool> g_forkedChild{false};

}  // namespace

bool ClientGateOpen() { return !g_stopping.load() && !g_forkedChild.load() && SliceStaticsReady(); }

bool ClientStopping() { return g_stopping.load(); }

void MarkClientStopping() { g_stopping = true; }

bool InForkedChild() { return g_forkedChild.load(); }

void MarkForkedChild() { g_forkedChild = true; }

}  // namespace KOVA
