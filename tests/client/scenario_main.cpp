// client_scenarios <scenario> [key=value...]: runs one scenario in this process.
#include <cstdio>
#include <map>

#include "client_items.h"
#include "scenario_support.h"

namespace kova::test::client {
void instanceScenario(const ScenarioArgs&);
void threadsScenario(const ScenarioArgs&);
void backOffScenario(const ScenarioArgs&);
void exitBusyScenario(const ScenarioArgs&);
void exitKeepAliveScenario(const ScenarioArgs&);
void storeWithoutFailStoreScenario(const ScenarioArgs&);
void storeFillScenario(const ScenarioArgs&);
void storeManyScenario(const ScenarioArgs&);
void forwardScenario(const ScenarioArgs&);
void replacementScenario(const ScenarioArgs&);
void olderFormsScenario(const ScenarioArgs&);
}  // namespace kova::test::client

int main(int argc, char** argv) {
    using namespace kova::test::client;
    const std::map<std::string, void (*)(const ScenarioArgs&)> scenarios{
        {"instance", instanceScenario},
        {"threads", threadsScenario},
        {"backoff", backOffScenario},
        {"exit-busy", exitBusyScenario},
        {"exit-keepalive", exitKeepAliveScenario},
        {"store-no-failstore", storeWithoutFailStoreScenario},
        {"store-fill", storeFillScenario},
        {"store-many", storeManyScenario},
        {"forward", forwardScenario},
        {"replacement", replacementScenario},
        {"older-forms", olderFormsScenario}};
    auto scenario = argc > 1 ? scenarios.find(argv[1]) : scenarios.end();
    if (scenario == scenarios.end()) {
        std::fprintf(stderr, "usage: %s <scenario> [key=value...]\n", argv[0]);
        return 2;
    }
    ScenarioArgs args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const size_t eq = arg.find('=');
        args[arg.substr(0, eq)] = eq == std::string::npos ? "" : arg.substr(eq + 1);
    }
    auto logDir = args.find("logdir");
    if (logDir != args.end()) {
        kova::test::engine::useProcessLogDir(logDir->second);
    }
    scenario->second(args);
    return 0;
}
