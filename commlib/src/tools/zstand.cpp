#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include "zstand.h"

#include <zstd.h>

#include <algorithm>
#include <memory>

namespace {

const int kCompressionLevel = 3;

// Every block that yields output takes at least 4 bytes of the frame (a 3-byte block
// header and one byte of RLE, raw or compressed content) and yields at most
// ZSTD_BLOCKSIZE_MAX bytes, so no valid frame expands beyond this.
unsigned long long StructuralLimit(size_t frameBytes) {
    return static_cast<unsigned long long>(frameBytes / 4) * ZSTD_BLOCKSIZE_MAX;
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

int zstd_first_frame(const void* in, size_t isz, ZstdFrameFacts& facts) {
    size_t frameBytes = ZSTD_findFrameCompressedSize(in, isz);
    if (ZSTD_isError(frameBytes)) return -1;
    unsigned long long declared = ZSTD_getFrameContentSize(in, frameBytes);
    if (declared == ZSTD_CONTENTSIZE_ERROR) return -1;
    // For a frame without a declared size this walks the blocks; with one it returns
    // the declared size, hence the structural cap beside it.
    unsigned long long bound = ZSTD_decompressBound(in, frameBytes);
    if (bound == ZSTD_CONTENTSIZE_ERROR) return -1;
    facts.frameBytes = frameBytes;
    facts.hasContentSize = declared != ZSTD_CONTENTSIZE_UNKNOWN;
    facts.contentSize = facts.hasContentSize ? declared : 0;
    facts.decodedLimit = std::min(bound, StructuralLimit(frameBytes));
    return 0;
}

int zstd_uncompress_stream(const void* in, size_t isz, std::string& out, unsigned long long limit) {
    std::unique_ptr<ZSTD_DStream, DStreamFree> stream(ZSTD_createDStream());
    if (!stream) return -1;
    const size_t start = out.size();
    const size_t step = ZSTD_DStreamOutSize();
    ZSTD_inBuffer input{in, isz, 0};
    size_t hint = 1;
    while (hint != 0) {
        size_t produced = out.size() - start;
        // At the limit the decoder may still read the frame's checksum, but any
        // further output would exceed what such a frame can hold.
        size_t room = static_cast<size_t>(std::min<unsigned long long>(step, limit - produced));
        size_t consumedBefore = input.pos;
        out.resize(out.size() + room);
        ZSTD_outBuffer output{out.data() + start + produced, room, 0};
        hint = ZSTD_decompressStream(stream.get(), &output, &input);
        out.resize(start + produced + output.pos);
        if (ZSTD_isError(hint)) return -1;
        // The whole frame was given, so a call that moves nothing means the frame
        // ends early or wants to grow past the limit.
        if (hint != 0 && output.pos == 0 && input.pos == consumedBefore) return -1;
    }
    return 0;
}
