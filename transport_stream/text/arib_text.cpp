// ARIB STD-B24 8-unit code, the form of the names and descriptions in ISDB service
// information: ISO/IEC 2022 code extension over four graphic sets G0 to G3.
//
// A text starts with G0 = Kanji, G1 = alphanumeric, G2 = hiragana, G3 = katakana, G0 invoked
// into GL (0x21-0x7E) and G2 into GR (0xA1-0xFE), in normal size. From there:
//   designations  ESC 0x28/0x29/0x2A/0x2B F       one-byte set F into G0/G1/G2/G3
//                 ESC 0x24 F, ESC 0x24 0x29..0x2B F  two-byte set F into G0, G1..G3
//                 (ESC 0x24 0x28 F also into G0)
//                 the same with 0x20 before F: a DRCS (downloaded glyphs) set
//   locking shifts LS0 (0x0F) G0 and LS1 (0x0E) G1 into GL; LS2 (ESC 0x6E) and LS3 (ESC 0x6F)
//                 G2 and G3 into GL; LS1R (ESC 0x7E), LS2R (ESC 0x7D), LS3R (ESC 0x7C) into GR
//   single shifts SS2 (0x19) and SS3 (0x1D): the next character alone from G2 or G3
// The sets by final byte: 0x42 Kanji (JIS X 0208 with ARIB's rows 85-86 and 90-94), 0x39 and
// 0x3A the JIS X 0213 planes 1 and 2, 0x3B the additional symbols alone (rows 85-86, 90-94),
// 0x4A alphanumeric, 0x30 hiragana, 0x31 katakana, 0x49 JIS X 0201 katakana, 0x36 to 0x38 the
// proportional alphanumeric, hiragana and katakana (decoded as their fixed-width sets), 0x32 to
// 0x35 the mosaic sets.
//
// What comes out:
// - Characters without a Unicode code point give U+FFFD, one a character: the mosaic sets, every
//   DRCS set (their glyphs are pictures sent with the data), the macro set, sets of final bytes
//   not listed above, and cells that a set leaves empty.
// - The character size decides the width, as a receiver draws it: in normal size (NSZ 0x8A,
//   the start) alphanumerics come out full-width (U+FF01 on, space U+3000) and the katakana sets
//   as full-width katakana; in middle size (MSZ 0x89) and small size (SSZ 0x88) alphanumerics
//   come out as ASCII, space as U+0020, and the katakana sets as half-width katakana (U+FF61 on;
//   a voiced one as its letter and the half-width sound mark; the few with no half-width form,
//   small wa and ka, wi, we and the iteration marks, stay full-width). Hiragana and the
//   two-byte sets have no half-width forms and are full-width in every size.
// - The alphanumeric set is JIS X 0201's Roman half: 0x5C is the yen sign and 0x7E the overline
//   (full-width ￥ and ￣ in normal size).
// - APR (0x0D) is a line break, "\n". Every other control code gives nothing, and its
//   parameter bytes are skipped with it; a control cut short by the end of the text just ends
//   it. DEL (0x7F) gives nothing either.
// - A macro (ARIB STD-B24 Volume 1 Part 2, MACRO 0x95) defined with MACRO 0x41 is executed
//   where it is defined: its body, from the byte after the macro's code to MACRO 0x4F (or the
//   end of the text), is read there as a text of its own, so that a control or character it
//   cuts short takes nothing after it, and what it designates or shifts stays so after it.
//   One defined with MACRO 0x40 gives nothing. Definitions are not kept: a character of a
//   macro set gives U+FFFD, as above.
// - RPC (0x98) P1 writes the next character, a graphic one or SP, P1 - 0x40 times, whatever
//   controls come between. P1 = 0x40 repeats it to the end of the line on a screen; a text has
//   no line width to fill, so it is written once, as it is for a P1 outside 0x40 to 0x7F.
// - Bytes that make no sense in their place give U+FFFD: an ESC that is no designation or
//   invocation (with the intermediate and final bytes that belong to it), an ESC cut short,
//   the first byte of a two-byte character whose second byte is missing or out of range (the
//   next byte is then read afresh), and 0xA0 and 0xFF, which no 94-character set fills.
#include "text/si_text.h"

