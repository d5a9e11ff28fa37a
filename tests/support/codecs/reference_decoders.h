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

// Every gzip member of `body` in order, checked only where every gzip reader checks:
// the magic, the method, the header's fields, the deflate data (through zlib's raw
// inflate) and the CRC-32; reserved flag bits, the header checksum and ISIZE are not.
// False when a member breaks those, the body ends inside one, or anything but a
// member follows one.
bool LenientGunzip(const std::string& body, std::string& out);

}  // namespace kova::test::codecs
