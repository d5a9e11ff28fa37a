#include "codec_bodies.h"

#include <lz4frame.h>

#include <algorithm>
#include <random>

namespace kova::test::codecs {

std::string RandomBody(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(gen() & 0xff);
    return body;
}

std::string CompressibleBody(size_t size, unsigned seed) {
    static const char* const kWords[] = {"queue", "message", "resource", "commit", "offset",
                                         "agent", "batch",   "pull",     "push",   "produce"};
    std::mt19937 gen(seed);
    std::string body;
    body.reserve(size + 16);
    while (body.size() < size) {
        body += kWords[gen() % 10];
        body += (gen() % 5 == 0) ? std::to_string(gen() % 1000) + "\n" : " ";
    }
    body.resize(size);
    return body;
}

std::string Lz4FlushedFrame(const std::string& body, size_t writeSize) {
    LZ4F_preferences_t prefs{};
    prefs.frameInfo.blockSizeID = LZ4F_max4MB;
    prefs.frameInfo.blockMode = LZ4F_blockLinked;
    prefs.autoFlush = 1;
    LZ4F_cctx* cctx = nullptr;
    if (LZ4F_isError(LZ4F_createCompressionContext(&cctx, LZ4F_VERSION))) return "no context";
    const size_t writes = (body.size() + writeSize - 1) / writeSize;
    std::string frame(LZ4F_HEADER_SIZE_MAX + writes * LZ4F_compressBound(writeSize, &prefs) + 8, '\0');
    size_t fill = LZ4F_compressBegin(cctx, &frame[0], frame.size(), &prefs);
    for (size_t at = 0; at < body.size() && !LZ4F_isError(fill); at += writeSize) {
        const size_t n = LZ4F_compressUpdate(cctx, &frame[fill], frame.size() - fill, body.data() + at,
                                             std::min(writeSize, body.size() - at), nullptr);
        fill = LZ4F_isError(n) ? n : fill + n;
    }
    if (!LZ4F_isError(fill)) fill += LZ4F_compressEnd(cctx, &frame[fill], frame.size() - fill, nullptr);
    LZ4F_freeCompressionContext(cctx);
    frame.resize(LZ4F_isError(fill) ? 0 : fill);
    return frame;
}

std::string Lz4FrameOfTinyBlocks(const std::string& body) {
    std::string frame = Lz4FlushedFrame("", 1);  // the header and the end mark
    frame.resize(frame.size() - 4);
    for (char c : body) frame += std::string("\x02\0\0\0\x10", 5) + c;
    return frame + std::string(4, '\0');
}

const std::vector<size_t>& BoundarySizes() {
    static const std::vector<size_t> sizes = {0, 16384, 16385, 1 << 20};
    return sizes;
}

}  // namespace kova::test::codecs
