// LZ4 frame codec of the toolkit. Failures are printed, not logged: this unit sits
// below the logger.
#include "Tools.h"

#include <lz4frame.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Frame API version the contexts are created with.
const unsigned kContextVersion = 100;
// The encoder feeds the input in slices of this size.
const size_t kSliceSize = 16384;

// 256 KiB linked blocks, no checksums, no content size, fast default level.
const LZ4F_preferences_t lz4_preferences = {
    {LZ4F_max256KB, LZ4F_blockLinked, LZ4F_noContentChecksum, LZ4F_frame, 0 /* content size */,
     0 /* dictionary id */, LZ4F_noBlockChecksum},
    0, /* compression level */
    0, /* auto flush */
    0, /* favour decompression speed */
    {0, 0, 0},
};

// Owns the heap buffers and contexts of one call, so every return path frees them.
struct Lz4CallResources {
    LZ4F_cctx* cctx = nullptr;
    LZ4F_dctx* dctx = nullptr;
    char* buffer = nullptr;
    ~Lz4CallResources() {
        if (cctx) LZ4F_freeCompressionContext(cctx);
        if (dctx) LZ4F_freeDecompressionContext(dctx);
        free(buffer);
    }
};

// Capacity of one decoded block, from the frame header's block size id.
size_t get_block_size(const LZ4F_frameInfo_t& info) {
    switch (info.blockSizeID) {
        case LZ4F_default:
        case LZ4F_max64KB: return 1 << 16;
        case LZ4F_max256KB: return 1 << 18;
        case LZ4F_max1MB: return 1 << 20;
        case LZ4F_max4MB: return 1 << 22;
        default: return 1 << 22;  // LZ4F_getFrameInfo accepts no other id
    }
}

// Room to reserve for the decoded body of a frame, read from its block headers: a
// stored block decodes to its own size, a compressed one to at most a block, which
// every compressed block but the last fills. A lone compressed block gets nothing (a
// block-sized reserve would waste memory on small bodies), nor does a frame whose
// walk does not end cleanly in the input.
size_t DecodedSizeHint(const LZ4F_frameInfo_t& info, const char* frame, size_t size, size_t pos) {
    if (info.contentSize != 0) return static_cast<size_t>(info.contentSize);
    const size_t blockMax = get_block_size(info);
    const size_t blockTrailer = info.blockChecksumFlag == LZ4F_blockChecksumEnabled ? 4 : 0;
    size_t hint = 0, blocks = 0, compressed = 0;
    while (pos + 4 <= size) {
        const unsigned char* word = reinterpret_cast<const unsigned char*>(frame + pos);
        uint32_t header = word[0] | word[1] << 8 | word[2] << 16 | static_cast<uint32_t>(word[3]) << 24;
        if (header == 0) return blocks > 1 || compressed == 0 ? hint : 0;  // end mark
        size_t stored = header & 0x7fffffffu;
        const bool isStored = (header & 0x80000000u) != 0;
        hint += isStored ? stored : blockMax;
        compressed += isStored ? 0 : 1;
        ++blocks;
        pos += 4 + stored + blockTrailer;
    }
    return 0;
}

}  // namespace

