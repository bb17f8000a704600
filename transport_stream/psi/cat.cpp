// Conditional access section decoding (ISO/IEC 13818-1 2.4.4.6), and the EMM PID that its CA
// descriptors name.
#include "psi/section.h"
#include "descriptors/descriptors.h"

// Decodes a complete CAT section. The header is read with the PAT's layout, so bytes 3-4
// (reserved in a CAT) land in transport_stream_id. The descriptor loop runs up to the CRC_32;
// a descriptor reaching past the section's end stops it, and descriptors above 32 are dropped.
int TS_CAT_FromPreSection(TS_CAT *cat, const TS_PreSection *section)
{
    if (cat == nullptr || section == nullptr)
        return -1;
    const u8 *b = section->lu8Section;
    cat->table_id = b[0];
    cat->section_syntax_indicator = b[1] >> 7;
    cat->reserved1 = (b[1] >> 4) & 0x03;
    cat->section_length = TS_Read12(b + 1);
    cat->transport_stream_id = TS_Read16(b + 3);
    cat->reserved2 = b[5] >> 6;
    cat->version_number = (b[5] >> 1) & 0x1F;
    cat->current_next_indicator = b[5] & 0x01;
    cat->section_number = b[6];
    cat->last_section_number = b[7];

    // The CRC_32 starts at byte section_length - 1; the loop never runs past the bytes collected.
    const u32 extent = TS_PreSection_Extent(section);
    const u32 crc_start = cat->section_length > 1 ? cat->section_length - 1u : 0u;
    const u32 loop_end = crc_start < extent ? crc_start : extent;
    cat->u16DescriptorCount =
        loop_end > 8 ? TS_Descriptor_DecodeLoop(cat->ltDescriptor, 32, b + 8, b + loop_end, b + extent) : 0;
    cat->CRC_32 = TS_Section_ReadCRC(b, extent);
    cat->u8Valid = 1;
    return 0;
}

// The CA_PID of the CAT's first conditional-access descriptor: the PID of the EMM sections.
int TS_GetCAPIDFromCAT(u16 *ca_pid, const TS_CAT *cat)
{
    if (ca_pid == nullptr)
        return -1;
    *ca_pid = TS_NO_PID;
    if (cat == nullptr)
        return -1;
    const u16 count = cat->u16DescriptorCount < 32 ? cat->u16DescriptorCount : 32;
    for (u16 i = 0; i < count; ++i) {
        if (cat->ltDescriptor[i].descriptor_tag == 0x09) {
            *ca_pid = cat->ltDescriptor[i].tConditionalAccess.CA_PID;
            break;
        }
    }
    return 0;
}
