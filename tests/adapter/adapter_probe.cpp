// Builds client adapters in a fresh process and prints what a test needs to see,
// one "key=value" line each:
//   adapter_probe file <item> <config file>
//   adapter_probe list <item> [Key=Value ...]
// PROBE_BUILDS=<n> builds the adapter n times (default 1), printing the process
// client id after each. Then "pid=", "logstem=" and, on failure, "error=".
// Exit status 0 when every build succeeded, 3 otherwise, 2 on bad usage.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <exception>
#include <string>
#include <vector>

#include "KOVAClientAdapter.h"
#include "KOVALog.h"

namespace {

KOVA::KOVAClientAdapterPtr BuildOnce(const std::string& form, const std::string& item,
                                     const std::vector<std::string>& rest) {
    if (form == "file") return new KOVA::KOVAClientAdapter(rest.at(0), item);
    return new KOVA::KOVAClientAdapter(rest, item);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s file|list <item> [args...]\n", argv[0]);
        return 2;
    }
    const std::string form = argv[1];
    const std::string item = argv[2];
    const std::vector<std::string> rest(argv + 3, argv + argc);
    const char* buildsText = getenv("PROBE_BUILDS");
    const int builds = buildsText ? atoi(buildsText) : 1;

    int status = 0;
    for (int i = 0; i < builds && status == 0; ++i) {
        try {
            KOVA::KOVAClientAdapterPtr adapter = BuildOnce(form, item, rest);
            printf("clientid=%s\n", KOVA::_kova_ClientId().c_str());
        } catch (const std::exception& e) {
            printf("error=%s\n", e.what());
            status = 3;
        }
    }
    printf("pid=%d\n", static_cast<int>(getpid()));
    printf("logstem=%s\n", TQPublicTool::KOVALog::getLogInstance()->getLogBaseName().c_str());
    return status;
}
