// Internal (kova_tools): the body codecs.
// How much memory a body decoder may set aside before the output exists.
//
// A frame header or a trailer may claim the decoded size (LZ4 content size and block
// headers, the gzip trailer, the zstd content size). Anyone can forge a claim, so it
// is believed only up to a small multiple of the input; beyond that the output grows
// as decoded bytes actually arrive. Honest bodies up to the slack, and honest bodies
// that compress less than the ratio, still get exactly their size in one step.
//
// This bounds what a claim makes a decoder set aside, not every allocation of a
// decode: a frame's block size costs one block (an LZ4 block of up to 4 MiB is
// decoded whole), whatever the input.
//
// Thread safety: pure functions. Ownership: nothing kept.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace decode_reserve {

const size_t kTrustedRatio = 8;
const size_t kTrustedSlack = size_t(1) << 20;

// The part of `claimed` that may be reserved for a body of `inputSize` bytes.
inline size_t Believable(size_t claimed, size_t inputSize) {
    const size_t cap =
        inputSize > (SIZE_MAX - kTrustedSlack) / kTrustedRatio ? SIZE_MAX : inputSize * kTrustedRatio + kTrustedSlack;
    return std::min(claimed, cap);
}

// Ends a decode into `out` with exactly `size` bytes. A claim that overstated the
// body must not leave its reserve behind in a long-lived message, so a result that
// fills less than half of its buffer is copied into a fitting one.
inline void Trim(std::string& out, size_t size) {
    out.resize(size);
    if (out.capacity() / 2 > size + 4096) out.shrink_to_fit();
}

}  // namespace decode_reserve
