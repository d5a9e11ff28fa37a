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

}  // namespace KOVA
