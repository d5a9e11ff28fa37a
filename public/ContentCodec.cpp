// Body codecs: gzip stream, LZ4 frame and zstd frame, chosen by the encoding number.
#include "PublicTools.h"

#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>

#include "DecodeReserve.h"
#include "KOVACommon.h"
#include "KOVALog.h"
#include "Tools.h"
#include "zstand.h"

namespace TQPublicTool {
namespace {

namespace io = boost::iostreams;

// The compressor's buffer size is part of its output contract.
const std::streamsize kGzipEncodeBufferSize = 4096;
// The least by which the decoder's output grows when the trailer told too little.
const size_t kGzipDecodeStepMin = 4096;
const int kGzipWindowBits = 15;

// Thrown for zstd failures; deliberately not a std::exception, so callers log it as
// an unknown exception.
struct ZstandFailure {
    const char* text;
};

io::gzip_params GzipParams() {
    io::gzip_params params(io::zlib::default_compression, io::zlib::deflated, kGzipWindowBits, 8,
                           io::zlib::default_strategy);
    params.file_name = "";
    params.comment = "";
    params.mtime = 0;
    return params;
}

// The compressor is driven directly from the input string into the result string:
// no string streams and no stream buffer in between. Deflate's output does not
// depend on how its input is cut, so the bytes are those of a copy through a
// filtering stream with 4096-byte buffers.
bool GzipEncode(const std::string& strIn, std::string& strOut) {
    std::string result;
    io::gzip_compressor compressor(GzipParams(), kGzipEncodeBufferSize);
    io::back_insert_device<std::string> sink(result);
    compressor.write(sink, strIn.data(), static_cast<std::streamsize>(strIn.size()));
    compressor.close(sink, BOOST_IOS::out);  // writes the trailer
    strOut.swap(result);
    return true;
}

// The trailer's ISIZE (the decoded size modulo 2^32), which anyone can forge, as far
// as decode_reserve believes it.
size_t GzipDecodedSizeHint(const std::string& strIn) {
    if (strIn.size() < 18) return 0;
    const unsigned char* tail = reinterpret_cast<const unsigned char*>(strIn.data()) + strIn.size() - 4;
    size_t isize = tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<size_t>(tail[3]) << 24;
    return decode_reserve::Believable(isize, strIn.size());
}

// A raw inflate stream (no zlib or gzip wrapper: the members' headers and trailers
// are read apart), ended on every path.
class RawInflater {
public:
    RawInflater() {
        _stream.zalloc = Z_NULL;
        _stream.zfree = Z_NULL;
        _stream.opaque = Z_NULL;
        Check(inflateInit2(&_stream, -kGzipWindowBits));
    }
    ~RawInflater() { inflateEnd(&_stream); }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    z_stream& stream() { return _stream; }
    // Boost's verdict on a zlib result, reported as its gzip decompressor reports it.
    static void Check(int rc) {
        try {
            io::zlib_error::check(rc);
        } catch (const io::zlib_error& e) {
            throw io::gzip_error(e);
        }
    }

private:
    z_stream _stream{};
};

// Inflates one member's deflate data from `in` at `pos` into `out` after `filled`,
// growing `out` when it is full. Returns the CRC-32 of what it decoded.
uLong InflateMember(RawInflater& inflater, const std::string& in, size_t& pos, std::string& out, size_t& filled) {
    z_stream& zs = inflater.stream();
    RawInflater::Check(inflateReset(&zs));
    const size_t memberStart = filled;
    for (;;) {
        if (filled == out.size()) out.resize(std::max(2 * out.size(), kGzipDecodeStepMin));
        const size_t inBytes = std::min<size_t>(in.size() - pos, UINT_MAX);
        const size_t room = std::min<size_t>(out.size() - filled, UINT_MAX);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data() + pos));
        zs.avail_in = static_cast<uInt>(inBytes);
        zs.next_out = reinterpret_cast<Bytef*>(&out[filled]);
        zs.avail_out = static_cast<uInt>(room);
        // Z_FINISH: when the whole member fits, inflate keeps no window.
        const int rc = inflate(&zs, Z_FINISH);
        pos += inBytes - zs.avail_in;
        filled += room - zs.avail_out;
        if (rc == Z_STREAM_END) break;
        if (rc == Z_BUF_ERROR && zs.avail_out == 0) continue;  // out of room, not of input
        if (rc != Z_BUF_ERROR) RawInflater::Check(rc);
        throw io::gzip_error(io::zlib_error(Z_BUF_ERROR));  // the input ends inside the member
    }
    return crc32_z(crc32_z(0, Z_NULL, 0), reinterpret_cast<const Bytef*>(out.data() + memberStart),
                   filled - memberStart);
}

