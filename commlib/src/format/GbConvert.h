// For callers of the server toolkit (kova_toolkit).
// Chinese text conversion between GB2312, GBK, UTF-8 and UCS-2 (big-endian: each unit
// two bytes, most significant first).
//
// Two families: a table-driven converter between GB2312 hanzi and UCS-2, whose code
// table is loaded from a file by Unicode_Lib_Init (until then every table conversion
// finds nothing), with a UTF-8 to UCS-2 decoder and an HTML character-reference writer;
// and wrappers around iconv for GB2312 and GBK to and from UTF-8.
//
// Ownership: callers own and size every output buffer; the table and its index are
// process-wide globals that live for the process.
// Thread-safety: Unicode_Lib_Init writes the globals and must finish before any table
// conversion starts and never run beside one; after it the table converters only read
// them. The iconv wrappers open a converter per call and are safe from any thread.
#pragma once

// The code table: entry k is the UCS-2 code of the GB2312 character 0xB0 + k / 94,
// 0xA1 + k % 94. The table file holds exactly these bytes.
const int kGbTableEntries = 6763;
const int kGbTableBytes = 2 * kGbTableEntries;
const unsigned int kMaximumUCS2 = 0xFFFF;

extern char Unicode_Library[kGbTableBytes];
// The entries of Unicode_Library sorted by their key (the two stored bytes read as they
// stand into a 16-bit value), for reverse lookup.
extern char* Index_Unicode[kGbTableEntries];
extern const signed char bytesFromUTF8[256];
extern const unsigned int offsetsFromUTF8[6];
extern const unsigned char firstByteMark[7];

// Loads the table file and builds the index: 0; 1 when the file cannot be opened; 2
// when it does not hold kGbTableBytes bytes. A failed load leaves the table as it was.
int Unicode_Lib_Init(char* filename);
void InitUnicodeIndex();
// Sorts the index positions LowIndex .. HighIndex ascending by key.
void SortUnicodeQuick(int LowIndex, int HighIndex);
// Sorts the whole index descending by key.
void SortUnicodeBubble();
void MySetWordA(unsigned short* p, char* w);
// The index position strictly between the two positions whose key is UnicodeValue, or -1.
int HalfSearchUnicode(unsigned short UnicodeValue, int LowIndex, int HighIndex);
// The index position of the unit at `Unicode`, or -1.
int GetIndexOfUnicode(char* Unicode);

// One GB2312 hanzi (lead 0xB0..0xF7, trail 0xA1..0xFE) to one unit, or one unit to a
// hanzi: 0, or -1 when it is not in the table. The five hanzi F7FA-F7FE, which lie past
// the table's last entry, convert both ways too once a table is loaded.
int char_gb2unicode(char* gb, char* unicode);
int char_unicode2gb(char* unicode, char* gb);
// Zero-terminated GB2312 text to UCS-2 (2 bytes per character, no terminator; bytes
// written in *unicode_len); characters outside the table are left out. Returns 0.
int gb2unicode(char* gb, char* unicode, int* unicode_len);
// unicode_len bytes of UCS-2 to zero-terminated GB2312 (up to 2 bytes per unit plus the
// terminator); units outside ASCII and the table are left out, U+0080..U+00FF too (a
// lone byte of 0x80 or above would start a double-byte character). Returns 0.
int unicode2gb(char* unicode, char* gb, int unicode_len);
// GB2312 text to "&#xhhhh;" references, 8 characters per character plus the terminator,
// for a text of any length. Returns 0.
int gb_uni(char* gb, char* uni);
// UTF-8 to UCS-2: 0; 1 when the text ends inside a character; 2 at a character above
// U+FFFF; 3 at a malformed character (a continuation byte missing, an overlong form or
// a surrogate). The character that gives 2 or 3 is not written, and the conversion
// stops there. A stray continuation byte stands for itself (U+0080..U+00BF).
// *iCount receives the bytes written.
int ConvertUTF8toUCS2(unsigned char* sourceStart, unsigned char* sourceEnd, unsigned char* target, int* iCount);

// Text table (records of four hex digits and a separator) to the binary table file.
// Returns 0 or ends the process: status 1 when infile cannot be opened or read, 2 when
// outfile cannot be created, 3 when a write fails.
int file_transcode(char* infile, char* outfile);

// iconv conversions of iInLen bytes into sOut of iMaxOutLen bytes: the bytes written,
// or -1 with a message on standard error (what was converted before the failure stays
// in sOut). The two conversions to GB text also terminate it within iMaxOutLen bytes,
// so they write at most iMaxOutLen - 1 bytes of text.
int Gb2312ToUtf8_2(const char* sIn, int iInLen, char* sOut, int iMaxOutLen);
int Utf8ToGb2312(const char* sIn, int iInLen, char* sOut, int iMaxOutLen);
int GbkToUtf8(const char* sIn, int iInLen, char* sOut, int iMaxOutLen);
int Utf8ToGbk(const char* sIn, int iInLen, char* sOut, int iMaxOutLen);
// Turns the control bytes 0x01..0x1F of sIn except tab and carriage return into spaces
// (in place), then Gb2312ToUtf8_2: 0, or -1 when the conversion failed.
int Gb2312ToUtf8(char* sIn, int iInLen, char* sOut, int iMaxOutLen);
