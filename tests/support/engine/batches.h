// Record batches for the engine tests and benchmarks.
// Thread-safety: stateless.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "KOVAMessageService.h"

namespace kova::test::engine {

// `records` records whose "KEYS" are keyPrefix0, keyPrefix1, ... and whose
// bodies are `bodyBytes` times one letter ('a' for the first, then 'b', ...).
KOVAMsg::KOVABatchMessage keyedBatch(int records, std::size_t bodyBytes, const std::string& keyPrefix = "key-");

// `records` keyed records (keyPrefix0, ...) of 32 bytes each.
KOVAMsg::KOVABatchMessage batchOf(int records, const std::string& keyPrefix = "key-");

// One record per body, without properties.
KOVAMsg::KOVABatchMessage batchOf(const std::vector<std::string>& bodies);

}  // namespace kova::test::engine
