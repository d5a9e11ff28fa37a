// What the client scenarios share. Each scenario runs in a process of its own
// (the client is one per process), started by client_test: it gets its
// settings as key=value arguments, reports progress as lines on standard
// output, and ends with exit status 0, or 1 after a line on standard error
// naming the broken expectation.
// Thread-safety: check() and announce() may be called from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KOVAClientLib.h"

namespace kova::test::client {

typedef std::map<std::string, std::string> ScenarioArgs;

// Ends the process with status 1 when `condition` is false.
void check(bool condition, const std::string& what);
// One line on standard output, flushed.
void announce(const std::string& line);
// Blocks until standard input says "quit" or ends.
void waitForQuit();

// Items of a client named `item` on the agent args["agent"], logging to
// kova::test::engine::processLogDir(); a fail-store in args["store"] when
// given (a stored batch reported as 200), its files named with args["match"];
// then `extra`.
std::vector<std::string> clientItems(const ScenarioArgs& args, const std::string& item,
                                     const std::vector<std::string>& extra = {});
// The process's client from clientItems(); ends the process when it is null.
KOVA::KOVAClientLibPtr requireClient(const ScenarioArgs& args, const std::vector<std::string>& extra = {});

std::vector<KOVA::OMessage> messages(const std::vector<std::string>& bodies);
// Whether this process's client log holds `text`.
bool logMentions(const std::string& text);
// Polls `condition` until it holds or a generous bound passes.
bool eventually(const std::function<bool()>& condition);

}  // namespace kova::test::client
