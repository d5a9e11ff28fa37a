// CData's access tokens: an MD5 of the caller's two texts and key, optionally stamped
// with the time. The texts are combined in local strings, so any key length is safe and
// concurrent callers do not share work areas.
//
// The hashed text must be unambiguous: with the fields simply run together a character
// can move from one field to its neighbour (a digit from p1 into the stamp, say) without
// changing the text, and a token made for one pair of inputs would verify for another.
// So every field but the last carries its length in front: "<length>:<bytes>".
#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "CData.h"
#include "CMD5.h"
#include "Tools.h"

namespace {

const size_t kTextUsed = 255;  // characters of p1 and p2 that count
const size_t kDigestDigits = 32;
const size_t kMinStampDigits = 7;  // accepted time stamps: 7 to 13 decimal digits
const size_t kMaxStampDigits = 13;

std::string usedText(const char* text) { return text ? std::string(text, strnlen(text, kTextUsed)) : std::string(); }

std::string keyText(const char* key) { return key ? std::string(key) : std::string(); }

// A field that ends where its length says, whatever bytes it holds.
std::string lengthPrefixed(const std::string& field) { return std::to_string(field.size()) + ':' + field; }

// The 32 lowercase hex digits of the text's MD5.
std::string hexDigest(std::string text) {
    CMD5 md5;
    md5.GenerateMD5(reinterpret_cast<unsigned char*>(&text[0]), text.size());
    char hex[kDigestDigits + 1];
    Tools().ConvertToText(hex, sizeof hex, reinterpret_cast<char*>(md5.m_data), sizeof md5.m_data);
    return std::string(hex, kDigestDigits);
}

// Stamp digit j sits at position 2 + 3j of the token; every other position holds the
// next digest digit.
bool isStampPosition(size_t position, size_t stampDigits) {
    return position >= 2 && (position - 2) % 3 == 0 && (position - 2) / 3 < stampDigits;
}

std::string stampedToken(const char* p1, const char* p2, const char* key, const std::string& stamp) {
    const std::string digest =
        hexDigest(lengthPrefixed(usedText(p1)) + lengthPrefixed(usedText(p2)) + lengthPrefixed(stamp) + keyText(key));
    std::string token;
    size_t nextStamp = 0, nextDigest = 0;
    for (size_t position = 0; position < kDigestDigits + stamp.size(); ++position) {
        token += isStampPosition(position, stamp.size()) ? stamp[nextStamp++] : digest[nextDigest++];
    }
    return token;
}

void copyToken(const std::string& token, char* out) { memcpy(out, token.c_str(), token.size() + 1); }

}  // namespace

int CData::getToket(char* p1, char* p2, char* key, char* token) {
    if (!token) return -1;
    std::string digest = hexDigest(lengthPrefixed(usedText(p1)) + lengthPrefixed(usedText(p2)) + keyText(key));
    for (char& c : digest) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    copyToken(digest, token);
    return 0;
}

int CData::getToket2(char* p1, char* p2, char* key, char* token) {
    if (!token) return -1;
    char stamp[24];
    snprintf(stamp, sizeof stamp, "%lu", static_cast<unsigned long>(time(nullptr)));
    copyToken(stampedToken(p1, p2, key, stamp), token);
    return 0;
}

bool CData::verToket2(char* p1, char* p2, char* key, char* token) {
    if (!token) return false;
    const size_t length = strnlen(token, kDigestDigits + kMaxStampDigits + 1);
    if (length < kDigestDigits + kMinStampDigits || length > kDigestDigits + kMaxStampDigits) return false;
    const size_t stampDigits = length - kDigestDigits;
    std::string stamp;
    for (size_t position = 0; position < length; ++position) {
        if (!isStampPosition(position, stampDigits)) continue;
        if (!isdigit(static_cast<unsigned char>(token[position]))) return false;
        stamp += token[position];
    }
    return strcasecmp(stampedToken(p1, p2, key, stamp).c_str(), token) == 0;
}
