#include "batches.h"

namespace kova::test::engine {

KOVAMsg::KOVABatchMessage keyedBatch(int records, std::size_t bodyBytes, const std::string& keyPrefix) {
    KOVAMsg::KOVABatchMessage batch;
    for (int i = 0; i < records; ++i) {
        KOVAMsg::KOVAMessage message{};
        message.properties["KEYS"] = keyPrefix + std::to_string(i);
        message.message.assign(bodyBytes, static_cast<Ice::Byte>('a' + i % 26));
        batch.push_back(message);
    }
    return batch;
}

KOVAMsg::KOVABatchMessage batchOf(int records, const std::string& keyPrefix) {
    return keyedBatch(records, 32, keyPrefix);
}

KOVAMsg::KOVABatchMessage batchOf(const std::vector<std::string>& bodies) {
    KOVAMsg::KOVABatchMessage batch;
    for (const std::string& body : bodies) {
        KOVAMsg::KOVAMessage message{};
        message.message.assign(body.begin(), body.end());
        batch.push_back(message);
    }
    return batch;
}

}  // namespace kova::test::engine
