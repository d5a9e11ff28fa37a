// The GB2312 code table: loading, the sorted index for reverse lookup, and the
// one-character converters.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <utility>

#include "GbConvert.h"
#include "ReadUpTo.h"

char Unicode_Library[kGbTableBytes];
char* Index_Unicode[kGbTableEntries];

namespace {

const unsigned char kFirstLead = 0xB0;
const unsigned char kLastLead = 0xF7;
const unsigned char kFirstTrail = 0xA1;
const unsigned char kLastTrail = 0xFE;
const int kCellsPerRow = 94;

// The table's layout counts the five empty cells D7FA-D7FE, so its 6763 entries end at
// F7F9 and the last five hanzi, F7FA-F7FE, have no entry: they are kept here, in cell
// order, as UCS-2 codes.
const unsigned short kCellsPastTable[] = {0x9F39, 0x9F37, 0x9F3D, 0x9F3E, 0x9F44};
const int kCellsPastTableCount = sizeof kCellsPastTable / sizeof kCellsPastTable[0];

// MySetWordA's reading, kept inline: the search calls it on every step.
unsigned short keyOf(const char* unit) {
    unsigned short key;
    memcpy(&key, unit, sizeof key);
    return key;
}

unsigned short keyAt(int position) { return keyOf(Index_Unicode[position]); }

// Before the first load the index holds no entries, and nothing may walk it.
bool indexBuilt() { return Index_Unicode[0] != nullptr; }

bool validRange(int low, int high) { return low >= 0 && high < kGbTableEntries && low <= high; }

// The GB2312 bytes of a unit among kCellsPastTable: 0, or -1.
int charPastTable(const char* unicode, char* gb) {
    if (!indexBuilt()) return -1;
    const unsigned short code = static_cast<unsigned short>(static_cast<unsigned char>(unicode[0]) << 8 |
                                                            static_cast<unsigned char>(unicode[1]));
    for (int i = 0; i < kCellsPastTableCount; ++i) {
        if (kCellsPastTable[i] != code) continue;
        const int k = kGbTableEntries + i;
        gb[0] = static_cast<char>(kFirstLead + k / kCellsPerRow);
        gb[1] = static_cast<char>(kFirstTrail + k % kCellsPerRow);
        return 0;
    }
    return -1;
}

}  // namespace

void MySetWordA(unsigned short* p, char* w) { memcpy(p, w, sizeof *p); }

int Unicode_Lib_Init(char* filename) {
    const int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return 1;
    // Read aside first: a short or unreadable file leaves the loaded table intact.
    char loaded[kGbTableBytes];
    const ssize_t got = readUpTo(fd, loaded, sizeof loaded);
    close(fd);
    if (got != kGbTableBytes) return 2;
    memcpy(Unicode_Library, loaded, sizeof loaded);
    InitUnicodeIndex();
    SortUnicodeQuick(0, kGbTableEntries - 1);
    return 0;
}

void InitUnicodeIndex() {
    for (int k = 0; k < kGbTableEntries; ++k) Index_Unicode[k] = Unicode_Library + 2 * k;
}

void SortUnicodeQuick(int LowIndex, int HighIndex) {
    if (!indexBuilt() || !validRange(LowIndex, HighIndex)) return;
    const unsigned short pivot = keyAt((LowIndex + HighIndex) / 2);
    int i = LowIndex, j = HighIndex;
    while (i <= j) {
        while (keyAt(i) < pivot) ++i;
        while (keyAt(j) > pivot) --j;
        if (i <= j) {
            std::swap(Index_Unicode[i], Index_Unicode[j]);
            ++i;
            --j;
        }
    }
    if (LowIndex < j) SortUnicodeQuick(LowIndex, j);
    if (i < HighIndex) SortUnicodeQuick(i, HighIndex);
}

void SortUnicodeBubble() {
    if (!indexBuilt()) return;
    for (int front = 0; front < kGbTableEntries - 1; ++front) {
        int largest = front;
        for (int k = front + 1; k < kGbTableEntries; ++k) {
            if (keyAt(k) > keyAt(largest)) largest = k;
        }
        std::swap(Index_Unicode[front], Index_Unicode[largest]);
    }
}

int HalfSearchUnicode(unsigned short UnicodeValue, int LowIndex, int HighIndex) {
    if (!indexBuilt() || !validRange(LowIndex, HighIndex)) return -1;
    while (HighIndex - LowIndex >= 2) {
        const int mid = (LowIndex + HighIndex) / 2;
        const unsigned short key = keyAt(mid);
        if (key == UnicodeValue) return mid;
        if (key > UnicodeValue) {
            HighIndex = mid;
        } else {
            LowIndex = mid;
        }
    }
    return -1;
}

int GetIndexOfUnicode(char* Unicode) {
    if (!indexBuilt() || !Unicode) return -1;
    const unsigned short key = keyOf(Unicode);
    if (key == keyAt(0)) return 0;
    if (key == keyAt(kGbTableEntries - 1)) return kGbTableEntries - 1;
    return HalfSearchUnicode(key, 0, kGbTableEntries - 1);
}

int char_gb2unicode(char* gb, char* unicode) {
    const unsigned char lead = static_cast<unsigned char>(gb[0]);
    const unsigned char trail = static_cast<unsigned char>(gb[1]);
    if (lead < kFirstLead || lead > kLastLead || trail < kFirstTrail || trail > kLastTrail) return -1;
    const int k = (lead - kFirstLead) * kCellsPerRow + (trail - kFirstTrail);
    if (k >= kGbTableEntries) {
        // Like the table's own cells, these are found only once a table is loaded.
        if (!indexBuilt() || k - kGbTableEntries >= kCellsPastTableCount) return -1;
        const unsigned short code = kCellsPastTable[k - kGbTableEntries];
        unicode[0] = static_cast<char>(code >> 8);
        unicode[1] = static_cast<char>(code & 0xFF);
        return 0;
    }
    const char* entry = Unicode_Library + 2 * k;
    // An empty cell, or a table not loaded yet.
    if (entry[0] == 0 && entry[1] == 0) return -1;
    unicode[0] = entry[0];
    unicode[1] = entry[1];
    return 0;
}

int char_unicode2gb(char* unicode, char* gb) {
    if (unicode[0] == 0 && unicode[1] == 0) return -1;  // the empty cells' filler, no character
    const int position = GetIndexOfUnicode(unicode);
    if (position < 0) return charPastTable(unicode, gb);
    const int k = static_cast<int>(Index_Unicode[position] - Unicode_Library) / 2;
    gb[0] = static_cast<char>(kFirstLead + k / kCellsPerRow);
    gb[1] = static_cast<char>(kFirstTrail + k % kCellsPerRow);
    return 0;
}
