// What the adapter tests share: configuration text that names agents, locators
// and routers nobody ever connects to, and the shared files helpers.
// Thread-safety: constants only.
#pragma once

#include "log_reader.h"
#include "temp_dir.h"

namespace kova::test::adapter {

using kova::test::fixtures::countOccurrences;
using kova::test::fixtures::readFile;
using kova::test::fixtures::readLogs;
using kova::test::fixtures::TempDir;

// Addresses used only as configuration text: nothing ever connects to them.
const char kAgentX[] = "agent:tcp -h 127.0.0.1 -p 10001";
const char kAgentY[] = "other:tcp -h 127.0.0.1 -p 10011";
const char kLocatorL[] = "TGrid/Locator:tcp -h 127.0.0.1 -p 10002";
const char kLocatorL2[] = "TGrid2/Locator:tcp -h 127.0.0.1 -p 10012";
const char kRouterG[] = "TG2/router:tcp -h 127.0.0.1 -p 10003";

}  // namespace kova::test::adapter