namespace {

enum TS_AribSet : u8 {
    TS_ARIB_KANJI,
    TS_ARIB_JIS_PLANE1,
    TS_ARIB_JIS_PLANE2,
    TS_ARIB_SYMBOLS,
    TS_ARIB_ALPHANUMERIC,
    TS_ARIB_HIRAGANA,
    TS_ARIB_KATAKANA,
    TS_ARIB_JIS_KATAKANA,
    TS_ARIB_NO_UNICODE,  // mosaic, DRCS, macro and unknown sets
};

struct TS_AribG {
    TS_AribSet eSet;
    u8 u8Bytes;  // bytes a character: 1 or 2
};

enum TS_AribSize : u8 { TS_ARIB_NORMAL, TS_ARIB_NARROW };

struct TS_AribState {
    TS_AribG ltG[4];
    u8 u8GL;
    u8 u8GR;
    u8 u8SingleShift;  // 2 or 3 while SS2 or SS3 waits for its character, else 0
    TS_AribSize eSize;
    u8 u8Repeat;  // times RPC asks the next character to be written, 0 for once (no RPC)
};

// Katakana U+30A1 (small a) to U+30F6 (small ke) in half-width: the low byte of U+FFxx, plus
// 0x100 for a voiced letter (followed by the half-width voiced sound mark U+FF9E) or 0x200 for
// a semi-voiced one (U+FF9F); 0 where half-width katakana has no such letter.
constexpr u16 kHalfWidthKatakana[86] = {
    0x67,  0x71,  0x68, 0x72,  0x69,  0x73,  0x6A,  0x74,  0x6B,  0x75,   // ァアィイゥウェエォオ
    0x76,  0x176, 0x77, 0x177, 0x78,  0x178, 0x79,  0x179, 0x7A,  0x17A,  // カガキギクグケゲコゴ
    0x7B,  0x17B, 0x7C, 0x17C, 0x7D,  0x17D, 0x7E,  0x17E, 0x7F,  0x17F,  // サザシジスズセゼソゾ
    0x80,  0x180, 0x81, 0x181, 0x6F,  0x82,  0x182, 0x83,  0x183, 0x84,   // タダチヂッツヅテデト
    0x184, 0x85,  0x86, 0x87,  0x88,  0x89,  0x8A,  0x18A, 0x28A, 0x8B,   // ドナニヌネノハバパヒ
    0x18B, 0x28B, 0x8C, 0x18C, 0x28C, 0x8D,  0x18D, 0x28D, 0x8E,  0x18E,  // ビピフブプヘベペホボ
    0x28E, 0x8F,  0x90, 0x91,  0x92,  0x93,  0x6C,  0x94,  0x6D,  0x95,   // ポマミムメモャヤュユ
    0x6E,  0x96,  0x97, 0x98,  0x99,  0x9A,  0x9B,  0,     0x9C,  0,      // ョヨラリルレロヮワヰ
    0,     0x66,  0x9D, 0x173, 0,     0,                                  // ヱヲンヴヵヶ
};

// JIS X 0201 katakana 0x21 to 0x5F (U+FF61 to U+FF9F) in full width.
constexpr u16 kFullWidthJISKatakana[63] = {
    0x3002, 0x300C, 0x300D, 0x3001, 0x30FB, 0x30F2, 0x30A1, 0x30A3, 0x30A5, 0x30A7,  // ｡｢｣､･ｦｧｨｩｪ
    0x30A9, 0x30E3, 0x30E5, 0x30E7, 0x30C3, 0x30FC, 0x30A2, 0x30A4, 0x30A6, 0x30A8,  // ｫｬｭｮｯｰｱｲｳｴ
    0x30AA, 0x30AB, 0x30AD, 0x30AF, 0x30B1, 0x30B3, 0x30B5, 0x30B7, 0x30B9, 0x30BB,  // ｵｶｷｸｹｺｻｼｽｾ
    0x30BD, 0x30BF, 0x30C1, 0x30C4, 0x30C6, 0x30C8, 0x30CA, 0x30CB, 0x30CC, 0x30CD,  // ｿﾀﾁﾂﾃﾄﾅﾆﾇﾈ
    0x30CE, 0x30CF, 0x30D2, 0x30D5, 0x30D8, 0x30DB, 0x30DE, 0x30DF, 0x30E0, 0x30E1,  // ﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒ
    0x30E2, 0x30E4, 0x30E6, 0x30E8, 0x30E9, 0x30EA, 0x30EB, 0x30EC, 0x30ED, 0x30EF,  // ﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜ
    0x30F3, 0x309B, 0x309C,                                                          // ﾝﾞﾟ
};

// The last eight codes of the hiragana and katakana sets, 0x77 to 0x7E: the set's own
// iteration marks, then the long-vowel mark and punctuation both sets share.
constexpr u16 kHiraganaTail[8] = {0x309D, 0x309E, 0x30FC, 0x3002, 0x300C, 0x300D, 0x3001, 0x30FB};
constexpr u16 kKatakanaTail[8] = {0x30FD, 0x30FE, 0x30FC, 0x3002, 0x300C, 0x300D, 0x3001, 0x30FB};

void TS_AribText_Replacement(TS_TextOut *out) { TS_TextOut_CodePoint(out, TS_TEXT_REPLACEMENT); }

// A katakana code point in half-width, or as it is where half-width has no form of it.
void TS_AribText_HalfWidth(TS_TextOut *out, u32 code_point)
{
    u16 half = 0;
    if (code_point >= 0x30A1 && code_point <= 0x30F6) {
        half = kHalfWidthKatakana[code_point - 0x30A1];
    } else {
        for (int k = 0; k < 5; ++k)
            if (kFullWidthJISKatakana[k] == code_point)
                half = u16(0x61 + k);  // ｡｢｣､･
        if (code_point == 0x30FC)
            half = 0x70;  // ｰ
    }
    if (half == 0) {
        TS_TextOut_CodePoint(out, code_point);
        return;
    }
    char utf8[8];
    int count = TS_Text_EncodeUTF8(utf8, 0xFF00 + (half & 0xFF));
    if (half & 0x300)
        count += TS_Text_EncodeUTF8(utf8 + count, (half & 0x100) ? 0xFF9E : 0xFF9F);
    TS_TextOut_Bytes(out, utf8, count);
}

// One character of a one-byte set, code 0x21 to 0x7E.
void TS_AribText_OneByte(TS_TextOut *out, const TS_AribState *state, TS_AribSet set, u8 code)
{
    const bool narrow = state->eSize == TS_ARIB_NARROW;
    switch (set) {
    case TS_ARIB_ALPHANUMERIC:
        if (code == 0x5C)
            TS_TextOut_CodePoint(out, narrow ? 0x00A5 : 0xFFE5);
        else if (code == 0x7E)
            TS_TextOut_CodePoint(out, narrow ? 0x203E : 0xFFE3);
        else
            TS_TextOut_CodePoint(out, narrow ? code : 0xFF01 + u32(code - 0x21));
        return;
    case TS_ARIB_HIRAGANA:
        if (code <= 0x73)
            TS_TextOut_CodePoint(out, 0x3041 + u32(code - 0x21));
        else if (code >= 0x77)
            TS_TextOut_CodePoint(out, kHiraganaTail[code - 0x77]);
        else
            TS_AribText_Replacement(out);  // 0x74 to 0x76 are empty
        return;
    case TS_ARIB_KATAKANA: {
        const u32 code_point = code <= 0x76 ? 0x30A1 + u32(code - 0x21) : kKatakanaTail[code - 0x77];
        if (narrow)
            TS_AribText_HalfWidth(out, code_point);
        else
            TS_TextOut_CodePoint(out, code_point);
        return;
    }
    case TS_ARIB_JIS_KATAKANA:
        if (code > 0x5F)
            TS_AribText_Replacement(out);
        else
            TS_TextOut_CodePoint(out, narrow ? 0xFF40 + u32(code) : kFullWidthJISKatakana[code - 0x21]);
        return;
    default:
        TS_AribText_Replacement(out);
        return;
    }
}

// One character of a two-byte set: row and cell 1 to 94.
void TS_AribText_TwoByte(TS_TextOut *out, TS_AribSet set, int row, int cell)
{
    char utf8[16];
    int count = 0;
    u32 additional = 0;
    switch (set) {
    case TS_ARIB_KANJI:
        if (row == 1 && cell == 29) {
            // The dash: U+2015 as JIS X 0208 maps it (JIS X 0213, which the rest of the rows
            // are read through for the cells it fills that 0208 left empty, says U+2014).
            TS_TextOut_CodePoint(out, 0x2015);
            return;
        }
        if (row >= 85) {
            additional = TS_ARIB_AdditionalCharacter(row, cell);
            break;
        }
        [[fallthrough]];
    case TS_ARIB_JIS_PLANE1: {
        const u8 euc[2] = {u8(0xA0 + row), u8(0xA0 + cell)};
        count = TS_Text_Iconv(TS_CHARSET_EUC_JISX0213, euc, 2, utf8);
        break;
    }
    case TS_ARIB_JIS_PLANE2: {
        const u8 euc[3] = {0x8F, u8(0xA0 + row), u8(0xA0 + cell)};
        count = TS_Text_Iconv(TS_CHARSET_EUC_JISX0213, euc, 3, utf8);
        break;
    }
    case TS_ARIB_SYMBOLS:
        additional = TS_ARIB_AdditionalCharacter(row, cell);
        break;
    default:
        break;
    }
    if (count > 0)
        TS_TextOut_Bytes(out, utf8, count);
    else if (additional != 0)
        TS_TextOut_CodePoint(out, additional);
    else
        TS_AribText_Replacement(out);
}

// The graphic sets a designation names by its final byte. The alphanumeric, hiragana and
// katakana sets each have a proportional form under a second final byte, decoded as the plain one.
struct TS_AribDesignation {
    u8 u8Final;
    TS_AribG tSet;
};
constexpr TS_AribDesignation kAribDesignations[] = {
    {0x42, {TS_ARIB_KANJI, 2}},    {0x39, {TS_ARIB_JIS_PLANE1, 2}},   {0x3A, {TS_ARIB_JIS_PLANE2, 2}},
    {0x3B, {TS_ARIB_SYMBOLS, 2}},  {0x4A, {TS_ARIB_ALPHANUMERIC, 1}}, {0x36, {TS_ARIB_ALPHANUMERIC, 1}},
    {0x30, {TS_ARIB_HIRAGANA, 1}}, {0x37, {TS_ARIB_HIRAGANA, 1}},     {0x31, {TS_ARIB_KATAKANA, 1}},
    {0x38, {TS_ARIB_KATAKANA, 1}}, {0x49, {TS_ARIB_JIS_KATAKANA, 1}},
};

// The set that final byte names among those of that many bytes a character. One this decoder
// has no table for (mosaic, macro and the like) keeps its size, so that its characters are
// stepped over whole.
TS_AribG TS_AribText_Set(u8 final_byte, u8 bytes)
{
    for (const TS_AribDesignation &designation : kAribDesignations)
        if (designation.u8Final == final_byte && designation.tSet.u8Bytes == bytes)
            return designation.tSet;
    return {TS_ARIB_NO_UNICODE, bytes};
}

bool TS_AribText_IsFinal(u8 byte) { return byte >= 0x30 && byte <= 0x7E; }

// The escape sequence at bytes[at] (an ESC); returns the index after it.
int TS_AribText_Escape(TS_TextOut *out, TS_AribState *state, const u8 *bytes, int length, int at)
{
    int i = at + 1;
    if (i >= length) {
        TS_AribText_Replacement(out);
        return length;
    }
    const u8 first = bytes[i++];
    switch (first) {
    case 0x6E:
    case 0x6F:
        state->u8GL = u8(first - 0x6E + 2);  // LS2, LS3
        return i;
    case 0x7E:
    case 0x7D:
    case 0x7C:
        state->u8GR = u8(0x7E - first + 1);  // LS1R, LS2R, LS3R
        return i;
    default:
        break;
    }
    const bool two_byte = first == 0x24;
    int g = -1;
    if (first >= 0x28 && first <= 0x2B) {
        g = first - 0x28;
    } else if (two_byte) {
        g = 0;  // ESC 0x24 F designates into G0
        if (i < length && bytes[i] >= 0x28 && bytes[i] <= 0x2B)
            g = bytes[i++] - 0x28;
    }
    if (g >= 0) {
        const bool drcs = i < length && bytes[i] == 0x20;
        if (drcs)
            ++i;
        if (i >= length || !TS_AribText_IsFinal(bytes[i])) {
            TS_AribText_Replacement(out);  // cut short, or no final byte
            return i;
        }
        const u8 final_byte = bytes[i++];
        const u8 size = two_byte ? 2 : 1;
        state->ltG[g] = drcs ? TS_AribG{TS_ARIB_NO_UNICODE, size} : TS_AribText_Set(final_byte, size);
        return i;
    }
    // Any other sequence: its intermediate bytes and final byte go with it.
    i = at + 1;
    while (i < length && bytes[i] >= 0x20 && bytes[i] <= 0x2F)
        ++i;
    if (i < length && TS_AribText_IsFinal(bytes[i]))
        ++i;
    TS_AribText_Replacement(out);
    return i;
}

// A graphic character whose first byte is bytes[at], from the G set g; returns the index after
// it. Both bytes of a two-byte character come from the same half, GL or GR.
int TS_AribText_Character(TS_TextOut *out, const TS_AribState *state, int g, const u8 *bytes, int length, int at)
{
    const TS_AribG set = state->ltG[g];
    const u8 first = bytes[at];
    if (set.u8Bytes == 1) {
        TS_AribText_OneByte(out, state, set.eSet, u8(first & 0x7F));
        return at + 1;
    }
    const u8 second = at + 1 < length ? bytes[at + 1] : 0;
    if ((second & 0x7F) < 0x21 || (second & 0x7F) > 0x7E || (second & 0x80) != (first & 0x80)) {
        TS_AribText_Replacement(out);
        return at + 1;
    }
    TS_AribText_TwoByte(out, set.eSet, (first & 0x7F) - 0x20, (second & 0x7F) - 0x20);
    return at + 2;
}

// How many times the character about to be written goes out: RPC's count once, then 1 again.
int TS_AribText_Copies(TS_AribState *state)
{
    const int copies = state->u8Repeat > 0 ? state->u8Repeat : 1;
    state->u8Repeat = 0;
    return copies;
}

// Where the MACRO 0x4F that closes a definition starts, searched from bytes[from] (the byte
// after MACRO's 0x40 or 0x41); length when the text ends first.
int TS_AribText_MacroClose(const u8 *bytes, int length, int from)
{
    for (int i = from; i + 1 < length; ++i)
        if (bytes[i] == 0x95 && bytes[i + 1] == 0x4F)
            return i;
    return length;
}

// Bytes of parameters taken by the control codes that have them.
int TS_AribText_SkipParameters(const u8 *bytes, int length, int at)
{
    const u8 code = bytes[at];
    int i = at + 1;
    switch (code) {
    case 0x16:  // PAPF
    case 0x8B:  // SZX
    case 0x91:  // FLC
    case 0x93:  // POL
    case 0x94:  // WMM
    case 0x97:  // HLC
    case 0x98:  // RPC
        return i + 1;
    case 0x1C:  // APS: row and column
    case 0x9D:  // TIME
        return i + 2;
    case 0x90:  // COL: a colour, or 0x20 and a palette
    case 0x92:  // CDC: a state, or 0x20 and one more
        return i < length && bytes[i] == 0x20 ? i + 2 : i + 1;
    case 0x95:  // MACRO: 0x40 defines a macro without running it, up to and with MACRO 0x4F
        if (i < length && bytes[i] == 0x40) {
            const int close = TS_AribText_MacroClose(bytes, length, i + 1);
            return close < length ? close + 2 : length;
        }
        return i + 1;
    case 0x9B:  // CSI: parameters and intermediate, then a final byte of 0x40 to 0x7E
        while (i < length && bytes[i] >= 0x20 && bytes[i] <= 0x3F)
            ++i;
        return i < length && bytes[i] >= 0x40 && bytes[i] <= 0x7E ? i + 1 : i;
    default:
        return i;
    }
}

}  // namespace

