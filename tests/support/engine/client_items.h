// Key=Value items for client adapters built by the engine tests and
// benchmarks: the log directory, the default agent key with its locator, and
// router credentials.
// Thread-safety: stateless apart from processLogDir(), whose directory is
// created once (thread-safe static) and removed at exit by the process that
// created it; useProcessLogDir() is called before any thread asks for it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "KOVAClientAdapter.h"
#include "log_reader.h"

namespace kova::test::engine {

// Satisfies the adapter's configuration check and is never called: the
// discard port on loopback.
constexpr const char* kUnreachableAgent = "KOVAAgent:tcp -h 127.0.0.1 -p 9";

// One log directory per process, removed at exit. A forked child that did
// not make its own shares its parent's and leaves the removal to the parent:
// a parent whose children end without exit handlers (_exit, a kill) asks for
// it before it forks.
const std::string& processLogDir();
// Before the first processLogDir(): the process logs into `path` (created
// when missing), which the caller owns and removes; for processes that may be
// killed.
void useProcessLogDir(const std::string& path);

// The client log lines of this process (processLogDir()) written from now on.
class ClientLogMark : public kova::test::fixtures::LogMark {
public:
    ClientLogMark() : LogMark(processLogDir()) {}
};

// "<prefix>.LogDir" in processLogDir() and the default agent key
// "<prefix>Server.Proxy" naming `defaultAgent`, then `extra`.
std::vector<std::string> clientItems(const std::string& prefix, const std::string& defaultAgent,
                                     const std::vector<std::string>& extra = {});

// clientItems() logging at INFO, with an invocation timeout so that a call
// that hangs fails its test instead of the whole run.
std::vector<std::string> testClientItems(const std::string& prefix, const std::string& defaultAgent,
                                         const std::vector<std::string>& extra = {},
                                         std::chrono::milliseconds invocationTimeout = std::chrono::seconds(15));

// An adapter of its own (so its own communicator) named `prefix`, built from
// testClientItems() with the unreachable default agent: engines use the agent
// keys given in `extra`.
KOVA::KOVAClientAdapterPtr makeTestAdapter(const std::string& prefix, const std::vector<std::string>& extra,
                                           std::chrono::milliseconds invocationTimeout = std::chrono::seconds(15));

// `routerKey` naming the router, with the shared infrastructure's user and `password`
// (routerKey is "Ice.Default.Router" or "<agent key>.Router").
std::vector<std::string> routerItems(const std::string& routerKey, const std::string& routerProxy,
                                     const std::string& password);

// The agent key `key` naming `agentProxy` behind the router.
std::vector<std::string> routedAgentItems(const std::string& key, const std::string& agentProxy,
                                          const std::string& routerProxy, const std::string& password);

}  // namespace kova::test::engine
