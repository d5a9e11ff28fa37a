// Damaged, truncated, foreign and over-long inputs: the decoders answer false (LZ4:
// keeping what it decoded), never crash, and log their failures with the fixed texts.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstring>

#include "KOVACommon.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "log_reader.h"
#include "test_log.h"
#include "zstand.h"

namespace kova::test::codecs {
namespace {

const int kCodecNumbers[] = {KOVA::COMMON::E_GZIP, KOVA::COMMON::E_LZ4, KOVA::COMMON::E_ZSTD};

std::string Encoded(int ce, const std::string& body) {
    std::string out;
    EXPECT_TRUE(TQPublicTool::EncodeContent(ce, body, out));
    return out;
}

// A zstd frame whose header declares no size, as a streaming producer writes it.
std::string StreamedZstdFrame(const std::string& body) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_contentSizeFlag, 0);
    std::string frame(ZSTD_compressBound(body.size()), '\0');
    size_t written = ZSTD_compress2(cctx, &frame[0], frame.size(), body.data(), body.size());
    ZSTD_freeCCtx(cctx);
    EXPECT_FALSE(ZSTD_isError(written));
    frame.resize(ZSTD_isError(written) ? 0 : written);
    return frame;
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

// Flipped bits in the header, the data and the trailer of a gzip body: gzip checks its
// content, so a body that still decodes must be the original. (LZ4 and zstd bodies
// carry no content checksum; that damage never crashes them is the fuzz target's job.)
TEST(GzipDamage, FlippedBitsNeverPassAsAnotherBody) {
    const std::string body = CompressibleBody(200000);
    const std::string whole = Encoded(KOVA::COMMON::E_GZIP, body);
    for (size_t at = 0; at < whole.size(); at += whole.size() / 97 + 1) {
        for (unsigned char mask : {0x01, 0x80, 0xff}) {
            std::string damaged = whole;
            damaged[at] = static_cast<char>(damaged[at] ^ mask);
            std::string out;
            if (TQPublicTool::DecodeContentGzip(damaged, out)) {
                EXPECT_TRUE(body == out) << "byte " << at;
            }
        }
    }
}

TEST_P(DamagedInput, ForeignBytesAreRefused) {
    for (const std::string& junk :
         {std::string("hello, this is no compressed body"), RandomBody(5000, 11), std::string(64, '\0')}) {
        std::string out;
        EXPECT_FALSE(TQPublicTool::DecodeContent(GetParam(), junk, out));
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, DamagedInput, ::testing::ValuesIn(kCodecNumbers));

TEST(CodecFailureLog, GzipAndZstdFailuresAreLoggedFatalWithTheirTexts) {
    const fixtures::LogMark log(fixtures::testLogDir());
    std::string out;
    EXPECT_FALSE(TQPublicTool::DecodeContentGzip("not gzip at all", out));
    EXPECT_FALSE(TQPublicTool::DecodeContentZSTD("not zstd at all", out));
    EXPECT_EQ(1u, log.count("FATAL: DecodeContentGzip exception:"));
    EXPECT_EQ(1u, log.count("FATAL: DecodeContentZSTD Unknown exception"));
    EXPECT_EQ(1u, log.count(", data length:15")) << "gzip lines carry the input length";
}

// A body may hold several frames (pzstd, lz4 and zstd appending to a file) and
// skippable frames: all frames are decoded in order; anything else after a frame, or a
// frame that fails, fails the body.
class ConcatenatedFrames : public ::testing::TestWithParam<int> {};

TEST_P(ConcatenatedFrames, EveryFrameIsDecodedInOrder) {
    const std::string first = CompressibleBody(300000), second = RandomBody(9000, 2);
    const std::string a = Encoded(GetParam(), first), b = Encoded(GetParam(), second);
    const std::string skippable(
        "\x5a\x2a\x4d\x18\x03\x00\x00\x00"
        "abc",
        11);
    struct Case {
        std::string body;
        bool ok;
    };
    for (const Case& c :
         {Case{a + b, true}, Case{skippable + a + skippable + b + skippable, true}, Case{a + "trailing junk", false},
          Case{a + b.substr(0, b.size() - 2), false}, Case{a + skippable.substr(0, 9), false}}) {
        std::string out;
        EXPECT_EQ(c.ok, TQPublicTool::DecodeContent(GetParam(), c.body, out)) << c.body.size();
        if (c.ok) {
            EXPECT_TRUE(out == first + second);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lz4AndZstd, ConcatenatedFrames, ::testing::Values(KOVA::COMMON::E_LZ4, KOVA::COMMON::E_ZSTD));

// Frames that declare no size (a streaming producer) among ones that do.
TEST(ZstdDecoding, StreamedAndSizedFramesTogether) {
    const std::string first = CompressibleBody(200000), second = CompressibleBody(5000);
    const std::string streamed = StreamedZstdFrame(first);
    std::string out;
    ASSERT_TRUE(TQPublicTool::DecodeContentZSTD(streamed + Encoded(KOVA::COMMON::E_ZSTD, second) + streamed, out));
    EXPECT_TRUE(out == first + second + first);
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

    ZstdBodyFacts facts;
    ASSERT_EQ(0, zstd_body_facts((frame + frame).data(), 2 * frame.size(), facts));
    EXPECT_TRUE(facts.hasContentSize);
    EXPECT_EQ(2 * body.size(), facts.contentSize);
    EXPECT_GE(facts.decodedLimit, 2 * body.size());
    EXPECT_EQ(-1, zstd_body_facts(frame.data(), frame.size() - 1, facts));
}

// The streaming decoder stops at its limit instead of growing the output further.
TEST(ZstdWrappers, StreamingDecodeHonoursItsLimit) {
    const std::string body = CompressibleBody(300000);
    const std::string frame = StreamedZstdFrame(body);

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
}  // namespace kova::test::codecs
