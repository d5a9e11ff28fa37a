// The harness's single-slot mailbox: the JSON text of the last asynchronous outcome
// and the last batch an asynchronous pull handed over.
//
// Thread safety: every member may be called from any thread. Callback threads fill
// the slot while the Python thread tests, copies and clears it; one mutex guards the
// text and the batch together, and is never held while sleeping.
//
// Ownership: holds a counted reference to the last batch until the next one replaces it.
#pragma once

#include "KOVAConsumeStatus.h"
#include "KOVAIMessage.h"

#include <chrono>
#include <mutex>
#include <string>

namespace kova::harness {

class ResultMailbox {
public:
    // take() polls every `pollInterval`, `maxPolls` + 1 times at most, before it gives up.
    explicit ResultMailbox(std::chrono::milliseconds pollInterval = std::chrono::milliseconds(10), int maxPolls = 500);

    ResultMailbox(const ResultMailbox&) = delete;
    ResultMailbox& operator=(const ResultMailbox&) = delete;

    void clear();
    void putCode(int code);
    void putMessage(const KOVA::IMessage& message);
    // Keeps `status` as the last batch, then fills the slot from it: its messages are
    // moved out of that same batch. A null status leaves the no-result text.
    void putStatus(const KOVA::ConsumeStatusPtr& status);

    // A copy of the slot; the slot stays filled. Waits while it is empty and gives the
    // no-result text when nothing arrives.
    std::string take() const;
    KOVA::ConsumeStatusPtr lastStatus() const;

private:
    void put(std::string text);

    const std::chrono::milliseconds pollInterval_;
    const int maxPolls_;
    mutable std::mutex mutex_;
    std::string result_;
    KOVA::ConsumeStatusPtr lastStatus_;
};

}  // namespace kova::harness
