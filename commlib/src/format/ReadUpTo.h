// Internal (kova_toolkit).
// Reading a whole record from a file descriptor: the code table's loader and the
// table's transcoder both need a read that survives signals and short reads.
// Thread-safety: stateless; the caller owns the descriptor.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>

// Reads until `size` bytes or the end of the file; the count read, -1 on a read error.
inline ssize_t readUpTo(int fd, char* into, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, into + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}
