// The writer's side of sharing a directory: names taken by files already there, the
// file lock a reader holds while it removes a file, and write offsets near 2 GiB.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <filesystem>
#include <set>

#include "KOVAStoreFileLock.h"
#include "KOVAStoreHeader.h"
#include "log_reader.h"
#include "store_helpers.h"
#include "temp_dir.h"

namespace kova::test::store {
namespace {

struct OpenFile {
    explicit OpenFile(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {}
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
    int fd;
};

std::string newFile(const std::vector<std::string>& before, const std::vector<std::string>& after) {
    for (const std::string& file : after)
        if (std::find(before.begin(), before.end(), file) == before.end()) return file;
    return "";
}

TEST(StoreWriter, NameCollisionTakesTheNextNumberAndOverwritesNothing) {
    fixtures::TempDir dir("kova-store-names");
    UniquePrefix prefix("names");
    const std::string storeDir = dir.path().string() + "/";
    KOVA::KOVAStoreFile first(storeDir, prefix.str(), "", true, 0, 0);
    ASSERT_TRUE(first.Store("a", makeBatch("a", 16), {}));
    const std::vector<std::string> made = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(made.size(), 1u);
    const long seq = std::stol(made[0].substr(made[0].rfind('.') + 1));

    // The names the next writer of this process picks in this and the next seconds.
    std::set<std::string> planted;  // file names
    const long now = static_cast<long>(::time(nullptr));
    for (long secs = now; secs <= now + 3; ++secs) {
        for (long next = seq + 1; next <= seq + 4; ++next) {
            const std::string name = prefix.str() + "." + std::to_string(::getpid()) + "." + std::to_string(secs) +
                                     "." + std::to_string(next);
            dir.write(name, "a file of someone else");
            planted.insert(name);
        }
    }
    KOVA::KOVAStoreFile second(storeDir, prefix.str(), "", true, 0, 0);
    ASSERT_TRUE(second.Store("b", makeBatch("b", 16), {}));

    int fresh = 0;
    for (const std::string& file : storeFiles(storeDir, prefix.str())) {
        if (planted.count(std::filesystem::path(file).filename().string()) != 0) {
            EXPECT_EQ(fixtures::readFile(file), "a file of someone else") << file;
        } else if (file != made[0]) {
            ++fresh;
            EXPECT_EQ(readHeader(file).writeNums, static_cast<int>(makeBatch("b", 16).size())) << file;
        }
    }
    EXPECT_EQ(fresh, 1);
}

TEST(StoreWriter, LeavesAFileWhoseLockIsHeld) {
    fixtures::TempDir dir("kova-store-wlock");
    UniquePrefix prefix("wlock");
    const std::string storeDir = dir.path().string() + "/";
    KOVA::KOVAStoreFile writer(storeDir, prefix.str(), "", true, 0, 0);
    ASSERT_TRUE(writer.Store("a", makeBatch("a", 16), {}));
    const std::vector<std::string> before = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(before.size(), 1u);
    const int nums = readHeader(before[0]).writeNums;

    // A reader about to remove the file holds this lock.
    OpenFile held(before[0]);
    KOVA::KOVANamedLock::Handle semaphore;
    KOVA::KOVAStoreFileLock lock(held.fd, before[0], semaphore);
    ASSERT_TRUE(lock.owned());
    ASSERT_TRUE(writer.Store("b", makeBatch("b", 16), {}));
    EXPECT_EQ(readHeader(before[0]).writeNums, nums);
    EXPECT_EQ(storeFiles(storeDir, prefix.str()).size(), 2u);
}

TEST(StoreReader, RemovesAReadFileOnlyWhenItsLockIsFree) {
    fixtures::TempDir dir("kova-store-rlock");
    UniquePrefix prefix("rlock");
    const std::string storeDir = dir.path().string() + "/";
    const std::string path = storeDir + prefix.str() + ".1.1.1";
    writeStoreFile(path, {}, 0);
    ageHeader(path, 120, true);
    KOVA::KOVAStoreFile reader(storeDir, prefix.str(), "", true, 0, 0);
    const auto accept = [](const std::string&, const KOVAMsg::KOVABatchMessage&, const KOVA::COMMON::KOVAProperties&) {
        return true;
    };
    {
        // A writer that is appending to the file holds this lock.
        OpenFile held(path);
        KOVA::KOVANamedLock::Handle semaphore;
        KOVA::KOVAStoreFileLock lock(held.fd, path, semaphore);
        ASSERT_TRUE(lock.owned());
        EXPECT_EQ(reader.Read(accept, 0), 0);
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_EQ(reader.Read(accept, 0), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(StoreWriter, OffsetsNearTwoGibibytesStartANewFile) {
    fixtures::TempDir dir("kova-store-large");
    UniquePrefix prefix("large");
    const std::string storeDir = dir.path().string() + "/";
    KOVA::KOVAStoreFile writer(storeDir, prefix.str(), "", true, INT_MAX, 0);
    if (!writer.Store("a", makeBatch("a", 16), {})) GTEST_SKIP() << "no sparse file of 2 GiB here";
    const std::vector<std::string> before = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(before.size(), 1u);

    // As if 2 GiB less 12 MiB had been written: the file has room for the next 5 MiB
    // record, but a window after it would pass INT_MAX.
    const int32_t offset = INT_MAX - 12 * 1024 * 1024;
    {
        OpenFile file(before[0]);
        ASSERT_EQ(::pwrite(file.fd, &offset, sizeof(offset), KOVA::storeheader::kWriteOffset),
                  static_cast<ssize_t>(sizeof(offset)));
    }
    ASSERT_TRUE(writer.Store("b", oneMessageBatch(5 * 1024 * 1024), {}));
    ASSERT_TRUE(writer.Store("c", oneMessageBatch(6 * 1024 * 1024), {}));
    const std::vector<std::string> after = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(std::filesystem::file_size(before[0]), static_cast<uintmax_t>(INT_MAX));
    EXPECT_EQ(readHeader(newFile(before, after)).writeNums, 1);
}

}  // namespace
}  // namespace kova::test::store
