// The read side of the fail-store: claiming a file between processes, handing its
// records back one at a time, moving dirty files aside and deleting finished ones.
//
// A claim lives in the file's header: the owner pid and the last read time. It holds
// while the last read time is under 60 s old; each Read renews it. Claims are taken,
// and counters advanced after the callback, under the file's named lock, so two
// readers never both advance the same file even when one of them was stalled for
// longer than a claim lasts. One stalled for as long as the lock's orphan period
// loses the lock as well; the offset then still only moves on from the record that
// reader handed back (compare-and-swap), never back.
//
// Records are decoded from a read-only shared mapping of the whole claimed file, at
// the header's readOffset: the bytes are those the writers copied, however recently.
#include "KOVAStoreFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <boost/archive/archive_exception.hpp>
#include <boost/filesystem.hpp>

#include "KOVALog.h"
#include "KOVANamedLock.h"
#include "KOVAStoreFileLock.h"
#include "KOVAStoreHeader.h"
#include "KOVAStoreRecord.h"

namespace KOVA {

namespace {

namespace bip = boost::interprocess;
namespace fs = boost::filesystem;
using storeheader::load;

uint32_t nowSeconds() { return static_cast<uint32_t>(::time(nullptr)); }

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool pathExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A store file opened without following a link: anyone who can write the store
// directory could otherwise make this process write its pid and time into any file
// it can write. Only a regular file is accepted; it can be mapped (boost's
// mapped_region takes any object that hands out a descriptor).
class NoFollowFile {
public:
    NoFollowFile(const std::string& path, bool writable)
        : _fd(::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)) {
        if (_fd < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
        if (::fstat(_fd, &_stat) != 0 || !S_ISREG(_stat.st_mode)) {
            ::close(_fd);
            throw std::runtime_error(path + " is not a regular file");
        }
    }
    ~NoFollowFile() { ::close(_fd); }
    NoFollowFile(const NoFollowFile&) = delete;
    NoFollowFile& operator=(const NoFollowFile&) = delete;

    int fd() const { return _fd; }
    size_t size() const { return static_cast<size_t>(_stat.st_size); }
    int64_t modifiedSecondsAgo() const { return static_cast<int64_t>(::time(nullptr)) - _stat.st_mtime; }
    bip::mapping_handle_t get_mapping_handle() const {
        bip::mapping_handle_t handle;
        handle.handle = _fd;
        handle.is_xsi = false;
        return handle;
    }

private:
    int _fd;
    struct stat _stat;
};

// A directory that only this user can change: a dirty file moved into a directory of
// another user could be read or replaced by that user.
bool isOwnPrivateDirectory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return true;
    LOG_WARN("The directory `%s' is not a private directory of this user, do not use it.", dir.c_str());
    return false;
}

bool isRealDirectory(const std::string& dir) {
    struct stat st;
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int KOVAStoreFile::Read(const readCacheCb& readCb, int /*interval*/) {
    MutexLock guard(_readMutex);
    if (_readTime != nullptr && !renewClaim()) releaseClaim();

    if (!_failDatas.empty()) {
        // The batch the callback refused last time comes first; nothing else runs.
        return readCb(_failRid, _failDatas, _failProps) ? acceptPending() : -1;
    }

    if (_curReadFile.empty() || !pathExists(_curReadFile)) {
        releaseClaim();
        if (!loadOneStoreFile(_storeDir)) return 0;
    }

    const int ret = handBackNext(readCb);
    if (_failDatas.empty()) clearFile();
    return ret;
}

int KOVAStoreFile::handBackNext(const readCacheCb& readCb) {
    for (;;) {
        switch (readOneRecord()) {
            case Found::Nothing: LOG_DEBUG("There is not data for to read in `%s'", _curReadFile.c_str()); return 0;
            case Found::EmptyRecord:
                // An empty record of a peer carries nothing to produce: step over it.
                if (acceptPending() < 0) return -1;
                continue;
            case Found::Damaged: moveDirtyFile(); return 0;
            case Found::Error: releaseClaim(); return -1;
            case Found::Record: break;
        }
        const int ret = readCb(_failRid, _failDatas, _failProps) ? acceptPending() : -1;
        if (ret > 0 && _readNums != nullptr && load(_readNums) == load(_readWNums)) {
            LOG_WARN("[NOTICE] Read the file `%s' temp over, total-nums:`%d', reProduce success-nums:`%d'",
                     _curReadFile.c_str(), load(_readWNums), load(_readNums));
        }
        return ret;
    }
}

KOVAStoreFile::Found KOVAStoreFile::readOneRecord() {
    if (!canReadData()) return Found::Nothing;
    // Mapped only for a record to read: a file that merely waits for its deletion
    // still gets it when the mapping fails.
    if (!ensureReadMapping()) return Found::Error;
    // Decoded into locals: a record that fails half-way never becomes pending.
    std::string rid;
    KOVAMsg::KOVABatchMessage datas;
    KOVA::COMMON::KOVAProperties props;
    const int offset = load(_readOffset);
    const int len = readData(rid, datas, props);
    if (len == 0) return Found::Damaged;
    if (len < 0) return Found::Error;
    _failRid.swap(rid);
    _failDatas.swap(datas);
    _failProps.swap(props);
    _failLen = len;
    _failOffset = offset;
    return _failDatas.empty() ? Found::EmptyRecord : Found::Record;
}

bool KOVAStoreFile::renewClaim() {
    if (!claimStillOurs()) {
        LOG_WARN("The file `%s' has been claimed by `proc-%d' meanwhile, leave it.", _curReadFile.c_str(),
                 load(_readOwner));
        return false;
    }
    _claimTime = nowSeconds();
    storeheader::store(_readTime, _claimTime);
    return true;
}

bool KOVAStoreFile::claimStillOurs() const {
    return _readTime != nullptr && load(_readOwner) == _pid && load(_readTime) == _claimTime;
}

int KOVAStoreFile::acceptPending() {
    const int nums = static_cast<int>(_failDatas.size());
    bool advanced = false;
    {
        // Under the file's lock nobody can claim the file between the test and the
        // update; without the claim another reader owns the offsets, and the batch
        // goes back to it (handed back once more rather than skipped). A reader that
        // stalls here for the orphan period loses the lock to a recoverer, which may
        // claim the file and read on: the offset therefore only moves on from where
        // this record starts, and the count with it in the same step, so that a late
        // update can neither rewind the offset nor count a batch twice, and a reader
        // killed here never leaves the one moved without the other.
        KOVANamedLock lock(KOVANamedLock::ofFile(baseName(_curReadFile)), _readFileLock);
        advanced = lock.owned() && claimStillOurs() &&
                   storeheader::advanceRead(_rheaderRegion.get_address(), _failOffset, _failLen, nums);
    }
    _failDatas.clear();
    _failProps.clear();
    _failRid.clear();
    _failLen = 0;
    if (!advanced) {
        LOG_WARN("The claim of `%s' lapsed while its batch was handed back; the next claimer reads it again.",
                 _curReadFile.c_str());
        releaseClaim();
        return -1;
    }
    return nums;
}

bool KOVAStoreFile::loadOneStoreFile(const std::string& storeDir) {
    try {
        for (fs::directory_iterator it(storeDir), end; it != end; ++it) {
            const std::string path = it->path().string();
            if (_readFiles.count(path) != 0) {
                LOG_DEBUG("The file `%s' has read over!", path.c_str());
                continue;
            }
            boost::system::error_code ec;
            // The entry itself, not what a link points to.
            if (!fs::is_regular_file(it->symlink_status(ec))) {
                LOG_WARN("The path `%s' is not an regular file, skip it.", path.c_str());
                _readFiles.insert(path);
                continue;
            }
            const boost::uintmax_t size = fs::file_size(it->path(), ec);
            if (ec || size <= _headerLen) {
                LOG_WARN("The path `%s' size is invalid, skip it.", path.c_str());
                continue;
            }
            const std::string name = it->path().filename().string();
            if (name.find(_preffix) == std::string::npos) {
                LOG_WARN("The path `%s' prefix not match:`%s', skip it.", path.c_str(), _preffix.c_str());
                continue;
            }
            if (claimOneFile(path, name)) return true;
        }
    } catch (const std::exception& e) {
        LOG_FATAL("Load left file get an exception `%s'", e.what());
    }
    return false;
}

bool KOVAStoreFile::claimOneFile(const std::string& path, const std::string& name) {
    try {
        KOVANamedLock::Handle semaphore;
        KOVANamedLock lock(KOVANamedLock::ofFile(name), semaphore);
        if (!lock.owned()) return false;  // maybe left locked by a dead process: next walk
        NoFollowFile file(path, true);
        bip::mapped_region header(file, bip::read_write, 0, _headerLen);
        uint32_t* lastRead = storeheader::field<uint32_t>(header.get_address(), storeheader::kLastRead);
        int32_t* owner = storeheader::field<int32_t>(header.get_address(), storeheader::kOwnerPid);
        const uint32_t now = nowSeconds();
        const uint32_t lastReadTime = load(lastRead);
        if (static_cast<int64_t>(static_cast<uint32_t>(lastReadTime + _maxIdleTime)) > static_cast<int64_t>(now)) {
            LOG_INFO("The File `%s' is processing by `proc-%d', last read time: `%u'", path.c_str(), load(owner),
                     lastReadTime);
            return false;
        }
        // A peer may release the name's lock before it writes the header: until then
        // its file is full size with only the pid set, and a claim or removal now would
        // be overwritten or make its next Store write into a removed file. Only a file
        // left that way for a long time is taken to be abandoned.
        const int32_t writeOffset = load(storeheader::field<int32_t>(header.get_address(), storeheader::kWriteOffset));
        const uint32_t lastWrite = load(storeheader::field<uint32_t>(header.get_address(), storeheader::kLastWrite));
        if ((writeOffset < static_cast<int32_t>(_headerLen) || lastWrite == 0) &&
            file.modifiedSecondsAgo() < _maxIdleTime) {
            LOG_INFO("The File `%s' is being made by `proc-%d', leave it for now.", path.c_str(), load(owner));
            return false;
        }
        storeheader::store(lastRead, now);
        storeheader::store(owner, static_cast<int32_t>(_pid));
        header.flush(0, 0, false);
        _claimTime = now;
        _curReadFile = path;
        _rheaderRegion.swap(header);
        _readFileLock = semaphore;
        loadReadMeta();
        return true;
    } catch (const std::exception& e) {
        LOG_WARN("Load left file get anexception `%s', try next!", e.what());
        return false;
    }
}

void KOVAStoreFile::loadReadMeta() {
    void* header = _rheaderRegion.get_address();
    _readOwner = storeheader::field<int32_t>(header, storeheader::kOwnerPid);
    _readTime = storeheader::field<uint32_t>(header, storeheader::kLastRead);
    _readWTime = storeheader::field<uint32_t>(header, storeheader::kLastWrite);
    _totalRLen = storeheader::field<int>(header, storeheader::kTotalLen);
    _readWOffset = storeheader::field<int>(header, storeheader::kWriteOffset);
    _readWNums = storeheader::field<int>(header, storeheader::kWriteNums);
    _readOffset = storeheader::field<int>(header, storeheader::kReadOffset);
    _readNums = storeheader::field<int>(header, storeheader::kReadNums);
    LOG_WARN(
        "Load one data file:`%s', totalLen:`%d', writeOffset:`%d', writeNums:`%d', readOffset:`%d', "
        "readNums:`%d', _lastUpdate:`%u', _lastRead: `%u'",
        _curReadFile.c_str(), load(_totalRLen), load(_readWOffset), load(_readWNums), load(_readOffset),
        load(_readNums), load(_readWTime), load(_readTime));
}

bool KOVAStoreFile::ensureReadMapping() {
    if (_readRegion.get_size() != 0) return true;
    try {
        NoFollowFile file(_curReadFile, false);
        bip::mapped_region whole(file, bip::read_only, 0, file.size());
        _readRegion.swap(whole);
        return true;
    } catch (const std::exception& e) {
        LOG_FATAL("Create the read file:`%s' exception: %s", _curReadFile.c_str(), e.what());
        return false;
    }
}

int KOVAStoreFile::readData(std::string& rid, KOVAMsg::KOVABatchMessage& datas, KOVA::COMMON::KOVAProperties& props) {
    const int writeNums = load(_readWNums);  // first: the records it counts are complete
    const int64_t start = load(_readOffset);
    const int64_t end = std::min<int64_t>(load(_readWOffset), static_cast<int64_t>(_readRegion.get_size()));
    const char* base = static_cast<const char*>(_readRegion.get_address());
    storerecord::Extent extent{storerecord::Check::Damaged, 0, "the read offset lies outside the records"};
    if (start >= static_cast<int64_t>(_headerLen) && start <= end) {
        // No writer makes a record longer than a window; decoding a longer one would
        // cost several times its size in memory.
        const int64_t limit = std::min(end - start, _maxRecordLen);
        extent = storerecord::Measure(base + start, static_cast<size_t>(limit));
        if (extent.check == storerecord::Check::Damaged && limit < end - start)
            extent.reason = "no record of at most one write window";
    }

    bool dirtyKind = true;
    if (extent.check == storerecord::Check::Ok) {
        try {
            storerecord::Decode(base + start, extent.length, rid, props, datas);
            LOG_DEBUG(
                "Load data success, rid:`%s', data-count:`%d', write-nums:`%d', read-nums:`%d', read-len:`%d', "
                "properties-count:`%d', from: `%s', totalOffset: `%d', readoffset: `%d'",
                rid.c_str(), static_cast<int>(datas.size()), writeNums, load(_readNums),
                static_cast<int>(extent.length), static_cast<int>(props.size()), _curReadFile.c_str(), load(_totalRLen),
                static_cast<int>(start));
            return static_cast<int>(extent.length);
        } catch (const boost::archive::archive_exception& e) {
            LOG_FATAL("For read data from file:`%s', Get an archive exception:`%s', totalNums:`%d', readNums:`%d'",
                      _curReadFile.c_str(), e.what(), writeNums, load(_readNums));
            dirtyKind = e.code == boost::archive::archive_exception::invalid_signature;
        } catch (const std::exception& e) {
            LOG_FATAL("For read data from file:`%s', Get an exception: %s, totalNums:`%d', readNums:`%d'",
                      _curReadFile.c_str(), e.what(), writeNums, load(_readNums));
        }
    } else if (extent.check == storerecord::Check::Damaged) {
        LOG_FATAL("For read data from file:`%s', Get an exception: %s, totalNums:`%d', readNums:`%d'",
                  _curReadFile.c_str(), extent.reason, writeNums, load(_readNums));
    } else {
        LOG_FATAL("For read data from file:`%s', Get an archive exception:`%s', totalNums:`%d', readNums:`%d'",
                  _curReadFile.c_str(), extent.reason, writeNums, load(_readNums));
        // A newer peer's record is kept for a reader that understands it.
        dirtyKind = extent.check == storerecord::Check::NoRecord;
    }
    rid.clear();
    datas.clear();
    props.clear();
    return dirtyKind && isIdle() && !isCurrentWriteFile(_curReadFile) ? 0 : -1;
}

bool KOVAStoreFile::isIdle() const {
    const int32_t idle = static_cast<int32_t>(nowSeconds() - load(_readWTime));
    return idle >= _maxIdleTime || idle < 0;
}

bool KOVAStoreFile::isCurrentWriteFile(const std::string& path) {
    MutexLock guard(_writeMutex);
    return path == _curWriteFile;
}

void KOVAStoreFile::moveDirtyFile() {
    if (!_rheaderRegion.flush(0, 0, false)) LOG_FATAL("Flush the header of `%s' failed.", _curReadFile.c_str());
    // Chosen before the file's lock is taken: the directory's lock never nests in it.
    std::string destination = _storeDir + "errKOVAData/";
    if (!checkAndCreate(destination) || !isRealDirectory(_storeDir + "errKOVAData"))
        destination = isOwnPrivateDirectory("/tmp/errKOVAData") ? "/tmp/errKOVAData/" : "/tmp/";
    const std::string target = destination + baseName(_curReadFile);
    try {
        MutexLock writeGuard(_writeMutex);
        NoFollowFile file(_curReadFile, true);
        KOVAStoreFileLock lock(file.fd(), _curReadFile, _readFileLock);
        if (!lock.owned()) {
            // tried again after the claim lapses
        } else if (_curReadFile == _curWriteFile || !isIdle()) {
            LOG_WARN("The dirty file `%s' has been written meanwhile, keep it.", _curReadFile.c_str());
        } else {
            fs::rename(_curReadFile, target);
            LOG_WARN("Store one dirty file:`%s' to `%s'", _curReadFile.c_str(), target.c_str());
        }
    } catch (const std::exception& e) {
        LOG_FATAL("Restore the err kova data file `%s' exception:%s", _curReadFile.c_str(), e.what());
    }
    releaseClaim();
}

bool KOVAStoreFile::canReadData() const { return load(_readNums) != load(_readWNums); }

bool KOVAStoreFile::canDelete() const {
    if (_curReadFile.empty() || _readNums == nullptr || load(_readNums) < load(_readWNums)) return false;
    return static_cast<int64_t>(nowSeconds()) - static_cast<int64_t>(load(_readWTime)) >= _maxIdleTime;
}

void KOVAStoreFile::clearFile() {
    if (!canDelete()) return;
    const std::string path = _curReadFile;
    LOG_WARN(
        "Begin Clear the file:`%s', total-offset:`%d', total-nums:`%d', reproduce-nums: `%d', "
        "last-write-time:`%u', last-read-time:`%u'",
        path.c_str(), load(_totalRLen), load(_readWNums), load(_readNums), load(_readWTime), load(_readTime));
    bip::mapped_region().swap(_readRegion);  // reopened lazily if the file stays
    try {
        MutexLock writeGuard(_writeMutex);
        if (_curReadFile == _curWriteFile) {
            if (!_wheaderRegion.flush(0, 0, false) || !_mapWRegion.flush(0, 0, false))
                LOG_FATAL("Flush the write file `%s' failed.", path.c_str());
        }
        // Our own write file is guarded by _writeMutex, every other by its writer's
        // file lock: a record cannot slip in between this test and the removal.
        NoFollowFile file(path, true);
        KOVAStoreFileLock lock(file.fd(), path, _readFileLock);
        if (!lock.owned()) return;  // still claimed; tried again by the next Read
        if (!canDelete()) {
            LOG_WARN(
                "Clear the file:`%s' failed, data updated! total-offset:`%d', total-nums:`%d', reproduce-nums: "
                "`%d', last-write-time:`%u', last-read-time:`%u'",
                path.c_str(), load(_totalRLen), load(_readWNums), load(_readNums), load(_readWTime), load(_readTime));
            return;
        }
        if (_curReadFile == _curWriteFile) dropWriteFile();  // the next Store starts a new file
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            throw std::runtime_error(std::string("unlink: ") + std::strerror(errno));
        _readFiles.insert(path);
        LOG_WARN(
            "Clear the file:`%s' success, total-offset:`%d', total-nums:`%d', reproduce-nums: `%d', "
            "last-write-time:`%u', last-read-time:`%u'",
            path.c_str(), load(_totalRLen), load(_readWNums), load(_readNums), load(_readWTime), load(_readTime));
    } catch (const std::exception& e) {
        LOG_FATAL("Clear the file:`%s' exception:%s", path.c_str(), e.what());
    }
    releaseClaim();
}

void KOVAStoreFile::releaseClaim() {
    _curReadFile.clear();
    bip::mapped_region().swap(_readRegion);
    bip::mapped_region().swap(_rheaderRegion);
    _readFileLock.reset();
    _readOwner = nullptr;
    _readTime = _readWTime = nullptr;
    _readOffset = _readNums = _readWOffset = _readWNums = _totalRLen = nullptr;
    _claimTime = 0;
    _failDatas.clear();
    _failProps.clear();
    _failRid.clear();
    _failLen = 0;
}

}  // namespace KOVA
