// UTF-8: the one validator (TS_Text_UTF8Length and the subparts a decoder replaces), the writer
// the text decoders share, and the iconv conversions of the character sets too large to carry
// as tables of our own.
#include <iconv.h>

#include <cstring>

#include "text/utf8.h"

namespace {

// iconv's names of the TS_TextCharset values; null for the one that has none (ISO 8859-12
// was never published).
const char *const kCharsetNames[TS_CHARSET_COUNT] = {
    "ISO6937",     "ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",  "ISO-8859-5",   "ISO-8859-6",
    "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",  "ISO-8859-10", "ISO-8859-11", nullptr,        "ISO-8859-13",
    "ISO-8859-14", "ISO-8859-15", "ISO-8859-16", "EUC-KR",      "GB2312",      "EUC-JISX0213",
};

const iconv_t kNotOpened = reinterpret_cast<iconv_t>(-1);

// The descriptors of one thread, each opened the first time its set is met: iconv_open loads
// and sets up a conversion module, far too slow to do for every name, and a descriptor carries
// a shift state, so threads cannot share one.
class TS_IconvCache {
public:
    TS_IconvCache()
    {
        for (iconv_t &descriptor : m_ltDescriptors)
            descriptor = kNotOpened;
    }
    ~TS_IconvCache()
    {
        for (iconv_t descriptor : m_ltDescriptors)
            if (descriptor != kNotOpened)
                iconv_close(descriptor);
    }
    TS_IconvCache(const TS_IconvCache &) = delete;
    TS_IconvCache &operator=(const TS_IconvCache &) = delete;

    // The descriptor of a set, or kNotOpened when this system cannot convert it (asked once).
    iconv_t For(int charset)
    {
        if (!m_lbTried[charset]) {
            m_lbTried[charset] = true;
            if (kCharsetNames[charset] != nullptr)
                m_ltDescriptors[charset] = iconv_open("UTF-8", kCharsetNames[charset]);
        }
        return m_ltDescriptors[charset];
    }

private:
    iconv_t m_ltDescriptors[TS_CHARSET_COUNT];
    bool m_lbTried[TS_CHARSET_COUNT] = {};
};

}  // namespace

int TS_Text_Iconv(int charset, const u8 *bytes, int count, char *utf8)
{
    thread_local TS_IconvCache cache;
    if (charset < 0 || charset >= TS_CHARSET_COUNT || count <= 0 || count > 4)
        return 0;
    const iconv_t descriptor = cache.For(charset);
    if (descriptor == kNotOpened)
        return 0;
    char in[4];
    std::memcpy(in, bytes, size_t(count));
    char *in_at = in;
    size_t in_left = size_t(count);
    char *out_at = utf8;
    size_t out_left = 16;
    // Back to the initial state: a failed call may have left the descriptor in the middle of
    // a character.
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    if (iconv(descriptor, &in_at, &in_left, &out_at, &out_left) == size_t(-1) || in_left != 0 ||
        iconv(descriptor, nullptr, nullptr, &out_at, &out_left) == size_t(-1))
        return 0;
    return int(out_at - utf8);
}

namespace {

// How the bytes at text begin a UTF-8 sequence: *length is the length of the sequence their first
// byte starts (0 for a byte that starts none), and the result how many of them, from the first,
// fit it (never more than available). Overlong forms, surrogates (U+D800 to U+DFFF) and code
// points past U+10FFFF are ruled out by the second byte's range.
size_t TS_Text_UTF8Prefix(const u8 *text, size_t available, size_t *length)
{
    const u8 lead = text[0];
    if (lead < 0x80) {
        *length = 1;
        return 1;
    }
    u8 low = 0x80;
    u8 high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        *length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        *length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // below: an overlong form
        else if (lead == 0xED)
            high = 0x9F;  // above: a surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        *length = 4;
        if (lead == 0xF0)
            low = 0x90;  // below: an overlong form
        else if (lead == 0xF4)
            high = 0x8F;  // above: past U+10FFFF
    } else {
        *length = 0;  // a continuation byte, 0xC0, 0xC1 or 0xF5 to 0xFF
        return 0;
    }
    if (available < 2 || text[1] < low || text[1] > high)
        return 1;
    size_t fit = 2;
    while (fit < *length && fit < available && (text[fit] & 0xC0) == 0x80)
        ++fit;
    return fit;
}

}  // namespace

size_t TS_Text_UTF8Length(const u8 *text, size_t available)
{
    size_t length = 0;
    const size_t fit = TS_Text_UTF8Prefix(text, available, &length);
    return length != 0 && fit == length ? length : 0;
}

size_t TS_Text_UTF8Subpart(const u8 *text, size_t available)
{
    size_t length = 0;
    const size_t fit = TS_Text_UTF8Prefix(text, available, &length);
    return fit == 0 ? 1 : fit;
}

u32 TS_Text_UTF8CodePoint(const u8 *text, size_t length)
{
    static const u8 kLeadBits[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    u32 code_point = text[0] & kLeadBits[length];
    for (size_t k = 1; k < length; ++k)
        code_point = code_point << 6 | (text[k] & 0x3F);
    return code_point;
}

int TS_Text_EncodeUTF8(char *utf8, u32 code_point)
{
    if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF))
        code_point = TS_TEXT_REPLACEMENT;
    if (code_point < 0x80) {
        utf8[0] = char(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        utf8[0] = char(0xC0 | (code_point >> 6));
        utf8[1] = char(0x80 | (code_point & 0x3F));
        return 2;
    }
    if (code_point < 0x10000) {
        utf8[0] = char(0xE0 | (code_point >> 12));
        utf8[1] = char(0x80 | ((code_point >> 6) & 0x3F));
        utf8[2] = char(0x80 | (code_point & 0x3F));
        return 3;
    }
    utf8[0] = char(0xF0 | (code_point >> 18));
    utf8[1] = char(0x80 | ((code_point >> 12) & 0x3F));
    utf8[2] = char(0x80 | ((code_point >> 6) & 0x3F));
    utf8[3] = char(0x80 | (code_point & 0x3F));
    return 4;
}

void TS_TextOut_Start(TS_TextOut *out, char *buffer, int capacity)
{
    out->strOut = buffer;
    out->s32Capacity = capacity;
    out->s32Length = 0;
    out->bFull = capacity <= 0;
}

bool TS_TextOut_Bytes(TS_TextOut *out, const char *utf8, int count)
{
    if (out->bFull)
        return false;
    // Room for the bytes and the NUL after them.
    if (count >= out->s32Capacity - out->s32Length) {
        out->bFull = true;
        return false;
    }
    std::memcpy(out->strOut + out->s32Length, utf8, size_t(count));
    out->s32Length += count;
    return true;
}

bool TS_TextOut_CodePoint(TS_TextOut *out, u32 code_point)
{
    char utf8[4];
    return TS_TextOut_Bytes(out, utf8, TS_Text_EncodeUTF8(utf8, code_point));
}

int TS_TextOut_Finish(TS_TextOut *out)
{
    if (out->s32Capacity > 0)
        out->strOut[out->s32Length] = '\0';
    return out->s32Length;
}
