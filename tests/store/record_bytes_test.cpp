// The bytes of a stored record: what peers on older Boost read, and what they write.
#include <gtest/gtest.h>

#include <sstream>

#include <boost/archive/binary_oarchive.hpp>

#include "KOVAMessageSerialization.h"
#include "KOVAStoreRecord.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

std::string fromHex(const std::string& hex) {
    std::string bytes;
    std::istringstream in(hex);
    for (std::string byte; in >> byte;) bytes.push_back(static_cast<char>(std::stoi(byte, nullptr, 16)));
    return bytes;
}

// One record of rid "r", properties {k: v} and one message, as Boost 1.68 writes it.
const char* const kGoldenRecord =
    "16 00 00 00 00 00 00 00  73 65 72 69 61 6c 69 7a 61 74 69 6f 6e 3a 3a 61 72 63 68 69 76 65 "
    "11 00  04 08 04 08  01 00 00 00 "                       // library version 17, type sizes, byte order
    "01 00 00 00 00 00 00 00 72 "                            // rid "r"
    "00 00 00 00 00  01 00 00 00 00 00 00 00  00 00 00 00 "  // map: class info, count 1, item version
    "00 00 00 00 00  01 00 00 00 00 00 00 00 6b  01 00 00 00 00 00 00 00 76 "  // pair: class info, k, v
    "00 00 00 00 00  01 00 00 00 00 00 00 00  00 00 00 00 "  // batch: class info, count 1, item version
    "00 00 00 00 00 "                                        // message: class info
    "01 00 00 00 00 00 00 00  00 00 00 00  01 00 00 00 00 00 00 00 61  01 00 00 00 00 00 00 00 62 "
    "00 00 00 00 00  01 00 00 00 00 00 00 00  00 00 00 00  01 00 00 00 00 00 00 00 73 "  // s_properties
    "01 00 00 00 00 00 00 00  07 00 00 00 "                                              // i_properties
    "01 00 00 00 00 00 00 00  09 00 00 00 00 00 00 00 "                                  // l_properties
    "02 00 00 00 00 00 00 00  01 02";                                                    // body

KOVAMsg::KOVABatchMessage goldenBatch() {
    KOVAMsg::KOVAMessage msg;
    msg.properties = {{"a", "b"}};
    msg.s_properties = {"s"};
    msg.i_properties = {7};
    msg.l_properties = {9};
    msg.message = {1, 2};
    return {msg};
}

std::string stockRecord(const std::string& rid, const KOVAMsg::KOVABatchMessage& batch) {
    std::ostringstream out;
    {
        boost::archive::binary_oarchive archive(out);
        const KOVA::COMMON::KOVAProperties properties{{"peer", "1"}};
        archive << rid << properties << batch;
    }
    return out.str();
}

TEST(StoreRecordBytes, RecordIsWhatOlderPeersRead) {
    std::string record;
    KOVA::storerecord::Encode("r", {{"k", "v"}}, goldenBatch(), record);
    EXPECT_EQ(record, fromHex(kGoldenRecord));
}

TEST(StoreRecordBytes, PeerFilesOfStockBoostDecodeAndEmptyRecordsAreSteppedOver) {
    fixtures::TempDir dir("kova-store-bytes");
    UniquePrefix prefix("bytes");
    KOVA::KOVAStoreFile store(dir.path().string(), prefix.str(), "", true, 0, 0);
    EXPECT_TRUE(store.Store("nothing", {}, {}));
    EXPECT_TRUE(storeFiles(dir.path().string(), prefix.str()).empty());

    const KOVAMsg::KOVABatchMessage b1 = makeBatch("b1", 50), b2 = makeBatch("b2", 50);
    const std::string empty = stockRecord("empty", {}), stock = stockRecord("b1", b1);
    ASSERT_EQ(stock[30], 18) << "this Boost writes library version 18";
    std::string ours;
    KOVA::storerecord::Encode("b2", {}, b2, ours);
    const std::string path = dir.file(prefix.str() + ".1.1.0");
    writeStoreFile(path, {empty, stock, ours}, static_cast<int>(b1.size() + b2.size()));

    EXPECT_EQ(drain(store, 2), (std::vector<std::string>{"b1", "b2"}));
    const Header header = readHeader(path);
    EXPECT_EQ(header.readOffset, header.writeOffset);
    EXPECT_EQ(header.readNums, header.writeNums);
}

}  // namespace
}  // namespace kova::test::store
