#include "store_helpers.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "KOVAStoreHeader.h"

namespace kova::test::store {
namespace {

uint32_t seedOf(const std::string& rid) { return static_cast<uint32_t>(std::hash<std::string>{}(rid)); }

KOVAMsg::KOVAMessage makeMessage(const std::string& rid, int index, size_t bodyBytes) {
    KOVAMsg::KOVAMessage msg;
    msg.properties["rid"] = rid;
    msg.properties["index"] = std::to_string(index);
    msg.s_properties = {rid, "s" + std::to_string(index)};
    msg.i_properties = {index, -index};
    msg.l_properties = {static_cast<long>(seedOf(rid)) << 20, index};
    msg.message.resize(bodyBytes);
    const uint32_t seed = seedOf(rid) + static_cast<uint32_t>(index);
    for (size_t i = 0; i < bodyBytes; ++i) msg.message[i] = static_cast<Ice::Byte>((seed >> (i % 24)) + i);
    return msg;
}

}  // namespace

KOVAMsg::KOVABatchMessage makeBatch(const std::string& rid, size_t bodyBytes) {
    KOVAMsg::KOVABatchMessage batch;
    const int count = 1 + static_cast<int>(seedOf(rid) % 3);
    for (int i = 0; i < count; ++i) batch.push_back(makeMessage(rid, i, bodyBytes));
    return batch;
}

KOVAMsg::KOVABatchMessage oneMessageBatch(size_t bodyBytes) {
    KOVAMsg::KOVABatchMessage batch(1);
    batch[0].message.resize(bodyBytes, 7);
    return batch;
}

bool isIntact(const std::string& rid, const KOVAMsg::KOVABatchMessage& batch) {
    if (batch.empty()) return false;
    const KOVAMsg::KOVABatchMessage expected = makeBatch(rid, batch.front().message.size());
    auto same = [](const KOVAMsg::KOVAMessage& a, const KOVAMsg::KOVAMessage& b) {
        return a.properties == b.properties && a.s_properties == b.s_properties && a.i_properties == b.i_properties &&
               a.l_properties == b.l_properties && a.message == b.message;
    };
    return std::equal(batch.begin(), batch.end(), expected.begin(), expected.end(), same);
}

Header readHeader(const std::string& path) {
    char bytes[KOVA::storeheader::kLength];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::pread(fd, bytes, sizeof(bytes), 0) == static_cast<ssize_t>(sizeof(bytes));
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("cannot read the header of " + path);
    namespace h = KOVA::storeheader;
    Header header;
    std::memcpy(&header.owner, bytes + h::kOwnerPid, 4);
    std::memcpy(&header.lastRead, bytes + h::kLastRead, 4);
    std::memcpy(&header.lastWrite, bytes + h::kLastWrite, 4);
    std::memcpy(&header.totalLen, bytes + h::kTotalLen, 4);
    std::memcpy(&header.writeOffset, bytes + h::kWriteOffset, 4);
    std::memcpy(&header.writeNums, bytes + h::kWriteNums, 4);
    std::memcpy(&header.readOffset, bytes + h::kReadOffset, 4);
    std::memcpy(&header.readNums, bytes + h::kReadNums, 4);
    return header;
}

void ageHeader(const std::string& path, uint32_t seconds, bool writeToo) {
    const uint32_t past = static_cast<uint32_t>(std::time(nullptr)) - seconds;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::pwrite(fd, &past, 4, KOVA::storeheader::kLastRead) == 4 &&
                    (!writeToo || ::pwrite(fd, &past, 4, KOVA::storeheader::kLastWrite) == 4);
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("cannot age the header of " + path);
}

void writeStoreFile(const std::string& path, const std::vector<std::string>& records, int messages,
                    const std::string& tail, int fileSize) {
    namespace h = KOVA::storeheader;
    char header[h::kLength];
    h::initial(header, 1, static_cast<uint32_t>(std::time(nullptr)));
    std::string bytes(header, sizeof(header));
    for (const std::string& record : records) bytes += record;
    const int32_t total = static_cast<int32_t>(bytes.size() - h::kLength);
    const int32_t end = static_cast<int32_t>(bytes.size());
    std::memcpy(&bytes[h::kTotalLen], &total, 4);
    std::memcpy(&bytes[h::kWriteOffset], &end, 4);
    std::memcpy(&bytes[h::kWriteNums], &messages, 4);
    bytes += tail;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
                    ::ftruncate(fd, fileSize) == 0;
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> storeFiles(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.is_regular_file() && entry.path().filename().string().find(prefix) != std::string::npos)
            files.push_back(entry.path().string());
    }
    return files;
}

std::vector<std::string> drain(KOVA::KOVAStoreFile& store, int quietCalls) {
    std::vector<std::string> rids;
    const KOVA::readCacheCb accept = [&rids](const std::string& rid, const KOVAMsg::KOVABatchMessage& batch,
                                             const KOVA::COMMON::KOVAProperties&) {
        rids.push_back(isIntact(rid, batch) ? rid : "corrupt:" + rid);
        return true;
    };
    for (int quiet = 0; quiet < quietCalls;) quiet = store.Read(accept, 5) == 0 ? quiet + 1 : 0;
    return rids;
}

std::string storeToolPath() { return KOVA_STORE_TOOL; }

}  // namespace kova::test::store
