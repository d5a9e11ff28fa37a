// CData's big-endian integer and string fields.
#include <arpa/inet.h>

#include <cstring>

#include "CData.h"

namespace {

// Bytes are assembled one by one, so neither the host's byte order nor the cursor's
// alignment matters.
template <typename T>
T readBigEndian(const UChar* buf, ULong& ulOffset) {
    ULong64 value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value = (value << 8) | buf[ulOffset + i];
    ulOffset += sizeof(T);
    return static_cast<T>(value);
}

template <typename T>
void writeBigEndian(UChar* buf, ULong& ulOffset, T data) {
    ULong64 value = static_cast<ULong64>(data);
    for (size_t i = sizeof(T); i-- > 0;) {
        buf[ulOffset + i] = static_cast<UChar>(value & 0xFF);
        value >>= 8;
    }
    ulOffset += sizeof(T);
}

UShort readPrefix(const UChar* buf, ULong& ulOffset) { return readBigEndian<UShort>(buf, ulOffset); }

// The bytes of a text field that are kept: a field above the read area is cut to leave
// room for a terminator.
ULong keptLength(ULong fieldLength) {
    return fieldLength > CData::kMaxStringRead ? CData::kMaxStringRead - 1 : fieldLength;
}

// Copies a field's bytes up to the first zero byte (a text stops there) and terminates.
void copyText(char* data, const UChar* field, ULong length) {
    const void* zero = memchr(field, 0, length);
    size_t textLength = zero ? static_cast<const UChar*>(zero) - field : length;
    memcpy(data, field, textLength);
    data[textLength] = '\0';
}

void putField(UChar* buf, ULong& ulOffset, const char* data, size_t length) {
    if (length > CData::kMaxStringField) length = CData::kMaxStringField;
    writeBigEndian<UShort>(buf, ulOffset, static_cast<UShort>(length));
    if (length > 0) memmove(buf + ulOffset, data, length);
    ulOffset += static_cast<ULong>(length);
}

}  // namespace

char CData::getChar(UChar* buf, ULong& ulOffset, char& data) { return data = readBigEndian<char>(buf, ulOffset); }
UChar CData::getUChar(UChar* buf, ULong& ulOffset, UChar& data) { return data = readBigEndian<UChar>(buf, ulOffset); }
short CData::getShort(UChar* buf, ULong& ulOffset, short& data) { return data = readBigEndian<short>(buf, ulOffset); }
UShort CData::getUShort(UChar* buf, ULong& ulOffset, UShort& data) {
    return data = readBigEndian<UShort>(buf, ulOffset);
}
int CData::getInt(UChar* buf, ULong& ulOffset, int& data) { return data = readBigEndian<int>(buf, ulOffset); }
UInt CData::getUInt(UChar* buf, ULong& ulOffset, UInt& data) { return data = readBigEndian<UInt>(buf, ulOffset); }
Long CData::getLong(UChar* buf, ULong& ulOffset, Long& data) { return data = readBigEndian<Long>(buf, ulOffset); }
ULong CData::getULong(UChar* buf, ULong& ulOffset, ULong& data) { return data = readBigEndian<ULong>(buf, ulOffset); }
ULong64 CData::getULong64(UChar* buf, ULong& ulOffset, ULong64& data) {
    return data = readBigEndian<ULong64>(buf, ulOffset);
}

void CData::putChar(UChar* buf, ULong& ulOffset, char data) { writeBigEndian(buf, ulOffset, data); }
void CData::putUChar(UChar* buf, ULong& ulOffset, UChar data) { writeBigEndian(buf, ulOffset, data); }
void CData::putShort(UChar* buf, ULong& ulOffset, short data) { writeBigEndian(buf, ulOffset, data); }
void CData::putUShort(UChar* buf, ULong& ulOffset, UShort data) { writeBigEndian(buf, ulOffset, data); }
void CData::putInt(UChar* buf, ULong& ulOffset, int data) { writeBigEndian(buf, ulOffset, data); }
void CData::putUInt(UChar* buf, ULong& ulOffset, UInt data) { writeBigEndian(buf, ulOffset, data); }
void CData::putLong(UChar* buf, ULong& ulOffset, Long data) { writeBigEndian(buf, ulOffset, data); }
void CData::putULong(UChar* buf, ULong& ulOffset, ULong data) { writeBigEndian(buf, ulOffset, data); }
void CData::putULong64(UChar* buf, ULong& ulOffset, ULong64 data) { writeBigEndian(buf, ulOffset, data); }

// htonl on each 32-bit half, the halves swapped: a no-op on a big-endian host.
ULong64 CData::htonl64(ULong64 n) {
    return (static_cast<ULong64>(htonl(static_cast<uint32_t>(n))) << 32) | htonl(static_cast<uint32_t>(n >> 32));
}

ULong64 CData::ntohl64(ULong64 n) {
    return (static_cast<ULong64>(ntohl(static_cast<uint32_t>(n))) << 32) | ntohl(static_cast<uint32_t>(n >> 32));
}

char* CData::getString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen, ULong ulDataMaxLen) {
    return getString(buf, ulOffset, data, ulDataLen < ulDataMaxLen ? ulDataLen : ulDataMaxLen);
}

char* CData::getString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen) {
    if (ulDataLen > 0) memcpy(data, buf + ulOffset, ulDataLen);
    ulOffset += ulDataLen;
    return data;
}

void CData::getString(UChar* buf, ULong& ulOffset, std::string& data) {
    const UShort fieldLength = readPrefix(buf, ulOffset);
    data.assign(reinterpret_cast<const char*>(buf + ulOffset), keptLength(fieldLength));
    ulOffset += fieldLength;
}

void CData::getString(UChar* buf, ULong& ulOffset, UShort usStrLen, std::string& data) {
    data.assign(reinterpret_cast<const char*>(buf + ulOffset), usStrLen);
    ulOffset += usStrLen;
}

void CData::getString(UChar* buf, ULong& ulOffset, char* data) {
    const UShort fieldLength = readPrefix(buf, ulOffset);
    // The text and its terminator stay within kMaxStringRead bytes.
    const ULong kept = fieldLength < kMaxStringRead ? fieldLength : kMaxStringRead - 1;
    copyText(data, buf + ulOffset, kept);
    ulOffset += fieldLength;
}

int CData::getString2(UChar* buf, ULong& ulOffset, char* data, int nMaxLen) {
    const UShort fieldLength = readPrefix(buf, ulOffset);
    if (nMaxLen < 0 || fieldLength > static_cast<unsigned>(nMaxLen)) return fieldLength;
    copyText(data, buf + ulOffset, fieldLength);
    ulOffset += fieldLength;
    return 0;
}

int CData::getBuffer(UChar* buf, ULong& ulOffset, char* data, UShort& nMaxLen) {
    const UShort fieldLength = readPrefix(buf, ulOffset);
    if (nMaxLen < fieldLength) return fieldLength;
    if (fieldLength > 0) memcpy(data, buf + ulOffset, fieldLength);
    ulOffset += fieldLength;
    nMaxLen = fieldLength;
    return 0;
}

void CData::putString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen) {
    if (ulDataLen > 0) memmove(buf + ulOffset, data, ulDataLen);
    ulOffset += ulDataLen;
}

void CData::putString(UChar* buf, ULong& ulOffset, std::string data) {
    putField(buf, ulOffset, data.data(), data.size());
}

void CData::putString(UChar* buf, ULong& ulOffset, char* data) { putField(buf, ulOffset, data, strlen(data)); }

void CData::putString2(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen) {
    putField(buf, ulOffset, data, ulDataLen);
}
