// DVB text fields (EN 300 468 Annex A). A first byte of 0x20 or more is already text in the
// default table, ISO/IEC 6937 with the euro sign at 0xA4; a lower first byte chooses the table:
//   0x01 to 0x0B   ISO/IEC 8859-5 to 8859-15 (0x08, for 8859-12, chooses nothing)
//   0x10 0x00 N    ISO/IEC 8859-N, N from 1 to 15 (12 again excepted)
//   0x11           ISO/IEC 10646 Basic Multilingual Plane as two bytes a character, big-endian
//   0x12           KS X 1001 in its EUC-KR form
//   0x13           GB2312 in its EUC-CN form
//   0x14           the Big5 subset of ISO/IEC 10646: coded as 0x11 codes it, not as Big5 bytes
//   0x15           UTF-8
// Every other first byte (0x00, 0x0C to 0x0F, 0x16 to 0x1F, the last being the compressed
// texts of encoding_type_id), and 0x10 without a 0x00 N of the list above after it, names no
// table this decoder has: the field gives one U+FFFD, since no table is there to read the rest.
//
// The control codes are 0x80 to 0x9F in the one-byte tables and U+E080 to U+E09F in the
// Unicode ones: 0x86 and 0x87 switch emphasis on and off (dropped), 0x8A is a line break
// ("\n"), the rest are dropped with the C0 codes and DEL. The C1 code points U+0080 to
// U+009F of the Unicode tables are treated as the one-byte codes they copy.
#include "text/si_text.h"

