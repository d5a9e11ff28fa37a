// Bodies decoded by the libraries' own decoders, the references our codecs must match.
// Thread-safety: stateless free functions.
#pragma once

#include <string>

namespace kova::test::codecs {

// Every frame of `body` in order through LZ4F_decompress (skippable frames passed
// over). False when the library refuses a frame or the body ends inside one.
bool Lz4FrameApiDecode(const std::string& body, std::string& out);

// Every gzip member of `body` in order through zlib's inflate. False, with zlib's
// message in `refusal`, when zlib refuses a member or the body ends inside one.
bool ZlibGunzip(const std::string& body, std::string& out, std::string& refusal);

}  // namespace kova::test::codecs
