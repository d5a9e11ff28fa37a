// Internal (kova_store).
// KOVA::KOVAStoreFile: the fail-store. A directory of fixed-size, memory-mapped store
// files that keeps every produce batch which could not be delivered, so that a
// background thread can produce it again later. Any number of processes may share one
// directory; they coordinate through each file's header and named POSIX semaphores.
//
// The implementation is split by purpose:
//   KOVAStoreFile.cpp          construction, directory check, destruction
//   KOVAStoreFileWrite.cpp     file creation, write windows, Store
//   KOVAMappableFile.h         the write file's descriptor, which its windows map
//   KOVAStoreHeader.h          the file format: the 40-byte header of every file
//   KOVAStoreFileRead.cpp      Read, claiming, dirty files, clean-up
//   KOVAStoreRecord*.cpp       the bytes of one record (archive header and body)
//   KOVANamedLock.cpp          timed named semaphores with orphan recovery
//   KOVAStoreFileLock.cpp      a lock on a store file that dies with its holder
//
// Thread-safety: Store and Read may be called from any threads at once. Store runs
// under _writeMutex; Read runs under _readMutex for its whole length, including the
// callback. Lock order: _readMutex, then _writeMutex, then a store file's locks (its
// named semaphore for creating it, claiming it and advancing its read counters, or
// the lock on the file itself for writing a record and for removing or moving the
// file; never both at once); the directory's named semaphore is taken under either
// mutex but never together with a file's lock. Cross-process locks are taken with a
// bounded wait. Where the file system cannot lock files, the file's named semaphore
// stands in for the lock on the file (KOVAStoreFileLock.h).
// The readCacheCb callback runs on the thread that calls Read, with _readMutex held;
// it must not call Read. The compiler checks the two mutexes (KOVAThreadAnnotations.h);
// the cross-process locks are not capabilities to it: what they guard are bytes of
// shared files, which it cannot see.
//
// Ownership: held through std::shared_ptr by the client manager; neither copied nor
// assigned. The destructor flushes and unmaps; it deletes no file and no semaphore.
//
// Sharing between users: files get the default permissions of the process (0666 less
// the umask) and the named semaphores Boost's default (0644, so only their creator can
// take them). Processes of different users therefore cannot share a store directory
// safely; give each user a directory of its own.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <boost/interprocess/mapped_region.hpp>

#include "KOVACommon.h"
#include "KOVAMappableFile.h"
#include "KOVAMessage.h"
#include "KOVAMutex.h"
#include "KOVANamedLock.h"

namespace KOVA {

// Hands one stored batch back: resource id, batch, produce properties. True when the
// batch was produced again; false keeps it pending for the next Read.
typedef std::function<bool(const std::string&, const KOVAMsg::KOVABatchMessage&, const KOVA::COMMON::KOVAProperties&)>
    readCacheCb;

class KOVAStoreFile {
public:
    // Checks or creates storeDir; opens no file. A maxSize below 20 MiB counts as
    // 20 MiB; maxNum is kept for the log only. Throws std::runtime_error when the
    // directory is empty, cannot be created or is not a directory.
    KOVAStoreFile(const std::string& storeDir, const std::string& preffix, const std::string& filematch,
                  bool asyncFlush, int maxSize, int maxNum);

    // How long a claim holds without a read; as long, a file in the making and
    // an idle write file are left alone. Stores built afterwards take the
    // period in force (kMaxIdleSeconds unless set; tests shorten it).
    static constexpr int kMaxIdleSeconds = 60;
    static void setMaxIdleSeconds(int seconds);
    ~KOVAStoreFile();
    KOVAStoreFile(const KOVAStoreFile&) = delete;
    KOVAStoreFile& operator=(const KOVAStoreFile&) = delete;

