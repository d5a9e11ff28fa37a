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

// The little-endian number of `bytes` bytes at `pos`.
uLong LittleEndian(const std::string& in, size_t pos, int bytes) {
    uLong value = 0;
    while (bytes-- > 0) value = value << 8 | static_cast<unsigned char>(in[pos + bytes]);
    return value;
}

// Passes over the gzip member header at `pos`; false when it is not one or is cut short.
bool SkipGzipHeader(const std::string& in, size_t& pos) {
    if (in.size() - pos < 10 || LittleEndian(in, pos, 3) != 0x088b1f) return false;  // magic, deflate
    const int flags = static_cast<unsigned char>(in[pos + 3]);
    pos += 10;
    if (flags & 4) {  // FEXTRA: its length, then that many bytes
        if (in.size() - pos < 2) return false;
        pos += 2 + LittleEndian(in, pos, 2);
        if (pos > in.size()) return false;
    }
    for (int zeroEnded : {8, 16}) {  // FNAME, FCOMMENT
        if (!(flags & zeroEnded)) continue;
        pos = in.find('\0', pos);
        if (pos++ == std::string::npos) return false;
    }
    if (flags & 2) pos += 2;  // FHCRC
    return pos <= in.size();
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

bool LenientGunzip(const std::string& body, std::string& out) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
    out.clear();
    size_t pos = 0, filled = 0;
    bool ok = true;
    do {
        ok = SkipGzipHeader(body, pos);
        const size_t start = filled;
        int rc = inflateReset(&zs);
        while (ok && rc == Z_OK) {
            zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data() + pos));
            zs.avail_in = static_cast<uInt>(body.size() - pos);
            zs.next_out = reinterpret_cast<Bytef*>(Room(out, filled));
            zs.avail_out = static_cast<uInt>(out.size() - filled);
            rc = inflate(&zs, Z_NO_FLUSH);
            pos = body.size() - zs.avail_in;
            filled = out.size() - zs.avail_out;
        }
        const uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(out.data() + start), filled - start);
        ok = ok && rc == Z_STREAM_END && body.size() - pos >= 8 && LittleEndian(body, pos, 4) == crc;
        pos += 8;  // CRC-32 and ISIZE
    } while (ok && pos < body.size());
    inflateEnd(&zs);
    out.resize(filled);
    return ok;
}

}  // namespace kova::test::codecs
