// Round trips of every codec at the boundary sizes, the encoding-number dispatch,
// and the frame shapes other clients rely on.
#include <gtest/gtest.h>
#include <lz4frame.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "KOVACommon.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "reference_decoders.h"

namespace kova::test::codecs {
namespace {

struct CodecCase {
    int ce;
    const char* name;
    std::string magic;  // first bytes of every encoded body
};

const CodecCase kCodecs[] = {
    {KOVA::COMMON::E_GZIP, "gzip", std::string("\x1f\x8b\x08", 3)},
    {KOVA::COMMON::E_LZ4, "lz4", std::string("\x04\x22\x4d\x18", 4)},
    {KOVA::COMMON::E_ZSTD, "zstd", std::string("\x28\xb5\x2f\xfd", 4)},
};

class CodecRoundTrip : public ::testing::TestWithParam<CodecCase> {};

TEST_P(CodecRoundTrip, RandomAndCompressibleBodiesAtBoundarySizes) {
    const CodecCase& codec = GetParam();
    for (size_t size : BoundarySizes()) {
        for (const std::string& body : {RandomBody(size), CompressibleBody(size)}) {
            SCOPED_TRACE(std::string(codec.name) + " size " + std::to_string(size));
            std::string encoded;
            ASSERT_TRUE(TQPublicTool::EncodeContent(codec.ce, body, encoded));
            EXPECT_EQ(codec.magic, encoded.substr(0, codec.magic.size()));
            std::string decoded;
            ASSERT_TRUE(TQPublicTool::DecodeContent(codec.ce, encoded, decoded));
            EXPECT_TRUE(decoded == body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, CodecRoundTrip, ::testing::ValuesIn(kCodecs),
                         [](const ::testing::TestParamInfo<CodecCase>& info) { return info.param.name; });

TEST(CodecDispatch, UnknownEncodingNumbersFailAndLeaveOutputAlone) {
    const std::string body = CompressibleBody(1000);
    for (int ce : {0, 11, 12, 13, 4, -1}) {
        std::string out = "untouched";
        EXPECT_FALSE(TQPublicTool::EncodeContent(ce, body, out)) << ce;
        EXPECT_EQ("untouched", out) << ce;
        EXPECT_FALSE(TQPublicTool::DecodeContent(ce, body, out)) << ce;
        EXPECT_EQ("untouched", out) << ce;
    }
}

// LZ4 appends to the output; gzip and zstd replace it.
TEST(CodecDispatch, Lz4AppendsWhileGzipAndZstdReplace) {
    // One block, and several (decoded in place behind what strOut held).
    for (const std::string& lz4Body : {CompressibleBody(5000), RandomBody(700000, 2)}) {
        std::string lz4Alone, lz4After = "prefix";
        ASSERT_TRUE(TQPublicTool::EncodeContentLZ4(lz4Body, lz4Alone));
        ASSERT_TRUE(TQPublicTool::EncodeContentLZ4(lz4Body, lz4After));
        EXPECT_TRUE("prefix" + lz4Alone == lz4After);

        std::string decoded = "prefix";
        ASSERT_TRUE(TQPublicTool::DecodeContentLZ4(lz4Alone, decoded));
        EXPECT_TRUE("prefix" + lz4Body == decoded);
    }

    const std::string body = CompressibleBody(5000);

    for (int ce : {KOVA::COMMON::E_GZIP, KOVA::COMMON::E_ZSTD}) {
        std::string fresh, reused = std::string(100000, 'x');
        ASSERT_TRUE(TQPublicTool::EncodeContent(ce, body, fresh));
        ASSERT_TRUE(TQPublicTool::EncodeContent(ce, body, reused));
        EXPECT_EQ(fresh, reused) << ce;
        std::string back = "stale";
        ASSERT_TRUE(TQPublicTool::DecodeContent(ce, fresh, back));
        EXPECT_EQ(body, back) << ce;
    }
}

TEST(Lz4Frame, HeaderCarriesLinkedBigBlocksWithoutSizeOrChecksums) {
    std::string body = RandomBody(300000), frame;
    ASSERT_TRUE(TQPublicTool::EncodeContentLZ4(body, frame));
    LZ4F_dctx* dctx = nullptr;
    ASSERT_FALSE(LZ4F_isError(LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION)));
    LZ4F_frameInfo_t info{};
    size_t consumed = frame.size();
    size_t rc = LZ4F_getFrameInfo(dctx, &info, frame.data(), &consumed);
    LZ4F_freeDecompressionContext(dctx);
    ASSERT_FALSE(LZ4F_isError(rc)) << LZ4F_getErrorName(rc);
    EXPECT_EQ(LZ4F_max256KB, info.blockSizeID);
    EXPECT_EQ(LZ4F_blockLinked, info.blockMode);
    EXPECT_EQ(LZ4F_noContentChecksum, info.contentChecksumFlag);
    EXPECT_EQ(LZ4F_noBlockChecksum, info.blockChecksumFlag);
    EXPECT_EQ(0u, info.contentSize);
}

// The encoder reports every flush of its work buffer on standard output, and what it
// reports adds up to the frame minus the last, unreported piece.
// Frames of other producers decode as the frame API decodes them: every block size
// and mode, with and without the content size and checksums, one after another in
// one body, and an empty stored block, which is no end mark.
TEST(Lz4Frame, FramesOfEverySettingDecodeInOneBody) {
    const std::string body = CompressibleBody(300000, 4) + RandomBody(100000, 4) + CompressibleBody(200000, 5);
    std::string all, expected;
    for (LZ4F_blockSizeID_t size : {LZ4F_max64KB, LZ4F_max256KB, LZ4F_max1MB, LZ4F_max4MB}) {
        for (LZ4F_blockMode_t mode : {LZ4F_blockLinked, LZ4F_blockIndependent}) {
            for (int options = 0; options < 8; ++options) {  // content size, content and block checksums
                LZ4F_preferences_t prefs{};
                prefs.frameInfo = {size,
                                   mode,
                                   options & 2 ? LZ4F_contentChecksumEnabled : LZ4F_noContentChecksum,
                                   LZ4F_frame,
                                   options & 1 ? body.size() : 0,
                                   0,
                                   options & 4 ? LZ4F_blockChecksumEnabled : LZ4F_noBlockChecksum};
                std::string frame(LZ4F_compressFrameBound(body.size(), &prefs), '\0');
                const size_t written = LZ4F_compressFrame(&frame[0], frame.size(), body.data(), body.size(), &prefs);
                ASSERT_FALSE(LZ4F_isError(written));
                all += frame.substr(0, written);
                expected += body;
            }
        }
    }
    // Header of linked 64 KiB blocks, an empty stored block, "ab" stored, end mark.
    all += std::string(
        "\x04\x22\x4d\x18\x40\x40\xc0\x00\x00\x00\x80\x02\x00\x00\x80"
        "ab\0\0\0\0",
        21);
    expected += "ab";
    std::string decoded;
    ASSERT_TRUE(TQPublicTool::DecodeContentLZ4(all, decoded));
    EXPECT_TRUE(decoded == expected);
}

// A 1 MiB frame of one-byte blocks costs about what the frame API takes for it (the
// bound is a hundredfold), and decodes to the same bytes.
TEST(Lz4Frame, FrameOfTinyBlocksDecodesLikeTheFrameApi) {
    using Clock = std::chrono::steady_clock;
    const std::string frame = Lz4FrameOfTinyBlocks(CompressibleBody(174760));
    std::string reference, ours;
    Clock::time_point start = Clock::now();
    ASSERT_TRUE(Lz4FrameApiDecode(frame, reference));
    const Clock::duration frameApi = Clock::now() - start;
    start = Clock::now();
    ASSERT_TRUE(TQPublicTool::DecodeContentLZ4(frame, ours));
    EXPECT_LT(Clock::now() - start, std::max<Clock::duration>(100 * frameApi, std::chrono::seconds(1)));
    EXPECT_TRUE(ours == reference);
}

TEST(Lz4Frame, EncoderReportsEachFlushOnStandardOutput) {
    std::string body = RandomBody(1 << 20), frame;
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    bool ok = TQPublicTool::EncodeContentLZ4(body, frame);
    fflush(stdout);
    std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok);
    // Every line must read "Writing <n> bytes"; nothing else may be printed.
    size_t reported = 0;
    int flushes = 0;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        size_t bytes = 0;
        int consumed = 0;
        ASSERT_EQ(1, sscanf(line.c_str(), "Writing %zu bytes%n", &bytes, &consumed)) << line;
        ASSERT_EQ(line.size(), static_cast<size_t>(consumed)) << line;
        reported += bytes;
        ++flushes;
    }
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ('\n', printed.back());
    EXPECT_GE(flushes, 3);  // four 256 KiB blocks; the last one leaves with the end mark
    EXPECT_LT(reported, frame.size());
    EXPECT_GT(reported, frame.size() - (300 << 10));
}

TEST(ZstdFrame, HeaderDeclaresContentSize) {
    for (size_t size : BoundarySizes()) {
        std::string body = CompressibleBody(size), frame;
        ASSERT_TRUE(TQPublicTool::EncodeContentZSTD(body, frame));
        EXPECT_EQ(size, ZSTD_getFrameContentSize(frame.data(), frame.size()));
    }
}

}  // namespace
}  // namespace kova::test::codecs