    // Appends one record (rid, properties, batch). True when the record is in the file
    // (in synchronous flush mode: on disk, header included). An empty batch writes
    // nothing and returns true.
    bool Store(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
               const KOVA::COMMON::KOVAProperties& properties) EXCLUDES(_writeMutex);

    // Hands at most one stored batch to readCb. Returns the number of messages handed
    // back and accepted (> 0); 0 when there was nothing to hand back (no file could be
    // claimed, nothing unread, a dirty file was moved aside); -1 when the callback
    // refused the batch (it stays pending and is offered first next time) or a record
    // could not be read. `interval` is not used.
    int Read(const readCacheCb& readCb, int interval) EXCLUDES(_readMutex, _writeMutex);

private:
    // --- construction and directory (KOVAStoreFile.cpp) ---
    bool checkAndCreate(const std::string& storeDir);
    int getSeqNumber();

    // --- write side (KOVAStoreFileWrite.cpp); all with _writeMutex held ---
    enum class Creation {
        Made,
        NameTaken,
        Failed
    };
    bool appendRecord(const std::string& rid, const std::string& record, int nums) REQUIRES(_writeMutex);
    bool writeRecord(const std::string& rid, const std::string& record, int nums) REQUIRES(_writeMutex);
    // The new file, open, in `file` when Made.
    Creation createFile(const std::string& name, const std::string& path, KOVAMappableFile& file) REQUIRES(_writeMutex);
    bool mapNewFile() REQUIRES(_writeMutex);
    bool mapNewRegion() REQUIRES(_writeMutex);
    bool isEnoughBlock() const REQUIRES(_writeMutex);
    void initWriteMeta() REQUIRES(_writeMutex);
    bool writeData(const char* data, size_t len, int nums) REQUIRES(_writeMutex);
    void dropWriteFile() REQUIRES(_writeMutex);

    // --- read side (KOVAStoreFileRead.cpp); all with _readMutex held, and those that
    // look at the write file or remove a file take _writeMutex inside ---
    // What reading at the claimed file's readOffset found.
    enum class Found {
        Record,       // a batch, now pending
        EmptyRecord,  // a record without messages, pending (a peer's)
        Nothing,      // no unread record
        Damaged,      // a record no reader can decode, in a file nobody writes: dirty
        Error         // nothing to hand back now (a record in a file still written, of a newer
                      // peer, or a file that cannot be mapped): the claim is released
    };
    int handBackNext(const readCacheCb& readCb) REQUIRES(_readMutex) EXCLUDES(_writeMutex);
    Found readOneRecord() REQUIRES(_readMutex) EXCLUDES(_writeMutex);
    bool renewClaim() REQUIRES(_readMutex);
    bool claimStillOurs() const REQUIRES(_readMutex);
    int acceptPending() REQUIRES(_readMutex);
    bool loadOneStoreFile(const std::string& storeDir) REQUIRES(_readMutex);
    bool claimOneFile(const std::string& path, const std::string& name) REQUIRES(_readMutex);
    void loadReadMeta() REQUIRES(_readMutex);
    bool ensureReadMapping() REQUIRES(_readMutex);
    int readData(std::string& rid, KOVAMsg::KOVABatchMessage& datas, KOVA::COMMON::KOVAProperties& props)
        REQUIRES(_readMutex) EXCLUDES(_writeMutex);
    bool isIdle() const REQUIRES(_readMutex);
    bool isCurrentWriteFile(const std::string& path) EXCLUDES(_writeMutex);
    void moveDirtyFile() REQUIRES(_readMutex) EXCLUDES(_writeMutex);
    bool canReadData() const REQUIRES(_readMutex);
    bool canDelete() const REQUIRES(_readMutex);
    void clearFile() REQUIRES(_readMutex) EXCLUDES(_writeMutex);
    void releaseClaim() REQUIRES(_readMutex);

    // Set by the constructor, read-only afterwards: read under either mutex or none.
    int _pid;
    std::string _storeDir;
    std::string _preffix;
    std::string _filematch;
    int _maxFileSize;
    int _maxFileNums;
    const int _maxIdleTime;
    bool _asyncFlush;

