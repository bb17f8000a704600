// Program association section decoding (ISO/IEC 13818-1 2.4.4.3).
#include "psi/section.h"

namespace {

// One 4-byte program loop entry: program_number, 3 reserved bits, 13-bit PID.
void TS_PATProgram_Read(TS_PATProgram *program, TS_ByteReader *entry)
{
    program->program_number = entry->Read16();
    const u16 pid = entry->Read16();
    program->reserved = u8(pid >> 13);
    program->PID = u16(pid & 0x1FFF);
}

}  // namespace

// Decodes one 4-byte program loop entry.
int TS_PAT_GetProgramData(TS_PATProgram *program, const u8 *entry)
{
    if (program == nullptr || entry == nullptr)
        return -1;
    TS_ByteReader reader(entry, 4);
    TS_PATProgram_Read(program, &reader);
    return 0;
}

// Decodes a complete PAT section. Entries beyond the record's capacity are dropped; the CRC_32
// is read as it stands and never checked.
int TS_PAT_FromPreSection(TS_PAT *pat, const TS_PreSection *section)
{
    return TS_Section_DecodeTable(pat, section, [pat](const TS_SectionHeader &header, TS_ByteReader &reader) {
        pat->transport_stream_id = header.table_id_extension;
        // Entries are counted by their start: a loop whose length is no multiple of 4 still
        // starts an entry in its last 1 to 3 bytes, which reads on into the CRC_32.
        u16 count = 0;
        while (count < TS_MAX_PROGRAMS && TS_Section_LoopLength(header, reader) > 0)
            TS_PATProgram_Read(&pat->ltProgram[count++], &reader);
        pat->u16ProgramCount = count;
    });
}
