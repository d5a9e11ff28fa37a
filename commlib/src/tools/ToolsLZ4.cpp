// LZ4 frame codec of the toolkit. Failures are printed, not logged: this unit sits
// below the logger.
#include "Tools.h"

#include <lz4.h>
#define LZ4F_STATIC_LINKING_ONLY  // the frame error codes
#include <lz4frame.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "DecodeReserve.h"

namespace {

// Frame API version the contexts are created with.
const unsigned kContextVersion = 100;

// 256 KiB linked blocks, no checksums, no content size, fast default level.
const LZ4F_preferences_t lz4_preferences = {
    {LZ4F_max256KB, LZ4F_blockLinked, LZ4F_noContentChecksum, LZ4F_frame, 0 /* content size */, 0 /* dictionary id */,
     LZ4F_noBlockChecksum},
    0, /* compression level */
    0, /* auto flush */
    0, /* favour decompression speed */
    {0, 0, 0},
};

const size_t kBlockSize = 1 << 18;  // LZ4F_max256KB
const size_t kBlockHeaderSize = 4;
const uint32_t kStoredBlockFlag = 0x80000000u;
const uint32_t kSkippableMagicMask = 0xFFFFFFF0u;
const uint32_t kSkippableMagic = 0x184D2A50u;
// The smallest step by which the decoder's output grows when no header told its size.
const size_t kMinOutputStep = 4096;
// How far back a linked block may refer.
const size_t kLinkedHistory = 64 << 10;

uint32_t ReadLE32(const char* p) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void WriteLE32(char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

// The header the frame API writes for lz4_preferences, made once by the library itself
// so that it always matches the preferences.
struct FrameHeader {
    size_t error = 0;  // the library's error code when the header could not be made
    const char* failure = nullptr;
    char bytes[LZ4F_HEADER_SIZE_MAX];
    size_t size = 0;
};

const FrameHeader& OurFrameHeader() {
    static const FrameHeader header = [] {
        FrameHeader made;
        LZ4F_cctx* cctx = nullptr;
        size_t rc = LZ4F_createCompressionContext(&cctx, kContextVersion);
        if (LZ4F_isError(rc)) {
            made.error = rc;
            made.failure = "Failed to create LZ4 context: error %zu\n";
            return made;
        }
        rc = LZ4F_compressBegin(cctx, made.bytes, sizeof made.bytes, &lz4_preferences);
        LZ4F_freeCompressionContext(cctx);
        if (LZ4F_isError(rc)) {
            made.error = rc;
            made.failure = "Failed to start compression: error %zu\n";
        } else {
            made.size = rc;
        }
        return made;
    }();
    return header;
}

struct StreamFree {
    void operator()(LZ4_stream_t* s) const { LZ4_freeStream(s); }
};

// Creating a frame context costs more than compressing a small body (it zero-fills
// hundreds of KiB), so each thread keeps one block compressor, with room for one
// compressed block. The frame container around the blocks is written here, as the
// frame API would write it for lz4_preferences.
struct BlockCompressor {
    std::unique_ptr<LZ4_stream_t, StreamFree> stream{LZ4_createStream()};
    std::unique_ptr<char[]> block{new (std::nothrow) char[kBlockSize]};
};

BlockCompressor& ThreadBlockCompressor() {
    thread_local BlockCompressor compressor;
    return compressor;
}

// Appends one block of a linked frame to `out`, as the frame API makes it: compressed
// when that saves at least a byte, else stored with the high bit of its size set.
void AppendBlock(BlockCompressor& compressor, const char* src, size_t size, std::string& out) {
    char header[kBlockHeaderSize];
    const int packed = LZ4_compress_fast_continue(compressor.stream.get(), src, compressor.block.get(),
                                                  static_cast<int>(size), static_cast<int>(size) - 1, 1);
    const bool stored = packed <= 0 || static_cast<size_t>(packed) >= size;
    WriteLE32(header, stored ? static_cast<uint32_t>(size) | kStoredBlockFlag : static_cast<uint32_t>(packed));
    out.append(header, kBlockHeaderSize);
    out.append(stored ? src : compressor.block.get(), stored ? size : static_cast<size_t>(packed));
}

// Owns the decompression context of one call, so every return path frees it. A
// frame whose blocks we walk ourselves leaves the context holding that frame's
// header (resetting it keeps the declared size), so the next frame gets a new one.
struct DecompressionContext {
    LZ4F_dctx* dctx = nullptr;
    bool spent = false;
    ~DecompressionContext() {
        if (dctx) LZ4F_freeDecompressionContext(dctx);
    }
    // 1, or 0 after printing why the context could not be made.
    int ready() {
        if (dctx && !spent) return 1;
        if (dctx) LZ4F_freeDecompressionContext(dctx);
        dctx = nullptr;
        spent = false;
        size_t rc = LZ4F_createDecompressionContext(&dctx, kContextVersion);
        if (!LZ4F_isError(rc)) return 1;
        dctx = nullptr;
        printf("LZ4F_dctx creation error: %s\n", LZ4F_getErrorName(rc));
        return 0;
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

// The most a compressed block of `blockBytes` decodes to: each input byte gives at most
// 255 output bytes (a length byte of a match), and no block exceeds the frame's block
// size. Streaming producers flush blocks far smaller than that size.
size_t BlockRoom(size_t blockBytes, size_t blockMax) { return std::min(blockMax, 255 * blockBytes); }

// The decoded size a frame claims: its content size field, else what its block
// headers tell (a stored block decodes to its own size, a compressed one to at most
// its BlockRoom). A lone compressed block claims nothing (a claim would waste memory
// on small bodies), nor does a frame whose walk does not end cleanly in the input.
size_t DecodedSizeClaim(const LZ4F_frameInfo_t& info, const char* frame, size_t size, size_t pos) {
    if (info.contentSize != 0) return static_cast<size_t>(info.contentSize);
    const size_t blockMax = get_block_size(info);
    const size_t blockTrailer = info.blockChecksumFlag == LZ4F_blockChecksumEnabled ? 4 : 0;
    size_t claim = 0, blocks = 0, compressed = 0;
    while (pos + kBlockHeaderSize <= size) {
        uint32_t header = ReadLE32(frame + pos);
        if (header == 0) return blocks > 1 || compressed == 0 ? claim : 0;  // end mark
        size_t stored = header & ~kStoredBlockFlag;
        const bool isStored = (header & kStoredBlockFlag) != 0;
        claim += isStored ? stored : BlockRoom(stored, blockMax);
        compressed += isStored ? 0 : 1;
        ++blocks;
        pos += kBlockHeaderSize + stored + blockTrailer;
    }
    return 0;
}

// Skips the skippable frame at `pos` (magic, 4-byte length, that many bytes). False
// when the frame does not end inside the input.
bool SkipSkippableFrame(const char* input, size_t inputSize, size_t& pos) {
    if (inputSize - pos < 8) return false;
    const size_t length = ReadLE32(input + pos + 4);
    if (inputSize - pos - 8 < length) return false;
    pos += 8 + length;
    return true;
}

bool IsSkippableFrame(const char* input, size_t inputSize, size_t pos) {
    return inputSize - pos >= 4 && (ReadLE32(input + pos) & kSkippableMagicMask) == kSkippableMagic;
}

// The library's name for one of its frame errors, so that our own block walk reports
// a damaged frame in the words the frame decoder would use.
const char* FrameErrorName(LZ4F_errorCodes code) {
    return LZ4F_getErrorName(static_cast<size_t>(-static_cast<ptrdiff_t>(code)));
}

// Room for one decoded compressed block when the output string has none reserved
// ahead: blocks of our own frames use the thread's buffer; larger ones (1 and 4 MiB)
// get one for the call.
class BlockScratch {
public:
    explicit BlockScratch(size_t blockSize) {
        if (blockSize <= kBlockSize) {
            thread_local std::unique_ptr<char[]> threadBuffer;
            if (!threadBuffer) threadBuffer.reset(new char[kBlockSize]);
            _buffer = threadBuffer.get();
        } else {
            _own.reset(new char[blockSize]);
            _buffer = _own.get();
        }
    }
    char* get() const { return _buffer; }

private:
    std::unique_ptr<char[]> _own;
    char* _buffer = nullptr;
};

// Puts `size` bytes at `filled` in `out`: over the room already made there, the rest
// appended.
void Put(const char* src, size_t size, std::string& out, size_t& filled) {
    const size_t over = std::min(size, out.size() - filled);
    std::memcpy(&out[filled], src, over);
    out.append(src + over, size - over);
    filled += size;
}

// Decodes one compressed block into `out` at `filled`, behind the `history` bytes it
// may refer to. Where the reserved capacity holds the block's room, it decodes in
// place; `out` past `filled` keeps the zero-filled room left by earlier blocks, so a
// stream of small blocks zero-fills about what it decodes, not a room per block.
// Elsewhere it decodes into the scratch block and is put into `out`. The decoded
// size, or negative on damage.
int DecodeBlock(const char* block, size_t blockBytes, size_t blockMax, size_t history,
                std::unique_ptr<BlockScratch>& scratch, std::string& out, size_t& filled) {
    const size_t room = BlockRoom(blockBytes, blockMax);
    const bool inPlace = out.capacity() - filled >= room;
    if (inPlace && out.size() - filled < room) out.resize(filled + room);  // within the capacity
    if (!inPlace && !scratch) scratch.reset(new BlockScratch(blockMax));
    char* const target = inPlace ? &out[filled] : scratch->get();
    const int decoded =
        LZ4_decompress_safe_usingDict(block, target, static_cast<int>(blockBytes), static_cast<int>(room),
                                      out.data() + filled - history, static_cast<int>(history));
    if (decoded > 0 && inPlace) filled += static_cast<size_t>(decoded);
    if (decoded > 0 && !inPlace) Put(target, static_cast<size_t>(decoded), out, filled);
    return decoded;
}

// The blocks of a frame without checksums, walked here instead of by the frame
// decoder, which would need the whole output zero-filled ahead of it: stored blocks
// are put straight from the input, compressed ones decoded by DecodeBlock with the
// frame's last 64 KiB in `out` as their history. `out` ends with `filled` bytes
// decoded and may hold zero-filled room after them. The frame decoder's checks are
// kept: block sizes within the header's block size, the content size when the header
// gives one, and a stored block cut short keeps the part that arrived. `pos` is just
// past the frame header.
int WalkBlocks(const LZ4F_frameInfo_t& info, const char* input, size_t inputSize, size_t& pos, std::string& out,
               size_t& filled) {
    const size_t blockMax = get_block_size(info);
    const size_t frameStart = filled;
    std::unique_ptr<BlockScratch> scratch;  // made at the first block decoded outside `out`
    for (;;) {
        if (inputSize - pos < kBlockHeaderSize) return 0;  // the frame does not end
        const uint32_t header = ReadLE32(input + pos);
        pos += kBlockHeaderSize;
        if (header == 0) break;  // end mark (a stored block may be empty)
        const size_t blockBytes = header & ~kStoredBlockFlag;
        if (blockBytes > blockMax) {
            printf("Decompression error: %s\n", FrameErrorName(LZ4F_ERROR_maxBlockSize_invalid));
            return 0;
        }
        const size_t available = std::min(blockBytes, inputSize - pos);
        if (header & kStoredBlockFlag) {
            Put(input + pos, available, out, filled);
            pos += available;
            if (available < blockBytes) return 0;
            continue;
        }
        if (available < blockBytes) return 0;
        const size_t history = info.blockMode == LZ4F_blockLinked ? std::min(filled - frameStart, kLinkedHistory) : 0;
        if (DecodeBlock(input + pos, blockBytes, blockMax, history, scratch, out, filled) < 0) {
            printf("Decompression error: %s\n", FrameErrorName(LZ4F_ERROR_decompressionFailed));
            return 0;
        }
        pos += blockBytes;
    }
    if (info.contentSize != 0 && filled - frameStart != info.contentSize) {
        printf("Decompression error: %s\n", FrameErrorName(LZ4F_ERROR_frameSize_wrong));
        return 0;
    }
    return 1;
}

// Decodes the frame at `pos` into `out` after its first `filled` bytes, advancing
// both. `out` is given room ahead only as far as decode_reserve believes the frame's
// claim; beyond, it grows as decoded bytes arrive.
int DecodeFrame(DecompressionContext& context, const char* input, size_t inputSize, size_t& pos, std::string& out,
                size_t& filled) {
    if (!context.ready()) return 0;
    LZ4F_dctx* const dctx = context.dctx;
    LZ4F_frameInfo_t info;
    size_t headerBytes = inputSize - pos;  // in: bytes available; out: header bytes consumed
    size_t next = LZ4F_getFrameInfo(dctx, &info, input + pos, &headerBytes);
    if (LZ4F_isError(next)) {
        printf("LZ4F_getFrameInfo error: %s\n", LZ4F_getErrorName(next));
        return 0;
    }
    pos += headerBytes;
    const size_t blockSize = get_block_size(info);
    const size_t frameStart = filled;
    const size_t claim = decode_reserve::Believable(DecodedSizeClaim(info, input, inputSize, pos), inputSize - pos);
    if (info.blockChecksumFlag == LZ4F_noBlockChecksum && info.contentChecksumFlag == LZ4F_noContentChecksum) {
        context.spent = true;
        out.reserve(filled + claim);
        return WalkBlocks(info, input, inputSize, pos, out, filled);
    }
    // Frames with checksums go through the frame decoder, which verifies them.
    if (out.size() - filled < claim) out.resize(filled + claim);

    while (next != 0) {  // the decoder's hint of further input; 0 once the frame ends
        if (filled == out.size()) {
            // Twice what the frame gave so far, or what its compressed rest might give
            // at an ordinary ratio, within one block: the string's own capacity doubling
            // keeps the copies linear while only the new room is zero-filled.
            size_t step = std::max({filled - frameStart, 2 * (inputSize - pos), kMinOutputStep});
            out.resize(filled + std::min(step, blockSize));
        }
        size_t produced = out.size() - filled;
        size_t consumed = inputSize - pos;
        next = LZ4F_decompress(dctx, &out[filled], &produced, input + pos, &consumed, nullptr);
        if (LZ4F_isError(next)) {
            printf("Decompression error: %s\n", LZ4F_getErrorName(next));
            return 0;
        }
        filled += produced;
        pos += consumed;
        if (next != 0 && produced == 0 && consumed == 0) return 0;  // input ends inside the frame
    }
    return 1;
}

}  // namespace

// Output: one LZ4 frame as set by lz4_preferences (header, 256 KiB linked blocks, end
// mark; no content size, no checksums), the same bytes the frame API gives when the
// input is fed in slices. Whole blocks are compressed straight from strIn into
// strOut; the block compressor starts afresh for every frame, since a reused hash
// table, although correct, would change the output.
int Tools::LZ4Compress(std::string& strIn, std::string& strOut) {
    const FrameHeader& header = OurFrameHeader();
    if (header.failure) {
        printf(header.failure, header.error);
        return 0;
    }
    BlockCompressor& compressor = ThreadBlockCompressor();
    if (!compressor.stream || !compressor.block) {
        printf("Not enough memory\n");
        return 0;
    }
    LZ4_initStream(compressor.stream.get(), sizeof(LZ4_stream_t));

    // Room for the largest frame: every block stored, and the end mark.
    const size_t blocks = (strIn.size() + kBlockSize - 1) / kBlockSize;
    strOut.reserve(strOut.size() + header.size + strIn.size() + (blocks + 1) * kBlockHeaderSize);
    size_t reported = strOut.size();  // the encoder reports its output at each full block
    strOut.append(header.bytes, header.size);
    for (size_t offset = 0; offset < strIn.size(); offset += kBlockSize) {
        const size_t block = std::min(kBlockSize, strIn.size() - offset);
        AppendBlock(compressor, strIn.data() + offset, block, strOut);
        if (block == kBlockSize) {
            printf("Writing %zu bytes\n", strOut.size() - reported);
            reported = strOut.size();
        }
    }
    strOut.append(kBlockHeaderSize, '\0');  // end mark
    return 1;
}

// Every frame of strIn, in order, is decoded and appended to strOut; skippable frames
// are passed over. The frames are read straight from strIn, with no staging copy.
int Tools::LZ4Decompress(std::string& strIn, std::string& strOut) {
    DecompressionContext context;
    if (!context.ready()) return 0;
    const char* const input = strIn.data();
    const size_t inputSize = strIn.size();
    size_t filled = strOut.size();
    // On every return, strOut ends with exactly what was decoded.
    struct TrimOnExit {
        std::string& out;
        const size_t& filled;
        ~TrimOnExit() { decode_reserve::Trim(out, filled); }
    } trim{strOut, filled};

    size_t pos = 0;
    do {
        if (IsSkippableFrame(input, inputSize, pos)) {
            if (!SkipSkippableFrame(input, inputSize, pos)) return 0;
        } else if (!DecodeFrame(context, input, inputSize, pos, strOut, filled)) {
            return 0;
        }
    } while (pos < inputSize);
    return 1;
}
