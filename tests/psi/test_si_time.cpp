// The times of the SI tables: Modified Julian Dates against EN 300 468 Annex C, BCD times,
// durations and offsets with their digit and range checks, and their RFC 3339 forms in both
// families.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <pidsift/si_tables.h>

namespace {

struct Date {
    int year, month, day;
    bool operator==(const Date &other) const { return year == other.year && month == other.month && day == other.day; }
};

Date FromMjd(u32 mjd)
{
    Date date{};
    pidsift::MjdToDate(mjd, &date.year, &date.month, &date.day);
    return date;
}

// EN 300 468 Annex C, MJD to year, month and day, in floating point as printed there.
Date AnnexC(u32 mjd)
{
    const int y1 = int((mjd - 15078.2) / 365.25);
    const int m1 = int((mjd - 14956.1 - int(y1 * 365.25)) / 30.6001);
    const int day = int(mjd) - 14956 - int(y1 * 365.25) - int(m1 * 30.6001);
    const int k = m1 == 14 || m1 == 15 ? 1 : 0;
    return {1900 + y1 + k, m1 - 1 - k * 12, day};
}

TEST(Mjd, KnownDates)
{
    // Annex C's worked example: 93/10/13 is MJD 0xC079.
    EXPECT_EQ(FromMjd(0xC079), (Date{1993, 10, 13}));
    EXPECT_EQ(FromMjd(0), (Date{1858, 11, 17}));
    EXPECT_EQ(FromMjd(0xFFFF), (Date{2038, 4, 22}));
    EXPECT_EQ(FromMjd(40587), (Date{1970, 1, 1}));
    EXPECT_EQ(FromMjd(51603), (Date{2000, 2, 29}));
    EXPECT_EQ(FromMjd(51604), (Date{2000, 3, 1}));
    EXPECT_EQ(pidsift::DateToMjd(1993, 10, 13), 0xC079);
}

// Every day of Annex C's range (1900-03-01 to 2100-02-28, cut by 16 bits at 2038-04-22), both
// ways.
TEST(Mjd, AgreesWithAnnexCOverItsRange)
{
    for (u32 mjd = 15079; mjd <= 0xFFFF; ++mjd) {
        const Date date = FromMjd(mjd);
        ASSERT_EQ(date, AnnexC(mjd)) << mjd;
        ASSERT_EQ(pidsift::DateToMjd(date.year, date.month, date.day), mjd);
    }
}

TEST(SiTime, DigitsAndRangesDecideWhetherTheTimeIsDefined)
{
    const struct {
        u16 mjd;
        u32 bcd;
        bool defined;
        const char *dvb;  // FormatTime, TS_TEXT_DVB
    } cases[] = {
        {0xC079, 0x124500, true, "1993-10-13T12:45:00Z"},
        {0xC079, 0x000000, true, "1993-10-13T00:00:00Z"},
        {0xC079, 0x235959, true, "1993-10-13T23:59:59Z"},
        {0xC079, 0x240000, false, ""},  // hour 24
        {0xC079, 0x126000, false, ""},  // minute 60
        {0xC079, 0x124560, false, ""},  // second 60
        {0xC079, 0x1A4500, false, ""},  // a nibble past 9
        {0xC079, 0x12450F, false, ""},
        {0xFFFF, 0xFFFFFF, false, ""},                     // all ones: undefined
        {0xFFFF, 0x000000, true, "2038-04-22T00:00:00Z"},  // the last day a 16-bit MJD holds
    };
    for (const auto &c : cases) {
        const pidsift::SiTime time = pidsift::DecodeSiTime(c.mjd, c.bcd);
        EXPECT_EQ(time.defined, c.defined) << std::hex << c.mjd << " " << c.bcd;
        EXPECT_EQ(time.mjd, c.mjd);
        EXPECT_EQ(time.bcd, c.bcd);
        EXPECT_EQ(pidsift::FormatTime(time, TS_TEXT_DVB), c.dvb);
        if (!c.defined) {
            EXPECT_EQ(time.seconds, 0);
        }
    }
    const u8 field[5] = {0xC0, 0x79, 0x12, 0x45, 0x00};
    const pidsift::SiTime time = pidsift::ReadSiTime(field);
    EXPECT_EQ(time.year, 1993);
    EXPECT_EQ(time.hour, 12);
    EXPECT_EQ(time.minute, 45);
    EXPECT_EQ(time.seconds, 750516300);  // date +%s -ud '1993-10-13 12:45:00'
}

// DVB's fields are UTC, ISDB's the same digits on Japan's clock: the same bytes, another instant.
TEST(SiTime, TheFamilyGivesTheOffset)
{
    const pidsift::SiTime time = pidsift::DecodeSiTime(0xE516, 0x210000);
    EXPECT_EQ(pidsift::FormatTime(time, TS_TEXT_ARIB), "2019-06-12T21:00:00+09:00");
    EXPECT_EQ(pidsift::FormatTime(time, TS_TEXT_DVB), "2019-06-12T21:00:00Z");
    EXPECT_EQ(pidsift::ClockOffsetMinutes(TS_TEXT_ARIB), 540);
    EXPECT_EQ(pidsift::ClockOffsetMinutes(TS_TEXT_DVB), 0);
    EXPECT_EQ(pidsift::ClockOffsetMinutes(7), 0);
    // An end past midnight, and times before 1970.
    EXPECT_EQ(pidsift::FormatTime(time.seconds + 4 * 3600 + 30, TS_TEXT_ARIB), "2019-06-13T01:00:30+09:00");
    EXPECT_EQ(pidsift::FormatTime(pidsift::DecodeSiTime(0, 0x000001), TS_TEXT_DVB), "1858-11-17T00:00:01Z");
    EXPECT_EQ(pidsift::FormatTime(-1, TS_TEXT_DVB), "1969-12-31T23:59:59Z");
}

TEST(SiDuration, HoursToNinetyNine)
{
    const struct {
        u32 bcd;
        bool defined;
        u32 seconds;
        const char *text;
    } cases[] = {
        {0x013000, true, 5400, "01:30:00"}, {0x000001, true, 1, "00:00:01"}, {0x990000, true, 356400, "99:00:00"},
        {0x246000, false, 0, ""},           {0x00A000, false, 0, ""},        {0xFFFFFF, false, 0, ""},
        {0x000060, false, 0, ""},
    };
    for (const auto &c : cases) {
        const pidsift::SiDuration duration = pidsift::DecodeSiDuration(c.bcd);
        EXPECT_EQ(duration.defined, c.defined) << std::hex << c.bcd;
        EXPECT_EQ(duration.seconds, c.seconds);
        EXPECT_EQ(pidsift::FormatDuration(duration), c.text);
    }
}

TEST(TimeOffset, PolarityAndDigits)
{
    int minutes = 12345;
    EXPECT_TRUE(pidsift::DecodeTimeOffset(0, 0x0930, &minutes));
    EXPECT_EQ(minutes, 570);
    EXPECT_TRUE(pidsift::DecodeTimeOffset(1, 0x0300, &minutes));
    EXPECT_EQ(minutes, -180);
    EXPECT_EQ(pidsift::FormatOffset(minutes), "-03:00");
    EXPECT_EQ(pidsift::FormatOffset(570), "+09:30");
    minutes = 12345;
    EXPECT_FALSE(pidsift::DecodeTimeOffset(0, 0x2400, &minutes));
    EXPECT_FALSE(pidsift::DecodeTimeOffset(0, 0x0060, &minutes));
    EXPECT_FALSE(pidsift::DecodeTimeOffset(0, 0x0B00, &minutes));
    EXPECT_FALSE(pidsift::DecodeTimeOffset(0, 0x0900, nullptr));
    EXPECT_EQ(minutes, 12345);
}

}  // namespace
