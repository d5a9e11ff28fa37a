// Body codecs: gzip stream, LZ4 frame and zstd frame, chosen by the encoding number.
#include "PublicTools.h"

#include <boost/iostreams/device/back_inserter.hpp>
#include <boost/iostreams/filter/gzip.hpp>

#include <algorithm>
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

// The compressor's buffer size is part of its output contract. The decompressor's
// only trades memory for speed: inflate pays at the edges of every call (window
// copies, slow paths), so it takes the whole body at once up to this size.
const std::streamsize kGzipEncodeBufferSize = 4096;
const size_t kGzipDecodeBufferMin = 4096;
const size_t kGzipDecodeBufferMax = 1 << 20;
const int kGzipMaxIdleReads = 16;
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

// The input body as a Boost source the decompressor can read without a stream chain
// (array devices are direct devices, which only chains can read).
class BodySource {
public:
    typedef char char_type;
    typedef io::source_tag category;
    explicit BodySource(const std::string& body) : body_(body) {}
    std::streamsize read(char* s, std::streamsize n) {
        size_t left = body_.size() - pos_;
        if (left == 0) return -1;
        size_t amount = std::min(left, static_cast<size_t>(n));
        body_.copy(s, amount, pos_);
        pos_ += amount;
        return static_cast<std::streamsize>(amount);
    }

private:
    const std::string& body_;
    size_t pos_ = 0;
};

// The trailer's ISIZE (the decoded size modulo 2^32), which anyone can forge, as far
// as decode_reserve believes it.
size_t GzipDecodedSizeHint(const std::string& strIn) {
    if (strIn.size() < 18) return 0;
    const unsigned char* tail = reinterpret_cast<const unsigned char*>(strIn.data()) + strIn.size() - 4;
    size_t isize = tail[0] | tail[1] << 8 | tail[2] << 16 | static_cast<size_t>(tail[3]) << 24;
    return decode_reserve::Believable(isize, strIn.size());
}

// The decompressor is read directly, without a stream chain, and inflates straight
// into the result, sized up front from the trailer (and grown if that falls short).
bool GzipDecode(const std::string& strIn, std::string& strOut) {
    size_t bufferSize = std::clamp(strIn.size() + 1, kGzipDecodeBufferMin, kGzipDecodeBufferMax);
    io::gzip_decompressor decompressor(kGzipWindowBits, static_cast<std::streamsize>(bufferSize));
    BodySource source(strIn);
    // One byte beyond the hint leaves room for the read that finds the end.
    std::string result(GzipDecodedSizeHint(strIn) + 1, '\0');
    size_t filled = 0;
    int idleReads = 0;  // an in-memory source never blocks, so idling means a fault
    for (;;) {
        if (filled == result.size()) result.resize(2 * result.size());
        std::streamsize room = static_cast<std::streamsize>(result.size() - filled);
        std::streamsize got = decompressor.read(source, &result[filled], room);
        if (got == -1) break;
        if (got == 0 && ++idleReads > kGzipMaxIdleReads) throw std::runtime_error("gzip stream stalls");
        if (got != 0) idleReads = 0;
        filled += static_cast<size_t>(got);
    }
    decompressor.close(source, BOOST_IOS::in);
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
