// Damaged and foreign input: bounded work, bounded memory, no hang.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <boost/interprocess/sync/named_mutex.hpp>

#include "KOVAStoreRecord.h"
#include "largest_allocation.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

std::string recordOf(const std::string& rid, const KOVAMsg::KOVABatchMessage& batch) {
    std::string record;
    KOVA::storerecord::Encode(rid, {}, batch, record);
    return record;
}

// A record whose last body claims 2^40 bytes.
std::string hugeLengthRecord() {
    KOVAMsg::KOVABatchMessage batch = makeBatch("huge", 4);
    batch.resize(1);
    std::string record = recordOf("huge", batch);
    const uint64_t huge = uint64_t(1) << 40;
    std::memcpy(&record[record.size() - 4 - 8], &huge, 8);  // the body's count precedes its 4 bytes
    return record;
}

struct DamagedCase {
    const char* name;
    std::string records;  // counted by the header as one batch
};

void PrintTo(const DamagedCase& damaged, std::ostream* out) { *out << damaged.name; }

class StoreDamagedInput : public ::testing::TestWithParam<DamagedCase> {};

TEST_P(StoreDamagedInput, IsRefusedWithoutLargeAllocationAndMovedAside) {
    fixtures::TempDir dir("kova-store-damaged");
    UniquePrefix prefix("damaged");
    const std::string name = prefix.str() + ".1.1.0";
    writeStoreFile(dir.file(name), {GetParam().records}, 1);
    ageHeader(dir.file(name), 120, true);
    KOVA::KOVAStoreFile store(dir.path().string(), prefix.str(), "", true, 0, 0);

    fixtures::resetLargestAllocation();
    int handedBack = 0;
    EXPECT_EQ(store.Read([&](auto&&...) { return ++handedBack, true; }, 5), 0);
    EXPECT_EQ(handedBack, 0);
    EXPECT_LT(fixtures::largestAllocation(), size_t(64) << 20);
    EXPECT_FALSE(std::filesystem::exists(dir.file(name)));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "errKOVAData" / name));
}

INSTANTIATE_TEST_SUITE_P(
    Records, StoreDamagedInput,
    ::testing::Values(DamagedCase{"HugeLength", hugeLengthRecord()},
                      DamagedCase{"Truncated", recordOf("cut", makeBatch("cut", 100)).substr(0, 150)}),
    [](const ::testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST(StoreDamagedInput, SemaphoreLeftLockedByADeadProcessDoesNotHangTheWalk) {
    fixtures::TempDir dir("kova-store-orphan");
    UniquePrefix prefix("orphan");
    for (const char* rid : {"a", "b", "c"}) {
        const std::string name = prefix.str() + ".1.1." + rid;
        const KOVAMsg::KOVABatchMessage batch = makeBatch(rid, 10);
        writeStoreFile(dir.file(name), {recordOf(rid, batch)}, static_cast<int>(batch.size()));
        ageHeader(dir.file(name), 120, true);
    }
    // Locked and never unlocked: what a process killed while holding it leaves.
    const std::string lockName = "/" + prefix.str() + ".1.1.b.lock";
    boost::interprocess::named_mutex(boost::interprocess::open_or_create, lockName.c_str()).lock();

    KOVA::KOVAStoreFile store(dir.path().string(), prefix.str(), "", true, 0, 0);
    std::vector<std::string> got = drain(store, 2);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<std::string>{"a", "c"}));
}

}  // namespace
}  // namespace kova::test::store
