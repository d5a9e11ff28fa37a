// Encoding and decoding of one fail-store record through Boost's binary archives.
#include "KOVAStoreRecord.h"

#include <cstring>
#include <stdexcept>
#include <streambuf>

#include <boost/archive/binary_iarchive.hpp>
#include <boost/archive/binary_oarchive.hpp>

#include "KOVAMessageSerialization.h"

namespace KOVA {
namespace storerecord {
namespace {

// Appends everything written to a string (no intermediate buffer, no locale).
class AppendToString : public std::streambuf {
public:
    explicit AppendToString(std::string& out) : _out(out) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        _out.append(s, static_cast<size_t>(n));
        return n;
    }
    int_type overflow(int_type c) override {
        if (!traits_type::eq_int_type(c, traits_type::eof())) _out.push_back(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }

private:
    std::string& _out;
};

// Reads a fixed span of bytes; never reads past its end.
class ReadSpan : public std::streambuf {
public:
    ReadSpan(const char* data, size_t length) {
        char* begin = const_cast<char*>(data);  // the get area is never written through
        setg(begin, begin, begin + length);
    }
    size_t consumed() const { return static_cast<size_t>(gptr() - eback()); }
};

template <typename T>
void appendRaw(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

}  // namespace

void Encode(const std::string& rid, const KOVA::COMMON::KOVAProperties& properties,
            const KOVAMsg::KOVABatchMessage& datas, std::string& out) {
    static const char kSignature[] = "serialization::archive";
    out.clear();
    appendRaw<uint64_t>(out, sizeof(kSignature) - 1);
    out.append(kSignature, sizeof(kSignature) - 1);
    appendRaw<uint16_t>(out, kWrittenLibraryVersion);
    out.push_back(static_cast<char>(sizeof(int)));
    out.push_back(static_cast<char>(sizeof(long)));
    out.push_back(static_cast<char>(sizeof(float)));
    out.push_back(static_cast<char>(sizeof(double)));
    appendRaw<int32_t>(out, 1);

    AppendToString sink(out);
    boost::archive::binary_oarchive archive(sink, boost::archive::no_header | boost::archive::no_codecvt);
    archive << boost::serialization::make_nvp("rid", rid);
    archive << boost::serialization::make_nvp("properties", properties);
    archive << boost::serialization::make_nvp("datas", datas);
}

void Decode(const char* data, size_t length, std::string& rid, KOVA::COMMON::KOVAProperties& properties,
            KOVAMsg::KOVABatchMessage& datas) {
    ReadSpan source(data, length);
    {
        boost::archive::binary_iarchive archive(source, boost::archive::no_codecvt);
        archive >> boost::serialization::make_nvp("rid", rid);
        archive >> boost::serialization::make_nvp("props", properties);
        archive >> boost::serialization::make_nvp("datas", datas);
    }
    if (source.consumed() != length) throw std::runtime_error("record length differs from its layout");
}

}  // namespace storerecord
}  // namespace KOVA
