#include "ClientGate.h"

#include <atomic>

#include "KOVASliceReady.h"
#include "OwedCallbacks.h"

namespace KOVA {

namespace {

std::atomic<bool> g_stopping{false};
std::atomic<bool> g_forkedChild{false};
std::atomic<int> g_callsInFlight{0};
thread_local int tCallsHere = 0;

}  // namespace

bool ClientGateOpen() { return !g_stopping.load() && !g_forkedChild.load() && SliceStaticsReady(); }

bool ClientStopping() { return g_stopping.load(); }

void MarkClientStopping() { g_stopping = true; }

bool InForkedChild() { return g_forkedChild.load(); }

void MarkForkedChild() { g_forkedChild = true; }

CallInFlight::CallInFlight() : _admitted(false) {
    g_callsInFlight.fetch_add(1);
    if (!ClientGateOpen()) {
        g_callsInFlight.fetch_sub(1);
        return;
    }
    _admitted = true;
    ++tCallsHere;
}

CallInFlight::~CallInFlight() {
    if (_admitted) {
        --tCallsHere;
        NoteStopProgress();
        g_callsInFlight.fetch_sub(1);
    }
}

void CallInFlight::leave() {
    if (_admitted) {
        _admitted = false;
        --tCallsHere;
        g_callsInFlight.fetch_sub(1);
    }
}

int CallsInFlight() { return g_callsInFlight.load(); }

int CallsInFlightOnThisThread() { return tCallsHere; }

}  // namespace KOVA
