// Internal (kova_store).
// KOVA::KOVAMappableFile: an open file descriptor that Boost's mapped_region accepts
// as the source of a mapping (it takes any object with get_mapping_handle()).
//
// The write side maps the descriptor it created its file with: opening the file again
// by name would follow whatever someone put under that name meanwhile, a link say.
//
// Thread-safety: none of its own; the owner serialises use.
// Ownership: owns the descriptor and closes it when it goes; mappings made from it
// stay valid after that. Not copied; moved by swap.
#pragma once

#include <unistd.h>

#include <utility>

#include <boost/interprocess/mapped_region.hpp>

namespace KOVA {

class KOVAMappableFile {
public:
    KOVAMappableFile() = default;
    explicit KOVAMappableFile(int fd) : _fd(fd) {}
    ~KOVAMappableFile() {
        if (_fd >= 0) ::close(_fd);
    }
    KOVAMappableFile(const KOVAMappableFile&) = delete;
    KOVAMappableFile& operator=(const KOVAMappableFile&) = delete;

    void swap(KOVAMappableFile& other) { std::swap(_fd, other._fd); }
    // -1 when empty.
    int fd() const { return _fd; }
    boost::interprocess::mapping_handle_t get_mapping_handle() const {
        boost::interprocess::mapping_handle_t handle;
        handle.handle = _fd;
        handle.is_xsi = false;
        return handle;
    }

private:
    int _fd = -1;
};

}  // namespace KOVA
