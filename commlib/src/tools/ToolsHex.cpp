// Hex routines: console dumps and conversions between bytes and hex text.
#include "Tools.h"

#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

const char kLowerDigits[] = "0123456789abcdef";

void PutLowerHex(unsigned char byte, char* out) {
    out[0] = kLowerDigits[byte >> 4];
    out[1] = kLowerDigits[byte & 0x0f];
}

}  // namespace

void Tools::ChangeBin2String(unsigned char* sIn, int iLength, std::string& sContent) {
    char pair[2];
    for (int i = 0; sIn != nullptr && i < iLength; ++i) {
        PutLowerHex(sIn[i], pair);
        sContent.append(pair, 2);
    }
}

int Tools::ShowHex(char* sbuf, int iSize) {
    std::cout << std::hex;
    for (int i = 0; sbuf != nullptr && i < iSize; ++i) {
        std::cout << static_cast<unsigned>(static_cast<unsigned char>(sbuf[i]));
        if ((i + 1) % 10 == 0) {
            std::cout << std::endl;
        } else {
            std::cout << "  ";
        }
    }
    std::cout << std::dec << std::endl;
    return 0;
}

int Tools::HexShow(unsigned char* sStr, int iLen, int iFlag) {
    const int printed = sStr != nullptr && iLen > 0 ? iLen : 0;
    for (int i = 0; i < printed; ++i) {
        if (i % 25 == 0) printf("\n");
        if (iFlag != 0 && sStr[i] > 31) {
            printf("%2c ", sStr[i]);
        } else {
            printf("%.2x ", sStr[i]);
        }
    }
    if ((printed - 1) % 25 != 0) printf("\n");
    return 0;
}

int Tools::ConvertToBuf(char* sOutput, int iOutLen, char* psInput) {
    if (sOutput == nullptr || psInput == nullptr) return -1;
    const size_t length = strlen(psInput);
    if (length % 2 != 0) return -1;
    // The hex text may come from outside; it must not write past the caller's buffer.
    if (iOutLen < 0 || length / 2 > static_cast<size_t>(iOutLen)) return -1;
    memset(sOutput, 0, static_cast<size_t>(iOutLen));
    for (size_t k = 0; k < length / 2; ++k) {
        const char pair[3] = {psInput[2 * k], psInput[2 * k + 1], '\0'};
        unsigned value = 0;
        if (sscanf(pair, "%x", &value) != 1) value = 0;
        sOutput[k] = static_cast<char>(value & 0xff);
    }
    return 0;
}

int Tools::ConvertToText(char* sOutput, int iOutLen, char* sBuf, int iLen) {
    if (sOutput == nullptr || iLen < 0 || 2LL * iLen > iOutLen) return -1;
    if (iLen > 0 && sBuf == nullptr) return -1;
    memset(sOutput, 0, static_cast<size_t>(iOutLen));
    for (int i = 0; i < iLen; ++i) PutLowerHex(static_cast<unsigned char>(sBuf[i]), sOutput + 2 * i);
    // The terminator goes one past 2 * iLen, which iOutLen does not count.
    sOutput[2 * static_cast<size_t>(iLen)] = '\0';
    return 0;
}
