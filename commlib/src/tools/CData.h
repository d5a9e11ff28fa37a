// For callers of the server toolkit (kova_toolkit).
// CData: the toolkit's packet codec. Reads and writes integers and length-prefixed
// strings in network byte order at a cursor inside a caller's buffer, dumps buffers in
// hex, converts text between UTF-8 and GBK, parses and formats integer and address
// lists, and makes and checks access tokens.
//
// Ownership: holds nothing; every routine works on the caller's buffers. The buffer
// behind `buf` is the caller's: no get or put knows its size, so the caller keeps
// cursor + field size inside it.
// Thread-safety: safe on distinct buffers, except DumpPackage and GetShortDateTimeStr,
// which return one process-wide static buffer (overwritten by the next call).
#pragma once

#include <netinet/in.h>

#include <ctime>
#include <string>

#include "ToolkitTypes.h"

class CData {
public:
    // Text reads stop at this many bytes: a longer field is cut to kMaxStringRead - 1.
    static constexpr ULong kMaxStringRead = 30720;
    // The largest string field: its length must fit the 2-byte prefix.
    static constexpr ULong kMaxStringField = 0xFFFF;

    CData() {}
    CData(const CData&) {}
    virtual ~CData() {}

    // Integer fields, big-endian. The get forms return the value and also store it in
    // `data`; every form advances ulOffset by the field's width.
    char getChar(UChar* buf, ULong& ulOffset, char& data);
    UChar getUChar(UChar* buf, ULong& ulOffset, UChar& data);
    short getShort(UChar* buf, ULong& ulOffset, short& data);
    UShort getUShort(UChar* buf, ULong& ulOffset, UShort& data);
    int getInt(UChar* buf, ULong& ulOffset, int& data);
    UInt getUInt(UChar* buf, ULong& ulOffset, UInt& data);
    Long getLong(UChar* buf, ULong& ulOffset, Long& data);
    ULong getULong(UChar* buf, ULong& ulOffset, ULong& data);
    ULong64 getULong64(UChar* buf, ULong& ulOffset, ULong64& data);

    void putChar(UChar* buf, ULong& ulOffset, char data);
    void putUChar(UChar* buf, ULong& ulOffset, UChar data);
    void putShort(UChar* buf, ULong& ulOffset, short data);
    void putUShort(UChar* buf, ULong& ulOffset, UShort data);
    void putInt(UChar* buf, ULong& ulOffset, int data);
    void putUInt(UChar* buf, ULong& ulOffset, UInt data);
    void putLong(UChar* buf, ULong& ulOffset, Long data);
    void putULong(UChar* buf, ULong& ulOffset, ULong data);
    void putULong64(UChar* buf, ULong& ulOffset, ULong64 data);

