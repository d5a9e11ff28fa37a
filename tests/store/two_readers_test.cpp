// Two live readers in two processes share one store directory: the helper program is
// one reader, the test process (also the writer) the other.
#include <gtest/gtest.h>

#include "child_process.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

using std::chrono::milliseconds;

class StoreTwoReaders : public ::testing::Test {
protected:
    void storeBatches(int from, int to) {
        for (int i = from; i < to; ++i) {
            const std::string rid = "b" + std::to_string(i);
            ASSERT_TRUE(_store.Store(rid, makeBatch(rid, 100), {}));
        }
    }
    void startOtherReader() { _other.start({{storeToolPath(), "read", _storeDir, _prefix.str()}, "", true, true}); }
    // The other reader's next line that starts with `kind`.
    std::string otherSays(const std::string& kind) {
        while (auto line = _other.readLine(milliseconds(10000))) {
            if (line->rfind(kind, 0) == 0) return *line;
        }
        return "(nothing)";
    }
    std::string onlyFile() {
        const std::vector<std::string> files = storeFiles(_storeDir, _prefix.str());
        return files.size() == 1 ? files.front() : "";
    }

    fixtures::TempDir _dir{"kova-store-readers"};
    const std::string _storeDir = (_dir.path() / "store").string();  // the other reader logs beside it
    UniquePrefix _prefix{"readers"};
    KOVA::KOVAStoreFile _store{_storeDir, _prefix.str(), "", true, 0, 0};
    fixtures::ChildProcess _other;
};

TEST_F(StoreTwoReaders, SecondSkipsTheClaimedFileAndContinuesFromTheDeadFirstsOffsets) {
    storeBatches(0, 5);
    startOtherReader();
    for (const char* rid : {"b0", "b1"}) {
        EXPECT_EQ(otherSays("GOT"), std::string("GOT ") + rid + " ok");
        _other.writeLine("y");
    }
    storeBatches(5, 10);  // appended while the other reader is in the middle of the file
    int handedToUs = 0;
    EXPECT_EQ(_store.Read([&](auto&&...) { return ++handedToUs, true; }, 5), 0);
    EXPECT_EQ(handedToUs, 0) << "the claimed file was read by a second process";

    for (const char* rid : {"b2", "b3", "b4", "b5"}) {
        EXPECT_EQ(otherSays("GOT"), std::string("GOT ") + rid + " ok");
        _other.writeLine("y");
    }
    EXPECT_EQ(otherSays("GOT"), "GOT b6 ok");
    _other.writeLine("n");  // b6 stays pending in the other reader
    EXPECT_EQ(otherSays("GOT"), "GOT b6 ok");
    _other.kill();
    ageHeader(onlyFile(), 120, false);

    EXPECT_EQ(drain(_store, 3), (std::vector<std::string>{"b6", "b7", "b8", "b9"}));
}

TEST_F(StoreTwoReaders, ReaderStalledPastItsClaimAdvancesNothing) {
    storeBatches(0, 4);
    startOtherReader();
    EXPECT_EQ(otherSays("GOT"), "GOT b0 ok");  // the other reader now stalls in its callback
    ageHeader(onlyFile(), 120, false);

    EXPECT_EQ(drain(_store, 3), (std::vector<std::string>{"b0", "b1", "b2", "b3"}));
    _other.writeLine("y");  // b0 was produced, but the file is no longer the other's
    EXPECT_EQ(otherSays("READ"), "READ -1");

    const Header header = readHeader(onlyFile());
    EXPECT_EQ(header.readNums, header.writeNums);
    EXPECT_EQ(header.readOffset, header.writeOffset);
    EXPECT_EQ(header.owner, ::getpid());
}

}  // namespace
}  // namespace kova::test::store
