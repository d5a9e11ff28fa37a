#include "reference_decoders.h"

#include <lz4frame.h>
#include <zlib.h>

#include <algorithm>

namespace kova::test::codecs {
namespace {

// Room for more output behind `filled`.
char* Room(std::string& out, size_t filled) {
    if (filled == out.size()) out.resize(std::max<size_t>(2 * out.size(), 1 << 16));
    return &out[filled];
}

}  // namespace

bool Lz4FrameApiDecode(const std::string& body, std::string& out) {
    LZ4F_dctx* dctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION))) return false;
    out.clear();
    size_t pos = 0, filled = 0, hint = 0, produced = 0, consumed = 0;
    do {  // a hint of 0 ends a frame; the next call starts the following one
        char* const dst = Room(out, filled);
        produced = out.size() - filled;
        consumed = body.size() - pos;
        hint = LZ4F_decompress(dctx, dst, &produced, body.data() + pos, &consumed, nullptr);
        filled += produced;
        pos += consumed;
    } while (!LZ4F_isError(hint) && (hint != 0 ? produced + consumed > 0 : pos < body.size()));
    LZ4F_freeDecompressionContext(dctx);
    out.resize(filled);
    return hint == 0;
}

bool ZlibGunzip(const std::string& body, std::string& out, std::string& refusal) {
    z_stream zs{};
    if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) return false;
    out.clear();
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    size_t filled = 0;
    int rc = Z_OK;
    do {
        if (rc == Z_STREAM_END) inflateReset(&zs);  // the next member
        zs.next_out = reinterpret_cast<Bytef*>(Room(out, filled));
        zs.avail_out = static_cast<uInt>(out.size() - filled);
        rc = inflate(&zs, Z_NO_FLUSH);
        filled = out.size() - zs.avail_out;
    } while (rc == Z_OK || (rc == Z_STREAM_END && zs.avail_in > 0));
    refusal = zs.msg ? zs.msg : "";
    inflateEnd(&zs);
    out.resize(filled);
    return rc == Z_STREAM_END;
}

}  // namespace kova::test::codecs
