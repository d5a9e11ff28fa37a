// Walks the bytes of one stored record without decoding it (layout in
// KOVAStoreRecord.h). Boost's decoder trusts every length and count it reads and
// allocates for it at once, so a damaged or foreign file could make it ask for
// gigabytes; this walk proves first that every length fits the bytes present.
#include "KOVAStoreRecord.h"

#include <cstring>

namespace KOVA {
namespace storerecord {
namespace {

constexpr uint16_t kOldestSameLayoutVersion = 8;
constexpr uint16_t kNewestReadableVersion = 18;
constexpr size_t kMinStringBytes = 8;
constexpr size_t kMinPairBytes = 2 * kMinStringBytes;
// Empty properties, s_properties, i_properties, l_properties and body.
constexpr size_t kMinMessageBytes = 12 + 12 + 8 + 8 + 8;

class Walker {
public:
    Walker(const char* data, size_t available) : _begin(data), _pos(data), _end(data + available) {}

    size_t walked() const { return static_cast<size_t>(_pos - _begin); }
    const char* reason() const { return _reason; }

    bool header(Check& verdict) {
        static const char kSignature[] = "serialization::archive";
        constexpr size_t kSignatureLen = sizeof(kSignature) - 1;
        uint64_t signatureLen = 0;
        if (left() < 8 + kSignatureLen || !read(signatureLen) || signatureLen != kSignatureLen ||
            std::memcmp(_pos, kSignature, kSignatureLen) != 0) {
            verdict = Check::NoRecord;
            _reason = "no archive header";
            return false;
        }
        _pos += kSignatureLen;
        uint16_t version = 0;
        uint8_t sizes[4] = {0, 0, 0, 0};
        int32_t one = 0;
        if (!read(version) || !read(sizes) || !read(one)) {
            verdict = Check::Damaged;
            return false;
        }
        if (version < kOldestSameLayoutVersion || version > kNewestReadableVersion) {
            verdict = Check::Unsupported;
            _reason = "archive library version not readable here";
            return false;
        }
        if (sizes[0] != sizeof(int) || sizes[1] != sizeof(long) || sizes[2] != sizeof(float) ||
            sizes[3] != sizeof(double) || one != 1) {
            verdict = Check::Unsupported;
            _reason = "archive of another machine type";
            return false;
        }
        return true;
    }

    bool record() { return string() && map() && messages(); }

private:
    size_t left() const { return static_cast<size_t>(_end - _pos); }

    bool fail(const char* why) {
        _reason = why;
        return false;
    }

    template <typename T>
    bool read(T& value) {
        if (left() < sizeof(T)) return fail("record ends early");
        std::memcpy(&value, _pos, sizeof(T));
        _pos += sizeof(T);
        return true;
    }

    bool skip(uint64_t bytes) {
        if (bytes > left()) return fail("a length runs past the record's end");
        _pos += bytes;
        return true;
    }

    bool classInfo(bool& seen) {
        if (seen) return true;
        seen = true;
        uint8_t tracking = 1;
        uint32_t classVersion = 0;
        if (!read(tracking) || !read(classVersion)) return false;
        // Tracked objects would carry object ids this layout does not have.
        return tracking == 0 || fail("tracked object in a record");
    }

    bool count(uint64_t& items, size_t minItemBytes) {
        if (!read(items)) return false;
        return items <= left() / minItemBytes || fail("a count exceeds the bytes left");
    }

    bool collectionHead(bool& seen, uint64_t& items, size_t minItemBytes) {
        uint32_t itemVersion = 0;
        return classInfo(seen) && count(items, minItemBytes) && read(itemVersion);
    }

    bool string() {
        uint64_t length = 0;
        return read(length) && skip(length);
    }

    bool map() {
        uint64_t items = 0;
        if (!collectionHead(_mapSeen, items, kMinPairBytes)) return false;
        for (uint64_t i = 0; i < items; ++i) {
            if (!classInfo(_pairSeen) || !string() || !string()) return false;
        }
        return true;
    }

    bool strings() {
        uint64_t items = 0;
        if (!collectionHead(_stringsSeen, items, kMinStringBytes)) return false;
        for (uint64_t i = 0; i < items; ++i) {
            if (!string()) return false;
        }
        return true;
    }

    bool primitives(size_t itemBytes) {
        uint64_t items = 0;
        return count(items, itemBytes) && skip(items * itemBytes);
    }

    bool messages() {
        uint64_t items = 0;
        if (!collectionHead(_messagesSeen, items, kMinMessageBytes)) return false;
        for (uint64_t i = 0; i < items; ++i) {
            if (!classInfo(_messageSeen) || !map() || !strings() || !primitives(sizeof(int32_t)) ||
                !primitives(sizeof(int64_t)) || !primitives(sizeof(uint8_t)))
                return false;
        }
        return true;
    }

    const char* _begin;
    const char* _pos;
    const char* _end;
    const char* _reason = "";
    bool _mapSeen = false;
    bool _pairSeen = false;
    bool _messagesSeen = false;
    bool _messageSeen = false;
    bool _stringsSeen = false;
};

}  // namespace

Extent Measure(const char* data, size_t available) {
    Walker walker(data, available);
    Check verdict = Check::Damaged;
    if (!walker.header(verdict)) return Extent{verdict, 0, walker.reason()};
    if (!walker.record()) return Extent{Check::Damaged, 0, walker.reason()};
    return Extent{Check::Ok, walker.walked(), ""};
}

}  // namespace storerecord
}  // namespace KOVA
