// What pidsift-check's renderers share: numbers, times and rates as the reports write them, and
// how each check is shown.
#include <cstdarg>
#include <cstdio>

#include "renderers.h"

namespace check_tool {

std::string Format(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0)
        vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string Hex(u16 pid) { return Format("0x%04X", pid); }

std::string Seconds(u64 ticks) { return Format("%.3f s", double(ticks) / 27e6); }

std::string ClockTime(u64 ticks)
{
    const u64 milliseconds = (ticks + 13500) / 27000;
    return Format("%02llu:%02llu:%02llu.%03llu", (unsigned long long)(milliseconds / 3600000),
                  (unsigned long long)(milliseconds / 60000 % 60), (unsigned long long)(milliseconds / 1000 % 60),
                  (unsigned long long)(milliseconds % 1000));
}

std::string BitRate(u64 bits_per_second)
{
    if (bits_per_second >= 1000000)
        return Format("%.3f Mbit/s", double(bits_per_second) / 1e6);
    return Format("%.3f kbit/s", double(bits_per_second) / 1e3);
}

const CheckInfo kChecks[TS_CHECK_COUNT] = {
    {"Sync loss", "sync_loss", "the packet spacing was lost and hunted for", false},
    {"Sync byte error", "sync_byte_error", "a packet due without its sync byte 0x47", false},
    {"PAT error", "pat_error", "no PAT for 0.5 s, or PID 0x0000 scrambled or not a PAT", true},
    {"Continuity count error", "cc_error", "a packet lost, repeated twice or out of order", false},
    {"PMT error", "pmt_error", "no PMT of a program for 0.5 s, or a PMT scrambled", true},
    {"PID error", "pid_error", "a PCR, video or audio PID of a PMT silent for 5 s", true},
    {"Transport error", "transport_error", "a packet marked as damaged on the way", false},
    {"CRC error", "crc_error", "a table section whose CRC_32 failed", false},
};

}  // namespace check_tool