    // Unprefixed bytes: the smaller of the two lengths (or ulDataLen) is copied without
    // a terminator; returns data.
    char* getString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen, ULong ulDataMaxLen);
    char* getString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen);
    // A prefixed field into a string. At most kMaxStringRead bytes are kept (a longer
    // field gives its first kMaxStringRead - 1); the cursor always moves past the whole
    // field, so the next field is read where it starts.
    void getString(UChar* buf, ULong& ulOffset, std::string& data);
    // The next usStrLen unprefixed bytes.
    void getString(UChar* buf, ULong& ulOffset, UShort usStrLen, std::string& data);
    // A prefixed field as text: `data` receives the field up to its first zero byte and
    // at most kMaxStringRead - 1 characters, terminated (so it needs kMaxStringRead
    // bytes); the cursor moves past the whole field.
    void getString(UChar* buf, ULong& ulOffset, char* data);
    // A prefixed field as text into `data` of nMaxLen characters plus the terminator.
    // A longer field returns its length, copies nothing and leaves the cursor just after
    // the prefix; otherwise 0.
    int getString2(UChar* buf, ULong& ulOffset, char* data, int nMaxLen);
    // A prefixed field as bytes into `data` of nMaxLen bytes. A longer field returns its
    // length, copies nothing and leaves the cursor after the prefix; otherwise nMaxLen
    // becomes the length and 0 is returned.
    int getBuffer(UChar* buf, ULong& ulOffset, char* data, UShort& nMaxLen);

    // Unprefixed bytes (source and buffer may overlap).
    void putString(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen);
    // Prefixed fields. A text longer than kMaxStringField is cut to kMaxStringField
    // bytes, so the prefix always matches the bytes that follow it.
    void putString(UChar* buf, ULong& ulOffset, std::string data);
    void putString(UChar* buf, ULong& ulOffset, char* data);
    void putString2(UChar* buf, ULong& ulOffset, char* data, ULong ulDataLen);

    // Hex dump, 16 bytes a line with a character column, on standard output; 0.
    int hexShow(UChar* buf, UInt uiBufLen, int iFlag);
    void hex_dump(const char* data, Long size);
    // The same bytes as "0000: 00 01 02 03 - ..." lines in a static 64 KiB buffer (a
    // longer dump is cut short).
    char* DumpPackage(void* pPkg, int iPkgLen);

    // GBK text of a UTF-8 text and back; a conversion failure gives what was converted
    // before the failing character.
    std::string ChangeToGbk(std::string sUtf);
    std::string ChangeToUtf(std::string sGbk);

    // The group of a user id: ids 0 .. 119999999 are group 1, and so on.
    int getGourpId(ULong ulUid);

    // Copies the text before the next sSeparator into sToken (at most iTokenSize - 1
    // characters, terminated; a null sToken only skips) and returns the position after
    // the separator, or the terminating zero of sString when there is none.
    char* MyGetToken(char* sToken, int iTokenSize, char* sString, char* sSeparator);
    // Removes blanks, tabs, line feeds and carriage returns at both ends, in place.
    char* Str_Trim(char* s);
    // "YYYY-MM-DD hh:mm:ss" in local time, in a static buffer.
    char* GetShortDateTimeStr(const time_t* mytime);
    // Fills up to nCnt IPv4 socket addresses from comma lists of addresses and ports
    // (trimmed and consumed in place); nCnt becomes the number filled.
    void setSetAddrInfo(char* ips, char* ports, sockaddr_in* addrs, int& nCnt);

    static ULong64 htonl64(ULong64 n);
    static ULong64 ntohl64(ULong64 n);

    // A telephone number in the 86 country form, in place (the result may be two
    // characters longer). -1 for a null number or one whose result exceeds 31
    // characters (left unchanged).
    int Updatetel(char* tel);

    // Separated decimal list into szDst (at most iDstSize entries, count in iDstCnt);
    // -1 on bad arguments or when the list has more entries than room.
    int strToIntsz(char* pSrc, char cSep, int* szDst, int iDstSize, int& iDstCnt);
    int strToIntsz(char* pSrc, char* sSep, int* szDst, int iDstSize, int& iDstCnt);
    // Integer list as separated text into pDst of iDstSize bytes; -1 on bad arguments or
    // when it does not fit (what fitted stays written).
    int intszToStr(int* szSrc, int iSrcCnt, char* sSep, char* pDst, int iDstSize);
    int intszToStr(int* szSrc, int iSrcCnt, char cSep, char* pDst, int iDstSize);

    // Access tokens. getToket writes 32 upper-case hex digits and a terminator (33 bytes):
    // the MD5 of "<n1>:<p1><n2>:<p2><key>", where p1 and p2 are used up to 255 characters
    // each (null counts as empty) and n1, n2 are their lengths in decimal. getToket2
    // hashes "<n1>:<p1><n2>:<p2><ns>:<stamp><key>", stamp being the current time in
    // decimal seconds, and writes the 32 lowercase digest digits with the stamp's digits
    // at positions 2, 5, 8, ... (43 bytes with the terminator for a ten-digit time).
    // The length prefixes make the hashed text unambiguous: no character can move from
    // one field to another. verToket2 tells whether token is such a token for the same
    // inputs (7 to 13 stamp digits; letter case ignored; the time's age is not checked).
    // Both writers return 0, or -1 for a null token.
    int getToket(char* p1, char* p2, char* key, char* token);
    int getToket2(char* p1, char* p2, char* key, char* token);
    bool verToket2(char* p1, char* p2, char* key, char* token);
};
