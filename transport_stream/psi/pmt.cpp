// Program map section decoding and stream membership (ISO/IEC 13818-1 2.4.4.8).
#include "psi/section.h"
#include "descriptors/descriptors.h"
#include "text/text.h"

namespace {

// Decodes one elementary stream loop entry whose bytes end at section_end at the latest.
void TS_PMTStream_Get(TS_PMTStream *stream, const u8 *entry, const u8 *section_end)
{
    stream->stream_type = entry[0];
    stream->elementary_PID = TS_Read13(entry + 1);
    stream->ES_info_length = TS_Read12(entry + 3);
    const u8 *loop = entry + 5;
    const long long room = section_end - loop;
    const u8 *loop_end = room < stream->ES_info_length ? section_end : loop + stream->ES_info_length;
    stream->u16DescriptorCount =
        room >= 0 ? TS_Descriptor_DecodeLoop(stream->ltDescriptor, 32, loop, loop_end, section_end) : 0;
}

}  // namespace

// Decodes one stream loop entry, its descriptors included, trusting ES_info_length.
int TS_PMT_GetStreamInfo(TS_PMTStream *stream, const u8 *entry)
{
    if (stream == nullptr || entry == nullptr)
        return -1;
    const u8 *end = entry + 5 + TS_Read12(entry + 3);
    TS_PMTStream_Get(stream, entry, end);
    return 0;
}

// Decodes a complete PMT section. Descriptor loops stop at the end of the section, surplus
// streams (above 16) and descriptors (above 32 per loop) are dropped.
int TS_PMT_FromPreSection(TS_PMT *pmt, const TS_PreSection *section, u16 pid)
{
    if (pmt == nullptr || section == nullptr)
        return -1;
    const u8 *b = section->lu8Section;
    pmt->table_id = b[0];
    pmt->section_syntax_indicator = b[1] >> 7;
    pmt->reserved1 = (b[1] >> 4) & 0x03;
    pmt->section_length = TS_Read12(b + 1);
    pmt->program_number = TS_Read16(b + 3);
    pmt->reserved2 = b[5] >> 6;
    pmt->version_number = (b[5] >> 1) & 0x1F;
    pmt->current_next_indicator = b[5] & 0x01;
    pmt->section_number = b[6];
    pmt->last_section_number = b[7];
    pmt->PCR_PID = TS_Read13(b + 8);
    pmt->program_info_length = TS_Read12(b + 10);

    // Offsets, not pointers: declared lengths may point far beyond the section.
    const u32 extent = TS_PreSection_Extent(section);
    const u8 *section_end = b + extent;
    u32 position = 12;
    const u32 program_loop_end = position + pmt->program_info_length;
    pmt->u16DescriptorCount = position <= extent
        ? TS_Descriptor_DecodeLoop(pmt->ltDescriptor, 32, b + position,
                                   b + (program_loop_end < extent ? program_loop_end : extent), section_end)
        : 0;
    position = program_loop_end;

    // The stream loop runs up to the CRC_32, which starts at byte section_length - 1.
    const u32 loop_end = pmt->section_length > 1 ? pmt->section_length - 1u : 0u;
    u16 count = 0;
    while (position < loop_end && count < 16 && position + 5 <= extent) {
        TS_PMTStream_Get(&pmt->ltStream[count], b + position, section_end);
        position += 5 + pmt->ltStream[count].ES_info_length;
        ++count;
    }
    pmt->u16StreamCount = count;
    pmt->CRC_32 = TS_Section_ReadCRC(b, extent);
    pmt->u8Valid = 1;
    pmt->u16PID = pid;
    return 0;
}

int TS_IsStreamPIDOfPMT(const TS_PMT *pmt, u16 pid)
{
    for (u16 i = 0; i < pmt->u16StreamCount; ++i)
        if (pmt->ltStream[i].elementary_PID == pid)
            return 1;
    return 0;
}

// The CA PID of the program: conditional-access descriptors in the stream loops do not count.
int TS_GetCAPIDFromPMT(u16 *ca_pid, const TS_PMT *pmt)
{
    if (ca_pid == nullptr)
        return -1;
    *ca_pid = TS_NO_PID;
    if (pmt == nullptr)
        return -1;
    for (u16 i = 0; i < pmt->u16DescriptorCount; ++i) {
        if (pmt->ltDescriptor[i].descriptor_tag == 0x09) {
            *ca_pid = pmt->ltDescriptor[i].tConditionalAccess.CA_PID;
            break;
        }
    }
    return 0;
}
