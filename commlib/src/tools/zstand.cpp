#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include "zstand.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

namespace {

const int kCompressionLevel = 3;

// Every block that yields output takes at least 4 bytes of its frame (a 3-byte block
// header and one byte of RLE, raw or compressed content) and yields at most
// ZSTD_BLOCKSIZE_MAX bytes, so no valid body expands beyond this.
unsigned long long StructuralLimit(size_t bodyBytes) {
    return static_cast<unsigned long long>(bodyBytes / 4) * ZSTD_BLOCKSIZE_MAX;
}

struct DStreamFree {
    void operator()(ZSTD_DStream* d) const { ZSTD_freeDStream(d); }
};

struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// Setting up a decompression context costs several times more than decoding a body
// of a few KiB, and bodies are decoded one by one on every Ice thread, so each thread
// keeps one. Every single-shot decode starts the context afresh, a failed one too.
ZSTD_DCtx* ThreadDecompressionContext() {
    thread_local std::unique_ptr<ZSTD_DCtx, DCtxFree> context(ZSTD_createDCtx());
    return context.get();
}

}  // namespace

size_t zstd_bound(size_t isz) { return ZSTD_compressBound(isz); }

size_t zstd_unbound(const void* in, size_t isz) {
    unsigned long long declared = ZSTD_getFrameContentSize(in, isz);
    if (declared == ZSTD_CONTENTSIZE_UNKNOWN || declared == ZSTD_CONTENTSIZE_ERROR) return 0;
    return static_cast<size_t>(declared);
}

int zstd_compress(const void* in, size_t isz, void* out, size_t& osz) {
    size_t written = ZSTD_compress(out, osz, in, isz, kCompressionLevel);
    if (ZSTD_isError(written)) return -1;
    osz = written;
    return 0;
}

int zstd_uncompress(const void* in, size_t isz, void* out, size_t& osz) {
    ZSTD_DCtx* context = ThreadDecompressionContext();
    size_t written = context ? ZSTD_decompressDCtx(context, out, osz, in, isz) : ZSTD_decompress(out, osz, in, isz);
    if (ZSTD_isError(written)) return -1;
    osz = written;
    return 0;
}

int zstd_body_facts(const void* in, size_t isz, ZstdBodyFacts& facts) {
    if (isz == 0) return -1;  // not even one frame
    // Both walk every frame, skippable ones included, and fail on a truncated or
    // foreign frame and on bytes after the last frame.
    unsigned long long declared = ZSTD_findDecompressedSize(in, isz);
    if (declared == ZSTD_CONTENTSIZE_ERROR) return -1;
    // Frames without a declared size count by their blocks; frames with one count by
    // it, hence the structural cap beside it.
    unsigned long long bound = ZSTD_decompressBound(in, isz);
    if (bound == ZSTD_CONTENTSIZE_ERROR) return -1;
    facts.hasContentSize = declared != ZSTD_CONTENTSIZE_UNKNOWN;
    facts.contentSize = facts.hasContentSize ? declared : 0;
    facts.decodedLimit = std::min(bound, StructuralLimit(isz));
    return 0;
}

int zstd_uncompress_stream(const void* in, size_t isz, std::string& out, unsigned long long limit) {
    std::unique_ptr<ZSTD_DStream, DStreamFree> stream(ZSTD_createDStream());
    if (!stream) return -1;
    const size_t start = out.size();
    const size_t step = ZSTD_DStreamOutSize();
    ZSTD_inBuffer input{in, isz, 0};
    size_t hint = 1;
    // The stream starts the next frame by itself after one ends (0), and passes over
    // skippable frames.
    while (hint != 0 || input.pos < input.size) {
        size_t produced = out.size() - start;
        // At the limit the decoder may still read a frame's checksum, but any further
        // output would exceed what such a body can hold.
        size_t room = static_cast<size_t>(std::min<unsigned long long>(step, limit - produced));
        size_t consumedBefore = input.pos;
        out.resize(out.size() + room);
        ZSTD_outBuffer output{out.data() + start + produced, room, 0};
        hint = ZSTD_decompressStream(stream.get(), &output, &input);
        out.resize(start + produced + output.pos);
        if (ZSTD_isError(hint)) return -1;
        // The whole body was given, so a call that moves nothing before the end means
        // a frame ends early or wants to grow past the limit.
        const bool done = hint == 0 && input.pos == input.size;
        if (!done && output.pos == 0 && input.pos == consumedBefore) return -1;
    }
    return 0;
}
