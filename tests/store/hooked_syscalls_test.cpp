// What the writer does between system calls: a new file is complete while its named
// lock is held, its first record survives a reader that removed it while the writer
// stalled or someone who put a link in its place, in synchronous mode a record is on disk before the header counts it,
// a failed flush is reported, and a file system without file locks costs no file per batch and guards each file with
// that file's own semaphore. This binary's own pwrite, msync, posix_fallocate and fcntl look at the store while they
// run (or fail when a test asks), so it has a binary of its own.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "KOVANamedLock.h"
#include "log_reader.h"
#include "store_helpers.h"
#include "temp_dir.h"
#include "test_log.h"

namespace kova::test::store {
namespace {

std::string watchedFile;                  // sampled while not empty
std::vector<int> writeNumsAtFlush;        // its header's record count at each msync
int failingFlush = -1;                    // index of the msync that fails with EIO
std::string creatingPrefix;               // the files whose writes are looked at while not empty
std::vector<bool> lockHeldAtWrite;        // whether the file's named lock was busy at each write or waited flush
std::function<void()> beforeReservation;  // run once, at the next posix_fallocate
std::function<void(int)> afterSizing;     // run once, after a write past a file's start
bool fileLocksFail = false;               // open-file-description locks fail with ENOLCK

std::string baseNameOf(int fd) {
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error).filename().string();
}

// The base name of the file mapped at `addr`; empty when none is.
std::string fileMappedAt(const void* addr) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(addr);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        uintptr_t begin = 0, end = 0;
        const size_t path = line.find('/');
        if (std::sscanf(line.c_str(), "%" SCNxPTR "-%" SCNxPTR, &begin, &end) == 2 && begin <= at && at < end)
            return path == std::string::npos ? "" : std::filesystem::path(line.substr(path)).filename().string();
    }
    return "";
}

// Notes whether the named lock of the file `name` is busy, when it is one of creatingPrefix.
void noteLockHeld(const std::string& name) {
    if (name.rfind(creatingPrefix, 0) == 0)
        lockHeldAtWrite.push_back(
            !KOVA::KOVANamedLock(KOVA::KOVANamedLock::ofFile(name), std::chrono::milliseconds(0)).owned());
}

}  // namespace
}  // namespace kova::test::store

extern "C" ssize_t pwrite(int fd, const void* data, size_t len, off_t offset) {
    using namespace kova::test::store;
    if (!creatingPrefix.empty()) noteLockHeld(baseNameOf(fd));
    const ssize_t written = ::syscall(SYS_pwrite64, fd, data, len, offset);
    if (afterSizing && offset > 0) std::exchange(afterSizing, nullptr)(fd);
    return written;
}

extern "C" int msync(void* addr, size_t len, int flags) {
    using namespace kova::test::store;
    if (!creatingPrefix.empty() && (flags & MS_SYNC) != 0) noteLockHeld(fileMappedAt(addr));
    if (!watchedFile.empty()) {
        const bool fail = static_cast<int>(writeNumsAtFlush.size()) == failingFlush;
        writeNumsAtFlush.push_back(readHeader(watchedFile).writeNums);
        if (fail) {
            errno = EIO;
            return -1;
        }
    }
    return static_cast<int>(::syscall(SYS_msync, addr, len, flags));
}

extern "C" int posix_fallocate(int fd, off_t offset, off_t len) {
    using namespace kova::test::store;
    if (beforeReservation) std::exchange(beforeReservation, nullptr)();
    static const auto real = reinterpret_cast<int (*)(int, off_t, off_t)>(::dlsym(RTLD_NEXT, "posix_fallocate"));
    return real(fd, offset, len);
}

extern "C" int fcntl(int fd, int cmd, ...) {
    va_list args;
    va_start(args, cmd);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (kova::test::store::fileLocksFail && cmd == F_OFD_SETLK) {
        errno = ENOLCK;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_fcntl, fd, cmd, arg));
}

