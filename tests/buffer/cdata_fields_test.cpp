// Packet fields: the wire form of integers, and string fields whose lengths do not fit
// the areas they are read into (every read stays inside its area, the cursor lands on
// the next field, and a written prefix always matches its bytes).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "CData.h"

namespace kova::test::buffer {
namespace {

TEST(PacketFields, IntegersTravelMostSignificantByteFirst) {
    CData data;
    UChar buf[16];
    ULong put = 0;
    data.putUInt(buf, put, 0x01020304u);
    data.putULong64(buf, put, 0x1112131415161718ull);
    data.putShort(buf, put, -2);
    const std::vector<UChar> wire = {1, 2, 3, 4, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0xFF, 0xFE};
    ASSERT_EQ(put, wire.size());
    EXPECT_EQ(std::vector<UChar>(buf, buf + put), wire);
    ULong get = 0;
    UInt u;
    ULong64 u64;
    short s;
    EXPECT_EQ(data.getUInt(buf, get, u), 0x01020304u);
    EXPECT_EQ(data.getULong64(buf, get, u64), 0x1112131415161718ull);
    EXPECT_EQ(data.getShort(buf, get, s), -2);
    EXPECT_EQ(get, put);
}

// A packet of one string field of `length` bytes ('x', no zero byte) and then the
// 4-byte marker 0xCAFEF00D. Heap-held, so reads past it are caught.
std::vector<UChar> packet(ULong length) {
    std::vector<UChar> bytes(2 + length + 4, 'x');
    bytes[0] = static_cast<UChar>(length >> 8);
    bytes[1] = static_cast<UChar>(length);
    ULong at = 2 + length;
    CData().putUInt(bytes.data(), at, 0xCAFEF00Du);
    return bytes;
}

TEST(PacketFields, OversizedFieldsStayInsideTheirAreasAndTheCursorFindsTheNextField) {
    struct Case {
        const char* name;
        ULong length;
        // Reads the field; returns the bytes of text kept (or a refusal's result).
        std::function<long(UChar*, ULong&)> read;
        long expected;
        bool skipsField;  // else the cursor stays just after the prefix
    };
    const std::vector<Case> cases = {
        {"string above the read area", 40000,
         [](UChar* b, ULong& at) {
             std::string s;
             CData().getString(b, at, s);
             return static_cast<long>(s.size());
         },
         30719, true},
        {"text filling the read area", 30720,
         [](UChar* b, ULong& at) {
             std::vector<char> area(CData::kMaxStringRead);
             CData().getString(b, at, area.data());
             return static_cast<long>(strlen(area.data()));
         },
         30719, true},
        {"text above the read area", 65535,
         [](UChar* b, ULong& at) {
             std::vector<char> area(CData::kMaxStringRead);
             CData().getString(b, at, area.data());
             return static_cast<long>(strlen(area.data()));
         },
         30719, true},
        {"getString2 one over", 6,
         [](UChar* b, ULong& at) {
             char area[6];
             return static_cast<long>(CData().getString2(b, at, area, 5));
         },
         6, false},
        {"getString2 negative room", 6,
         [](UChar* b, ULong& at) {
             char area[1];
             return static_cast<long>(CData().getString2(b, at, area, -1));
         },
         6, false},
        {"getBuffer one over", 6,
         [](UChar* b, ULong& at) {
             char area[5];
             UShort room = sizeof area;
             return static_cast<long>(CData().getBuffer(b, at, area, room));
         },
         6, false},
    };
    for (const Case& c : cases) {
        std::vector<UChar> bytes = packet(c.length);
        ULong at = 0;
        EXPECT_EQ(c.read(bytes.data(), at), c.expected) << c.name;
        if (!c.skipsField) {
            EXPECT_EQ(at, 2u) << c.name;
            continue;
        }
        UInt marker = 0;
        EXPECT_EQ(CData().getUInt(bytes.data(), at, marker), 0xCAFEF00Du) << c.name;
    }
}

TEST(PacketFields, WrittenPrefixMatchesTheBytesWrittenForAnyLength) {
    for (size_t length : {size_t(0), size_t(65535), size_t(65536), size_t(70000)}) {
        std::vector<UChar> buf(2 + length + 4);
        ULong at = 0;
        CData().putString(buf.data(), at, std::string(length, 'y'));
        const ULong written = at;
        CData().putUInt(buf.data(), at, 0xCAFEF00Du);
        ULong read = 0;
        UShort prefix;
        CData().getUShort(buf.data(), read, prefix);
        EXPECT_EQ(2u + prefix, written) << length;
        read = written;
        UInt marker;
        EXPECT_EQ(CData().getUInt(buf.data(), read, marker), 0xCAFEF00Du) << length;
    }
}

}  // namespace
}  // namespace kova::test::buffer
