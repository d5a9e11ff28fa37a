// The bare library calls the codecs are measured against: one call (or one loop of
// calls) per body, output into an uninitialised buffer sized up front. Decoders are
// told the decoded size, which the library call alone would otherwise have to guess.
#pragma once

#include <memory>
#include <string>

namespace kova::test::bench {

struct Buffer {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    explicit Buffer(size_t capacity) : data(new char[capacity]), size(capacity) {}
    std::string str() const { return std::string(data.get(), size); }
};

Buffer GzipEncode(const std::string& body);                     // deflateInit2, window bits 31
Buffer GzipDecode(const std::string& gz, size_t plainSize);     // inflateInit2, window bits 31
Buffer Lz4Encode(const std::string& body);                      // LZ4F_compressFrame
Buffer Lz4Decode(const std::string& frame, size_t plainSize);   // LZ4F_decompress
Buffer ZstdEncode(const std::string& body);                     // ZSTD_compress, level 3
Buffer ZstdDecode(const std::string& frame, size_t plainSize);  // ZSTD_decompress

}  // namespace kova::test::bench
