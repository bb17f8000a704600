// Text output shared by the printers. A dump of a long recording is megabytes of short lines
// of decimal and hexadecimal fields; formatting them here, with the few conversions the
// printers use, costs a fraction of the C library's printf while writing the same bytes
// through the same stdout stream.
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

int TS_Text_Printf(const char *format, ...)
{
    char out[512];
    size_t n = 0;
    int total = 0;
    auto flush = [&]() {
        fwrite_unlocked(out, 1, n, stdout);
        total += int(n);
        n = 0;
    };
    va_list args;
    va_start(args, format);
    for (const char *f = format; *f != '\0'; ++f) {
        // Room for the longest conversion: a 64-bit number with its width.
        if (n > sizeof out - 48)
            flush();
        if (*f != '%') {
            out[n++] = *f;
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
        switch (*f) {
        case 'd': {
            const long long value = longs >= 2   ? va_arg(args, long long)
                                    : longs == 1 ? va_arg(args, long)
                                                 : va_arg(args, int);
            const unsigned long long magnitude =
                value < 0 ? 0ull - (unsigned long long)value : (unsigned long long)value;
            n += TS_Text_FormatNumber(out + n, magnitude, value < 0, 10, false, width, zero_pad);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            const unsigned long long value = longs >= 2   ? va_arg(args, unsigned long long)
                                             : longs == 1 ? va_arg(args, unsigned long)
                                                          : va_arg(args, unsigned int);
            n += TS_Text_FormatNumber(out + n, value, false, *f == 'u' ? 10 : 16, *f == 'X', width, zero_pad);
            break;
        }
        case 's': {
            const char *text = va_arg(args, const char *);
            const size_t length = std::strlen(text);
            if (length > sizeof out - n) {
                flush();
                fwrite_unlocked(text, 1, length, stdout);
                total += int(length);
            } else {
                std::memcpy(out + n, text, length);
                n += length;
            }
            break;
        }
        case 'c':
            out[n++] = char(va_arg(args, int));
            break;
        case '%':
            out[n++] = '%';
            break;
        default:  // not used by the printers: written as it stands
            out[n++] = '%';
            if (*f == '\0')
                --f;
            else
                out[n++] = *f;
            break;
        }
    }
    va_end(args);
    flush();
    return total;
}

int TS_Text_Puts(const char *text)
{
    fputs_unlocked(text, stdout);
    return putc_unlocked('\n', stdout);
}

int TS_Text_Putchar(int c) { return putc_unlocked(c, stdout); }

void TS_Text_PrintBytes(const u8 *bytes, int count)
{
    static const char kHex[] = "0123456789ABCDEF";
    // "0x%02X, " per byte, "\n  " after every sixteenth.
    char line[16 * 6 + 3];
    for (int start = 0; start < count; start += 16) {
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
        fwrite_unlocked(line, 1, n, stdout);
    }
    putc_unlocked('\n', stdout);
}
