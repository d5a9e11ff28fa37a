// Internal (kova_client).
// The facade's view of the process's one client manager, shared by the
// facade's source files.
//
// Thread-safety: currentClientManager() may be called from any thread. The
// pointer is published once, when the client is complete (before its
// re-produce thread starts), and withdrawn only after the manager's stop
// sequence has ended, when no thread of the client is left. Callbacks that the
// client runs during that stop sequence therefore still find it.
// Ownership: the facade's statics own the manager; this is a plain view.
#pragma once

#include <string>

#include "KOVAClientManager.h"

namespace KOVA {

// Null before the first successful GetInstance() and after exit.
KOVAClientManager* currentClientManager();

// The engine of `rid` (or the default engine); null when there is no client
// or it is exiting and has released its engines.
KOVAClientLibImplPtr engineFor(const std::string& rid);

}  // namespace KOVA
