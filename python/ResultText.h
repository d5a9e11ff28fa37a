// The JSON texts that the harness hands back to Python: a top-level array of
// two-element arrays, formatted with one TAB per nesting level.
//   nothing (or a wait that timed out)  [[-1, ""]]
//   a result code                       [[-1, code]]
//   messages                            [[etype, "<Base64 body>"], ...]   ([] for none)
// Bodies are Base64 so that bytes which are not text reach Python unharmed.
// Thread safety: pure functions; batchText and consumeStatusText empty the message
// list they are given, so its owner must not share it meanwhile.
#pragma once

#include "KOVAConsumeStatus.h"
#include "KOVAIMessage.h"

#include <string>
#include <vector>

namespace kova::harness {

std::string noResultText();
std::string codeText(int code);
std::string messageText(const KOVA::IMessage& message);
// Moves the messages out: `messages` is empty afterwards.
std::string batchText(std::vector<KOVA::IMessage>& messages);
// The code text for a status other than 0, else batchText of its messages (moved
// out of `status`).
std::string consumeStatusText(KOVA::ConsumeStatus& status);

}  // namespace kova::harness
