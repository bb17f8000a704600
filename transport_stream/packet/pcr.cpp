// Program clock reference (ISO/IEC 13818-1 2.4.3.5): decoding from the adaptation field and the
// text form with the 90 kHz base as a time of day, and the JSON form.
#include "packet/clock_reference.h"
#include "packet/print.h"
#include "text/text.h"

// bytes[0] is the lead byte (the adaptation field's flag byte when the stream dump calls it),
// bytes[1] to bytes[6] the PCR field: 33 bits of base, 6 reserved bits, 9 bits of extension.
int TS_PCR_Import(TS_PCR *pcr, const u8 *bytes)
{
    if (pcr == nullptr || bytes == nullptr)
        return -1;
    TS_ByteReader reader(bytes, 7);
    pcr->u8Lead = reader.Read8();
    u16 extension = 0;
    TS_ClockReference_Read(&reader, &pcr->program_clock_reference_base, &pcr->reserved, &extension);
    pcr->program_clock_reference_extension = extension;
    return 0;
}

// Prints the PCR with its base also as hours:minutes:seconds.milliseconds; the extension takes
// no part in the time.
int TS_PCR_Print(TS_Sink *out, const TS_PCR *pcr)
{
    if (pcr == nullptr)
        return -1;

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

    TS_Text_Printf(out, "[PCR] TI:0x%02X(%s) PB:%lld(%02d:%02d:%02d.%03d) R:%d PE:%d\n", pcr->u8Lead,
                   TS_Name_TableId(pcr->u8Lead), static_cast<long long>(pcr->program_clock_reference_base), hours,
                   minutes, seconds, milliseconds, pcr->reserved, int(pcr->program_clock_reference_extension));
    return 0;
}

// The two parts as they stand: a reader adds base * 300 + extension for the 27 MHz count.
void TS_PCR_PrintJSON(TS_Json *json, const TS_PCR *pcr)
{
    TS_Json_NumberField(json, "program_clock_reference_base", pcr->program_clock_reference_base);
    TS_Json_NumberField(json, "program_clock_reference_extension", pcr->program_clock_reference_extension);
}

int TS_PCR_Print(const TS_PCR *pcr)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_PCR_Print(out, pcr); });
}
