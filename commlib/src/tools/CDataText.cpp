// CData's text helpers: character-set conversion, tokens of a separated text, trimming,
// date text, address lists, telephone numbers and user groups.
#include <arpa/inet.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "CData.h"
#include "GbConvert.h"
#include "Tools.h"

namespace {

typedef int (*Converter)(const char* sIn, int iInLen, char* sOut, int iMaxOutLen);

// Converts into a zeroed area of AreaSize bytes; on failure the text converted before
// the failing character remains.
template <int AreaSize>
std::string convertedText(const std::string& in, Converter convert) {
    if (in.empty()) return "";
    char area[AreaSize] = {0};
    const int inLength = in.size() > INT_MAX ? INT_MAX : static_cast<int>(in.size());
    const int written = convert(in.data(), inLength, area, AreaSize);
    if (written < 0 || written >= AreaSize) area[AreaSize - 1] = '\0';
    return std::string(area);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::string CData::ChangeToGbk(std::string sUtf) { return convertedText<30720>(sUtf, Utf8ToGbk); }

std::string CData::ChangeToUtf(std::string sGbk) { return convertedText<61440>(sGbk, GbkToUtf8); }

int CData::getGourpId(ULong ulUid) { return static_cast<int>(ulUid / 120000000 + 1); }

char* CData::MyGetToken(char* sToken, int iTokenSize, char* sString, char* sSeparator) {
    if (!sString || !sSeparator) return sString;
    char* found = strstr(sString, sSeparator);
    const size_t length = found ? static_cast<size_t>(found - sString) : strlen(sString);
    if (sToken && iTokenSize > 0) {
        const size_t copied = length < static_cast<size_t>(iTokenSize) - 1 ? length : iTokenSize - 1;
        memcpy(sToken, sString, copied);
        sToken[copied] = '\0';
    }
    return found ? found + strlen(sSeparator) : sString + length;
}

char* CData::Str_Trim(char* s) {
    if (!s) return s;
    size_t length = strlen(s);
    while (length > 0 && isBlank(s[length - 1])) --length;
    size_t start = 0;
    while (start < length && isBlank(s[start])) ++start;
    memmove(s, s + start, length - start);
    s[length - start] = '\0';
    return s;
}

char* CData::GetShortDateTimeStr(const time_t* mytime) {
    static char text[60];
    snprintf(text, sizeof text, "%s", mytime ? Tools().GetDateTimeStr(mytime).c_str() : "");
    return text;
}

void CData::setSetAddrInfo(char* ips, char* ports, sockaddr_in* addrs, int& nCnt) {
    int filled = 0;
    char separator[] = ",";
    while (ips && ports && addrs && filled < nCnt) {
        Str_Trim(ips);
        Str_Trim(ports);
        if (!*ips || !*ports) break;
        char ip[20];
        char port[10];
        ips = MyGetToken(ip, sizeof ip, ips, separator);
        ports = MyGetToken(port, sizeof port, ports, separator);
        addrs[filled].sin_family = AF_INET;
        addrs[filled].sin_addr.s_addr = inet_addr(ip);
        addrs[filled].sin_port = htons(static_cast<uint16_t>(strtol(port, nullptr, 10)));
        ++filled;
    }
    nCnt = filled;
}

int CData::Updatetel(char* tel) {
    if (!tel) return -1;
    const char* rest = *tel == '+' ? tel + 1 : tel;
    const char* country = "";
    if (strncmp(rest, "00", 2) == 0) {
        rest += 2;  // an international number already names its country
    } else if (strncmp(rest, "86", 2) != 0) {
        country = "86";
    }
    char composed[32];
    const int length = snprintf(composed, sizeof composed, "%s%s", country, rest);
    if (length < 0 || static_cast<size_t>(length) >= sizeof composed) return -1;
    memcpy(tel, composed, length + 1);
    return 0;
}
