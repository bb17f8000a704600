// The times of the SI tables (EN 300 468 Annex C): a date as a Modified Julian Date, times of day,
// durations and offsets as BCD digits, and their RFC 3339 forms.
#include <cstdio>

#include <pidsift/si_tables.h>

#include "psi/si.h"

namespace pidsift {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// The MJD of 1970-01-01.
constexpr std::int64_t kMjdOfUnixEpoch = 40587;

// Two BCD digits of a byte, or -1 when a nibble is no decimal digit.
int BcdPair(u32 byte)
{
    const u32 high = (byte >> 4) & 0x0F;
    const u32 low = byte & 0x0F;
    return high > 9 || low > 9 ? -1 : int(high * 10 + low);
}

// Days since 1970-01-01 to a civil date, exactly for every day of the proleptic Gregorian
// calendar (eras of 400 years, years starting in March so that the leap day ends them). Annex C's
// formula in floating point holds from 1900-03-01 to 2100-02-28 only, and a 16-bit MJD reaches
// from 1858 to 2038.
void DateFromDays(std::int64_t days, int *year, int *month, int *day)
{
    days += 719468;  // from 0000-03-01
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t day_of_era = days - era * 146097;
    const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t march_month = (5 * day_of_year + 2) / 153;
    *day = int(day_of_year - (153 * march_month + 2) / 5 + 1);
    *month = int(march_month < 10 ? march_month + 3 : march_month - 9);
    *year = int(year_of_era + era * 400 + (*month <= 2 ? 1 : 0));
}

std::int64_t DaysFromDate(int year, int month, int day)
{
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t year_of_era = y - era * 400;
    const std::int64_t day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

std::int64_t FloorDivide(std::int64_t value, std::int64_t divisor)
{
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

}  // namespace

void MjdToDate(u32 mjd, int *year, int *month, int *day)
{
    DateFromDays(std::int64_t(mjd) - kMjdOfUnixEpoch, year, month, day);
}

std::int64_t DateToMjd(int year, int month, int day) { return DaysFromDate(year, month, day) + kMjdOfUnixEpoch; }

SiTime DecodeSiTime(u16 mjd, u32 bcd)
{
    SiTime time;
    time.mjd = mjd;
    time.bcd = bcd & 0xFFFFFF;
    const int hour = BcdPair(time.bcd >> 16);
    const int minute = BcdPair(time.bcd >> 8);
    const int second = BcdPair(time.bcd);
    // All ones (undefined) fails here too: 0xFF is no pair of digits.
    if (hour < 0 || minute < 0 || second < 0 || hour > 23 || minute > 59 || second > 59)
        return time;
    time.defined = true;
    MjdToDate(mjd, &time.year, &time.month, &time.day);
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    time.seconds = (std::int64_t(mjd) - kMjdOfUnixEpoch) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
    return time;
}

SiTime ReadSiTime(const u8 *bytes)
{
    TS_ByteReader field(bytes, 5);
    return ReadSiTime(&field);
}

u32 Read24(TS_ByteReader *reader)
{
    const u32 high = reader->Read16();
    return (high << 8) | reader->Read8();
}

SiTime ReadSiTime(TS_ByteReader *reader)
{
    if (reader->Remaining() < 5) {
        reader->Skip(5);
        return SiTime();
    }
    const u16 mjd = reader->Read16();
    return DecodeSiTime(mjd, Read24(reader));
}

SiDuration DecodeSiDuration(u32 bcd)
{
    SiDuration duration;
    duration.bcd = bcd & 0xFFFFFF;
    const int hours = BcdPair(duration.bcd >> 16);
    const int minutes = BcdPair(duration.bcd >> 8);
    const int seconds = BcdPair(duration.bcd);
    if (hours < 0 || minutes < 0 || seconds < 0 || minutes > 59 || seconds > 59)
        return duration;
    duration.defined = true;
    duration.seconds = u32(hours * 3600 + minutes * 60 + seconds);
    return duration;
}

bool DecodeTimeOffset(u8 polarity, u16 bcd, int *minutes)
{
    const int hours = BcdPair(u32(bcd >> 8));
    const int rest = BcdPair(bcd);
    if (minutes == nullptr || hours < 0 || rest < 0 || hours > 23 || rest > 59)
        return false;
    const int magnitude = hours * 60 + rest;
    *minutes = polarity ? -magnitude : magnitude;
    return true;
}

int ClockOffsetMinutes(int family) { return family == TS_TEXT_ARIB ? 9 * 60 : 0; }

std::string FormatTime(std::int64_t seconds, int family)
{
    const std::int64_t days = FloorDivide(seconds, kSecondsPerDay);
    const std::int64_t of_day = seconds - days * kSecondsPerDay;
    int year = 0, month = 0, day = 0;
    DateFromDays(days, &year, &month, &day);
    const int offset = ClockOffsetMinutes(family);
    char text[48];
    const int length = snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", year, month, day,
                                int(of_day / 3600), int(of_day / 60 % 60), int(of_day % 60));
    return std::string(text, size_t(length)) + (offset == 0 ? std::string("Z") : FormatOffset(offset));
}

std::string FormatTime(const SiTime &time, int family)
{
    return time.defined ? FormatTime(time.seconds, family) : std::string();
}

std::string FormatDuration(const SiDuration &duration)
{
    if (!duration.defined)
        return std::string();
    char text[16];
    const u32 seconds = duration.seconds;
    const int length = snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
    return std::string(text, size_t(length));
}

std::string FormatOffset(int minutes)
{
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char text[16];
    const int length =
        snprintf(text, sizeof text, "%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60 % 100, magnitude % 60);
    return std::string(text, size_t(length));
}

bool LocalTimeOffsetAt(const LocalTimeOffsetEntry &entry, const SiTime &time, int *minutes)
{
    if (!time.defined)
        return false;
    const bool changed = entry.time_of_change.defined && time.seconds >= entry.time_of_change.seconds;
    return DecodeTimeOffset(entry.local_time_offset_polarity,
                            changed ? entry.next_time_offset : entry.local_time_offset, minutes);
}

std::string TimeText(const SiTime &time, int family)
{
    if (time.defined)
        return FormatTime(time, family);
    char text[32];
    const int length = snprintf(text, sizeof text, "undefined(0x%04X%06X)", unsigned(time.mjd), unsigned(time.bcd));
    return std::string(text, size_t(length));
}

std::string DurationText(const SiDuration &duration)
{
    if (duration.defined)
        return FormatDuration(duration);
    char text[32];
    const int length = snprintf(text, sizeof text, "undefined(0x%06X)", unsigned(duration.bcd));
    return std::string(text, size_t(length));
}

std::string OffsetText(u8 polarity, u16 bcd)
{
    int minutes = 0;
    if (DecodeTimeOffset(polarity, bcd, &minutes))
        return FormatOffset(minutes);
    char text[32];
    const int length = snprintf(text, sizeof text, "undefined(0x%04X)", unsigned(bcd));
    return std::string(text, size_t(length));
}

}  // namespace pidsift