// Reads the member header at `pos` with Boost's own parser. That parser never ends an
// empty extra field (FEXTRA with XLEN 0): such a field is passed over here and the
// header handed to Boost as one without it.
void ReadMemberHeader(const std::string& in, size_t& pos) {
    const size_t kFlags = 3, kExtraLength = 10;  // offsets in the header
    const bool emptyExtra = in.size() - pos > kExtraLength + 1 && (in[pos + kFlags] & io::gzip::flags::extra) &&
                            in[pos + kExtraLength] == 0 && in[pos + kExtraLength + 1] == 0;
    io::detail::gzip_header header;
    for (size_t at = 0; !header.done(); ++at) {
        if (pos == in.size()) throw io::gzip_error(io::gzip::bad_header);
        const char byte = in[pos++];
        header.process(emptyExtra && at == kFlags ? static_cast<char>(byte & ~io::gzip::flags::extra) : byte);
        if (emptyExtra && at + 1 == kExtraLength) pos += 2;
    }
}

// Every member of the body, in order, inflated straight from the input into the
// result, sized up front from the trailer (and grown if that falls short). The
// headers and trailers are read by Boost's own gzip parsers (an empty extra field
// aside, which they cannot read) and every failure is reported as its gzip
// decompressor reports it. So Boost's rules stay: the magic and the method are
// checked, reserved flags and the header checksum are not, the CRC is checked, ISIZE
// is not, and anything after a member but another member fails the body.
bool GzipDecode(const std::string& strIn, std::string& strOut) {
    std::string result(GzipDecodedSizeHint(strIn), '\0');
    size_t filled = 0, pos = 0;
    RawInflater inflater;
    do {
        ReadMemberHeader(strIn, pos);
        const uLong crc = InflateMember(inflater, strIn, pos, result, filled);
        io::detail::gzip_footer footer;
        while (!footer.done()) {
            if (pos == strIn.size()) throw io::gzip_error(io::gzip::bad_footer);
            footer.process(strIn[pos++]);
        }
        if (footer.crc() != crc) throw io::gzip_error(io::gzip::bad_crc);
    } while (pos < strIn.size());
    decode_reserve::Trim(result, filled);
    strOut.swap(result);
    return true;
}

bool ZstdEncode(const std::string& strIn, std::string& strOut) {
    size_t capacity = zstd_bound(strIn.size());
    strOut.resize(capacity + 1);
    strOut[capacity] = 0;
    size_t written = capacity;
    if (zstd_compress(strIn.data(), strIn.size(), &strOut[0], written) != 0)
        throw ZstandFailure{"zstand compress failed."};
    strOut.resize(written);
    return true;
}

// Every frame is decoded in order; skippable frames are passed over. Declared sizes
// are trusted only up to what the blocks can hold, so a forged header cannot make us
// allocate; and the result is sized from them in one step only as far as
// decode_reserve believes a claim. Beyond that, or when a frame declares no size (a
// streaming producer), the body is decoded as a stream that grows with its output.
bool ZstdDecode(const std::string& strIn, std::string& strOut) {
    const ZstandFailure failure{"zstand uncompress failed."};
    ZstdBodyFacts body;
    if (zstd_body_facts(strIn.data(), strIn.size(), body) != 0) throw failure;
    if (body.hasContentSize && body.contentSize > body.decodedLimit) throw failure;
    if (!body.hasContentSize || decode_reserve::Believable(body.contentSize, strIn.size()) < body.contentSize) {
        std::string result;
        if (zstd_uncompress_stream(strIn.data(), strIn.size(), result, body.decodedLimit) != 0) throw failure;
        decode_reserve::Trim(result, result.size());
        strOut.swap(result);
        return true;
    }
    size_t capacity = static_cast<size_t>(body.contentSize);
    strOut.resize(capacity + 1);
    strOut[capacity] = 0;
    size_t written = capacity;
    if (zstd_uncompress(strIn.data(), strIn.size(), &strOut[0], written) != 0) throw failure;
    strOut.resize(written);
    return true;
}

// How a codec step ended; the caller logs failures with its own texts at its own site.
struct StepOutcome {
    enum Kind {
        kDone,
        kRefused,
        kStdException,
        kUnknownException
    };
    Kind kind;
    std::string text;
};

