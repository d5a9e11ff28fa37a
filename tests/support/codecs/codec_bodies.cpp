#include "codec_bodies.h"

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

const std::vector<size_t>& BoundarySizes() {
    static const std::vector<size_t> sizes = {0, 16384, 16385, 1 << 20};
    return sizes;
}

}  // namespace kova::test::codecs
