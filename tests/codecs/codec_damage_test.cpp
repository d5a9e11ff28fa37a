// Damaged, truncated, foreign and over-long inputs: the decoders answer false (LZ4:
// keeping what it decoded), never crash, and log their failures with the fixed texts.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>

#include "CodecTestSupport.h"
#include "KOVACommon.h"
#include "PublicTools.h"
#include "zstand.h"

using namespace codec_test;

namespace {

const int kCodecNumbers[] = {KOVA::COMMON::E_GZIP, KOVA::COMMON::E_LZ4, KOVA::COMMON::E_ZSTD};

std::string Encoded(int ce, const std::string& body) {
    std::string out;
    EXPECT_TRUE(TQPublicTool::EncodeContent(ce, body, out));
    return out;
}

class DamagedInput : public ::testing::TestWithParam<int> {};

TEST_P(DamagedInput, TruncatedBodiesAreRefused) {
    for (const std::string& body : {CompressibleBody(300000), RandomBody(40000)}) {
        const std::string whole = Encoded(GetParam(), body);
        for (size_t cut : {size_t(0), size_t(1), size_t(3), size_t(6), whole.size() / 3, whole.size() / 2,
                           whole.size() - 5, whole.size() - 1}) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
            std::string out;
            EXPECT_FALSE(TQPublicTool::DecodeContent(GetParam(), whole.substr(0, cut), out));
            // What a failed decode leaves must never pose as a longer body.
            if (GetParam() == KOVA::COMMON::E_LZ4) {
                EXPECT_LE(out.size(), body.size());
                EXPECT_EQ(body.substr(0, out.size()), out);
            }
        }
    }
}

// Flipped bits inside the compressed data, in the header and in the trailer. Every
// outcome is allowed except a crash or a "successful" wrong body from a checksummed
// format (gzip and zstd check their content; our LZ4 frames carry no checksum).
TEST_P(DamagedInput, FlippedBitsNeverCrashOrPassSilentlyWhenChecksummed) {
    const std::string body = CompressibleBody(200000);
    const std::string whole = Encoded(GetParam(), body);
    for (size_t at = 0; at < whole.size(); at += whole.size() / 97 + 1) {
        for (unsigned char mask : {0x01, 0x80, 0xff}) {
            std::string damaged = whole;
            damaged[at] = static_cast<char>(damaged[at] ^ mask);
            std::string out;
            bool ok = TQPublicTool::DecodeContent(GetParam(), damaged, out);
            if (ok && GetParam() == KOVA::COMMON::E_GZIP) {
                EXPECT_EQ(body, out) << "byte " << at;
            }
        }
    }
}

