// The printers' own formatter must write exactly what printf writes for the conversions they use.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <random>

#include "capture.h"
#include "text/text.h"

namespace {

using testsupport::CaptureStdout;

template <class... Args> void ExpectLikePrintf(const char *format, Args... args)
{
    char expected[8192];
    snprintf(expected, sizeof expected, format, args...);
    const std::string printed = testsupport::Printed([&](TS_Sink *out) { TS_Text_Printf(out, format, args...); });
    EXPECT_EQ(printed, expected) << format;
}

TEST(TextFormat, IntegerConversionsMatchPrintf)
{
    const int ints[] = {0, 1, 9, 10, 99, 100, 255, 4095, 65535, -1, -10, INT_MAX, INT_MIN};
    for (int value : ints) {
        ExpectLikePrintf("%d", value);
        ExpectLikePrintf("%02d", value);
        ExpectLikePrintf("%03d", value);
        ExpectLikePrintf("%X", value);
        ExpectLikePrintf("%02X", value);
        ExpectLikePrintf("%04X", value);
        ExpectLikePrintf("%08X", value);
        ExpectLikePrintf("%u", unsigned(value));
    }
    const long long wides[] = {0, 1, 8589934591LL, 281474976710655LL, LLONG_MAX, LLONG_MIN, -5};
    for (long long value : wides) {
        ExpectLikePrintf("%lld", value);
        ExpectLikePrintf("%llx", (unsigned long long)value);
    }
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        const int value = int(random());
        ExpectLikePrintf("[PCR] TI:0x%02X(%s) PB:%lld(%02d:%02d:%02d.%03d) R:%d PE:%d\n", value & 0xFF, "?",
                         (long long)random() << 1, value % 27, value % 60, value % 60, value % 1000, value, -value);
    }
}

TEST(TextFormat, TextsAndLongLines)
{
    ExpectLikePrintf("[D %s] T:0x%02X L:%d\n  ", "Carousel Compatible Composite", 0xF7, 255);
    ExpectLikePrintf("%s%c%%", "", 'x');
    // A line longer than the formatter's own buffer.
    const std::string long_text(2000, 'a');
    ExpectLikePrintf("%s|%s|%d", long_text.c_str(), long_text.c_str(), 42);
    char expected[4096];
    const std::string printed = testsupport::Printed([&](TS_Sink *out) {
        TS_Text_Printf(
            out,
            "%08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X "
            "%08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X "
            "%08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X %08X ",
            1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
            30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56,
            57, 58, 59, 60);
    });
    std::string wanted;
    for (int i = 1; i <= 60; ++i) {
        snprintf(expected, sizeof expected, "%08X ", i);
        wanted += expected;
    }
    EXPECT_EQ(printed, wanted);
}

TEST(TextFormat, ByteDumpAndLines)
{
    std::vector<u8> bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = u8(i * 37);
    for (int count : {0, 1, 15, 16, 17, 32, 40}) {
        std::string expected;
        char piece[16];
        for (int i = 0; i < count; ++i) {
            snprintf(piece, sizeof piece, "0x%02X, ", bytes[size_t(i)]);
            expected += piece;
            if ((i & 0x0F) == 0x0F)
                expected += "\n  ";
        }
        expected += "\n";
        EXPECT_EQ(testsupport::Printed([&](TS_Sink *out) { TS_Text_PrintBytes(out, bytes.data(), count); }), expected)
            << count;
    }
    EXPECT_EQ(testsupport::Printed([](TS_Sink *out) {
                  TS_Text_Puts(out, "PID List:");
                  TS_Text_Putchar(out, 'x');
              }),
              "PID List:\nx");
}

}  // namespace
