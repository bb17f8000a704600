// Program clock reference (ISO/IEC 13818-1 2.4.3.5): decoding from the adaptation field and the
// text form with the 90 kHz base as a time of day.
#include <cstdio>

#include "common/bytes.h"
#include "text/text.h"

// bytes[0] is the lead byte (the adaptation field's flag byte when the stream dump calls it),
// bytes[1] to bytes[6] the PCR field: 33 bits of base, 6 reserved bits, 9 bits of extension.
int TS_PCR_Import(TS_PCR *pcr, const u8 *bytes)
{
    if (pcr == nullptr || bytes == nullptr)
        return -1;
    pcr->u8Lead = bytes[0];
    pcr->program_clock_reference_base = (u64(bytes[1]) << 25) | (u64(bytes[2]) << 17) |
                                        (u64(bytes[3]) << 9) | (u64(bytes[4]) << 1) |
                                        (u64(bytes[5]) >> 7);
    pcr->reserved = (bytes[5] & 0x7E) >> 1;
    pcr->program_clock_reference_extension = (u32(bytes[5] & 0x01) << 8) | bytes[6];
    return 0;
}

// Prints the PCR with its base also as hours:minutes:seconds.milliseconds; the extension takes
// no part in the time.
int TS_PCR_Print(const TS_PCR *pcr)
{
    if (pcr == nullptr)
        return -1;
    char name[256];
    TS_Section_TagToString(name, pcr->u8Lead);

    // The base counts ticks of 90 kHz; a 33-bit base spans 26.5 hours at most.
    constexpr u64 kTicksPerHour = 90000ULL * 3600;
    constexpr u64 kTicksPerMinute = 90000ULL * 60;
    constexpr u64 kTicksPerSecond = 90000ULL;
    u64 rest = pcr->program_clock_reference_base;
    const u8 hours = u8(rest / kTicksPerHour);
    rest -= hours * kTicksPerHour;
    const u8 minutes = u8(rest / kTicksPerMinute);
    rest -= minutes * kTicksPerMinute;
    const u8 seconds = u8(rest / kTicksPerSecond);
    rest -= seconds * kTicksPerSecond;
    const u16 milliseconds = u16(rest / 90);

    TS_Text_Printf("[PCR] TI:0x%02X(%s) PB:%lld(%02d:%02d:%02d.%03d) R:%d PE:%d\n", pcr->u8Lead, name,
           static_cast<long long>(pcr->program_clock_reference_base), hours, minutes, seconds,
           milliseconds, pcr->reserved, int(pcr->program_clock_reference_extension));
    return 0;
}
