// Internal (kova_store).
// The bytes of one fail-store record.
//
// A record is one complete Boost.Serialization binary archive (native x86-64 sizes,
// little-endian) holding, in order, the resource id (std::string), the produce
// properties (map of string to string) and the batch (vector of KOVAMsg::KOVAMessage,
// see KOVAMessageSerialization.h). Records follow each other without length prefix,
// so a record's length is known only by walking it.
//
// Archive header, 40 bytes:
//   u64 22, the 22 characters "serialization::archive", u16 library version,
//   u8 sizeof(int)=4, u8 sizeof(long)=8, u8 sizeof(float)=4, u8 sizeof(double)=8,
//   i32 1 (byte order).
// Peers built on older Boost refuse library versions above 17, so records are written
// with 17 (the header by hand, the body with no_header); 17 and 18 are both read.
//
// Body, as Boost lays it out for these types (library versions 8 to 18 alike):
//   string            u64 length, the bytes
//   class information u8 tracking (0), u32 class version (0); written once per type
//                     and archive, before the first object of that type: the map,
//                     the pair of two strings, the vector of messages, the message
//                     and the vector of strings (vectors of int, long and unsigned
//                     char carry none)
//   map, vector of messages, vector of strings
//                     [class information] u64 count, u32 item version (0), the items
//   pair              [class information] key string, value string
//   message           [class information] properties map, s_properties vector of
//                     strings, i_properties, l_properties, message bytes
//   vector of int, long or unsigned char
//                     u64 count, count * sizeof(item) bytes
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KOVACommon.h"
#include "KOVAMessage.h"

namespace KOVA {
namespace storerecord {

constexpr size_t kArchiveHeaderLen = 40;
// The library version written into every record header.
constexpr uint16_t kWrittenLibraryVersion = 17;

// Appends the record to `out` (cleared first).
void Encode(const std::string& rid, const KOVA::COMMON::KOVAProperties& properties,
            const KOVAMsg::KOVABatchMessage& datas, std::string& out);

enum class Check {
    Ok,           // a whole record of `length` bytes
    NoRecord,     // no archive header where a record should begin (zeros, foreign bytes)
    Unsupported,  // an archive header of a library version this build cannot read
    Damaged       // a header, but a length or count runs past the bytes available
};

struct Extent {
    Check check;
    size_t length;       // valid when check == Ok
    const char* reason;  // a short text for the log when check != Ok
};

// Walks the record that starts at `data` without allocating, checking every length
// and count against the `available` bytes.
Extent Measure(const char* data, size_t available);

// Decodes a record that Measure accepted with exactly `length` bytes. Throws
// std::exception (boost::archive::archive_exception among them) on failure.
void Decode(const char* data, size_t length, std::string& rid, KOVA::COMMON::KOVAProperties& properties,
            KOVAMsg::KOVABatchMessage& datas);

}  // namespace storerecord
}  // namespace KOVA
