// The write side of the fail-store: file creation, 10 MiB write windows and Store.
//
// A store file is exactly _maxFileSize bytes from its creation: the 40-byte header
// (KOVAStoreHeader.h), then records (KOVAStoreRecord.h), then zeros. Records are
// copied into a shared mapping of one write window of 10 MiB at a time; windows
// follow each other without gaps, each starting at the writeOffset of its time. No
// record is longer than one window less a byte (10485759 bytes); readers refuse a
// longer one as damaged.
//
// Headers a reader leaves alone (it neither claims, reads, moves nor removes the file):
// one whose writeOffset is below 40 or whose last write time is 0, unless the file
// was last modified 60 s ago or more. A peer may release the name's lock before it
// writes the header, so such a file may be in the making; this writer writes the
// header before it releases the lock. Entries that are not regular files (links
// included) are left alone too.
//
// The writer keeps the descriptor it created its file with and maps that; the name
// only tells it whether the file is still in the directory. Whoever can write the
// directory can put another entry, a link say, in the file's place: then the name no
// longer leads to the file, and the record goes into a new file, never through the
// link.
//
// Before a window is mapped its blocks are reserved (posix_fallocate): a write into an
// unreserved hole of a mapping on a full file system raises SIGBUS, a failed
// reservation only makes Store return false.
//
// Flushes: in asynchronous mode a record's pages are scheduled and Store returns. In
// synchronous mode the record's pages are written and waited for, then the counters
// are raised and the header page is written and waited for, so that an acknowledged
// record survives a power cut and the header never counts a record the disk lacks.
#include "KOVAStoreFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "KOVALog.h"
#include "KOVANamedLock.h"
#include "KOVAStoreFileLock.h"
#include "KOVAStoreHeader.h"
#include "KOVAStoreRecord.h"

