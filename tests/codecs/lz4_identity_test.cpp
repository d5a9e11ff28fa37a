// The LZ4 encoder compresses whole blocks straight from the caller's bytes with one
// block compressor per thread; its frames must stay byte for byte those of the frame
// API fed in 16 KiB slices with a fresh context, as the encoder used to work.
#include <gtest/gtest.h>
#include <lz4frame.h>

#include <random>

#include "PublicTools.h"
#include "codec_bodies.h"

namespace kova::test::codecs {
namespace {

std::string SlicedFrameApi(const std::string& body) {
    const LZ4F_preferences_t prefs = {
        {LZ4F_max256KB, LZ4F_blockLinked, LZ4F_noContentChecksum, LZ4F_frame, 0, 0, LZ4F_noBlockChecksum},
        0,
        0,
        0,
        {0, 0, 0}};
    LZ4F_cctx* cctx = nullptr;
    if (LZ4F_isError(LZ4F_createCompressionContext(&cctx, 100))) return "no context";
    std::string frame(LZ4F_compressFrameBound(body.size(), &prefs) + LZ4F_HEADER_SIZE_MAX, '\0');
    size_t fill = LZ4F_compressBegin(cctx, &frame[0], frame.size(), &prefs);
    for (size_t at = 0; at < body.size() && !LZ4F_isError(fill); at += 16384) {
        size_t n = LZ4F_compressUpdate(cctx, &frame[fill], frame.size() - fill, body.data() + at,
                                       std::min<size_t>(16384, body.size() - at), nullptr);
        fill = LZ4F_isError(n) ? n : fill + n;
    }
    if (!LZ4F_isError(fill)) fill += LZ4F_compressEnd(cctx, &frame[fill], frame.size() - fill, nullptr);
    LZ4F_freeCompressionContext(cctx);
    frame.resize(fill);
    return frame;
}

TEST(Lz4Identity, FramesEqualTheSlicedFrameApiFromZeroToThreeMiB) {
    std::vector<size_t> sizes = {0,      1,      2,      1023,   1024,    16383,         16384,         16385,  65536,
                                 262143, 262144, 262145, 524288, 1 << 20, (1 << 20) + 1, (3 << 20) - 1, 3 << 20};
    std::mt19937 gen(5);
    for (int i = 0; i < 12; ++i) sizes.push_back(gen() % (3 << 20));
    for (size_t size : sizes) {
        // Each body differs from the last: the block compressor of this thread is reused.
        const unsigned seed = static_cast<unsigned>(size);
        const std::string mixed = CompressibleBody(size / 2, seed) + RandomBody(size - size / 2, seed);
        for (const std::string& body : {RandomBody(size, seed), CompressibleBody(size, seed), mixed}) {
            std::string ours;
            ASSERT_TRUE(TQPublicTool::EncodeContentLZ4(body, ours));
            ASSERT_TRUE(ours == SlicedFrameApi(body)) << "size " << size;
        }
    }
}

}  // namespace
}  // namespace kova::test::codecs
