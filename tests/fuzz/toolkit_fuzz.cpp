// Fuzzes the toolkit's decoders of outside input: the packet reader (CData), the URL
// unescaper and registrable-domain rule (Tools), and the GB2312 table decoders.
//
// The first byte chooses the road (its value modulo 4): 0 a packet read field by field
// (each field's kind from the next byte), 1 a URL, 2 a GB2312 text, 3 a packet read by
// the Tools string readers. The CData packet sits in a buffer with room for the longest
// field after its end, as that reader's callers guarantee; the Tools readers are given
// the packet's true size, so each of their reads lies in an exact-size heap copy of the
// bytes left. The checks are that every field stays inside the area it is read into,
// that the cursor moves past whole fields, and that GB text decodes the same after one
// round trip.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CData.h"
#include "GbConvert.h"
#include "Tools.h"

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "toolkit fuzz: %s\n", what);
        abort();
    }
}

UShort prefixAt(const std::vector<UChar>& buf, ULong at) { return static_cast<UShort>(buf[at] << 8 | buf[at + 1]); }

void readPacket(const uint8_t* data, size_t size) {
    std::vector<UChar> buf(data, data + size);
    buf.resize(size + 2 + 0xFFFF + 8);  // the longest field may start at the last byte
    CData reader;
    std::vector<char> area(CData::kMaxStringRead);
    ULong at = 0;
    for (size_t step = 0; step < size && at < size; ++step) {
        const UChar kind = buf[step] % 6;
        const ULong start = at;
        const UShort prefix = prefixAt(buf, at);
        std::string text;
        switch (kind) {
            case 0: {
                ULong64 value;
                reader.getULong64(buf.data(), at, value);
                require(at == start + 8, "integer width");
                break;
            }
            case 1:
                reader.getString(buf.data(), at, text);
                require(text.size() <= CData::kMaxStringRead && at == start + 2 + prefix, "string field");
                break;
            case 2:
                reader.getString(buf.data(), at, area.data());
                require(strlen(area.data()) < CData::kMaxStringRead && at == start + 2 + prefix, "text field");
                break;
            case 3: {
                const int room = buf[step] % 64;
                std::vector<char> small(room + 1);
                const int result = reader.getString2(buf.data(), at, small.data(), room);
                require(result == 0 ? at == start + 2 + prefix : (result == prefix && at == start + 2), "getString2");
                break;
            }
            case 4: {
                char small[32];
                UShort room = sizeof small;
                const int result = reader.getBuffer(buf.data(), at, small, room);
                require(result == 0 ? at == start + 2 + prefix : (result == prefix && at == start + 2), "getBuffer");
                break;
            }
            default: reader.DumpPackage(buf.data() + at, static_cast<int>(size - at)); at = static_cast<ULong>(size);
        }
    }
}

// Tools' string readers trust only the count of bytes left, which here is exact; the
// byte at the step's position chooses the reader.
void readToolsPacket(const uint8_t* data, size_t size) {
    Tools tools;
    static char dest[0x10000];  // room for any field: GetString takes no destination size
    const int capacity = 64;
    size_t at = 0;
    for (size_t step = 0;; ++step) {
        const int left = static_cast<int>(size - at);
        std::unique_ptr<char[]> packet(new char[left]);  // exactly the bytes left
        if (left > 0) memcpy(packet.get(), data + at, left);
        char* cursor = packet.get();
        short length = 0;
        int leaveAfter = left;
        int result;
        switch (size == 0 ? 0 : data[step % size] % 3) {
            case 0: result = tools.GetString2(dest, packet.get(), &length, &leaveAfter, capacity); break;
            case 1: result = tools.GetStringCheck(dest, &cursor, &length, &leaveAfter, capacity); break;
            default: result = tools.GetString(dest, &cursor, &length, &leaveAfter);
        }
        if (left < 2) {
            require(result == -1 && leaveAfter == left && cursor == packet.get(), "short packet touched");
            return;
        }
        const size_t field = 2 + static_cast<UShort>(length);
        require(result == 0 ? field <= static_cast<size_t>(left) : result < 0, "string reader result");
        if (result != 0) return;
        at += field;
    }
}

void readUrl(const uint8_t* data, size_t size) {
    std::string url(reinterpret_cast<const char*>(data), size);
    url.push_back('\0');
    Tools tools;
    std::string unescaped = url;
    tools.unescape_url(&unescaped[0]);
    require(strlen(unescaped.c_str()) <= strlen(url.c_str()), "unescaping lengthens the URL");
    std::string domain;
    std::vector<std::string> suffixes;
    tools.GetUrlToDomail(&url[0], domain);
    tools.GetUrlToDomail(&url[0], suffixes);
}

bool loadTable() {
    std::string path = KOVA_GB2312_TABLE;
    return Unicode_Lib_Init(&path[0]) == 0;
}

void readGb(const uint8_t* data, size_t size) {
    static const bool loaded = loadTable();
    require(loaded, "GB2312 table not loaded");
    std::string gb(reinterpret_cast<const char*>(data), size);
    std::vector<char> units(2 * size + 2), again(2 * size + 2), back(size + 1);
    int length = 0, againLength = 0;
    gb2unicode(&gb[0], units.data(), &length);
    unicode2gb(units.data(), back.data(), length);
    gb2unicode(back.data(), again.data(), &againLength);
    require(length == againLength && memcmp(units.data(), again.data(), length) == 0, "GB round trip differs");

    std::vector<char> references(8 * gb.size() + 1);
    gb_uni(&gb[0], references.data());
    std::vector<unsigned char> ucs2(2 * size + 2);
    int count = 0;
    std::vector<unsigned char> utf8(data, data + size);
    ConvertUTF8toUCS2(utf8.data(), utf8.data() + size, ucs2.data(), &count);
    require(count >= 0 && static_cast<size_t>(count) <= 2 * size, "UCS-2 count");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    switch (data[0] % 4) {
        case 0: readPacket(data + 1, size - 1); break;
        case 1: readUrl(data + 1, size - 1); break;
        case 2: readGb(data + 1, size - 1); break;
        default: readToolsPacket(data + 1, size - 1);
    }
    return 0;
}
