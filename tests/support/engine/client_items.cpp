#include "client_items.h"

#include <unistd.h>

#include <filesystem>

#include "shared_infrastructure.h"
#include "temp_dir.h"

namespace kova::test::engine {

namespace {

std::string& givenLogDir() {
    static std::string dir;
    return dir;
}

// Removed at exit by the process that made it; a forked child that inherited
// it leaves it to that process.
struct OwnedLogDir {
    const pid_t owner = getpid();
    kova::test::fixtures::TempDir* const dir = new kova::test::fixtures::TempDir("kova-client-log");
    ~OwnedLogDir() {
        if (getpid() == owner) {
            delete dir;
        }
    }
};

}  // namespace

void useProcessLogDir(const std::string& path) { givenLogDir() = path; }

const std::string& processLogDir() {
    static const std::string path = [] {
        if (!givenLogDir().empty()) {
            std::filesystem::create_directories(givenLogDir());
            return givenLogDir();
        }
        static const OwnedLogDir owned;
        return owned.dir->str();
    }();
    return path;
}

std::vector<std::string> clientItems(const std::string& prefix, const std::string& defaultAgent,
                                     const std::vector<std::string>& extra) {
    std::vector<std::string> items{prefix + ".LogDir=" + processLogDir(), prefix + "Server.Proxy=" + defaultAgent,
                                   // A direct agent proxy ignores it.
                                   prefix + "Server.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9"};
    items.insert(items.end(), extra.begin(), extra.end());
    return items;
}

std::vector<std::string> testClientItems(const std::string& prefix, const std::string& defaultAgent,
                                         const std::vector<std::string>& extra,
                                         std::chrono::milliseconds invocationTimeout) {
    std::vector<std::string> all{prefix + ".LogLevel=INFO",
                                 "Ice.Default.InvocationTimeout=" + std::to_string(invocationTimeout.count())};
    all.insert(all.end(), extra.begin(), extra.end());
    return clientItems(prefix, defaultAgent, all);
}

KOVA::KOVAClientAdapterPtr makeTestAdapter(const std::string& prefix, const std::vector<std::string>& extra,
                                           std::chrono::milliseconds invocationTimeout) {
    return new KOVA::KOVAClientAdapter(testClientItems(prefix, kUnreachableAgent, extra, invocationTimeout), prefix);
}

std::vector<std::string> routerItems(const std::string& routerKey, const std::string& routerProxy,
                                     const std::string& password) {
    return {routerKey + "=" + routerProxy,
            routerKey + ".User=" + std::string(kova::test::fixtures::SharedInfrastructure::kUser),
            routerKey + ".Password=" + password};
}

std::vector<std::string> routedAgentItems(const std::string& key, const std::string& agentProxy,
                                          const std::string& routerProxy, const std::string& password) {
    std::vector<std::string> items{key + "=" + agentProxy};
    const std::vector<std::string> router = routerItems(key + ".Router", routerProxy, password);
    items.insert(items.end(), router.begin(), router.end());
    return items;
}

}  // namespace kova::test::engine
