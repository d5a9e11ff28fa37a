// Text routines: case, markers, replacement, XML element text and date-time text.
#include "Tools.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>

int Tools::UpString(std::string& sSrc) {
    for (char& c : sSrc) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return 0;
}

int Tools::UpString(char* sSrc) {
    for (char* p = sSrc; p != nullptr && *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
    }
    return 0;
}

int Tools::DownString(std::string& sSrc) { return DownString(&sSrc[0], static_cast<int>(sSrc.size())); }

int Tools::DownString(char* sSrc, int iLength) {
    for (int i = 0; sSrc != nullptr && i < iLength; ++i) {
        if (sSrc[i] >= 'A' && sSrc[i] <= 'Z') sSrc[i] = static_cast<char>(sSrc[i] - 'A' + 'a');
    }
    return 0;
}

int Tools::IsOnlyAscAndNum(char* sSrc, int iLength) {
    for (int i = 0; sSrc != nullptr && i < iLength; ++i) {
        const char c = sSrc[i];
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum) return -1;
    }
    return 0;
}

std::string Tools::Int2String(int iSrc) { return std::to_string(iSrc); }

std::string Tools::GetPara(std::string& sBuff, const char* sBegin, const char* sEnd) {
    if (sBegin == nullptr || sEnd == nullptr) return "";
    const size_t begin = sBuff.find(sBegin);
    // The value starts one character after the match, which suits one-character markers.
    if (begin == std::string::npos || begin + 1 > sBuff.size()) return "";
    const size_t end = sBuff.find(sEnd, begin + 1);
    if (end == std::string::npos) return sBuff.substr(begin + 1);
    return sBuff.substr(begin + 1, end - (begin + 1));
}

int Tools::ReplaceString(std::string& sSrcString, const char* sFromContent, const char* sToContent) {
    if (sFromContent == nullptr || sToContent == nullptr) return -1;
    const std::string from(sFromContent);
    const std::string to(sToContent);
    std::cout << from << "|" << to << "|" << from.size() << std::endl;
    if (from.empty()) return -1;
    if (to.find(from) != std::string::npos) {
        return sSrcString.find(from) == std::string::npos ? 0 : -1;
    }

    // Replacing the first occurrence and searching again from the start is the same as
    // scanning once, left to right, and stepping back over the inserted text and the
    // last from.size() - 1 bytes before it after each replacement: no occurrence can
    // start earlier. `pending` holds the unscanned rest reversed, so pushing text back
    // in front of it is cheap.
    // A rule that does not grow the text always ends: each replacement shortens it, or,
    // at equal length, changes it at the first byte where the two texts differ, always
    // in the same direction, so no text comes back. A growing rule may never end, so it
    // is refused before the text would pass kReplaceOutputLimit bytes. Ending is not
    // enough: a rule that re-forms its own pattern ("ab" -> "ba" over a^k b^k) needs k^2
    // replacements, so the work is bounded too, linearly in the text.
    std::string done;
    std::string pending(sSrcString.rbegin(), sSrcString.rend());
    const size_t growth = to.size() > from.size() ? to.size() - from.size() : 0;
    size_t replacementsLeft = kReplaceWorkPerByte * sSrcString.size() + kReplaceWorkBase;
    while (!pending.empty()) {
        done.push_back(pending.back());
        pending.pop_back();
        if (done.size() < from.size() || done.compare(done.size() - from.size(), from.size(), from) != 0) continue;
        if (growth > 0 && done.size() + pending.size() + growth > kReplaceOutputLimit) return -1;
        if (replacementsLeft-- == 0) return -1;
        done.resize(done.size() - from.size());
        pending.append(to.rbegin(), to.rend());
        const size_t stepBack = std::min(done.size(), from.size() - 1);
        pending.append(done.rbegin(), done.rbegin() + static_cast<std::ptrdiff_t>(stepBack));
        done.resize(done.size() - stepBack);
    }
    sSrcString.swap(done);
    return 0;
}

std::string Tools::GetXmlContent(std::string& sContent, char* psDes) {
    if (psDes == nullptr) return "";
    const std::string open = std::string("<") + psDes + ">";
    const std::string close = std::string("</") + psDes + ">";
    const size_t openAt = sContent.find(open);
    const size_t closeAt = sContent.find(close);
    if (openAt == std::string::npos || closeAt == std::string::npos) return "";
    const size_t start = openAt + open.size();
    if (closeAt < start) return "";
    return sContent.substr(start, closeAt - start);
}

std::string Tools::GetDateTimeStr(const time_t* mytime) {
    struct tm local;
    if (mytime == nullptr || localtime_r(mytime, &local) == nullptr) return "";
    char text[50] = {0};
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
