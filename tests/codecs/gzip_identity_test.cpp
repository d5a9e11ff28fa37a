// The gzip codec skips the stream chain for speed; its bytes must stay those of the
// straightforward chain, whatever the body.
#include <gtest/gtest.h>

#include <cstdint>

#include "PublicTools.h"
#include "codec_bodies.h"
#include "gzip_reference_chain.h"
#include "reference_decoders.h"

namespace kova::test::codecs {
namespace {

TEST(GzipIdentity, EncodedBytesEqualTheStreamChain) {
    std::vector<size_t> sizes = BoundarySizes();
    sizes.insert(sizes.end(), {1, 4095, 4096, 4097, 65536, 3 << 20});
    for (size_t size : sizes) {
        for (const std::string& body : {RandomBody(size, 3), CompressibleBody(size)}) {
            SCOPED_TRACE("size " + std::to_string(size));
            std::string ours;
            ASSERT_TRUE(TQPublicTool::EncodeContentGzip(body, ours));
            EXPECT_TRUE(ours == GzipThroughStreams(body));
        }
    }
}

// Header: no name, no comment, modification time 0, so equal bodies give equal bytes.
TEST(GzipIdentity, HeaderHasNoNameAndNoTime) {
    std::string gz;
    ASSERT_TRUE(TQPublicTool::EncodeContentGzip(CompressibleBody(1000), gz));
    ASSERT_GE(gz.size(), 10u);
    EXPECT_EQ(0, gz[3]) << "flags";
    EXPECT_EQ(std::string(4, '\0'), gz.substr(4, 4)) << "mtime";
}

TEST(GzipIdentity, DecodesWhatTheStreamChainDecodes) {
    std::string body = CompressibleBody(700000);
    std::string gz = GzipThroughStreams(body), ours;
    ASSERT_TRUE(TQPublicTool::DecodeContentGzip(gz, ours));
    EXPECT_TRUE(ours == GunzipThroughStreams(gz));
    EXPECT_TRUE(ours == body);
}

// A header with an empty extra field (FEXTRA, XLEN 0), which Boost's own reader
// cannot end, decodes as zlib decodes it.
TEST(GzipIdentity, DecodesAnEmptyExtraFieldAsZlibDoes) {
    std::string gz = GzipThroughStreams(CompressibleBody(5000)), ours, zlib, refusal;
    gz[3] |= 4;
    gz.insert(10, 2, '\0');
    ASSERT_TRUE(ZlibGunzip(gz, zlib, refusal)) << refusal;
    ASSERT_TRUE(TQPublicTool::DecodeContentGzip(gz, ours));
    EXPECT_TRUE(ours == zlib);
}

// The decoder sizes its result from the trailer; a trailer that is wrong (or only
// the last member's, as with concatenated members) must not change what it decodes.
TEST(GzipIdentity, DecodesLikeTheChainWhateverTheTrailerSizeSays) {
    const std::string big = CompressibleBody(1 << 20), small = RandomBody(100, 8);
    const std::string gzBig = GzipThroughStreams(big);
    const std::string gzSmall = GzipThroughStreams(small);
    std::string ours;
    ASSERT_TRUE(TQPublicTool::DecodeContentGzip(gzBig + gzSmall, ours));
    EXPECT_TRUE(ours == GunzipThroughStreams(gzBig + gzSmall));
    EXPECT_TRUE(ours == big + small);

    // Boost checks the CRC but not ISIZE; whatever ISIZE claims, the body is the same.
    for (uint32_t claimed : {1u, 5000u, 3u << 20}) {
        std::string lying = gzBig;
        for (int i = 0; i < 4; ++i) lying[lying.size() - 4 + i] = static_cast<char>(claimed >> (8 * i));
        ASSERT_TRUE(TQPublicTool::DecodeContentGzip(lying, ours)) << claimed;
        EXPECT_TRUE(ours == big) << claimed;
    }
}

}  // namespace
}  // namespace kova::test::codecs