TEST_P(DamagedInput, ForeignBytesAreRefused) {
    for (const std::string& junk : {std::string("hello, this is no compressed body"), RandomBody(5000, 11),
                                    std::string(64, '\0')}) {
        std::string out;
        EXPECT_FALSE(TQPublicTool::DecodeContent(GetParam(), junk, out));
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, DamagedInput, ::testing::ValuesIn(kCodecNumbers));

TEST(CodecFailureLog, GzipAndZstdFailuresAreLoggedFatalWithTheirTexts) {
    int gzipBefore = CountInLog("FATAL: DecodeContentGzip exception:");
    int zstdBefore = CountInLog("FATAL: DecodeContentZSTD Unknown exception");
    int lengthBefore = CountInLog(", data length:15");
    std::string out;
    EXPECT_FALSE(TQPublicTool::DecodeContentGzip("not gzip at all", out));
    EXPECT_FALSE(TQPublicTool::DecodeContentZSTD("not zstd at all", out));
    EXPECT_EQ(gzipBefore + 1, CountInLog("FATAL: DecodeContentGzip exception:"));
    EXPECT_EQ(zstdBefore + 1, CountInLog("FATAL: DecodeContentZSTD Unknown exception"));
    EXPECT_EQ(lengthBefore + 1, CountInLog(", data length:15")) << "gzip lines carry the input length";
}

TEST(Lz4Decoding, BytesAfterTheFrameAreIgnored) {
    for (const std::string& body : {CompressibleBody(70000), CompressibleBody(900000)}) {
        const std::string frame = Encoded(KOVA::COMMON::E_LZ4, body);
        for (const std::string& tail : {std::string("garbage after the frame"),
                                        Encoded(KOVA::COMMON::E_LZ4, "second"), RandomBody(40000, 4)}) {
            std::string out;
            ASSERT_TRUE(TQPublicTool::DecodeContentLZ4(frame + tail, out));
            EXPECT_TRUE(out == body);
        }
    }
}

TEST(ZstdDecoding, OnlyTheFirstFrameIsDecoded) {
    const std::string first = CompressibleBody(50000), second = CompressibleBody(9000);
    for (const std::string& tail : {Encoded(KOVA::COMMON::E_ZSTD, second), std::string("trailing junk")}) {
        std::string out;
        ASSERT_TRUE(TQPublicTool::DecodeContentZSTD(Encoded(KOVA::COMMON::E_ZSTD, first) + tail, out));
        EXPECT_TRUE(out == first);
    }
}

// A header that declares more than its blocks hold, or less, is a damaged frame.
TEST(ZstdDecoding, DeclaredSizeThatDisagreesWithTheContentIsRefused) {
    const std::string body = CompressibleBody(1000);
    std::string frame = Encoded(KOVA::COMMON::E_ZSTD, body);
    // ZSTD_compress writes a 2-byte size field (FHD 0x60 | checksum bits) for this body.
    ASSERT_EQ(1000u, ZSTD_getFrameContentSize(frame.data(), frame.size()));
    for (int declared : {999, 1001, 60000}) {
        std::string forged = frame;
        unsigned field = static_cast<unsigned>(declared - 256);
        ASSERT_EQ(0x40, static_cast<unsigned char>(forged[4]) & 0xC0) << "2-byte size field expected";
        forged[5 + ((forged[4] & 0x20) ? 0 : 1)] = static_cast<char>(field & 0xff);
        forged[6 + ((forged[4] & 0x20) ? 0 : 1)] = static_cast<char>(field >> 8);
        ASSERT_EQ(static_cast<unsigned long long>(declared), ZSTD_getFrameContentSize(forged.data(), forged.size()));
        std::string out;
        EXPECT_FALSE(TQPublicTool::DecodeContentZSTD(forged, out)) << declared;
    }
}

TEST(ZstdWrappers, ReportSizesAndFailures) {
    const std::string body = CompressibleBody(20000);
    std::string frame(zstd_bound(body.size()), '\0');
    size_t written = frame.size();
    ASSERT_EQ(0, zstd_compress(body.data(), body.size(), &frame[0], written));
    frame.resize(written);
    EXPECT_EQ(body.size(), zstd_unbound(frame.data(), frame.size()));
    EXPECT_EQ(0u, zstd_unbound("junk", 4));

    size_t tooSmall = 10;
    char small[10];
    EXPECT_EQ(-1, zstd_compress(body.data(), body.size(), small, tooSmall));
    EXPECT_EQ(10u, tooSmall) << "osz stays as given on failure";

    std::string plain(body.size() - 1, '\0');
    size_t capacity = plain.size();
    EXPECT_EQ(-1, zstd_uncompress(frame.data(), frame.size(), &plain[0], capacity));

    ZstdFrameFacts facts;
    ASSERT_EQ(0, zstd_first_frame(frame.data(), frame.size(), facts));
    EXPECT_EQ(frame.size(), facts.frameBytes);
    EXPECT_TRUE(facts.hasContentSize);
    EXPECT_EQ(body.size(), facts.contentSize);
    EXPECT_GE(facts.decodedLimit, body.size());
    EXPECT_EQ(-1, zstd_first_frame(frame.data(), frame.size() - 1, facts));
}

// The streaming decoder stops at its limit instead of growing the output further.
TEST(ZstdWrappers, StreamingDecodeHonoursItsLimit) {
    const std::string body = CompressibleBody(300000);
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ASSERT_NE(nullptr, cctx);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
    std::string frame(ZSTD_compressBound(body.size()), '\0');
    size_t written = ZSTD_compress2(cctx, &frame[0], frame.size(), body.data(), body.size());
    ZSTD_freeCCtx(cctx);
    ASSERT_FALSE(ZSTD_isError(written));
    frame.resize(written);

    std::string out = "kept:";
    EXPECT_EQ(0, zstd_uncompress_stream(frame.data(), frame.size(), out, body.size()));
    EXPECT_TRUE(out == "kept:" + body);
    out.clear();
    EXPECT_EQ(-1, zstd_uncompress_stream(frame.data(), frame.size(), out, body.size() - 1));
    EXPECT_LE(out.size(), body.size() - 1);
    out.clear();
    EXPECT_EQ(-1, zstd_uncompress_stream(frame.data(), frame.size() - 3, out, body.size()));
}

}  // namespace
