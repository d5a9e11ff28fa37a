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

// `body` as an LZ4 frame from a streaming producer: 4 MiB linked blocks, no content
// size, each write of `writeSize` bytes flushed as a block of its own.
std::string Lz4FlushedFrame(const std::string& body, size_t writeSize);
// `body` in a frame of the same settings where every byte is a compressed block of its
// own (a token and one literal): the most blocks a frame of its size can hold.
std::string Lz4FrameOfTinyBlocks(const std::string& body);

// The sizes every codec must round-trip: empty, exactly one LZ4 input slice, one
// byte more, and a body spanning several LZ4 blocks.
const std::vector<size_t>& BoundarySizes();

}  // namespace kova::test::codecs