// Output: one LZ4 frame as set by lz4_preferences (header, 256 KiB linked blocks, end
// mark; no content size, no checksums). The frame is built in a work buffer sized for
// one slice and flushed into strOut whenever the next slice might not fit, so memory
// stays bounded whatever the input size.
int Tools::LZ4Compress(std::string& strIn, std::string& strOut) {
    Lz4CallResources res;
    size_t rc = LZ4F_createCompressionContext(&res.cctx, kContextVersion);
    if (LZ4F_isError(rc)) {
        printf("Failed to create LZ4 context: error %zu\n", rc);
        return 0;
    }
    const size_t bound = LZ4F_compressBound(kSliceSize, &lz4_preferences);
    const size_t bufferSize = bound + 23;  // room for the frame header and end mark
    res.buffer = static_cast<char*>(malloc(bufferSize));
    if (!res.buffer) {
        printf("Not enough memory\n");
        return 0;
    }
    char* const buffer = res.buffer;

    size_t fill = LZ4F_compressBegin(res.cctx, buffer, bufferSize, &lz4_preferences);
    if (LZ4F_isError(fill)) {
        printf("Failed to start compression: error %zu\n", fill);
        return 0;
    }
    bool reserved = false;
    for (size_t offset = 0; offset < strIn.size(); offset += kSliceSize) {
        size_t slice = std::min(kSliceSize, strIn.size() - offset);
        size_t produced = LZ4F_compressUpdate(res.cctx, buffer + fill, bufferSize - fill,
                                              strIn.data() + offset, slice, nullptr);
        if (LZ4F_isError(produced)) {
            printf("Compression failed: error %zu\n", produced);
            return 0;
        }
        fill += produced;
        if (bufferSize - fill < bound + 4) {
            printf("Writing %zu bytes\n", fill);
            if (!reserved) {
                // The first flush shows how the body compresses: reserve for the rest at
                // that rate, so the output is not copied again at every doubling.
                reserved = true;
                size_t consumed = offset + slice;
                double rate = static_cast<double>(fill) / static_cast<double>(consumed);
                strOut.reserve(strOut.size() + static_cast<size_t>(rate * strIn.size()) + bound);
            }
            strOut.append(buffer, fill);
            fill = 0;
        }
    }
    size_t ended = LZ4F_compressEnd(res.cctx, buffer + fill, bufferSize - fill, nullptr);
    if (LZ4F_isError(ended)) {
        printf("Failed to end compression: error %zu\n", ended);
        return 0;
    }
    strOut.append(buffer, fill + ended);
    return 1;
}

// The frame is read straight from strIn, with no staging copy: a block lying whole in
// the input is then decoded in place instead of being gathered first.
int Tools::LZ4Decompress(std::string& strIn, std::string& strOut) {
    Lz4CallResources res;
    size_t rc = LZ4F_createDecompressionContext(&res.dctx, kContextVersion);
    if (LZ4F_isError(rc)) {
        printf("LZ4F_dctx creation error: %s\n", LZ4F_getErrorName(rc));
        return 0;
    }

    const char* const input = strIn.data();
    const size_t inputSize = strIn.size();
    LZ4F_frameInfo_t info;
    size_t pos = inputSize;  // in: bytes available; out: header bytes consumed
    size_t next = LZ4F_getFrameInfo(res.dctx, &info, input, &pos);
    if (LZ4F_isError(next)) {
        printf("LZ4F_getFrameInfo error: %s\n", LZ4F_getErrorName(next));
        return 0;
    }
    const size_t blockSize = get_block_size(info);
    res.buffer = static_cast<char*>(malloc(blockSize));
    if (!res.buffer) {
        perror("decompress_file(dst)");
        return 0;
    }
    char* const block = res.buffer;

    // When the block headers tell the decoded size, decode straight into strOut (no
    // copy out of the block, no regrowth); else through the block. LZ4 cannot expand
    // beyond 255:1, so no larger claim is believed.
    size_t hint = DecodedSizeHint(info, input, inputSize, pos);
    const bool inPlace = hint != 0 && hint / 255 <= inputSize;
    size_t filled = strOut.size();
    if (inPlace) strOut.resize(filled + hint);
    // On every return, strOut ends with exactly what was decoded.
    struct TrimOnExit {
        std::string& out;
        const size_t& filled;
        bool active;
        ~TrimOnExit() { if (active) out.resize(filled); }
    } trim{strOut, filled, inPlace};

    while (next != 0) {  // the decoder's hint of further input; 0 once the frame ends
        if (pos == inputSize) return 0;  // input ends inside the frame
        if (inPlace && filled == strOut.size()) strOut.resize(filled + blockSize);  // the hint fell short
        char* const dst = inPlace ? &strOut[filled] : block;
        size_t produced = inPlace ? strOut.size() - filled : blockSize;
        size_t consumed = inputSize - pos;
        next = LZ4F_decompress(res.dctx, dst, &produced, input + pos, &consumed, nullptr);
        if (LZ4F_isError(next)) {
            printf("Decompression error: %s\n", LZ4F_getErrorName(next));
            return 0;
        }
        if (inPlace) filled += produced; else strOut.append(block, produced);
        pos += consumed;
    }
    return 1;
}
