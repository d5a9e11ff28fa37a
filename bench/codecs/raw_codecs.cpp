#include "raw_codecs.h"

#include <lz4frame.h>
#include <zlib.h>
#include <zstd.h>

#include <stdexcept>

namespace kova::test::bench {

Buffer GzipEncode(const std::string& body) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    Buffer out(deflateBound(&zs, body.size()));
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data.get());
    zs.avail_out = static_cast<uInt>(out.size);
    int rc = deflate(&zs, Z_FINISH);
    out.size = zs.total_out;
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
    return out;
}

Buffer GzipDecode(const std::string& gz, size_t plainSize) {
    z_stream zs{};
    if (inflateInit2(&zs, 31) != Z_OK) throw std::runtime_error("inflateInit2");
    Buffer out(plainSize);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    zs.avail_in = static_cast<uInt>(gz.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data.get());
    zs.avail_out = static_cast<uInt>(out.size);
    int rc = inflate(&zs, Z_FINISH);
    inflateEnd(&zs);
    if (rc != Z_STREAM_END) throw std::runtime_error("inflate");
    return out;
}

namespace {
// The codec's own frame settings: 256 KiB linked blocks, no checksums.
LZ4F_preferences_t Lz4Preferences() {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.blockSizeID = LZ4F_max256KB;
    prefs.frameInfo.blockMode = LZ4F_blockLinked;
    return prefs;
}
}  // namespace

Buffer Lz4Encode(const std::string& body) {
    LZ4F_preferences_t prefs = Lz4Preferences();
    Buffer out(LZ4F_compressFrameBound(body.size(), &prefs));
    size_t n = LZ4F_compressFrame(out.data.get(), out.size, body.data(), body.size(), &prefs);
    if (LZ4F_isError(n)) throw std::runtime_error("LZ4F_compressFrame");
    out.size = n;
    return out;
}

Buffer Lz4Decode(const std::string& frame, size_t plainSize) {
    LZ4F_dctx* dctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION)))
        throw std::runtime_error("LZ4F_createDecompressionContext");
    Buffer out(plainSize);
    size_t produced = 0, consumed = 0, hint = 1;
    while (hint != 0 && consumed < frame.size()) {
        size_t dst = out.size - produced, src = frame.size() - consumed;
        hint = LZ4F_decompress(dctx, out.data.get() + produced, &dst, frame.data() + consumed, &src, nullptr);
        if (LZ4F_isError(hint)) break;
        produced += dst;
        consumed += src;
    }
    LZ4F_freeDecompressionContext(dctx);
    if (hint != 0) throw std::runtime_error("LZ4F_decompress");
    return out;
}

Buffer ZstdEncode(const std::string& body) {
    Buffer out(ZSTD_compressBound(body.size()));
    size_t n = ZSTD_compress(out.data.get(), out.size, body.data(), body.size(), 3);
    if (ZSTD_isError(n)) throw std::runtime_error("ZSTD_compress");
    out.size = n;
    return out;
}

Buffer ZstdDecode(const std::string& frame, size_t plainSize) {
    Buffer out(plainSize);
    size_t n = ZSTD_decompress(out.data.get(), out.size, frame.data(), frame.size());
    if (ZSTD_isError(n) || n != plainSize) throw std::runtime_error("ZSTD_decompress");
    return out;
}

}  // namespace kova::test::bench
