// A zstd header may declare any size, a gzip trailer too. The zstd decoder must refuse
// a declared 8 GiB that the frame cannot hold without ever asking for the memory; the
// gzip decoder must not size its result from a forged trailer. This binary replaces the
// global operator new to watch every allocation (and refuses huge ones, so a
// regression fails fast instead of exhausting the machine).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "CodecTestSupport.h"
#include "PublicTools.h"

namespace {

std::atomic<size_t> largestRequest{0};
const size_t kRefuseAbove = size_t(1) << 30;

void* Allocate(size_t size) {
    size_t seen = largestRequest.load();
    while (size > seen && !largestRequest.compare_exchange_weak(seen, size)) {
    }
    if (size > kRefuseAbove) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

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
    largestRequest = 0;
    EXPECT_FALSE(TQPublicTool::DecodeContentZSTD(frame, out));
    EXPECT_LT(largestRequest.load(), size_t(1) << 20);
}

// The guard works from the frame's structure: a declared size that does fit the blocks
// is decoded normally (here an honest empty frame with the same layout).
TEST(ZstdAllocationGuard, SameLayoutDeclaringZeroDecodes) {
    std::string out = "stale";
    EXPECT_TRUE(TQPublicTool::DecodeContentZSTD(FrameDeclaring(0), out));
    EXPECT_EQ("", out);
}

TEST(GzipAllocationGuard, ForgedTrailerSizeIsNotAllocated) {
    const std::string body = codec_test::CompressibleBody(4096);
    std::string gz;
    ASSERT_TRUE(TQPublicTool::EncodeContentGzip(body, gz));
    for (int i = 1; i <= 4; ++i) gz[gz.size() - i] = '\xff';  // ISIZE: 4 GiB - 1
    std::string out;
    largestRequest = 0;
    ASSERT_TRUE(TQPublicTool::DecodeContentGzip(gz, out));  // the size is not checked
    EXPECT_EQ(body, out);
    EXPECT_LT(largestRequest.load(), size_t(4) << 20);
}

}  // namespace
