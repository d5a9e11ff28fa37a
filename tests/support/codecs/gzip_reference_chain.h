// The straightforward Boost chain for gzip bodies: a string stream into a filtering
// stream (gzip filter with 4096-byte buffers) into a string stream, copied 4096 bytes
// at a time. The codec takes a shorter road; its bytes must equal these.
// Thread-safety: stateless free functions.
#pragma once

#include <boost/iostreams/copy.hpp>
#include <boost/iostreams/filter/gzip.hpp>
#include <boost/iostreams/filtering_stream.hpp>

#include <sstream>
#include <string>

namespace kova::test::codecs {

inline std::string GzipThroughStreams(const std::string& body) {
    namespace io = boost::iostreams;
    io::gzip_params params(io::zlib::default_compression, io::zlib::deflated, 15, 8, io::zlib::default_strategy);
    params.file_name = "";
    params.comment = "";
    params.mtime = 0;
    std::stringstream sink;
    io::filtering_ostream out;
    out.push(io::gzip_compressor(params, 4096));
    out.push(sink);
    std::istringstream source(body);
    io::copy(source, out, 4096);  // closes the chain, which writes the trailer
    return sink.str();
}

inline std::string GunzipThroughStreams(const std::string& gz) {
    namespace io = boost::iostreams;
    io::filtering_istream in;
    in.push(io::gzip_decompressor(15, 4096));
    std::stringstream source(gz);
    in.push(source);
    std::stringstream sink;
    io::copy(in, sink, 4096);
    return sink.str();
}

}  // namespace kova::test::codecs
