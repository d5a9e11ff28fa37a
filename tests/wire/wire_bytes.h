// Hand encoder of the Ice 1.1 wire form, written from the encoding rules and not
// from our Slice, so that tests compare the generated marshalling with an
// independent reading of the contract.
// Thread-safety: a plain value; no shared state.
#pragma once

#include <Ice/Config.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace kova::test::wire {

class WireBytes {
public:
    WireBytes& byte(uint8_t b) {
        bytes.push_back(static_cast<Ice::Byte>(b));
        return *this;
    }
    WireBytes& raw(std::initializer_list<uint8_t> list) {
        for (uint8_t b : list) byte(b);
        return *this;
    }
    WireBytes& append(const std::vector<Ice::Byte>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    // Sizes below 255 take one byte, larger ones 255 followed by a 32-bit count.
    WireBytes& size(uint32_t n) {
        if (n < 255) return byte(static_cast<uint8_t>(n));
        byte(255);
        return i32(static_cast<int32_t>(n));
    }
    WireBytes& i16(int16_t v) { return little(static_cast<uint64_t>(static_cast<uint16_t>(v)), 2); }
    WireBytes& i32(int32_t v) { return little(static_cast<uint64_t>(static_cast<uint32_t>(v)), 4); }
    WireBytes& i64(int64_t v) { return little(static_cast<uint64_t>(v), 8); }
    WireBytes& boolean(bool v) { return byte(v ? 1 : 0); }
    WireBytes& str(const std::string& s) {
        size(static_cast<uint32_t>(s.size()));
        for (char c : s) byte(static_cast<uint8_t>(c));
        return *this;
    }
    // A null proxy is an empty identity: two empty strings.
    WireBytes& nullProxy() { return raw({0x00, 0x00}); }
    // A twoway proxy "<name>:tcp -h <host> -p <port> -t <timeout>" with no category,
    // no facet, protocol 1.0 and encoding 1.1.
    WireBytes& tcpProxy(const std::string& name, const std::string& host, int32_t port, int32_t timeout) {
        str(name).str("");  // identity: name, category
        size(0);            // facet path
        byte(0);            // mode: twoway
        boolean(false);     // secure
        raw({1, 0, 1, 1});  // protocol 1.0, encoding 1.1
        size(1);            // one endpoint
        i16(1);             // TCP
        WireBytes body;
        body.str(host).i32(port).i32(timeout).boolean(false);
        return encapsulation(body);
    }
    // An encapsulation: its size (header included), encoding 1.1, then the body.
    WireBytes& encapsulation(const WireBytes& body) {
        i32(static_cast<int32_t>(body.bytes.size() + 6));
        raw({1, 1});
        return append(body.bytes);
    }

    std::vector<Ice::Byte> bytes;

private:
    WireBytes& little(uint64_t v, int width) {
        for (int i = 0; i < width; ++i) byte(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
};

inline std::string Hex(const std::vector<Ice::Byte>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (Ice::Byte b : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

}  // namespace kova::test::wire
