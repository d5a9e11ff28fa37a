// MD5 against the RFC 1321 suite and the padding boundaries, in one pass and split at
// every offset; the byte count across 4 GiB; the hex form of a digest.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <string>
#include <vector>

#include "CMD5.h"

namespace kova::test::buffer {
namespace {

std::string patterned(size_t n) {
    std::string data(n, '\0');
    for (size_t i = 0; i < n; ++i) data[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return data;
}

std::string hexOf(const unsigned char digest[16]) {
    unsigned int words[4];
    memcpy(words, digest, sizeof words);
    return CMD5(words).ToString();
}

std::string oneShot(std::string data) {
    CMD5 md5;
    md5.GenerateMD5(reinterpret_cast<unsigned char*>(&data[0]), data.size());
    return md5.ToString();
}

std::string inTwoUpdates(std::string data, size_t split) {
    CMD5 md5;
    CMD5::md5_context ctx;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&data[0]);
    md5.md5_starts(&ctx);
    md5.md5_update(&ctx, bytes, split);
    md5.md5_update(&ctx, bytes + split, data.size() - split);
    unsigned char digest[16];
    md5.md5_finish(&ctx, digest);
    return hexOf(digest);
}

struct Vector {
    std::string data;
    const char* digest;
};

TEST(Md5, RfcSuiteAndPaddingBoundariesInOnePassAndSplitAtEveryOffset) {
    const std::vector<Vector> vectors = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        {patterned(55), "c9e512626618c9980ef21a96597af94c"},
        {patterned(56), "ecde7caa08e9f5657c863df107cac60a"},
        {patterned(63), "2f0301069e1c40af7f6c8f843b1b13f2"},
        {patterned(64), "b6bf87c24b1bc334e2541387a92b981b"},
        {patterned(65), "f168246f08b6134d66bd2a10343fa9f1"},
        {patterned(119), "d5dc3d8264de3aa24dee105910ee27fe"},
        {patterned(120), "bcc139b3848923904860d1eefd6e5923"},
    };
    for (const Vector& v : vectors) {
        SCOPED_TRACE("length " + std::to_string(v.data.size()));
        EXPECT_EQ(oneShot(v.data), v.digest);
        for (size_t split = 0; split <= v.data.size(); ++split) ASSERT_EQ(inTwoUpdates(v.data, split), v.digest);
    }
}

// The count after one update, from a count just under 4 GiB: a short update and one of
// more than 4 GiB (read-only zero pages, so nothing is allocated).
TEST(Md5, ByteCountStaysExactPastFourGiB) {
    struct Case {
        size_t length;
        unsigned int low, high;
    };
    const size_t fourGiB = size_t(1) << 32;
    const std::vector<Case> cases = {{67, 3, 1}, {fourGiB + 64, 0, 2}};
    void* zeros = mmap(nullptr, fourGiB + 64, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    ASSERT_NE(zeros, MAP_FAILED);
    for (const Case& c : cases) {
        CMD5 md5;
        CMD5::md5_context ctx;
        md5.md5_starts(&ctx);
        ctx.total[0] = 0xFFFFFFC0u;  // as if 4 GiB - 64 bytes had been hashed
        md5.md5_update(&ctx, static_cast<unsigned char*>(zeros), c.length);
        EXPECT_EQ(ctx.total[0], c.low) << c.length;
        EXPECT_EQ(ctx.total[1], c.high) << c.length;
    }
    munmap(zeros, fourGiB + 64);
}

TEST(Md5, HexTextInEitherCaseShortOrNullGivesTheBytesItNames) {
    const std::string digest = oneShot("abc");
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    EXPECT_EQ(CMD5(digest.c_str()).ToString(), digest);
    EXPECT_EQ(CMD5(upper.c_str()).ToString(), digest);
    EXPECT_EQ(CMD5("a0b").ToString(), "a00b" + std::string(28, '0'));
    EXPECT_TRUE(CMD5(static_cast<const char*>(nullptr)) == CMD5());
    EXPECT_TRUE(CMD5(digest.c_str()) + CMD5(digest.c_str()) == CMD5());
}

}  // namespace
}  // namespace kova::test::buffer
