// A file-name prefix for fail-store files that no other test, benchmark or process
// uses, so that runs side by side never share files or semaphores. Where the client
// names its files, the same text serves as their file match (Fail.CacheMatch).
// Thread-safety: construction may run on any thread (the counter is atomic).
// Ownership: the semaphores of files whose names hold it are removed when it goes
// (the store keeps a file's semaphore after the file).
#pragma once

#include <string>

namespace kova::test::store {

class UniquePrefix {
public:
    explicit UniquePrefix(const std::string& tag);
    ~UniquePrefix();
    UniquePrefix(const UniquePrefix&) = delete;
    UniquePrefix& operator=(const UniquePrefix&) = delete;
    const std::string& str() const { return _prefix; }

private:
    std::string _prefix;
};

}  // namespace kova::test::store
