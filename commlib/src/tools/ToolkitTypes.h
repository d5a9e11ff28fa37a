// For callers of the server toolkit (kova_toolkit).
// Fixed-width integer names shared by the server toolkit's routines and packet codecs.
// ULong is 32 bits on every platform (the wire width), not the platform's unsigned long.
#pragma once

#include <cstdint>

typedef uint8_t UChar;
typedef uint16_t UShort;
typedef uint32_t UInt;
typedef uint32_t ULong;
typedef int32_t Long;
typedef uint64_t ULong64;
