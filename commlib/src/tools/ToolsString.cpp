// Text routines: case, markers, replacement, XML element text and date-time text.
#include "Tools.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <vector>

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

namespace {

// Finds one pattern in text fed a byte at a time (Knuth-Morris-Pratt), in time linear in
// the text however long the pattern: a run fed from state 0 compares at most twice per
// byte. A state is how many bytes of the pattern end the text fed so far.
class PatternScan {
public:
    explicit PatternScan(const std::string& pattern) : pattern_(pattern), fallback_(pattern.size()) {
        // fallback_[i]: where to go on a mismatch at pattern byte i, skipping every
        // shorter border whose next byte is the same one that just failed; -1: none.
        fallback_[0] = -1;
        std::ptrdiff_t border = 0;
        for (size_t i = 1; i < pattern.size(); ++i, ++border) {
            if (pattern[i] == pattern[static_cast<size_t>(border)]) {
                fallback_[i] = fallback_[static_cast<size_t>(border)];
            } else {
                fallback_[i] = border;
                while (border >= 0 && pattern[i] != pattern[static_cast<size_t>(border)]) {
                    border = fallback_[static_cast<size_t>(border)];
                }
            }
        }
    }

    // The state after c, from a state below the pattern's length; the comparisons
    // made are added to work.
    size_t feed(size_t state, char c, size_t& work) const {
        std::ptrdiff_t at = static_cast<std::ptrdiff_t>(state);
        ++work;
        while (at >= 0 && pattern_[static_cast<size_t>(at)] != c) {
            at = fallback_[static_cast<size_t>(at)];
            ++work;
        }
        return static_cast<size_t>(at + 1);
    }

    bool occursIn(const std::string& text) const {
        size_t state = 0, work = 0;
        for (const char c : text) {
            state = feed(state, c, work);
            if (state == pattern_.size()) return true;
        }
        return false;
    }

private:
    const std::string& pattern_;
    std::vector<std::ptrdiff_t> fallback_;
};

}  // namespace

int Tools::ReplaceString(std::string& sSrcString, const char* sFromContent, const char* sToContent) {
    if (sFromContent == nullptr || sToContent == nullptr) return -1;
    const std::string from(sFromContent);
    const std::string to(sToContent);
    std::cout << from << "|" << to << "|" << from.size() << std::endl;
    if (from.empty()) return -1;
    if (from.size() > sSrcString.size()) return 0;
    const PatternScan scan(from);
    if (scan.occursIn(to)) return scan.occursIn(sSrcString) ? -1 : 0;

    // Replacing the first occurrence and searching again from the start is the same as
    // scanning once, left to right, and going on after each replacement from where it
    // starts, in the state the scan had there: no occurrence can start earlier. That
    // state depends only on the from.size() - 1 bytes before, which are scanned again.
    // The text is bytes[0, doneEnd) (scanned, holding no occurrence) followed by
    // bytes[restAt, text.size()); replacements go into the gap between the two.
    // A rule that does not grow the text always ends: each replacement shortens it, or,
    // at equal length, changes it at the first byte where the two texts differ, always
    // in the same direction, so no text comes back. A growing rule may never end, so it
    // is refused before the text would pass kReplaceOutputLimit bytes. Ending is not
    // enough: a rule that re-forms its own pattern ("ab" -> "ba" over a^k b^k) needs k^2
    // replacements, and one whose pattern is long moves that much at each, so the work
    // is bounded too: the bytes compared and moved, and some for each replacement.
    std::string text(sSrcString);
    char* bytes = &text[0];
    size_t doneEnd = 0, restAt = 0, state = 0, work = 0;
    const size_t growth = to.size() > from.size() ? to.size() - from.size() : 0;
    const size_t workAllowed = kReplaceWorkPerByte * sSrcString.size() + kReplaceWorkBase;
    while (restAt < text.size()) {
        const char c = bytes[restAt++];
        bytes[doneEnd++] = c;
        ++work;
        state = scan.feed(state, c, work);
        if (state < from.size()) continue;
        const size_t rest = text.size() - restAt;
        if (growth > 0 && doneEnd + rest + growth > kReplaceOutputLimit) return -1;
        if (work > workAllowed) return -1;
        doneEnd -= from.size();
        if (restAt - doneEnd < to.size()) {
            // Only a growing rule gets here, so the text stays within kReplaceOutputLimit.
            const size_t size = std::max(doneEnd + rest + to.size(), std::min(2 * text.size(), kReplaceOutputLimit));
            std::string wider(size, '\0');
            std::copy(bytes, bytes + doneEnd, &wider[0]);
            std::copy(bytes + restAt, bytes + text.size(), &wider[size - rest]);
            text.swap(wider);
            bytes = &text[0];
            restAt = size - rest;
            work += doneEnd + rest;
        }
        restAt -= to.size();
        std::memcpy(bytes + restAt, to.data(), to.size());
        work += to.size() + kReplaceWorkPerReplacement;
        state = 0;
        for (size_t i = doneEnd - std::min(doneEnd, from.size() - 1); i < doneEnd; ++i) {
            state = scan.feed(state, bytes[i], work);
        }
    }
    text.resize(doneEnd);
    sSrcString.swap(text);
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
