// Construction, directory check and destruction of the fail-store.
#include "KOVAStoreFile.h"

namespace KOVA {

std::atomic<int> KOVAStoreFile::_seqNumber{0};

KOVAStoreFile::KOVAStoreFile(const std::string& storeDir, const std::string& preffix,
                             const std::string& filematch, bool asyncFlush, int maxSize, int maxNum)
    : _pid(0), _storeDir(storeDir), _preffix(preffix), _filematch(filematch), _maxFileSize(maxSize),
      _maxFileNums(maxNum), _maxIdleTime(60), _asyncFlush(asyncFlush) {}

KOVAStoreFile::~KOVAStoreFile() {}

bool KOVAStoreFile::Store(const std::string&, const KOVAMsg::KOVABatchMessage&, const KOVA::COMMON::KOVAProperties&) {
    return false;
}

int KOVAStoreFile::Read(const readCacheCb&, int) { return 0; }

}  // namespace KOVA
