// Text output shared by the printers. A dump of a long recording is megabytes of short lines
// of decimal and hexadecimal fields; formatting them here, straight into the sink's buffer with
// the few conversions the printers use, costs a fraction of the C library's printf while
// writing the same bytes.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "text/text.h"

namespace {

// Writes value in base 10 or 16 into out, at least width digits (padded with zeros or
// blanks), with a minus sign when negative. Returns the characters written.
size_t TS_Text_FormatNumber(char *out, unsigned long long value, bool negative, unsigned base, bool upper, int width,
                            bool zero_pad)
{
    const char *digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char reversed[24];
    size_t count = 0;
    do {
        reversed[count++] = digits[value % base];
        value /= base;
    } while (value != 0);
    size_t n = 0;
    const int length = int(count) + (negative ? 1 : 0);
    if (!zero_pad)
        for (int pad = length; pad < width; ++pad)
            out[n++] = ' ';
    if (negative)
        out[n++] = '-';
    if (zero_pad)
        for (int pad = length; pad < width; ++pad)
            out[n++] = '0';
    while (count > 0)
        out[n++] = reversed[--count];
    return n;
}

}  // namespace

TS_Sink::TS_Sink(const pidsift::TextSink &target) : m_pFile(target.file), m_pText(target.text), m_fnWrite(target.write)
{
    if (m_pFile == nullptr && m_pText == nullptr && !m_fnWrite)
        m_pFile = stdout;
}

void TS_Sink::Drain()
{
    if (m_u32Used == 0)
        return;
    if (m_pFile != nullptr)
        fwrite_unlocked(m_lcBuffer, 1, m_u32Used, m_pFile);
    else if (m_pText != nullptr)
        m_pText->append(m_lcBuffer, m_u32Used);
    else
        m_fnWrite(m_lcBuffer, m_u32Used);
    m_u32Used = 0;
}

void TS_Sink::WriteLong(const char *bytes, size_t count)
{
    Drain();
    if (count <= kCapacity) {
        std::memcpy(m_lcBuffer, bytes, count);
        m_u32Used = u32(count);
    } else if (m_pFile != nullptr) {
        fwrite_unlocked(bytes, 1, count, m_pFile);
    } else if (m_pText != nullptr) {
        m_pText->append(bytes, count);
    } else {
        m_fnWrite(bytes, count);
    }
}

int TS_Text_Printf(TS_Sink *out, const char *format, ...)
{
    int total = 0;
    va_list args;
    va_start(args, format);
    for (const char *f = format; *f != '\0'; ++f) {
        if (*f != '%') {
            out->Put(*f);
            ++total;
            continue;
        }
        ++f;
        const bool zero_pad = *f == '0';
        if (zero_pad)
            ++f;
        int width = 0;
        while (*f >= '0' && *f <= '9')
            width = width * 10 + (*f++ - '0');
        int longs = 0;
        while (*f == 'l') {
            ++longs;
            ++f;
        }
        // Room for the longest number (64 bits in decimal and a sign) within the width asked,
        // never past what the sink can reserve.
        const u32 room = u32(width) + 24 < TS_Sink::kReserve ? u32(width) + 24 : TS_Sink::kReserve;
        size_t n = 0;
        switch (*f) {
        case 'd': {
            const long long value = longs >= 2   ? va_arg(args, long long)
                                    : longs == 1 ? va_arg(args, long)
                                                 : va_arg(args, int);
            const unsigned long long magnitude =
                value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
            n = TS_Text_FormatNumber(out->Reserve(room), magnitude, value < 0, 10, false, int(room) - 24, zero_pad);
            out->Commit(u32(n));
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            const unsigned long long value = longs >= 2   ? va_arg(args, unsigned long long)
                                             : longs == 1 ? va_arg(args, unsigned long)
                                                          : va_arg(args, unsigned int);
            n = TS_Text_FormatNumber(out->Reserve(room), value, false, *f == 'u' ? 10 : 16, *f == 'X', int(room) - 24,
                                     zero_pad);
            out->Commit(u32(n));
            break;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            n = std::strlen(text);
            out->Write(text, n);
            break;
        }
        case 'c':
            out->Put(char(va_arg(args, int)));
            n = 1;
            break;
        case '%':
            out->Put('%');
            n = 1;
            break;
        default:  // not used by the printers: written as it stands
            out->Put('%');
            n = 1;
            if (*f == '\0') {
                --f;
            } else {
                out->Put(*f);
                ++n;
            }
            break;
        }
        total += int(n);
    }
    va_end(args);
    return total;
}

int TS_Text_Puts(TS_Sink *out, const char *text)
{
    out->Write(text, std::strlen(text));
    out->Put('\n');
    return '\n';
}

void TS_Text_PrintBytes(TS_Sink *out, const u8 *bytes, int count)
{
    static const char kHex[] = "0123456789ABCDEF";
    // "0x%02X, " per byte, "\n  " after every sixteenth.
    for (int start = 0; start < count; start += 16) {
        char *line = out->Reserve(16 * 6 + 3);
        size_t n = 0;
        const int end = count - start < 16 ? count : start + 16;
        for (int i = start; i < end; ++i) {
            line[n++] = '0';
            line[n++] = 'x';
            line[n++] = kHex[bytes[i] >> 4];
            line[n++] = kHex[bytes[i] & 0x0F];
            line[n++] = ',';
            line[n++] = ' ';
        }
        if (end - start == 16) {
            line[n++] = '\n';
            line[n++] = ' ';
            line[n++] = ' ';
        }
        out->Commit(u32(n));
    }
    out->Put('\n');
}
