// Bodies for the codec tests and benchmarks: incompressible and text-like bytes from
// a fixed seed, and the sizes that cross the codecs' block boundaries.
// Thread-safety: stateless free functions.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kova::test::codecs {

// Bytes that do not compress (fixed seed, so failures reproduce).
std::string RandomBody(size_t size, unsigned seed = 1);
// Text-like bytes that compress well but not trivially.
std::string CompressibleBody(size_t size, unsigned seed = 7);

// The sizes every codec must round-trip: empty, exactly one LZ4 input slice, one
// byte more, and a body spanning several LZ4 blocks.
const std::vector<size_t>& BoundarySizes();

}  // namespace kova::test::codecs
