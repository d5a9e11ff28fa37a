// Internal (kova_store).
// The 40-byte header at the start of every fail-store file.
//
//   offset width  field        at creation    written by
//        0 int32  owner pid    creator's pid  creator; each claimer
//        4 int64  reserved     0              creator
//       12 uint32 last read    0              claimer and reader (0 = never claimed)
//       16 uint32 last write   creation time  creator; every record write
//       20 int32  totalLen     0              every record write (bytes of records)
//       24 int32  writeOffset  40             every record write (= 40 + totalLen)
//       28 int32  writeNums    0              every record write (messages written)
//       32 int32  readOffset   40             reader (next record to hand back)
//       36 int32  readNums     0              reader (messages handed back)
//
// Times are seconds since 1970, all fields in host byte order (little-endian on
// x86-64). Records start at offset 40 and follow each other without gaps
// (KOVAStoreRecord.h); the rest of the file stays zero. Every process maps the header
// shared and updates the fields in place. A writer copies a record before it raises
// writeOffset, totalLen and then writeNums (release stores); a reader loads writeNums
// first (acquire), so a counted record is always complete in its view. readOffset and
// readNums, which share one aligned 8-byte word, move together in one compare-and-swap,
// readOffset only on from the start of the record handed back: a reader killed at any
// instant leaves both moved or neither (an offset past a record the count lacks would
// read as a damaged file).
//
// Thread-safety: free functions; the fields are single aligned 32-bit words, and
// readOffset with readNums one aligned 64-bit word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace KOVA {
namespace storeheader {

constexpr size_t kOwnerPid = 0;
constexpr size_t kReserved = 4;
constexpr size_t kLastRead = 12;
constexpr size_t kLastWrite = 16;
constexpr size_t kTotalLen = 20;
constexpr size_t kWriteOffset = 24;
constexpr size_t kWriteNums = 28;
constexpr size_t kReadOffset = 32;
constexpr size_t kReadNums = 36;
constexpr size_t kLength = 40;

template <typename T>
T* field(void* header, size_t offset) {
    return reinterpret_cast<T*>(static_cast<char*>(header) + offset);
}

template <typename T>
T load(const T* field) {
    return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

template <typename T>
void store(T* field, T value) {
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
}

// Moves readOffset from `from` on by `length` and raises readNums by `messages`, both
// at once; false, changing nothing, when readOffset is no longer `from`. `header` is
// the mapped header (page-aligned, so the pair's word is aligned).
inline bool advanceRead(void* header, int32_t from, int32_t length, int32_t messages) {
    static_assert(kReadNums == kReadOffset + 4 && kReadOffset % 8 == 0, "one aligned 8-byte word");
    // The file is shared between processes: a lock inside the compiler's
    // runtime would guard this process's accesses only.
    static_assert(__atomic_always_lock_free(sizeof(int64_t), nullptr), "the read pair's word must be lock-free");
    int64_t* pair = field<int64_t>(header, kReadOffset);
    int64_t seen = load(pair);
    for (;;) {
        uint32_t halves[2];  // readOffset, readNums: as they lie in the file
        std::memcpy(halves, &seen, sizeof(seen));
        if (static_cast<int32_t>(halves[0]) != from) return false;
        halves[0] += static_cast<uint32_t>(length);
        halves[1] += static_cast<uint32_t>(messages);
        int64_t moved;
        std::memcpy(&moved, halves, sizeof(moved));
        if (__atomic_compare_exchange_n(pair, &seen, moved, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return true;
    }
}

// The header of a new file, in `out`.
inline void initial(char (&out)[kLength], int32_t ownerPid, uint32_t now) {
    std::memset(out, 0, kLength);
    const int32_t firstRecord = static_cast<int32_t>(kLength);
    std::memcpy(out + kOwnerPid, &ownerPid, 4);
    std::memcpy(out + kLastWrite, &now, 4);
    std::memcpy(out + kWriteOffset, &firstRecord, 4);
    std::memcpy(out + kReadOffset, &firstRecord, 4);
}

}  // namespace storeheader
}  // namespace KOVA
