// Construction, directory check and destruction of the fail-store.
#include "KOVAStoreFile.h"

#include <unistd.h>

#include <stdexcept>

#include <boost/filesystem.hpp>

#include "KOVALog.h"
#include "KOVANamedLock.h"

namespace KOVA {

namespace {
// Smallest file size: room for the header and two write windows.
constexpr int kMinFileSize = 20971520;
}  // namespace

std::atomic<int> KOVAStoreFile::_seqNumber{0};

namespace {

std::atomic<int> g_maxIdleSeconds{KOVAStoreFile::kMaxIdleSeconds};

}  // namespace

void KOVAStoreFile::setMaxIdleSeconds(int seconds) { g_maxIdleSeconds = seconds; }

KOVAStoreFile::KOVAStoreFile(const std::string& storeDir, const std::string& preffix, const std::string& filematch,
                             bool asyncFlush, int maxSize, int maxNum)
    : _pid(static_cast<int>(::getpid())),
      _storeDir(storeDir),
      _preffix(preffix),
      _filematch(filematch),
      _maxFileSize(maxSize),
      _maxFileNums(maxNum),
      _maxIdleTime(g_maxIdleSeconds.load()),
      _asyncFlush(asyncFlush) {
    if (storeDir.empty()) {
        LOG_FATAL("Invalid store directory!");
        throw std::runtime_error("Store dir is invalid!");
    }
    if (!checkAndCreate(storeDir)) {
        LOG_FATAL("Check the directory `%s' failed!", storeDir.c_str());
        throw std::runtime_error("Store dir `" + storeDir + "' is invalid!");
    }
    if (_storeDir.back() != '/') _storeDir += "/";
    if (_maxFileSize < kMinFileSize) _maxFileSize = kMinFileSize;
    LOG_INFO("Check store dir: `%s' ok, filematch: `%s', preffix: `%s', maxSize: `%d', maxNum: `%d'", storeDir.c_str(),
             filematch.c_str(), preffix.c_str(), maxSize, maxNum);
}

KOVAStoreFile::~KOVAStoreFile() {
    // Unmapping alone loses nothing that the kernel holds, but a power cut after exit
    // would: push everything out once more.
    // No mutex: no other thread can call an object that is being destroyed.
    if (_wheaderRegion.get_size() != 0 && !_wheaderRegion.flush(0, 0, false))
        LOG_FATAL("Flush the header of `%s' failed at exit.", _curWriteFile.c_str());
    if (_mapWRegion.get_size() != 0 && !_mapWRegion.flush(0, 0, false))
        LOG_FATAL("Flush the window of `%s' failed at exit.", _curWriteFile.c_str());
    if (_rheaderRegion.get_size() != 0 && !_rheaderRegion.flush(0, 0, false))
        LOG_FATAL("Flush the header of `%s' failed at exit.", _curReadFile.c_str());
}

bool KOVAStoreFile::checkAndCreate(const std::string& storeDir) {
    namespace fs = boost::filesystem;
    try {
        boost::system::error_code ec;
        if (!fs::exists(storeDir, ec)) {
            // The lock only keeps processes from racing to create the same tree;
            // create_directories copes with a race, so a busy lock is not fatal.
            KOVANamedLock lock(KOVANamedLock::kDirectoryLock);
            if (!fs::exists(storeDir, ec) && !fs::create_directories(storeDir, ec) && !fs::exists(storeDir, ec)) {
                LOG_FATAL("Create directory `%s' failed.", storeDir.c_str());
                return false;
            }
        }
        if (!fs::is_directory(storeDir, ec)) {
            LOG_FATAL("The path `%s' is not an directory!", storeDir.c_str());
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        LOG_FATAL("check the dir `%s' exception: %s", storeDir.c_str(), e.what());
        return false;
    }
}

int KOVAStoreFile::getSeqNumber() { return _seqNumber.fetch_add(1, std::memory_order_relaxed) & 0x7FFFFFFF; }

}  // namespace KOVA
