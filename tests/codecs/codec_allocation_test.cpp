// A zstd or LZ4 header may declare any size, a gzip trailer too. The zstd decoder must
// refuse a declared 8 GiB that the frame cannot hold without ever asking for the
// memory; no decoder may reserve more than 8 times its input and 1 MiB for a forged
// claim. That bounds size claims only: a frame's block size costs one block (here the
// LZ4 frame's 64 KiB blocks), whatever the input.
// This binary replaces the global operator new to watch every allocation
// (largest_allocation.h).
#include <gtest/gtest.h>
#include <lz4frame.h>

#include <cstring>

#include "KOVACommon.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "largest_allocation.h"

namespace kova::test::codecs {
namespace {

using fixtures::largestAllocation;
using fixtures::resetLargestAllocation;

// Magic, a descriptor with an 8-byte size field and the single-segment flag, the
// declared size, then one empty last raw block: a well-formed frame in every other way.
std::string FrameDeclaring(unsigned long long declared) {
    std::string frame("\x28\xb5\x2f\xfd\xe0", 5);
    for (int i = 0; i < 8; ++i) frame += static_cast<char>((declared >> (8 * i)) & 0xff);
    frame += std::string("\x01\x00\x00", 3);
    return frame;
}

TEST(ZstdAllocationGuard, HeaderDeclaringEightGibIsRefusedWithoutAllocating) {
    const std::string frame = FrameDeclaring(8ULL << 30);
    std::string out;
    resetLargestAllocation();
    EXPECT_FALSE(TQPublicTool::DecodeContentZSTD(frame, out));
    EXPECT_LT(largestAllocation(), size_t(1) << 20);
}

// The guard works from the frame's structure: a declared size that does fit the blocks
// is decoded normally (here an honest empty frame with the same layout).
TEST(ZstdAllocationGuard, SameLayoutDeclaringZeroDecodes) {
    std::string out = "stale";
    EXPECT_TRUE(TQPublicTool::DecodeContentZSTD(FrameDeclaring(0), out));
    EXPECT_EQ("", out);
}

// Each body below claims far more than its 1 MiB of content: gzip and zstd 4 GiB, LZ4
// 200 MiB (within the 255:1 that LZ4 can expand, so the claim is plausible).
std::string GzipClaimingFourGib(const std::string& body) {
    std::string gz;
    EXPECT_TRUE(TQPublicTool::EncodeContentGzip(body, gz));
    for (int i = 1; i <= 4; ++i) gz[gz.size() - i] = '\xff';  // ISIZE
    return gz;
}

std::string Lz4Claiming200Mib(const std::string& body) {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.contentSize = 200ULL << 20;
    std::string frame(LZ4F_compressFrameBound(body.size(), &prefs), '\0');
    LZ4F_cctx* cctx = nullptr;
    EXPECT_FALSE(LZ4F_isError(LZ4F_createCompressionContext(&cctx, LZ4F_VERSION)));
    size_t fill = LZ4F_compressBegin(cctx, &frame[0], frame.size(), &prefs);
    fill += LZ4F_compressUpdate(cctx, &frame[fill], frame.size() - fill, body.data(), body.size(), nullptr);
    fill += LZ4F_flush(cctx, &frame[fill], frame.size() - fill, nullptr);
    LZ4F_freeCompressionContext(cctx);
    frame.resize(fill);
    return frame + std::string(4, '\0');  // end mark
}

std::string ZstdClaimingFourGib(const std::string& body) {
    std::string frame;
    EXPECT_TRUE(TQPublicTool::EncodeContentZSTD(body, frame));
    EXPECT_EQ(0x80, static_cast<unsigned char>(frame[4]) & 0xC0) << "4-byte size field expected";
    const size_t field = 5 + ((frame[4] & 0x20) ? 0 : 1);  // after the window byte, if any
    for (int i = 0; i < 4; ++i) frame[field + i] = '\xff';
    return frame;
}

struct ForgedClaim {
    const char* name;
    int ce;
    std::string (*make)(const std::string& body);
    bool decodes;  // gzip does not check ISIZE
};

void PrintTo(const ForgedClaim& claim, std::ostream* os) { *os << claim.name; }

class ForgedSizeClaim : public ::testing::TestWithParam<ForgedClaim> {};

TEST_P(ForgedSizeClaim, ReservesEightTimesTheInputAndOneMibAtMost) {
    const std::string body = RandomBody(1 << 20);
    const std::string forged = GetParam().make(body);
    std::string out;
    resetLargestAllocation();
    EXPECT_EQ(GetParam().decodes, TQPublicTool::DecodeContent(GetParam().ce, forged, out));
    // 8 times the input and 1 MiB, and the string's terminating byte.
    EXPECT_LE(largestAllocation(), 8 * forged.size() + (1 << 20) + 1);
    EXPECT_LE(out.capacity(), 2 * body.size()) << "the reserve outlives the decode";
    if (GetParam().decodes) {
        EXPECT_TRUE(out == body);
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, ForgedSizeClaim,
                         ::testing::Values(ForgedClaim{"gzip", KOVA::COMMON::E_GZIP, GzipClaimingFourGib, true},
                                           ForgedClaim{"lz4", KOVA::COMMON::E_LZ4, Lz4Claiming200Mib, false},
                                           ForgedClaim{"zstd", KOVA::COMMON::E_ZSTD, ZstdClaimingFourGib, false}),
                         [](const ::testing::TestParamInfo<ForgedClaim>& info) { return info.param.name; });

}  // namespace
}  // namespace kova::test::codecs
