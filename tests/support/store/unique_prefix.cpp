#include "unique_prefix.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

namespace kova::test::store {

UniquePrefix::UniquePrefix(const std::string& tag) {
    static std::atomic<int> counter{0};
    // The closing "x" keeps one prefix from being the start of another.
    _prefix = "KovaT" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "x";
}

UniquePrefix::~UniquePrefix() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        if (entry.path().filename().string().rfind("sem." + _prefix, 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
}

}  // namespace kova::test::store
