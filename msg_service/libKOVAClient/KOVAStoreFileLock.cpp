// Open-file-description locks on store files.
#include "KOVAStoreFileLock.h"

#include <errno.h>
#include <fcntl.h>

#include <thread>

namespace KOVA {
namespace {

bool setLock(int fd, short type) {
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &range);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace

constexpr std::chrono::milliseconds KOVAStoreFileLock::kDefaultWait;

KOVAStoreFileLock::KOVAStoreFileLock(int fd, std::chrono::milliseconds wait) : _fd(fd) {
    // Holders keep it for one record write or one removal: poll briefly rather than
    // block without bound.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!(_owned = setLock(_fd, F_WRLCK))) {
        if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

KOVAStoreFileLock::~KOVAStoreFileLock() {
    if (_owned) setLock(_fd, F_UNLCK);
}

}  // namespace KOVA
