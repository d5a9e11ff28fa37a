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
// Decodes every frame of `in` in one call (so callers pass one frame only). 0 with
// `osz` set, -1 on a zstd error.
int zstd_uncompress(const void* in, size_t isz, void* out, size_t& osz);

// What the first frame of a body tells about itself before it is decoded.
struct ZstdFrameFacts {
    size_t frameBytes = 0;        // length of the first frame, its checksum included
    bool hasContentSize = false;  // false for frames written by a streaming producer
    unsigned long long contentSize = 0;  // declared size; meaningful when hasContentSize
    // The most this frame can decode to, from its block structure (never from the
    // declared size alone, which a damaged or hostile header can set at will).
    unsigned long long decodedLimit = 0;
};
// Reads the facts of the first frame of `in`. 0, or -1 when `in` does not start with
// one whole, structurally valid frame (truncated, not zstd, unknown format).
int zstd_first_frame(const void* in, size_t isz, ZstdFrameFacts& facts);
// Streaming decode of exactly one frame (`in` holds that frame), appended to `out`.
// Never grows `out` by more than `limit` bytes. 0, or -1 on a zstd error, a frame
// that decodes past `limit`, or one that ends early.
int zstd_uncompress_stream(const void* in, size_t isz, std::string& out, unsigned long long limit);
