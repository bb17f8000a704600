// Program association section decoding (ISO/IEC 13818-1 2.4.4.3).
#include "psi/walk.h"

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
        u16 count = 0;
        TS_PAT_WalkPrograms(header, reader, [&](const TS_PATProgram &program) {
            pat->ltProgram[count++] = program;
            return count < TS_MAX_PROGRAMS;
        });
        pat->u16ProgramCount = count;
    });
}
