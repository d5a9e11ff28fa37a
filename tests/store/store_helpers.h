// Helpers of the fail-store tests and of their helper program: batches whose contents
// follow from their resource id, direct access to a store file's header, draining a store.
// Thread-safety: free functions without shared state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "KOVAMessage.h"
#include "KOVAStoreFile.h"
#include "unique_prefix.h"

namespace kova::test::store {

// One to three messages whose properties and bodies (`bodyBytes` each) derive from rid.
KOVAMsg::KOVABatchMessage makeBatch(const std::string& rid, size_t bodyBytes);
bool isIntact(const std::string& rid, const KOVAMsg::KOVABatchMessage& batch);
// One message of `bodyBytes` bytes, no properties: a record of a size close to the body's.
KOVAMsg::KOVABatchMessage oneMessageBatch(size_t bodyBytes);

struct Header {
    int32_t owner;
    uint32_t lastRead;
    uint32_t lastWrite;
    int32_t totalLen;
    int32_t writeOffset;
    int32_t writeNums;
    int32_t readOffset;
    int32_t readNums;
};
Header readHeader(const std::string& path);
// Moves the last read time (and the last write time when `writeToo`) `seconds` into
// the past, as if the file had been left alone that long.
void ageHeader(const std::string& path, uint32_t seconds, bool writeToo);
// A store file of `fileSize` bytes made by hand, as a peer would leave it: the header
// counts `records` and `messages`; `tail` follows them uncounted.
void writeStoreFile(const std::string& path, const std::vector<std::string>& records, int messages,
                    const std::string& tail = "", int fileSize = 20971520);
// Full paths of the regular files in dir whose names contain prefix.
std::vector<std::string> storeFiles(const std::string& dir, const std::string& prefix);

// Calls Read, accepting every batch, until it returned 0 `quietCalls` times in a row;
// the resource ids in the order handed back, "corrupt:" before a damaged batch's id.
std::vector<std::string> drain(KOVA::KOVAStoreFile& store, int quietCalls);

// The helper program (store_tool.cpp).
std::string storeToolPath();

}  // namespace kova::test::store