namespace KOVA {

namespace {

namespace bip = boost::interprocess;

// Names already taken (a file left with the same pid, second and number) are skipped.
constexpr int kNameAttempts = 16;

uint32_t nowSeconds() { return static_cast<uint32_t>(::time(nullptr)); }

// True when the entry `path` itself (a link is not followed) is the file open as `fd`.
bool namesFile(const std::string& path, int fd) {
    struct stat entry, opened;
    return ::lstat(path.c_str(), &entry) == 0 && ::fstat(fd, &opened) == 0 && entry.st_dev == opened.st_dev &&
           entry.st_ino == opened.st_ino;
}

bool writeAll(int fd, const char* data, size_t len, off_t offset) {
    while (len > 0) {
        const ssize_t n = ::pwrite(fd, data, len, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        len -= static_cast<size_t>(n);
        offset += n;
    }
    return true;
}

// msync of the pages holding [offset, offset + len) of a region. (mapped_region::flush
// misplaces ranges that do not start on a page boundary.)
bool flushRange(const bip::mapped_region& region, size_t offset, size_t len, bool async) {
    static const uintptr_t pageMask = ~(static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE)) - 1);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(region.get_address()) + offset;
    const uintptr_t pageBegin = begin & pageMask;
    return ::msync(reinterpret_cast<void*>(pageBegin), begin + len - pageBegin, async ? MS_ASYNC : MS_SYNC) == 0;
}

// Makes the new file's directory entry durable (synchronous mode only).
bool syncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

bool KOVAStoreFile::Store(const std::string& rid, const KOVAMsg::KOVABatchMessage& datas,
                          const KOVA::COMMON::KOVAProperties& properties) {
    const int nums = static_cast<int>(datas.size());
    if (nums == 0) {
        // An empty record would hand nothing back; readers step over those of peers.
        LOG_DEBUG("Store rid `%s' with an empty batch: nothing to keep.", rid.c_str());
        return true;
    }
    std::string record;
    try {
        storerecord::Encode(rid, properties, datas, record);
    } catch (const std::exception& e) {
        MutexLock guard(_writeMutex);
        LOG_FATAL("Store the kova failed data failed, file: `%s', exception:%s", _curWriteFile.c_str(), e.what());
        return false;
    }
    if (static_cast<int64_t>(record.size()) > _maxRecordLen) {
        LOG_FATAL("Store rid: `%s' data count: %d refused: the record of %zu bytes exceeds a write window of %d bytes.",
                  rid.c_str(), nums, record.size(), static_cast<int>(_maxRecordLen));
        return false;
    }
    MutexLock guard(_writeMutex);
    return appendRecord(rid, record, nums);
}

bool KOVAStoreFile::appendRecord(const std::string& rid, const std::string& record, int nums) {
    const int64_t len = static_cast<int64_t>(record.size());
    // A new file gets its first record through the same lock and existence test as
    // every later one: a writer stalled between creating the file and writing (a
    // paused machine, a slow reservation) leaves a file that looks idle and empty, and
    // a reader may remove it meanwhile. Then one more file is made; a second loss in
    // one call is reported as a failure.
    for (int made = 0;;) {
        if (_curWriteFile.empty()) {
            if (made == 2) {
                LOG_FATAL("Store rid: `%s' data count: %d failed, its new files were removed before its record.",
                          rid.c_str(), nums);
                return false;
            }
            ++made;
            // The directory may have gone together with the file.
            if (!checkAndCreate(_storeDir)) return false;
            if (!mapNewFile()) {
                LOG_FATAL("Store rid: `%s' data count: %d failed, map the file `%s' failed!", rid.c_str(), nums,
                          _curWriteFile.c_str());
                return false;
            }
        }
        bool switchFailed = false;
        {
            // Held from the existence test to the end of the write: a reader deletes or
            // moves an idle file only under this lock, so the record cannot go into a
            // file that is no longer in the directory. Released before the file is
            // dropped, which closes the descriptor it is taken on.
            KOVAStoreFileLock fileLock(_mapWFile.fd(), _curWriteFile, _writeFileSemaphore);
            if (!fileLock.owned()) {
                LOG_WARN("Leave the store file `%s': its lock is busy.", _curWriteFile.c_str());
            } else if (namesFile(_curWriteFile, _mapWFile.fd())) {
                bool fits = len + _blockWOffset <= _maxRecordLen;
                if (!fits) {
                    if (!_mapWRegion.flush(0, 0, false) || !_wheaderRegion.flush(0, 0, false))
                        LOG_FATAL("Flush the full window of `%s' failed.", _curWriteFile.c_str());
                    if (isEnoughBlock()) {
                        fits = mapNewRegion();
                        switchFailed = !fits;
                    }
                }
                if (fits) return writeRecord(rid, record, nums);
            }
        }
        if (switchFailed) {
            LOG_FATAL("Store rid: `%s' data count: %d failed, map the file `%s' failed!", rid.c_str(), nums,
                      _curWriteFile.c_str());
            dropWriteFile();
            return false;
        }
        dropWriteFile();
    }
}

bool KOVAStoreFile::writeRecord(const std::string& rid, const std::string& record, int nums) {
    const int64_t len = static_cast<int64_t>(record.size());
    if (!writeData(record.data(), record.size(), nums)) return false;
    if (storeheader::load(_writeOffset) + len >= _maxFileSize) {
        LOG_WARN("[Notice] Store full file: `%s' and size: `%d' ", _curWriteFile.c_str(),
                 storeheader::load(_writeOffset));
        // Only forgotten: its mappings stay until the next file replaces them, so the
        // destructor's flushes still cover its last records.
        _curWriteFile.clear();
    }
    LOG_DEBUG("Store rid `%s' data success, count: `%d' store size: `%d'", rid.c_str(), nums, static_cast<int>(len));
    return true;
}

KOVAStoreFile::Creation KOVAStoreFile::createFile(const std::string& name, const std::string& path,
                                                  KOVAMappableFile& file) {
    int fd = -1;
    {
        // Held until the file is complete: a reader that finds the name waits here
        // and then sees the whole header and the full size.
        KOVANamedLock lock(KOVANamedLock::ofFile(name));
        if (!lock.owned()) return Creation::NameTaken;
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) return Creation::NameTaken;
            LOG_FATAL("Create new file `%s' failed, get exception: %s", path.c_str(), std::strerror(errno));
            return Creation::Failed;
        }
        static_assert(_headerLen == storeheader::kLength, "one header layout");
        char header[_headerLen];
        storeheader::initial(header, _pid, nowSeconds());
        const char zero = 0;
        if (!writeAll(fd, header, sizeof(header), 0) || !writeAll(fd, &zero, 1, _maxFileSize - 1)) {
            LOG_FATAL("Create new file `%s' failed, get exception: %s", path.c_str(), std::strerror(errno));
            ::unlink(path.c_str());
            ::close(fd);
            return Creation::Failed;
        }
    }
    // Synchronous mode: the file and its name survive a power cut before any record
    // in it is acknowledged. (Outside the lock: it may take a while.)
    if (!_asyncFlush && (::fsync(fd) != 0 || !syncDirectory(_storeDir))) {
        LOG_FATAL("Create new file `%s' failed, get exception: %s", path.c_str(), std::strerror(errno));
        ::unlink(path.c_str());
        ::close(fd);
        return Creation::Failed;
    }
    KOVAMappableFile(fd).swap(file);
    return Creation::Made;
}

