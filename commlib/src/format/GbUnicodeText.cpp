// Whole-text conversions over the code table (GB2312 to and from UCS-2, HTML
// references) and the UTF-8 to UCS-2 decoder.
#include <cstdio>
#include <cstring>
#include <vector>

#include "GbConvert.h"

// Continuation bytes that follow each lead byte.
const signed char bytesFromUTF8[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    1, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

// What accumulating the lead and continuation bytes adds beyond the code point.
const unsigned int offsetsFromUTF8[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                         0x03C82080UL, 0xFA082080UL, 0x82082080UL};

const unsigned char firstByteMark[7] = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

namespace {

// The smallest code point that needs each number of continuation bytes: anything less
// is an overlong form, the classic way to pass a '/' or a NUL by a byte-wise check.
const unsigned int kLeastCodeOf[6] = {0x0, 0x80, 0x800, 0x10000, 0x200000, 0x4000000};

bool isSurrogate(unsigned int ch) { return ch >= 0xD800 && ch <= 0xDFFF; }

}  // namespace

int gb2unicode(char* gb, char* unicode, int* unicode_len) {
    int written = 0;
    for (size_t i = 0; gb && gb[i] != '\0'; ++i) {
        const unsigned char byte = static_cast<unsigned char>(gb[i]);
        if (byte < 0x80) {
            unicode[written++] = 0;
            unicode[written++] = static_cast<char>(byte);
        } else if (static_cast<unsigned char>(gb[i + 1]) >= 0x80) {
            if (char_gb2unicode(gb + i, unicode + written) == 0) written += 2;
            ++i;
        }
        // else: a lead byte before an ASCII byte is dropped; the ASCII byte comes next.
    }
    if (unicode_len) *unicode_len = written;
    return 0;
}

int unicode2gb(char* unicode, char* gb, int unicode_len) {
    int written = 0;
    for (int i = 0; unicode && i + 1 < unicode_len; i += 2) {
        if (unicode[i] == 0 && static_cast<unsigned char>(unicode[i + 1]) < 0x80) {
            if (unicode[i + 1] != 0) gb[written++] = unicode[i + 1];
        } else if (char_unicode2gb(unicode + i, gb + written) == 0) {
            written += 2;
        }
    }
    gb[written] = '\0';
    return 0;
}

int gb_uni(char* gb, char* uni) {
    uni[0] = '\0';
    if (!gb) return 0;
    // Two bytes per input byte at most, so any length fits.
    std::vector<char> units(2 * strlen(gb) + 2);
    int length = 0;
    gb2unicode(gb, units.data(), &length);
    char* out = uni;
    for (int i = 0; i + 1 < length; i += 2) {
        out += sprintf(out, "&#x%.2x%.2x;", static_cast<unsigned char>(units[i]),
                       static_cast<unsigned char>(units[i + 1]));
    }
    return 0;
}

int ConvertUTF8toUCS2(unsigned char* sourceStart, unsigned char* sourceEnd, unsigned char* target, int* iCount) {
    int result = 0;
    int count = 0;
    unsigned char* source = sourceStart;
    while (source && source < sourceEnd) {
        const int extra = bytesFromUTF8[*source];
        if (sourceEnd - source <= extra) {
            result = 1;  // the text ends inside this character
            break;
        }
        unsigned int ch = 0;
        bool continued = true;
        for (int k = 0; k <= extra; ++k) {
            if (k > 0 && (*source & 0xC0) != 0x80) continued = false;
            ch += *source++;
            if (k < extra) ch <<= 6;
        }
        ch -= offsetsFromUTF8[extra];
        if (!continued || ch < kLeastCodeOf[extra] || isSurrogate(ch)) {
            result = 3;
            break;
        }
        if (ch > kMaximumUCS2) {
            result = 2;
            break;
        }
        target[count++] = static_cast<unsigned char>(ch >> 8);
        target[count++] = static_cast<unsigned char>(ch);
    }
    if (iCount) *iCount = count;
    return result;
}