template <class Step>
StepOutcome RunStep(Step&& step) {
    try {
        return StepOutcome{step() ? StepOutcome::kDone : StepOutcome::kRefused, std::string()};
    } catch (const std::exception& e) {
        return StepOutcome{StepOutcome::kStdException, e.what()};
    } catch (...) {
        return StepOutcome{StepOutcome::kUnknownException, std::string()};
    }
}

}  // namespace

bool EncodeContentGzip(const std::string& strIn, std::string& strOut) {
    StepOutcome r = RunStep([&] { return GzipEncode(strIn, strOut); });
    int length = static_cast<int>(strIn.size());
    if (r.kind == StepOutcome::kStdException)
        LOG_FATAL("EncodeContentGzip exception:%s, data length:%d", r.text.c_str(), length);
    if (r.kind == StepOutcome::kUnknownException)
        LOG_FATAL("EncodeContentGzip unknow exception, data length:%d", length);
    return r.kind == StepOutcome::kDone;
}

bool DecodeContentGzip(const std::string& strIn, std::string& strOut) {
    StepOutcome r = RunStep([&] { return GzipDecode(strIn, strOut); });
    int length = static_cast<int>(strIn.size());
    if (r.kind == StepOutcome::kStdException)
        LOG_FATAL("DecodeContentGzip exception:%s, data length:%d", r.text.c_str(), length);
    if (r.kind == StepOutcome::kUnknownException)
        LOG_FATAL("DecodeContentGzip unknow exception, data length:%d", length);
    return r.kind == StepOutcome::kDone;
}

bool EncodeContentLZ4(const std::string& strIn, std::string& strOut) {
    // The toolkit routine takes non-constant references; it does not modify its input.
    StepOutcome r = RunStep([&] { return Tools::LZ4Compress(const_cast<std::string&>(strIn), strOut) == 1; });
    if (r.kind == StepOutcome::kStdException) LOG_FATAL("EncodeContentLZ4 exception:%s", r.text.c_str());
    if (r.kind == StepOutcome::kUnknownException) LOG_FATAL("EncodeContentLZ4 Unknown exception");
    return r.kind == StepOutcome::kDone;
}

bool DecodeContentLZ4(const std::string& strIn, std::string& strOut) {
    StepOutcome r = RunStep([&] { return Tools::LZ4Decompress(const_cast<std::string&>(strIn), strOut) == 1; });
    if (r.kind == StepOutcome::kStdException) LOG_FATAL("DecodeContentLZ4 exception:%s", r.text.c_str());
    if (r.kind == StepOutcome::kUnknownException) LOG_FATAL("DecodeContentLZ4 Unknown exception");
    return r.kind == StepOutcome::kDone;
}

bool EncodeContentZSTD(const std::string& strIn, std::string& strOut) {
    StepOutcome r = RunStep([&] { return ZstdEncode(strIn, strOut); });
    if (r.kind == StepOutcome::kStdException) LOG_FATAL("EncodeContentZSTD exception:%s", r.text.c_str());
    if (r.kind == StepOutcome::kUnknownException) LOG_FATAL("EncodeContentZSTD Unknown exception");
    return r.kind == StepOutcome::kDone;
}

bool DecodeContentZSTD(const std::string& strIn, std::string& strOut) {
    StepOutcome r = RunStep([&] { return ZstdDecode(strIn, strOut); });
    if (r.kind == StepOutcome::kStdException) LOG_FATAL("DecodeContentZSTD exception:%s", r.text.c_str());
    if (r.kind == StepOutcome::kUnknownException) LOG_FATAL("DecodeContentZSTD Unknown exception");
    return r.kind == StepOutcome::kDone;
}

bool EncodeContent(int ce, const std::string& strIn, std::string& strOut) {
    switch (ce) {
        case KOVA::COMMON::E_GZIP: return EncodeContentGzip(strIn, strOut);
        case KOVA::COMMON::E_LZ4: return EncodeContentLZ4(strIn, strOut);
        case KOVA::COMMON::E_ZSTD: return EncodeContentZSTD(strIn, strOut);
        default: return false;
    }
}

bool DecodeContent(int ce, const std::string& strIn, std::string& strOut) {
    switch (ce) {
        case KOVA::COMMON::E_GZIP: return DecodeContentGzip(strIn, strOut);
        case KOVA::COMMON::E_LZ4: return DecodeContentLZ4(strIn, strOut);
        case KOVA::COMMON::E_ZSTD: return DecodeContentZSTD(strIn, strOut);
        default: return false;
    }
}

}  // namespace TQPublicTool
