// A program that starts the client from a namespace-scope initialiser, before
// main and before the dynamic initialisers of the statically linked client
// library. STATIC_START_AGENT names the default agent (unset: nothing starts),
// STATIC_START_LOGDIR the log directory. Prints "instance=1" when GetInstance
// gave a client, then what a produce and a pull answered before main and a
// produce in main; exit status 0 when there was a client, 3 otherwise.
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "KOVAClientLib.h"

namespace {

KOVA::KOVAClientLibPtr StartBeforeMain() {
    const char* agent = getenv("STATIC_START_AGENT");
    const char* logDir = getenv("STATIC_START_LOGDIR");
    if (agent == nullptr || logDir == nullptr) {
        return KOVA::KOVAClientLibPtr();
    }
    const std::vector<std::string> items{std::string("ss.LogDir=") + logDir, std::string("ssServer.Proxy=") + agent,
                                         "ssServer.Proxy.Locator=TGrid/Locator:tcp -h 127.0.0.1 -p 9",
                                         "ss.LogLevel=INFO", "Ice.Default.InvocationTimeout=10000"};
    return KOVA::KOVAClientLib::GetInstance(items, "ss");
}

std::vector<KOVA::OMessage> oneMessage() { return {KOVA::OMessage("m", KOVA::COMMON::E_RAW)}; }

const KOVA::KOVAClientLibPtr gEarly = StartBeforeMain();

std::string EarlyCalls() {
    if (!gEarly) {
        return std::string();
    }
    std::string sid;
    return "produce=" + std::to_string(gEarly->Produce("ss-rid", "", oneMessage(), {}, 0)) +
           " consume=" + std::to_string(gEarly->Consume("ss-rid", sid, 1, {}, 0)->Status());
}

const std::string gEarlyCalls = EarlyCalls();

}  // namespace

int main() {
    printf("instance=%d\n", gEarly ? 1 : 0);
    if (gEarly) {
        printf("before main: %s\n", gEarlyCalls.c_str());
        printf("in main: produce=%d\n", gEarly->Produce("ss-rid", "", oneMessage(), {}, 0));
    }
    return gEarly ? 0 : 3;
}
