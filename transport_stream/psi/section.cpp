// PSI section reassembly from the payloads of one PID's packets (ISO/IEC 13818-1 2.4.4).
#include <cstring>

#include "psi/section.h"

// Puts a reassembly buffer into its idle state: nothing collected, no counter seen.
int TS_PreSection_Initialise(TS_PreSection *section)
{
    if (section == nullptr)
        return -1;
    section->u8Complete = 1;
    section->u16Length = 0;
    section->u16Collected = 0;
    section->u8LastCounter = 255;
    std::memset(section->lu8Section, 0, sizeof section->lu8Section);
    return 0;
}

namespace {

// Failure: the section in progress is dropped along with the packet.
int TS_PreSection_Fail(TS_PreSection *section, int result)
{
    TS_PreSection_Initialise(section);
    return result;
}

// Once the three header bytes are in, checks section_length and fixes the expected length.
// Returns 0, or -4 for a section that is too short or longer than the buffer.
int TS_PreSection_CheckLength(TS_PreSection *section, u16 min_section_length)
{
    const u16 section_length = TS_Read12(section->lu8Section + 1);
    if (section_length < min_section_length || section_length + 3u > TS_SECTION_CAPACITY)
        return -4;
    section->u16Length = u16(section_length + 3);
    return 0;
}

// Appends up to count payload bytes to the section in progress and updates the complete flag.
// The expected length is 0 while the three header bytes are not all in yet.
int TS_PreSection_Append(TS_PreSection *section, const u8 *bytes, u32 count, u16 min_section_length)
{
    if (section->u16Length == 0) {
        const u32 header = section->u16Collected + count < 3 ? count : 3u - section->u16Collected;
        std::memcpy(section->lu8Section + section->u16Collected, bytes, header);
        section->u16Collected = u16(section->u16Collected + header);
        bytes += header;
        count -= header;
        if (section->u16Collected < 3) {
            section->u8Complete = 0;
            return 0;
        }
        if (TS_PreSection_CheckLength(section, min_section_length) < 0)
            return TS_PreSection_Fail(section, -4);
    }
    const u32 remaining = u32(section->u16Length - section->u16Collected);
    const u32 take = count < remaining ? count : remaining;
    std::memcpy(section->lu8Section + section->u16Collected, bytes, take);
    section->u16Collected = u16(section->u16Collected + take);
    section->u8Complete = section->u16Collected == section->u16Length;
    return 0;
}

// The common importer. A packet with payload_unit_start_indicator set starts a new section
// 1 + pointer_field bytes into its payload, whatever was in progress; any other packet carries
// the continuation of the section in progress in its whole payload.
int TS_PreSection_Import(TS_PreSection *section, const u8 *packet, u16 min_section_length)
{
    if (section == nullptr || packet == nullptr)
        return -1;
    TS_ByteReader reader(packet, TS_PACKET_SIZE);
    reader.Skip(1);  // sync_byte
    const u8 payload_unit_start_indicator = u8((reader.Read16() >> 14) & 0x01);
    const u8 control = reader.Read8();
    const u8 adaptation_field_control = (control >> 4) & 0x03;
    const u8 continuity_counter = control & 0x0F;

    // Payload bytes start after the header and any adaptation field.
    if (!(adaptation_field_control & 0x01))
        return -5;
    if (adaptation_field_control & 0x02)
        reader.Skip(reader.Read8());
    if (reader.Remaining() == 0)
        return -5;

    if (payload_unit_start_indicator) {
        // The pointer_field counts the bytes (the tail of an earlier section) before the new one.
        reader.Skip(reader.Read8());
        if (reader.Remaining() == 0)
            return TS_PreSection_Fail(section, -4);
        section->u8LastCounter = continuity_counter;
        section->u16Length = 0;
        section->u16Collected = 0;
        return TS_PreSection_Append(section, reader.Here(), reader.Remaining(), min_section_length);
    }

    if (section->u8Complete)
        return -5;
    // Continuity is checked between the packets of one section only.
    if (section->u8LastCounter == 15 && continuity_counter != 0)
        return TS_PreSection_Fail(section, -2);
    if (section->u8LastCounter != 15 && continuity_counter != section->u8LastCounter + 1)
        return TS_PreSection_Fail(section, -3);
    section->u8LastCounter = continuity_counter;
    return TS_PreSection_Append(section, reader.Here(), reader.Remaining(), min_section_length);
}

}  // namespace

// Each table's importer is the common one with the smallest section_length the table accepts:
// the fixed header after section_length plus the CRC_32 (9), and for the PMT also PCR_PID and
// program_info_length (13), for the SDT original_network_id and reserved_future_use (12), for
// the NIT its two loop lengths (13).
#define TS_SECTION_IMPORTER(Importer, min_section_length)                                                              \
    int Importer(TS_PreSection *section, const u8 *packet)                                                             \
    {                                                                                                                  \
        return TS_PreSection_Import(section, packet, min_section_length);                                              \
    }
TS_SECTION_IMPORTER(TS_PAT_ImportPreSection, 9)
TS_SECTION_IMPORTER(TS_CAT_ImportPreSection, 9)
TS_SECTION_IMPORTER(TS_PMT_ImportPreSection, 13)
TS_SECTION_IMPORTER(TS_Section_ImportPreSection, 9)
TS_SECTION_IMPORTER(TS_SDT_ImportPreSection, 12)
TS_SECTION_IMPORTER(TS_NIT_ImportPreSection, 13)
#undef TS_SECTION_IMPORTER
