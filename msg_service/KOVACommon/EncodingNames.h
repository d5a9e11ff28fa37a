// Internal (kova_model).
// The one mapping between body encoding types and "CONTENT_ENCODING" values, shared
// by the producing conversion and the consumed message. Stateless; any thread.
#pragma once

#include "KOVACommon.h"

#include <string>

namespace KOVA {

// The "CONTENT_ENCODING" value for an encoding type: "gzip" for 1 and 11, "lz4" for
// 2 and 12, "zstd" for 3 and 13; null for any other type (raw bodies carry none).
const std::string* ContentEncodingName(int etype);

// True for 1, 2 and 3: the client compresses the body itself. 11-13 are already
// encoded by the caller and travel unchanged.
bool IsClientCompressed(int etype);

// The encoding type a received "CONTENT_ENCODING" value names (exact and
// case-sensitive); false, with E_RAW, for a value this client cannot decode.
bool EncodingTypeFromName(const std::string& name, COMMON::IEncodingType& etype);

}  // namespace KOVA
