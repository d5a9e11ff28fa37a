// GB2312 and GBK to and from UTF-8 through iconv, one converter per call.
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "GbConvert.h"

namespace {

enum class Terminator {
    None,
    WithinRoom
};

void reportFailure(const char* in, int inLength, int error) {
    fprintf(stderr, "iconv %.*s: %s", inLength > 0 ? inLength : 0, in ? in : "", strerror(error));
}

int convert(const char* to, const char* from, const char* sIn, int iInLen, char* sOut, int iMaxOutLen,
            Terminator terminator) {
    if (!sIn || !sOut || iInLen < 0 || iMaxOutLen < 0) {
        reportFailure(sIn, iInLen, EINVAL);
        return -1;
    }
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        fprintf(stderr, "ERROR: iconv_open: %s\n", strerror(errno));
        return -1;
    }
    // Room for the terminator is kept back, so it never lands past the output.
    const bool terminate = terminator == Terminator::WithinRoom && iMaxOutLen > 0;
    const size_t room = static_cast<size_t>(iMaxOutLen) - (terminate ? 1 : 0);
    char* in = const_cast<char*>(sIn);
    size_t inLeft = static_cast<size_t>(iInLen);
    char* out = sOut;
    size_t outLeft = room;
    const size_t converted = iconv(cd, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    iconv_close(cd);
    if (converted == static_cast<size_t>(-1)) {
        reportFailure(sIn, iInLen, error);
        return -1;
    }
    if (terminate) *out = '\0';
    return static_cast<int>(room - outLeft);
}

}  // namespace

int Gb2312ToUtf8_2(const char* sIn, int iInLen, char* sOut, int iMaxOutLen) {
    return convert("utf-8", "gb2312", sIn, iInLen, sOut, iMaxOutLen, Terminator::None);
}

int Utf8ToGb2312(const char* sIn, int iInLen, char* sOut, int iMaxOutLen) {
    return convert("gb2312", "utf-8", sIn, iInLen, sOut, iMaxOutLen, Terminator::WithinRoom);
}

int GbkToUtf8(const char* sIn, int iInLen, char* sOut, int iMaxOutLen) {
    return convert("utf-8", "gbk", sIn, iInLen, sOut, iMaxOutLen, Terminator::None);
}

int Utf8ToGbk(const char* sIn, int iInLen, char* sOut, int iMaxOutLen) {
    return convert("gbk", "utf-8", sIn, iInLen, sOut, iMaxOutLen, Terminator::WithinRoom);
}

int Gb2312ToUtf8(char* sIn, int iInLen, char* sOut, int iMaxOutLen) {
    for (int i = 0; sIn && i < iInLen; ++i) {
        const unsigned char byte = static_cast<unsigned char>(sIn[i]);
        if (byte >= 0x01 && byte <= 0x1F && byte != '\t' && byte != '\r') sIn[i] = ' ';
    }
    return Gb2312ToUtf8_2(sIn, iInLen, sOut, iMaxOutLen) < 0 ? -1 : 0;
}