void TS_Text_DecodeARIB(TS_TextOut *out, const u8 *bytes, int length)
{
    TS_AribState state = {{{TS_ARIB_KANJI, 2}, {TS_ARIB_ALPHANUMERIC, 1}, {TS_ARIB_HIRAGANA, 1}, {TS_ARIB_KATAKANA, 1}},
                          0,
                          2,
                          0,
                          TS_ARIB_NORMAL,
                          0};
    // The text is read up to end. A macro defined with MACRO 0x41 runs where it is defined: its
    // body is read with end at the MACRO 0x4F that closes it, and the text goes on at resume,
    // after that; -1 while no body is read. A definition inside a body finds no MACRO 0x4F
    // before the body's (the first one closed the outer body), so it runs to the same end.
    int end = length;
    int resume = -1;
    int i = 0;
    while (!out->bFull) {
        if (i >= end) {
            if (resume < 0)
                break;
            i = resume;
            end = length;
            resume = -1;
            continue;
        }
        const u8 byte = bytes[i];
        if ((byte >= 0x21 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE)) {
            int g = byte < 0x80 ? state.u8GL : state.u8GR;
            if (state.u8SingleShift != 0)
                g = state.u8SingleShift;
            state.u8SingleShift = 0;
            int next = i;
            for (int copies = TS_AribText_Copies(&state); copies > 0; --copies)
                next = TS_AribText_Character(out, &state, g, bytes, end, i);
            i = next;
            continue;
        }
        // A single shift reaches only as far as the next byte.
        state.u8SingleShift = 0;
        switch (byte) {
        case 0x20:  // SP: as wide as the size makes an alphanumeric
            for (int copies = TS_AribText_Copies(&state); copies > 0; --copies)
                TS_TextOut_CodePoint(out, state.eSize == TS_ARIB_NORMAL ? 0x3000 : 0x20);
            break;
        case 0x0D:  // APR
            TS_TextOut_Bytes(out, "\n", 1);
            break;
        case 0x0E:  // LS1
        case 0x0F:  // LS0
            state.u8GL = byte == 0x0E ? 1 : 0;
            break;
        case 0x19:  // SS2
        case 0x1D:  // SS3
            state.u8SingleShift = byte == 0x19 ? 2 : 3;
            break;
        case 0x1B:
            i = TS_AribText_Escape(out, &state, bytes, end, i);
            continue;
        case 0x88:  // SSZ
        case 0x89:  // MSZ
            state.eSize = TS_ARIB_NARROW;
            break;
        case 0x8A:  // NSZ
            state.eSize = TS_ARIB_NORMAL;
            break;
        case 0xA0:
        case 0xFF:
            TS_AribText_Replacement(out);
            break;
        case 0x98: {  // RPC P1: the next character P1 - 0x40 times
            const u8 count = i + 1 < end ? bytes[i + 1] : 0;
            state.u8Repeat = count >= 0x40 && count <= 0x7F ? u8(count - 0x40) : 0;
            i = TS_AribText_SkipParameters(bytes, end, i);
            continue;
        }
        case 0x95:  // MACRO 0x41, the macro's code, the body: defined and executed at once
            if (i + 1 < end && bytes[i + 1] == 0x41) {
                const int close = TS_AribText_MacroClose(bytes, end, i + 2);
                if (close < end)
                    resume = close + 2;
                end = close;
                i = i + 3 < close ? i + 3 : close;
                continue;
            }
            [[fallthrough]];
        default:  // other controls, with their parameters
            i = TS_AribText_SkipParameters(bytes, end, i);
            continue;
        }
        ++i;
    }
}