namespace kova::test::store {
namespace {

const KOVA::readCacheCb acceptAll = [](auto&&...) { return true; };

TEST(StoreFileCreation, FirstRecordSurvivesAReaderThatRemovedTheNewFileWhileTheWriterStalled) {
    fixtures::TempDir dir("kova-store-stall");
    UniquePrefix prefix("stall");
    const std::string storeDir = dir.path().string() + "/";
    KOVA::KOVAStoreFile writer(storeDir, prefix.str(), "", true, 0, 0);
    KOVA::KOVAStoreFile reader(storeDir, prefix.str(), "", true, 0, 0);
    beforeReservation = [&] {
        // The writer stalls here for two minutes: its new, empty file looks idle.
        for (const std::string& file : storeFiles(storeDir, prefix.str())) ageHeader(file, 120, true);
        reader.Read(acceptAll, 5);
    };
    const bool stored = writer.Store("a", makeBatch("a", 16), {});
    beforeReservation = nullptr;
    EXPECT_TRUE(stored);
    EXPECT_EQ(drain(reader, 3), (std::vector<std::string>{"a"}));
}

TEST(StoreFileCreation, ANewFileSwappedForALinkLeavesTheLinkedFileAloneAndItsRecordIsReadBack) {
    fixtures::TempDir dir("kova-store-swap");
    UniquePrefix prefix("swap");
    const std::string storeDir = dir.path().string() + "/";
    dir.write("outside", "not a store file");
    KOVA::KOVAStoreFile writer(storeDir, prefix.str(), "", true, 0, 0);
    afterSizing = [&](int fd) {  // the new file is complete; no record yet
        std::filesystem::create_symlink(dir.file("outside"), dir.file("link"));
        std::filesystem::rename(dir.file("link"), dir.file(baseNameOf(fd)));
    };
    EXPECT_TRUE(writer.Store("a", makeBatch("a", 16), {}));  // into one more new file
    afterSizing = nullptr;
    EXPECT_TRUE(fixtures::readFile(dir.file("outside")) == "not a store file") << "the linked file was written";
    KOVA::KOVAStoreFile reader(storeDir, prefix.str(), "", true, 0, 0);
    EXPECT_EQ(drain(reader, 3), (std::vector<std::string>{"a"}));
}

TEST(StoreFileLocks, UnsupportedLocksFallBackToTheNamedSemaphoreWithOneFileForManyBatches) {
    fixtures::TempDir dir("kova-store-nolock");
    UniquePrefix prefix("nolock");
    const std::string storeDir = dir.path().string() + "/";
    fixtures::LogMark log(fixtures::testLogDir());
    fileLocksFail = true;
    KOVA::KOVAStoreFile store(storeDir, prefix.str(), "", true, 0, 0);
    for (const char* rid : {"a", "b", "c"}) EXPECT_TRUE(store.Store(rid, makeBatch(rid, 16), {}));
    const std::vector<std::string> files = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(files.size(), 1u);
    ageHeader(files[0], 120, true);
    EXPECT_EQ(drain(store, 3), (std::vector<std::string>{"a", "b", "c"}));
    fileLocksFail = false;
    EXPECT_TRUE(storeFiles(storeDir, prefix.str()).empty()) << "the finished file was not removed";
    EXPECT_EQ(fixtures::countOccurrences(log.text(), "cannot be locked here"), 1u);
}

TEST(StoreFileLocks, WithoutFileLocksEachFileIsWrittenUnderItsOwnSemaphore) {
    fixtures::TempDir dir("kova-store-nolock-files");
    UniquePrefix prefix("nolockfiles");
    fileLocksFail = true;
    KOVA::KOVAStoreFile writer(dir.path().string() + "/", prefix.str(), "", false, 0, 0);  // flushes waited for
    creatingPrefix = prefix.str();
    lockHeldAtWrite.clear();
    for (const char* rid : {"a", "b", "c"}) EXPECT_TRUE(writer.Store(rid, oneMessageBatch(7 << 20), {}));
    creatingPrefix.clear();
    fileLocksFail = false;
    EXPECT_EQ(storeFiles(dir.str(), prefix.str()).size(), 2u);
    EXPECT_GE(lockHeldAtWrite.size(), 6u);  // each record and its header
    EXPECT_EQ(std::count(lockHeldAtWrite.begin(), lockHeldAtWrite.end(), false), 0)
        << ::testing::PrintToString(lockHeldAtWrite);
}

TEST(StoreFileCreation, HeaderAndSizeWrittenUnderTheNamedLock) {
    fixtures::TempDir dir("kova-store-create");
    UniquePrefix prefix("create");
    KOVA::KOVAStoreFile writer(dir.path().string() + "/", prefix.str(), "", true, 0, 0);
    creatingPrefix = prefix.str();
    lockHeldAtWrite.clear();
    const bool stored = writer.Store("a", oneMessageBatch(16), {});
    creatingPrefix.clear();
    EXPECT_TRUE(stored);
    EXPECT_EQ(lockHeldAtWrite, (std::vector<bool>{true, true}));  // the header, the last byte
}

struct FlushCase {
    int failingFlush;
    bool stored;
    int countedAtEnd;  // records the header counts after the second Store
};

void PrintTo(const FlushCase& c, std::ostream* os) { *os << "failing flush " << c.failingFlush; }

class StoreSyncFlush : public ::testing::TestWithParam<FlushCase> {};

TEST_P(StoreSyncFlush, RecordFlushedBeforeTheHeaderCountsItAndFailuresReported) {
    fixtures::TempDir dir("kova-store-sync");
    UniquePrefix prefix("sync");
    const std::string storeDir = dir.path().string() + "/";
    KOVA::KOVAStoreFile writer(storeDir, prefix.str(), "", false, 0, 0);
    ASSERT_TRUE(writer.Store("a", oneMessageBatch(16), {}));
    const std::vector<std::string> files = storeFiles(storeDir, prefix.str());
    ASSERT_EQ(files.size(), 1u);

    watchedFile = files[0];
    writeNumsAtFlush.clear();
    failingFlush = GetParam().failingFlush;
    const bool stored = writer.Store("b", oneMessageBatch(16), {});
    watchedFile.clear();

    EXPECT_EQ(stored, GetParam().stored);
    EXPECT_EQ(readHeader(files[0]).writeNums, GetParam().countedAtEnd);
    if (GetParam().failingFlush != 0) {
        // The record's pages while it is not counted, then the header's with it.
        EXPECT_EQ(writeNumsAtFlush, (std::vector<int>{1, 2}));
    }
}

INSTANTIATE_TEST_SUITE_P(Flushes, StoreSyncFlush,
                         ::testing::Values(FlushCase{-1, true, 2}, FlushCase{0, false, 1}, FlushCase{1, false, 2}));

}  // namespace
}  // namespace kova::test::store
