#include "ResultText.h"

#include "Base64.h"

#include <nlohmann/json.hpp>

namespace kova::harness {
namespace {

using nlohmann::json;

std::string formatted(const json& pairs) { return pairs.dump(1, '\t'); }

json messagePair(const KOVA::IMessage& message) {
    return json::array({static_cast<int>(message.EType()), encodeBase64(message.Message())});
}

}  // namespace

std::string noResultText() { return formatted(json::array({json::array({-1, ""})})); }

std::string codeText(int code) { return formatted(json::array({json::array({-1, code})})); }

std::string messageText(const KOVA::IMessage& message) { return formatted(json::array({messagePair(message)})); }

std::string batchText(std::vector<KOVA::IMessage>& messages) {
    const std::vector<KOVA::IMessage> taken = std::move(messages);
    messages.clear();
    json pairs = json::array();
    for (const KOVA::IMessage& message : taken) pairs.push_back(messagePair(message));
    return formatted(pairs);
}

std::string consumeStatusText(KOVA::ConsumeStatus& status) {
    if (status.Status() != 0) return codeText(status.Status());
    return batchText(status.msgList);
}

}  // namespace kova::harness