    // Write side. The header fields point into the write file's shared header, which
    // peers read; this process changes them only under _writeMutex.
    Mutex _writeMutex;
    std::vector<std::string> _storeFiles GUARDED_BY(_writeMutex);
    std::string _curWriteFile GUARDED_BY(_writeMutex);
    // The write file as created: its name is only used to test that it still leads there.
    KOVAMappableFile _mapWFile GUARDED_BY(_writeMutex);
    boost::interprocess::mapped_region _mapWRegion GUARDED_BY(_writeMutex);
    boost::interprocess::mapped_region _wheaderRegion GUARDED_BY(_writeMutex);
    int* _writeOffset GUARDED_BY(_writeMutex) = nullptr;
    int* _writeNums GUARDED_BY(_writeMutex) = nullptr;
    uint32_t* _writeTime GUARDED_BY(_writeMutex) = nullptr;
    int* _totalLen GUARDED_BY(_writeMutex) = nullptr;
    int _blockWOffset GUARDED_BY(_writeMutex) = 0;
    char* _wAddr GUARDED_BY(_writeMutex) = nullptr;
    // The write file's named semaphore, kept open where it stands in for the file lock;
    // it goes with the file in _mapWFile.
    KOVANamedLock::Handle _writeFileSemaphore GUARDED_BY(_writeMutex);

    // Read side. Taken before _writeMutex when both are held.
    Mutex _readMutex ACQUIRED_BEFORE(_writeMutex);
    // Files already removed or not store files: not walked again.
    std::set<std::string> _readFiles GUARDED_BY(_readMutex);
    std::string _curReadFile GUARDED_BY(_readMutex);
    // The claimed file, mapped read-only as a whole (opened lazily): records are
    // decoded from these bytes, which always show what writers have appended.
    boost::interprocess::mapped_region _readRegion GUARDED_BY(_readMutex);
    boost::interprocess::mapped_region _rheaderRegion GUARDED_BY(_readMutex);
    int* _readWOffset GUARDED_BY(_readMutex) = nullptr;
    int* _readWNums GUARDED_BY(_readMutex) = nullptr;
    uint32_t* _readWTime GUARDED_BY(_readMutex) = nullptr;
    uint32_t* _readTime GUARDED_BY(_readMutex) = nullptr;
    int* _readOffset GUARDED_BY(_readMutex) = nullptr;
    int* _readNums GUARDED_BY(_readMutex) = nullptr;
    int* _totalRLen GUARDED_BY(_readMutex) = nullptr;
    int32_t* _readOwner GUARDED_BY(_readMutex) = nullptr;
    // The claimed file's named semaphore, kept open while the claim lasts.
    KOVANamedLock::Handle _readFileLock GUARDED_BY(_readMutex);
    // The last read time this object wrote: a different value means another claim.
    uint32_t _claimTime GUARDED_BY(_readMutex) = 0;

    // The pending record: decoded, handed to the callback, not yet accepted.
    std::string _failRid GUARDED_BY(_readMutex);
    KOVAMsg::KOVABatchMessage _failDatas GUARDED_BY(_readMutex);
    KOVA::COMMON::KOVAProperties _failProps GUARDED_BY(_readMutex);
    int _failLen GUARDED_BY(_readMutex) = 0;
    int _failOffset GUARDED_BY(_readMutex) = 0;

    static std::atomic<int> _seqNumber;
    // The write-window size (64-bit, so that offset sums near 2 GiB cannot overflow)
    // and the size of every file's header.
    static constexpr int64_t _minBlock = 10485760;
    static constexpr size_t _headerLen = 40;
    // A record may fill a window but its last byte.
    static constexpr int64_t _maxRecordLen = _minBlock - 1;
};

}  // namespace KOVA
