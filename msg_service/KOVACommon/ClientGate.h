// Internal (kova_model; closed by kova_client).
// Whether this process may use the client's communicator, connections and
// locks now. The gate is closed:
//   * once the client starts to stop at exit (MarkClientStopping);
//   * in a forked child of a process that built the client, or was building
//     it when it forked (MarkForkedChild): the communicator, its sockets and
//     the locks are the parent's, and none of their threads exists here;
//   * before the generated protocol code's statics are constructed (code
//     running before main, see KOVASliceReady.h).
// The facade asks it for every call; so does everything a caller can reach
// without the facade: a ConsumeStatus's commits and follow-up pull.
//
// The calls that may leave a callback owed (OwedCallbacks.h) on their way out
// (every facade call, an asynchronous commit) are counted in flight
// (CallInFlight): the stop at exit waits for them and settles what they owe.
//
// Thread-safety: atomics, constant-initialised and never destroyed; usable
// from any thread at any time, also in a forked child, where nothing else of
// the client may be touched (not even the log).
#pragma once

namespace KOVA {

// False in every case above: answer as after exit, touching nothing shared.
bool ClientGateOpen();

bool ClientStopping();
void MarkClientStopping();

bool InForkedChild();
void MarkForkedChild();

// One call counted in flight for its whole life, when the gate lets it in.
// Counted before the gate is read, and the stop closes the gate before it
// reads the count: either this call sees the stop, or the stop sees this
// call. One that is not let in stops counting at once, so callers spinning
// on a stopped client do not hold the stop; its end counts as the stop's
// progress (NoteStopProgress).
class CallInFlight {
public:
    CallInFlight();
    ~CallInFlight();
    CallInFlight(const CallInFlight&) = delete;
    CallInFlight& operator=(const CallInFlight&) = delete;

    // False: answer as after exit.
    bool admitted() const { return _admitted; }
    // Stops counting now, as if never let in (it found no client to use).
    void leave();

private:
    bool _admitted;
};

// The calls in flight, in the process and on this thread: a stop run from
// inside one (a callback that a call ran in place) must not wait for those.
int CallsInFlight();
int CallsInFlightOnThisThread();

}  // namespace KOVA
