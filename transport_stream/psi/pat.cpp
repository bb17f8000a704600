// Program association section decoding (ISO/IEC 13818-1 2.4.4.3).
#include "psi/section.h"
#include "descriptors/descriptors.h"
#include "text/text.h"

// Decodes one 4-byte program loop entry.
int TS_PAT_GetProgramData(TS_PATProgram *program, const u8 *entry)
{
    if (program == nullptr || entry == nullptr)
        return -1;
    program->program_number = TS_Read16(entry);
    program->reserved = entry[2] >> 5;
    program->PID = TS_Read13(entry + 2);
    return 0;
}

// Decodes a complete PAT section. Entries beyond the record's 16 are dropped; the CRC_32 is
// read as it stands and never checked.
int TS_PAT_FromPreSection(TS_PAT *pat, const TS_PreSection *section)
{
    if (pat == nullptr || section == nullptr)
        return -1;
    const u8 *b = section->lu8Section;
    pat->table_id = b[0];
    pat->section_syntax_indicator = b[1] >> 7;
    pat->reserved1 = (b[1] >> 4) & 0x03;
    pat->section_length = TS_Read12(b + 1);
    pat->transport_stream_id = TS_Read16(b + 3);
    pat->reserved2 = b[5] >> 6;
    pat->version_number = (b[5] >> 1) & 0x1F;
    pat->current_next_indicator = b[5] & 0x01;
    pat->section_number = b[6];
    pat->last_section_number = b[7];

    // The loop runs from byte 8 to the CRC_32; a remainder of 1 to 3 bytes still starts an
    // entry, as the entries are counted by their start.
    const int loop_length = int(pat->section_length) - 9;
    u16 count = 0;
    for (int offset = 0; offset < loop_length && count < 16; offset += 4)
        TS_PAT_GetProgramData(&pat->ltProgram[count++], b + 8 + offset);
    pat->u16ProgramCount = count;

    // section_length counts from byte 3, so the CRC_32 ends at byte section_length + 2.
    const u32 extent = pat->section_length + 3u;
    pat->CRC_32 = extent <= TS_SECTION_CAPACITY ? TS_Section_ReadCRC(b, extent) : 0;
    pat->u8Valid = 1;
    return 0;
}
