// CData's hex dumps: the console form (16 bytes a line with a character column) and the
// log form in a static buffer.
#include <cstdio>
#include <cstring>

#include "CData.h"

namespace {

const int kBytesPerLine = 16;

// One console line: offset, the bytes in hex (missing ones as blanks) and the printable
// bytes, others as '.'.
void printConsoleLine(const UChar* bytes, size_t count, size_t offset) {
    // Room for the widest offset (16 hex digits and ": "): dumps past 256 MiB print
    // eight digits or more.
    char line[18 + kBytesPerLine * 3 + kBytesPerLine + 1];
    int used = snprintf(line, sizeof line, "%04zx: ", offset);
    if (used < 0) return;
    char column[kBytesPerLine];
    for (int i = 0; i < kBytesPerLine; ++i) {
        if (static_cast<size_t>(i) < count) {
            const UChar byte = bytes[i];
            snprintf(line + used, sizeof line - used, "%02x ", byte);
            column[i] = byte < 0x20 || byte >= 0x80 ? '.' : static_cast<char>(byte);
        } else {
            memcpy(line + used, "   ", 3);
            column[i] = ' ';
        }
        used += 3;
    }
    memcpy(line + used, column, kBytesPerLine);
    used += kBytesPerLine;
    line[used++] = '\n';
    fwrite(line, 1, used, stdout);
}

void printConsoleDump(const UChar* data, size_t size) {
    for (size_t offset = 0; offset < size; offset += kBytesPerLine) {
        const size_t rest = size - offset;
        printConsoleLine(data + offset, rest < kBytesPerLine ? rest : kBytesPerLine, offset);
    }
}

}  // namespace

int CData::hexShow(UChar* buf, UInt uiBufLen, int /*iFlag*/) {
    printConsoleDump(buf, uiBufLen);
    return 0;
}

void CData::hex_dump(const char* data, Long size) {
    if (size > 0) printConsoleDump(reinterpret_cast<const UChar*>(data), static_cast<size_t>(size));
}

char* CData::DumpPackage(void* pPkg, int iPkgLen) {
    static char dump[65536];
    dump[0] = '\0';
    const UChar* bytes = static_cast<const UChar*>(pPkg);
    size_t used = 0;
    for (int i = 0; i < iPkgLen; ++i) {
        const int column = i % kBytesPerLine;
        char prefix[8] = "";
        if (column == 0) snprintf(prefix, sizeof prefix, "%04hX: ", static_cast<unsigned short>(i));
        const char* separator = column == 15 ? "\n" : column == 7 ? " | " : column == 3 || column == 11 ? " - " : " ";
        const int n = snprintf(dump + used, sizeof dump - used, "%s%02X%s", prefix, bytes[i], separator);
        if (n < 0 || static_cast<size_t>(n) >= sizeof dump - used) break;  // cut short, still terminated
        used += n;
    }
    return dump;
}