namespace {

#include "text/iso6937.inc"

// A decoded code point: the control codes as the header describes, the rest as they are.
void TS_DVBText_Put(TS_TextOut *out, u32 code_point)
{
    const bool c0 = code_point < 0x20 || code_point == 0x7F;
    const bool c1 = (code_point >= 0x80 && code_point <= 0x9F) || (code_point >= 0xE080 && code_point <= 0xE09F);
    if (c1 && (code_point & 0xFF) == 0x8A)
        TS_TextOut_Bytes(out, "\n", 1);
    else if (!c0 && !c1)
        TS_TextOut_CodePoint(out, code_point);
}

bool TS_DVBText_IsLetter(u8 byte) { return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'); }

// ISO/IEC 6937: one byte a character but for a diacritical mark, which is written ahead of
// the letter it goes on. A letter with a precomposed form in Unicode gives that form (iconv
// knows which do); another letter gives itself and the combining mark; a space gives the
// mark's spacing form; a mark before anything else, or at the end, gives U+FFFD alone.
void TS_DVBText_Latin(TS_TextOut *out, const u8 *bytes, int length)
{
    for (int i = 0; i < length && !out->bFull; ++i) {
        const u8 byte = bytes[i];
        if (byte < 0xA0) {
            TS_DVBText_Put(out, byte);
            continue;
        }
        if (byte < 0xC1 || byte > 0xCF) {
            const u16 code_point = k6937High[byte - 0xA0];
            TS_DVBText_Put(out, code_point != 0 ? code_point : TS_TEXT_REPLACEMENT);
            continue;
        }
        const TS_Diacritic &mark = k6937Diacritics[byte - 0xC1];
        const u8 next = i + 1 < length ? bytes[i + 1] : 0;
        if (mark.u16Combining == 0 || (next != ' ' && !TS_DVBText_IsLetter(next))) {
            TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
            continue;
        }
        ++i;
        if (next == ' ') {
            TS_TextOut_CodePoint(out, mark.u16Spacing);
            continue;
        }
        const u8 pair[2] = {u8(byte == 0xC9 ? 0xC8 : byte), next};
        char utf8[16];
        const int count = TS_Text_Iconv(TS_CHARSET_ISO6937, pair, 2, utf8);
        if (count > 0) {
            TS_TextOut_Bytes(out, utf8, count);
        } else {
            // Letter and mark together, all or nothing.
            const int letter = TS_Text_EncodeUTF8(utf8, next);
            TS_TextOut_Bytes(out, utf8, letter + TS_Text_EncodeUTF8(utf8 + letter, mark.u16Combining));
        }
    }
}

// One character of count bytes through iconv's table of the charset; U+FFFD where it has none.
void TS_DVBText_PutConverted(TS_TextOut *out, int charset, const u8 *bytes, int count)
{
    char utf8[16];
    const int written = TS_Text_Iconv(charset, bytes, count, utf8);
    if (written > 0)
        TS_TextOut_Bytes(out, utf8, written);
    else
        TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
}

// ISO/IEC 8859-N: ASCII and the control codes below 0xA0, iconv's table above.
void TS_DVBText_ISO8859(TS_TextOut *out, int charset, const u8 *bytes, int length)
{
    for (int i = 0; i < length && !out->bFull; ++i) {
        if (bytes[i] < 0xA0) {
            TS_DVBText_Put(out, bytes[i]);
            continue;
        }
        TS_DVBText_PutConverted(out, charset, bytes + i, 1);
    }
}

// Two bytes a character, big-endian: the tables of 0x11 and 0x14 alike. UCS-2 has no
// surrogates; a pair of them is still read as UTF-16 would read it, a lone one and an odd last
// byte give U+FFFD.
void TS_DVBText_UCS2(TS_TextOut *out, const u8 *bytes, int length)
{
    int i = 0;
    for (; i + 1 < length && !out->bFull; i += 2) {
        u32 code_point = u32(bytes[i] << 8 | bytes[i + 1]);
        if (code_point >= 0xD800 && code_point <= 0xDBFF && i + 3 < length) {
            const u32 low = u32(bytes[i + 2] << 8 | bytes[i + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code_point = 0x10000 + ((code_point - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        TS_DVBText_Put(out, code_point);  // a surrogate left alone comes out as U+FFFD
    }
    if (i < length)
        TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
}

// UTF-8: every byte that does not begin a valid sequence (stray continuation, cut sequence,
// overlong form, surrogate, past U+10FFFF) gives U+FFFD and decoding goes on at the next byte.
void TS_DVBText_UTF8(TS_TextOut *out, const u8 *bytes, int length)
{
    for (int i = 0; i < length && !out->bFull;) {
        const size_t count = TS_Text_UTF8Length(bytes + i, size_t(length - i));
        if (count == 0) {
            TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
            ++i;
            continue;
        }
        TS_DVBText_Put(out, TS_Text_UTF8CodePoint(bytes + i, count));
        i += int(count);
    }
}

// The two-byte sets in their EUC forms: ASCII and the control codes below 0x80 and 0x80 to
// 0x9F, a character of two bytes of 0xA1 to 0xFE. Two bytes of the right forms that the set
// leaves empty give one U+FFFD; a lead byte without its trail byte gives U+FFFD, and decoding
// goes on at the byte after it.
void TS_DVBText_DoubleByte(TS_TextOut *out, int charset, const u8 *bytes, int length)
{
    for (int i = 0; i < length && !out->bFull;) {
        const u8 lead = bytes[i];
        if (lead < 0xA0) {
            TS_DVBText_Put(out, lead);
            ++i;
            continue;
        }
        const u8 trail = i + 1 < length ? bytes[i + 1] : 0;
        if (lead == 0xA0 || lead == 0xFF || trail < 0xA1 || trail > 0xFE) {
            TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
            ++i;
            continue;
        }
        TS_DVBText_PutConverted(out, charset, bytes + i, 2);
        i += 2;
    }
}

}  // namespace

void TS_Text_DecodeDVB(TS_TextOut *out, const u8 *bytes, int length)
{
    const u8 first = bytes[0];
    if (first >= 0x20) {
        TS_DVBText_Latin(out, bytes, length);
        return;
    }
    int latin = 0;  // the N of ISO/IEC 8859-N, 0 for the other tables
    if (first >= 0x01 && first <= 0x0B)
        latin = first + 4;
    else if (first == 0x10 && length >= 3 && bytes[1] == 0x00 && bytes[2] >= 1 && bytes[2] <= 15)
        latin = bytes[2];
    if (latin != 0 && latin != 12) {
        const int skip = first == 0x10 ? 3 : 1;
        TS_DVBText_ISO8859(out, TS_CHARSET_ISO8859_1 + latin - 1, bytes + skip, length - skip);
        return;
    }
    switch (first) {
    case 0x11:
    case 0x14:
        TS_DVBText_UCS2(out, bytes + 1, length - 1);
        return;
    case 0x12:
        TS_DVBText_DoubleByte(out, TS_CHARSET_EUC_KR, bytes + 1, length - 1);
        return;
    case 0x13:
        TS_DVBText_DoubleByte(out, TS_CHARSET_GB2312, bytes + 1, length - 1);
        return;
    case 0x15:
        TS_DVBText_UTF8(out, bytes + 1, length - 1);
        return;
    default:
        TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT);
        return;
    }
}
