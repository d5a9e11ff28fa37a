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
// first (acquire), so a counted record is always complete in its view. readOffset only
// moves on from the start of the record handed back (compare-and-swap), and readNums
// is raised after it.
//
// Thread-safety: free functions; the fields are single aligned 32-bit words.
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

// Sets the field to `desired` when it holds `expected`; false, changing nothing, when not.
template <typename T>
bool replace(T* field, T expected, T desired) {
    return __atomic_compare_exchange_n(field, &expected, desired, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE);
}

template <typename T>
void add(T* field, T amount) {
    __atomic_fetch_add(field, amount, __ATOMIC_ACQ_REL);
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
