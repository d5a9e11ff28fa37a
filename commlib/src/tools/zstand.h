// Internal (kova_tools): the body codecs.
// zstand: thin wrappers over the zstd library for the body codec.
//
// Thread safety: every function is reentrant and may be called from any thread.
// Ownership: callers own every buffer; the only state kept between calls is one
// decompression context per thread (freed when the thread ends).
//
// Sizes are byte counts. `osz` is in/out: the capacity of `out` on entry, the bytes
// written on success.
#pragma once

#include <cstddef>
#include <string>

// ZSTD_compressBound: the largest frame that `isz` input bytes can produce.
size_t zstd_bound(size_t isz);
// The content size declared in the header of the frame at `in`; 0 when the header
// does not declare one or cannot be read.
size_t zstd_unbound(const void* in, size_t isz);
// One frame at level 3 with its content size in the header. 0 with `osz` set, -1 on
// a zstd error (`osz` unchanged).
int zstd_compress(const void* in, size_t isz, void* out, size_t& osz);
// Decodes every frame of `in` in one call, skipping skippable frames; each frame
// must decode to the size its header declares. 0 with `osz` set, -1 on a zstd error.
int zstd_uncompress(const void* in, size_t isz, void* out, size_t& osz);

// What the frames of a body tell about themselves before they are decoded.
struct ZstdBodyFacts {
    bool hasContentSize = false;         // every frame declares its size (streaming producers do not)
    unsigned long long contentSize = 0;  // the declared sizes added up; meaningful when hasContentSize
    // The most the body can decode to, from its block structure (never from declared
    // sizes alone, which a damaged or hostile header can set at will).
    unsigned long long decodedLimit = 0;
};
// Reads the facts of every frame of `in` (skippable frames count as empty). 0, or -1
// when `in` is not a sequence of whole, structurally valid frames (empty, truncated,
// not zstd, bytes after the last frame).
int zstd_body_facts(const void* in, size_t isz, ZstdBodyFacts& facts);
// Streaming decode of every frame of `in`, skipping skippable frames, appended to
// `out`. Never grows `out` by more than `limit` bytes. 0, or -1 on a zstd error, a
// body that decodes past `limit`, or one that ends inside a frame.
int zstd_uncompress_stream(const void* in, size_t isz, std::string& out, unsigned long long limit);
