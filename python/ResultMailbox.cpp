#include "ResultMailbox.h"

#include "ResultText.h"

#include <thread>

namespace kova::harness {

ResultMailbox::ResultMailbox(std::chrono::milliseconds pollInterval, int maxPolls)
    : pollInterval_(pollInterval), maxPolls_(maxPolls) {}

void ResultMailbox::clear() { put(std::string()); }

void ResultMailbox::putCode(int code) { put(codeText(code)); }

void ResultMailbox::putMessage(const KOVA::IMessage& message) { put(messageText(message)); }

void ResultMailbox::putStatus(const KOVA::ConsumeStatusPtr& status) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastStatus_ = status;
    // Built under the lock: the messages leave the very batch that lastStatus() hands out.
    result_ = status ? consumeStatusText(*status) : noResultText();
}

std::string ResultMailbox::take() const {
    for (int polls = 0;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!result_.empty()) return result_;
        }
        ++polls;
        std::this_thread::sleep_for(pollInterval_);
        if (polls > maxPolls_) return noResultText();
    }
}

KOVA::ConsumeStatusPtr ResultMailbox::lastStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastStatus_;
}

void ResultMailbox::put(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    result_ = std::move(text);
}

}  // namespace kova::harness
