// UTF-8 as the text decoders and the JSON writer need it: which bytes form valid UTF-8, the
// writing of code points into a caller's buffer, and the conversion of the character sets too
// large to carry as tables of our own (through iconv).
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_UTF8_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_UTF8_H

#include <pidsift/ts.h>

constexpr u32 TS_TEXT_REPLACEMENT = 0xFFFD;

// TS_Text_UTF8Length (ts.h) tells the length of a whole valid sequence. For bytes that are not
// one: how many of them a decoder replaces with one U+FFFD, the longest start of a valid
// sequence (at least the first byte), as Unicode recommends ("maximal subpart").
size_t TS_Text_UTF8Subpart(const u8 *text, size_t available);

// The code point of the valid sequence of length bytes at text (TS_Text_UTF8Length).
u32 TS_Text_UTF8CodePoint(const u8 *text, size_t length);

// UTF-8 into a caller's buffer, one whole character at a time: a character that does not fit
// with the NUL behind it ends the text there, and everything after it is refused as well, so
// that the text is cut once rather than left with holes. The NUL is written by Finish.
struct TS_TextOut {
    char *strOut;
    int s32Capacity;
    int s32Length;  // bytes written, the NUL left out
    bool bFull;     // a character did not fit: the text ends where it stands
};

void TS_TextOut_Start(TS_TextOut *out, char *buffer, int capacity);
// Appends count bytes that form whole characters, all or none. False once the text is full.
bool TS_TextOut_Bytes(TS_TextOut *out, const char *utf8, int count);
// Appends a code point (U+FFFD for one past U+10FFFF or a surrogate). False once full.
bool TS_TextOut_CodePoint(TS_TextOut *out, u32 code_point);
// Writes the NUL and returns the length.
int TS_TextOut_Finish(TS_TextOut *out);

// UTF-8 of a code point into utf8 (4 bytes of room); returns its length.
int TS_Text_EncodeUTF8(char *utf8, u32 code_point);

// The character sets that the decoders leave to iconv, by their iconv names.
enum TS_TextCharset : int {
    TS_CHARSET_ISO6937 = 0,
    TS_CHARSET_ISO8859_1,  // ISO8859_N is ISO8859_1 + N - 1, N from 1 to 16 (12 has no set)
    TS_CHARSET_EUC_KR = TS_CHARSET_ISO8859_1 + 16,
    TS_CHARSET_GB2312,
    TS_CHARSET_EUC_JISX0213,
    TS_CHARSET_COUNT
};

// Converts the count bytes of one character of a set to UTF-8 in utf8 (room for 16 bytes: a
// few sets give a letter and a combining mark for one code). Returns the length, or 0 when
// the set has no such character, the bytes are not a whole character of it, or this system's
// iconv does not know the set. The descriptors are opened once per thread and kept.
int TS_Text_Iconv(int charset, const u8 *bytes, int count, char *utf8);

#endif  // PIDSIFT_TRANSPORT_STREAM_TEXT_UTF8_H
