#include "client_items.h"

#include "shared_infrastructure.h"
#include "temp_dir.h"

namespace kova::test::engine {

const std::string& processLogDir() {
    static const kova::test::fixtures::TempDir dir("kova-client-log");
    static const std::string path = dir.path().string();
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
