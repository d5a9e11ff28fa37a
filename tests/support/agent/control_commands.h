// The line commands of the standalone agent (read from its standard input) and
// its ready line. Kept apart from main() so tests can drive them in-process.
//
// Every command answers one line "OK[ <value>]" or "ERR <reason>"; listing
// commands answer record lines followed by "END". Records and the ready line
// are tab-separated key=value fields after a leading word (READY, CALL, PUSH,
// REG); tabs and newlines inside values are replaced by blanks. The command
// set is listed in tests/support/README.md and by the command "help".
//
// Thread-safety: runControlCommand uses only the agent's thread-safe members,
// except "restart", which must not race another start or stop.
#pragma once

#include "standin_agent.h"

#include <string>
#include <vector>

namespace kova::test::standin {

struct ControlResult {
    std::vector<std::string> lines;
    bool quit = false;
};

ControlResult runControlCommand(StandinAgent& agent, const std::string& line);

// "READY\tagent=<proxy>\tcallback=<proxy>\tagent_port=<n>\tcallback_port=<n>"
std::string readyLine(const StandinAgent& agent);

}  // namespace kova::test::standin
