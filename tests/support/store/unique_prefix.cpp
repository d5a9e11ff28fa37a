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
        const std::string name = entry.path().filename().string();
        if (name.rfind("sem.", 0) == 0 && name.find(_prefix) != std::string::npos)
            std::filesystem::remove(entry.path(), ec);
    }
}

}  // namespace kova::test::store
