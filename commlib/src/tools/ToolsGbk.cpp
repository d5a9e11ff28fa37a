// GBK-aware character counting and cutting: a byte above 0x80 leads a two-byte
// character. A lead byte at the very end of the text has no trail byte and counts as
// one character on its own, so neither routine reads or writes past the text.
#include "Tools.h"

namespace {

// Where the character starting at `at` ends, never past `length`.
size_t GbkCharEnd(const unsigned char* text, size_t at, size_t length) {
    const size_t end = text[at] > 0x80 ? at + 2 : at + 1;
    return end < length ? end : length;
}

}  // namespace

int Tools::CheckHZ(unsigned char cText) { return cText >= 0x80 ? 1 : 0; }

int Tools::GetHZLength(const unsigned char* sBuff) {
    if (sBuff == nullptr) return 0;
    int count = 0;
    for (size_t at = 0; sBuff[at] != 0; ++count) {
        at = sBuff[at] > 0x80 && sBuff[at + 1] != 0 ? at + 2 : at + 1;
    }
    return count;
}

int Tools::CutHZ(std::string& sContent, int iCutCount) {
    // The cut works on the first 199 bytes up to the first zero byte, as a text.
    static const size_t kWorkBytes = 199;
    std::string text = sContent.substr(0, kWorkBytes);
    text.resize(std::char_traits<char>::length(text.c_str()));
    // When the 199-byte limit parts a lead byte from its trail, the lead byte goes too:
    // alone it would join whatever the caller appends into a character of its own.
    const bool leadParted = text.size() == kWorkBytes && sContent.size() > kWorkBytes && sContent[kWorkBytes] != '\0';
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.data());
    int count = 0;
    for (size_t at = 0; at < text.size();) {
        if (leadParted && at + 1 == text.size() && bytes[at] > 0x80) {
            text.resize(at);
            break;
        }
        const size_t end = GbkCharEnd(bytes, at, text.size());
        if (++count >= iCutCount) {
            text.resize(end);
            break;
        }
        at = end;
    }
    sContent.swap(text);
    return 0;
}
