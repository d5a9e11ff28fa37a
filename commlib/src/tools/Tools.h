// For callers of the server toolkit (kova_toolkit); its LZ4 codec is internal to the body codecs.
// Tools: the toolkit's general routines: case and hex conversion, URL host extraction
// and unescaping, registrable domains, mail-address check, GBK-aware length and
// cutting, XML element text, date-time text, packet fields with a 16-bit length
// prefix, per-uid passwords, user-id range mapping, the thread id and command names;
// also the LZ4 body codec and the local-address discovery of the client.
//
// Thread safety: the static routines may be called from any thread; the only state they
// keep between calls is one LZ4 block compressor per thread (freed when the thread ends).
// A Tools object fills its two suffix lists on first use behind a plain flag, so one
// object must not be used by two threads at once. ShowHex switches the number base of
// std::cout while it runs; ReplaceString, ShowHex and HexShow write to standard output.
// Ownership: callers own every buffer; no routine keeps a pointer it was given.
// Sizes of char* destinations are the caller's to respect unless a size is passed.
#pragma once

#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

#include "CmdName.h"
#include "ToolkitTypes.h"

class Tools {
public:
    // ---- client codecs and address ----

    // One LZ4 frame (256 KiB linked blocks, no checksums, no content size) appended to
    // strOut. 1 on success, 0 on failure; failures are printed on standard output.
    static int LZ4Compress(std::string& strIn, std::string& strOut);
    // Decodes every LZ4 frame of strIn in order, skipping skippable frames, and appends
    // the result to strOut. 1 on success; 0 when any frame fails, or bytes follow that
    // are not a frame (what was decoded before the failure stays appended).
    static int LZ4Decompress(std::string& strIn, std::string& strOut);

    // The host's first private IPv4 address (10/8, 192.168/16, 172.16/12), skipping
    // interfaces whose name contains "docker". 0 with the address in strLocalIP, -1
    // (strLocalIP untouched) when there is none. el6 is not used.
    static int GetLocalIP(std::string& strLocalIP, bool el6 = false);

    // ---- text and case (each returns 0 unless stated) ----

    int UpString(std::string& sSrc);
    int UpString(char* sSrc);
    int DownString(std::string& sSrc);
    int DownString(char* sSrc, int iLength);
    // 0 when the first iLength bytes are ASCII letters or digits, -1 otherwise.
    int IsOnlyAscAndNum(char* sSrc, int iLength);
    std::string Int2String(int iSrc);
    // The text after the first character of the first sBegin match, up to the next
    // sEnd (or to the end of sBuff without one); "" when sBegin does not occur.
    std::string GetPara(std::string& sBuff, const char* sBegin, const char* sEnd);
    // Replaces the first occurrence of sFromContent by sToContent again and again
    // until none is left; prints "from|to|length" first. -1 (text unchanged) when that
    // would never end or takes too long: an empty sFromContent, a sToContent containing
    // sFromContent while the text holds it, a growing rewriting that would take the text
    // beyond kReplaceOutputLimit bytes (refused before the memory is taken), or more
    // work than kReplaceWorkPerByte x the text's length + kReplaceWorkBase (the bytes
    // compared and moved, and kReplaceWorkPerReplacement for each replacement). The
    // search takes time linear in the text, however long sFromContent is.
    int ReplaceString(std::string& sSrcString, const char* sFromContent, const char* sToContent);
    // 1 for a byte 0x80 or above, else 0.
    int CheckHZ(unsigned char cText);
    // Characters of a zero-terminated GBK text (a byte above 0x80 leads a two-byte
    // character; a lead byte right before the end counts alone).
    int GetHZLength(const unsigned char* sBuff);
    // Keeps the first iCutCount GBK characters (at least one) of the first 199 bytes; a
    // lead byte at byte 199 whose trail byte lies past them is dropped.
    int CutHZ(std::string& sContent, int iCutCount);
    // Appends two lowercase hex digits per byte to sContent.
    void ChangeBin2String(unsigned char* sIn, int iLength, std::string& sContent);

    // ---- hex ----

    // Bytes in hexadecimal on std::cout, two spaces apart, ten to a line.
    int ShowHex(char* sbuf, int iSize);
    // Bytes on standard output, 25 to a line, as "%.2x " or, with iFlag, printable
    // ones (above 31) as "%2c ".
    int HexShow(unsigned char* sStr, int iLen, int iFlag);
    // Hex text to bytes: -1 for an odd text length or when the len/2 bytes would not
    // fit in iOutLen (nothing touched); else 0 with iOutLen bytes zeroed first.
    int ConvertToBuf(char* sOutput, int iOutLen, char* psInput);
    // iLen bytes to 2 * iLen lowercase hex digits and a terminating zero (so sOutput
    // needs 2 * iLen + 1 bytes). -1 when 2 * iLen exceeds iOutLen or iLen is negative.
    int ConvertToText(char* sOutput, int iOutLen, char* sBuf, int iLen);
    // The byte whose two hex digits start `what`.
    char x2c(char* what);
    // Decodes "%XX" escapes in place; a '%' without two characters after it is kept.
    void unescape_url(char* url);

