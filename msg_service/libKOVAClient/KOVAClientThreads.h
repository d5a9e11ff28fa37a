// Internal. Which threads belong to the client.
//
// The stop sequence runs on whatever thread calls exit() or drops the last client
// reference, and that may be one of the client's own: a callback that calls exit()
// runs on the asynchronous pool, the push pool or an Ice thread. On such a thread the
// stop must neither join that thread nor wait for the Ice dispatch it is inside (a
// communicator destroyed from one of its own threads waits for itself). Every thread
// the client starts marks itself here first thing: the asynchronous pool, the
// monitor, the re-produce thread, the push pool, and every Ice thread through the
// communicator's thread hook (ClientThreadHook).
//
// Thread safety: the mark is thread-local; any thread may set or read its own.
#pragma once

#include <Ice/Initialize.h>

#include <thread>

namespace KOVA {

// Marks the calling thread as the client's for the rest of its life.
void MarkClientThread();

// True on a thread that MarkClientThread marked.
bool OnClientThread();

// Whether `thread` is the calling thread: the one test of "am I the thread
// this stop step would wait for?".
bool IsCallingThread(const std::thread& thread);

// Joins `thread`; when it is the calling thread (a callback that ends the
// client, running on the very thread a stop step ends), detaches it instead:
// it ends once that callback returns. A thread that is not joinable is left.
void JoinUnlessCalling(std::thread& thread);

// A thread hook for InitializationData::threadHook that marks every Ice thread.
Ice::ThreadNotificationPtr ClientThreadHook();

}  // namespace KOVA
