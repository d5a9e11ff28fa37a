// Packet fields: fixed-width copies and strings behind a 2-byte big-endian length.
// The length comes from the packet, so it is read unsigned and checked against the
// bytes left (and, where given, the destination) before anything is copied; it is
// read only when the caller's count of bytes left holds it.
#include "Tools.h"

#include <arpa/inet.h>
#include <climits>
#include <cstring>

namespace {

// Outcome of a string-field read, before the copy.
enum FieldCheck {
    kFieldFits = 0,
    kFieldShort = -1,
    kFieldTooLarge = -2
};

// Reads the length prefix at `src`, reports it through shStringLen (the 16 bits as
// they stand) and takes 2 + length from *piLeaveLen. A destination of kNoCapacity
// bytes takes any length; every size a caller can pass, negative ones included, is
// checked.
const long long kNoCapacity = LLONG_MAX;

FieldCheck CheckField(const char* src, short* shStringLen, int* piLeaveLen, long long capacity, size_t* length) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(src);
    *length = static_cast<size_t>(bytes[0]) << 8 | bytes[1];
    *shStringLen = static_cast<short>(static_cast<unsigned short>(*length));
    long long left = static_cast<long long>(*piLeaveLen) - 2 - static_cast<long long>(*length);
    *piLeaveLen = static_cast<int>(left < INT_MIN ? INT_MIN : left);
    if (left < 0) return kFieldShort;
    if (static_cast<long long>(*length) > capacity - 1) return kFieldTooLarge;
    return kFieldFits;
}

int ReadField(char* sDesc, char** sSrc, short* shStringLen, int* piLeaveLen, long long capacity) {
    if (sDesc == nullptr || sSrc == nullptr || *sSrc == nullptr || shStringLen == nullptr || piLeaveLen == nullptr) {
        return -1;
    }
    // The prefix itself must lie inside what is left: nothing is read, counted or moved.
    if (*piLeaveLen < 2) return kFieldShort;
    size_t length = 0;
    const FieldCheck check = CheckField(*sSrc, shStringLen, piLeaveLen, capacity, &length);
    *sSrc += 2;
    if (check != kFieldFits) return check;
    memcpy(sDesc, *sSrc, length);
    *sSrc += length;
    return 0;
}

}  // namespace

int Tools::GetChar(char* cDesc, char** sSrc) {
    *cDesc = **sSrc;
    *sSrc += 1;
    return 0;
}

int Tools::GetChar2(char* cDesc, char* sSrc) {
    *cDesc = *sSrc;
    return 0;
}

int Tools::GetWord(char* sDesc, char** sSrc) {
    memcpy(sDesc, *sSrc, 2);
    *sSrc += 2;
    return 0;
}

int Tools::GetWord2(char* sDesc, char* sSrc) {
    memcpy(sDesc, sSrc, 2);
    return 0;
}

int Tools::GetDWord(char* sDesc, char** sSrc) {
    memcpy(sDesc, *sSrc, 4);
    *sSrc += 4;
    return 0;
}

int Tools::GetDWord2(char* sDesc, char* sSrc) {
    memcpy(sDesc, sSrc, 4);
    return 0;
}

int Tools::GetString(char* sDesc, char** sSrc, short* shStringLen, int* piLeaveLen) {
    return ReadField(sDesc, sSrc, shStringLen, piLeaveLen, kNoCapacity);
}

int Tools::GetString2(char* sDesc, char* sSrc, short* shStringLen, int* piLeaveLen, int iSrcSize) {
    return ReadField(sDesc, &sSrc, shStringLen, piLeaveLen, iSrcSize);
}

int Tools::GetStringCheck(char* sDesc, char** sSrc, short* shStringLen, int* piLeaveLen, int iSrcSize) {
    return ReadField(sDesc, sSrc, shStringLen, piLeaveLen, iSrcSize);
}

int Tools::SetChar(char* cDesc, char* sSrc) {
    *cDesc = *sSrc;
    return 0;
}

int Tools::SetWord(char* sDesc, char* sSrc, int* piTotolLen) {
    memcpy(sDesc, sSrc, 2);
    if (piTotolLen != nullptr) *piTotolLen += 2;
    return 0;
}

int Tools::SetWord2(char* sDesc, char* sSrc) {
    memcpy(sDesc, sSrc, 2);
    return 0;
}

int Tools::SetDWord(char* sDesc, char* sSrc, int* piTotolLen) {
    memcpy(sDesc, sSrc, 4);
    if (piTotolLen != nullptr) *piTotolLen += 4;
    return 0;
}

int Tools::SetDWord2(char* sDesc, char* sSrc) {
    memcpy(sDesc, sSrc, 4);
    return 0;
}

int Tools::SetString(char* sDesc, const char* sSrc, short shLen, int* piTotalLen) {
    // A negative length would reach memcpy as a huge size: refuse it.
    if (shLen < 0 || sDesc == nullptr || (shLen > 0 && sSrc == nullptr)) return -1;
    if (shLen > 0) memcpy(sDesc + 2, sSrc, static_cast<size_t>(shLen));
    uint16_t prefix = htons(static_cast<uint16_t>(shLen));
    SetWord(sDesc, reinterpret_cast<char*>(&prefix), piTotalLen);
    if (piTotalLen != nullptr) *piTotalLen += shLen;
    return 0;
}
