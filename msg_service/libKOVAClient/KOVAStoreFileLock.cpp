// Open-file-description locks on store files, and the named semaphore where the file
// system has none.
#include "KOVAStoreFileLock.h"

#include <errno.h>
#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "KOVALog.h"

namespace KOVA {
namespace {

// 0 when set, else the error.
int setLock(int fd, short type) {
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    int rc;
    do {
        rc = ::fcntl(fd, F_OFD_SETLK, &range);
    } while (rc != 0 && errno == EINTR);
    return rc == 0 ? 0 : errno;
}

bool isContention(int error) { return error == EAGAIN || error == EACCES; }

void reportUnsupported(int error) {
    static std::atomic<bool> reported{false};
    if (!reported.exchange(true))
        LOG_FATAL("Store files cannot be locked here (%s): their named semaphores guard them instead.",
                  std::strerror(error));
}

}  // namespace

constexpr std::chrono::milliseconds KOVAStoreFileLock::kDefaultWait;

KOVAStoreFileLock::KOVAStoreFileLock(int fd, const std::string& path, KOVANamedLock::Handle& semaphore,
                                     std::chrono::milliseconds wait)
    : _fd(fd) {
    // Holders keep it for one record write or one removal: poll briefly rather than
    // block without bound.
    const auto deadline = std::chrono::steady_clock::now() + wait;
    int error;
    while ((error = setLock(_fd, F_WRLCK)) != 0) {
        if (!isContention(error)) {
            reportUnsupported(error);
            const std::string baseName = path.substr(path.rfind('/') + 1);
            _fallback = std::make_unique<KOVANamedLock>(KOVANamedLock::ofFile(baseName), semaphore, wait);
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    _owned = true;
}

KOVAStoreFileLock::~KOVAStoreFileLock() {
    if (_owned) setLock(_fd, F_UNLCK);
}

}  // namespace KOVA
