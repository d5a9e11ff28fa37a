// Test bodies of the codec tests, shared with bench/codecs (which compiles
// CodecTestSupport.cpp itself).
// Thread-safety: stateless free functions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace codec_test {

// Bytes that do not compress (fixed seed, so failures reproduce).
std::string RandomBody(size_t size, unsigned seed = 1);
// Text-like bytes that compress well but not trivially.
std::string CompressibleBody(size_t size, unsigned seed = 7);

// The sizes every codec must round-trip: empty, exactly one LZ4 input slice, one
// byte more, and a body spanning several LZ4 blocks.
const std::vector<size_t>& BoundarySizes();

}  // namespace codec_test