    // ---- URL, domain, mail, XML, time ----

    // The host part (between "://" and the next '/') without spaces; -1 for "".
    int GetUrl(const char* url, std::string& sUrl);
    // Appends the dot-separated labels of sUrl (empty ones included) to vsUrl.
    int GetDistUrl(const std::string& sUrl, std::vector<std::string>& vsUrl);
    // 0 for exactly four labels of digits only (empty labels pass), else -1.
    int IsIPAddr(std::vector<std::string>& vsUrl);
    // Appends the generic suffixes and country codes to their lists, once per object
    // (entries a caller added before stay).
    int InitDomain();
    // The registrable domain of url's host (or the address itself); -1 (result
    // untouched) when the host has fewer than two labels or no known suffix.
    int GetUrlToDomail(char* url, std::string& sUrlResult);
    // The registrable domain and then every longer suffix of the host, appended.
    int GetUrlToDomail(char* url, std::vector<std::string>& vsUrlResult);
    // 0 valid, -1 not valid, -2 the pattern did not compile.
    int CheckValidMail(const char* email);
    // Text between the first "<psDes>" and the first "</psDes>"; "" without both.
    std::string GetXmlContent(std::string& sContent, char* psDes);
    // Local time as "YYYY-MM-DD hh:mm:ss"; "" when the time cannot be broken down.
    std::string GetDateTimeStr(const time_t* mytime);

    // ---- packet fields (0 unless stated; no byte-order change but the length) ----
    // Cursor forms take char** and advance it; "2" forms take a plain pointer.

    int GetChar(char* cDesc, char** sSrc);
    int GetChar2(char* cDesc, char* sSrc);
    int GetWord(char* sDesc, char** sSrc);
    int GetWord2(char* sDesc, char* sSrc);
    int GetDWord(char* sDesc, char** sSrc);
    int GetDWord2(char* sDesc, char* sSrc);
    // A 2-byte big-endian length, then that many bytes (copied without terminator).
    // The length is stored through shStringLen and 2 + length taken from *piLeaveLen;
    // -1 when that goes negative (the cursor then stays 2 bytes on). -1 before anything
    // is read, counted or moved when *piLeaveLen is below 2.
    int GetString(char* sDesc, char** sSrc, short* shStringLen, int* piLeaveLen);
    // As GetString without a cursor; -2 when the length exceeds iSrcSize - 1.
    int GetString2(char* sDesc, char* sSrc, short* shStringLen, int* piLeaveLen, int iSrcSize);
    // As GetString; -2 when the length exceeds iSrcSize - 1.
    int GetStringCheck(char* sDesc, char** sSrc, short* shStringLen, int* piLeaveLen, int iSrcSize);
    int SetChar(char* cDesc, char* sSrc);
    int SetWord(char* sDesc, char* sSrc, int* piTotolLen);
    int SetWord2(char* sDesc, char* sSrc);
    int SetDWord(char* sDesc, char* sSrc, int* piTotolLen);
    int SetDWord2(char* sDesc, char* sSrc);
    // Writes shLen as a 2-byte big-endian prefix and then shLen bytes of sSrc; the
    // counter grows by 2 + shLen. -1 (nothing written) for a negative shLen.
    int SetString(char* sDesc, const char* sSrc, short shLen, int* piTotalLen);

    // ---- ids ----

    // The per-uid password as "%u" text; passwd holds 11 bytes.
    static int getPasswdByUid(unsigned int freeUid, char* passwd);
    // The 64-bit per-uid password as "%llu" text; passwd holds 21 bytes.
    static long getPasswdByUidV2(unsigned long freeUid, char* passwd);
    // The calling thread's kernel thread id.
    static pid_t gettid();
    // ulLower + uUid - 1.
    static ULong64 Uid32BitsMap64Bits(UInt uUid, ULong64 ulLower);
    // ulUid itself when it fits 32 bits; ulUid - ulLower + 1 inside [ulLower, ulUpper];
    // else 0.
    static UInt Uid64BitsMap32Bits(ULong64 ulUid, ULong64 ulLower, ULong64 ulUpper);
    // cmdName.GetCmdName(cmd).
    static const char* GetCmdName(int cmd);

    // The longest text (in bytes) a growing ReplaceString rule may produce.
    static constexpr size_t kReplaceOutputLimit = size_t{1} << 26;
    // The work ReplaceString may do, counted in bytes compared and moved: per byte of
    // the text given, and beyond (about a second's worth); a replacement also counts
    // kReplaceWorkPerReplacement for what it costs beside its bytes.
    static constexpr size_t kReplaceWorkPerByte = 32;
    static constexpr size_t kReplaceWorkBase = size_t{1} << 31;
    static constexpr size_t kReplaceWorkPerReplacement = 16;

    static const CCmdName cmdName;

    // 1 once InitDomain has filled the lists of this object.
    int d_iInit = 0;
    std::vector<std::string> d_vsPostfix;         // generic suffixes: com, org, ...
    std::vector<std::string> d_vsCountryPostfix;  // country codes: ad, ae, ...
};
