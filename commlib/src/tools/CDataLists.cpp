// CData's integer lists: separated decimal text to integers and back.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CData.h"

namespace {

// atoi's reading (leading blanks, sign, digits up to the first other character, 0 when
// there are none), with out-of-range values held at the int limits.
int decimalValue(const char* text) {
    const long value = strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

int CData::strToIntsz(char* pSrc, char cSep, int* szDst, int iDstSize, int& iDstCnt) {
    char separator[2] = {cSep, '\0'};
    return strToIntsz(pSrc, separator, szDst, iDstSize, iDstCnt);
}

int CData::strToIntsz(char* pSrc, char* sSep, int* szDst, int iDstSize, int& iDstCnt) {
    if (!pSrc || !sSep || !*sSep || !szDst || iDstSize <= 0) return -1;
    const size_t separatorLength = strlen(sSep);
    iDstCnt = 0;
    for (const char* p = pSrc; p;) {
        if (iDstCnt >= iDstSize) return -1;
        szDst[iDstCnt++] = decimalValue(p);
        const char* next = strstr(p, sSep);
        p = next ? next + separatorLength : nullptr;
    }
    return 0;
}

int CData::intszToStr(int* szSrc, int iSrcCnt, char* sSep, char* pDst, int iDstSize) {
    if (!szSrc || !pDst || iDstSize <= 0 || (sSep && !*sSep)) return -1;
    memset(pDst, 0, iDstSize);
    const size_t separatorLength = sSep ? strlen(sSep) : 0;
    size_t used = 0;
    for (int i = 0; i < iSrcCnt; ++i) {
        char number[12];  // "-2147483648" and the terminator
        const size_t numberLength = static_cast<size_t>(snprintf(number, sizeof number, "%d", szSrc[i]));
        const size_t separatorHere = i > 0 ? separatorLength : 0;
        if (used + separatorHere + numberLength + 1 > static_cast<size_t>(iDstSize)) return -1;
        if (separatorHere > 0) memcpy(pDst + used, sSep, separatorHere);
        used += separatorHere;
        memcpy(pDst + used, number, numberLength);
        used += numberLength;
    }
    return 0;
}

int CData::intszToStr(int* szSrc, int iSrcCnt, char cSep, char* pDst, int iDstSize) {
    if (cSep == '\0') return -1;
    char separator[2] = {cSep, '\0'};
    return intszToStr(szSrc, iSrcCnt, separator, pDst, iDstSize);
}