bool KOVAStoreFile::mapNewFile() {
    std::string path;
    KOVAMappableFile file;
    Creation creation = Creation::NameTaken;
    for (int attempt = 0; attempt < kNameAttempts && creation == Creation::NameTaken; ++attempt) {
        std::string name = _preffix + ".";
        if (!_filematch.empty()) name += _filematch + ".";
        name += std::to_string(::getpid()) + "." + std::to_string(nowSeconds()) + "." + std::to_string(getSeqNumber());
        path = _storeDir + name;
        _curWriteFile = path;
        creation = createFile(name, path, file);
    }
    if (creation != Creation::Made) {
        _curWriteFile.clear();
        return false;
    }
    try {
        bip::mapped_region header(file, bip::read_write, 0, _headerLen);
        _mapWFile.swap(file);
        _writeFileSemaphore.reset();  // the previous file's, if it was only forgotten
        _wheaderRegion.swap(header);
        initWriteMeta();
        if (!mapNewRegion()) throw std::runtime_error("the first write window cannot be mapped");
    } catch (const std::exception& e) {
        LOG_FATAL("Create new file `%s' failed, get exception: %s", path.c_str(), e.what());
        dropWriteFile();
        ::unlink(path.c_str());  // it holds no record
        return false;
    }
    _storeFiles.push_back(path);
    LOG_DEBUG("Map new file `%s' success, max size: %d", path.c_str(), _maxFileSize);
    return true;
}

void KOVAStoreFile::initWriteMeta() {
    // createFile wrote the creation values; only the fields are located here.
    void* header = _wheaderRegion.get_address();
    _writeTime = storeheader::field<uint32_t>(header, storeheader::kLastWrite);
    _totalLen = storeheader::field<int>(header, storeheader::kTotalLen);
    _writeOffset = storeheader::field<int>(header, storeheader::kWriteOffset);
    _writeNums = storeheader::field<int>(header, storeheader::kWriteNums);
    _wheaderRegion.flush(0, 0, true);
}

bool KOVAStoreFile::mapNewRegion() {
    const int64_t offset = storeheader::load(_writeOffset);
    try {
        if (offset + _minBlock > _maxFileSize) throw std::runtime_error("the window passes the end of the file");
        const int rc = ::posix_fallocate(_mapWFile.fd(), offset, _minBlock);
        if (rc != 0) throw std::runtime_error(std::string("reserving the window failed: ") + std::strerror(rc));
        bip::mapped_region window(_mapWFile, bip::read_write, offset, _minBlock);
        _mapWRegion.swap(window);
    } catch (const std::exception& e) {
        LOG_FATAL("Map new region failed, file: `%s', size: `%d'", _curWriteFile.c_str(), static_cast<int>(offset));
        LOG_FATAL("Map new region of `%s': %s", _curWriteFile.c_str(), e.what());
        return false;
    }
    _wAddr = static_cast<char*>(_mapWRegion.get_address());
    _blockWOffset = 0;
    return true;
}

bool KOVAStoreFile::isEnoughBlock() const {
    return static_cast<int64_t>(storeheader::load(_writeOffset)) + _minBlock <= _maxFileSize;
}

bool KOVAStoreFile::writeData(const char* data, size_t len, int nums) {
    const int ilen = static_cast<int>(len);
    storeheader::store(_writeTime, nowSeconds());
    std::memcpy(_wAddr, data, len);
    // Synchronous mode: the record reaches the disk before the header counts it. A
    // record that did not is not counted; the next one overwrites it.
    if (!_asyncFlush && !flushRange(_mapWRegion, static_cast<size_t>(_blockWOffset), len, false)) {
        LOG_FATAL("Write data failed, data len:%d, nums:%d", ilen, nums);
        return false;
    }
    _wAddr += len;
    _blockWOffset += ilen;
    storeheader::store(_writeOffset, storeheader::load(_writeOffset) + ilen);
    storeheader::store(_totalLen, storeheader::load(_totalLen) + ilen);
    storeheader::store(_writeNums, storeheader::load(_writeNums) + nums);
    const bool flushed = _asyncFlush ? flushRange(_mapWRegion, static_cast<size_t>(_blockWOffset - ilen), len, true)
                                     : flushRange(_wheaderRegion, 0, _headerLen, false);
    if (!flushed) {
        LOG_FATAL("Write data failed, data len:%d, nums:%d", ilen, nums);
        return false;
    }
    return true;
}

void KOVAStoreFile::dropWriteFile() {
    _curWriteFile.clear();
    bip::mapped_region().swap(_mapWRegion);
    bip::mapped_region().swap(_wheaderRegion);
    KOVAMappableFile().swap(_mapWFile);
    _writeFileSemaphore.reset();
    _writeOffset = _writeNums = _totalLen = nullptr;
    _writeTime = nullptr;
    _wAddr = nullptr;
    _blockWOffset = 0;
}

}  // namespace KOVA
