// The parts the table decoders share: the section header, the end of the table's loops and the
// CRC_32 (ISO/IEC 13818-1 2.4.4).
#include "psi/section.h"

TS_SectionHeader TS_Section_ReadHeader(TS_ByteReader *section, TS_SectionForm form)
{
    TS_SectionHeader header = {};
    header.table_id = section->Read8();
    const u16 flags_and_length = section->Read16();
    header.section_syntax_indicator = u8(flags_and_length >> 15);
    header.private_indicator = u8((flags_and_length >> 14) & 0x01);
    header.reserved1 = u8((flags_and_length >> 12) & 0x03);
    header.section_length = u16(flags_and_length & 0x0FFF);
    if (form == TS_SectionForm::AsIndicated && !header.section_syntax_indicator)
        return header;
    header.table_id_extension = section->Read16();
    const u8 version = section->Read8();
    header.reserved2 = u8(version >> 6);
    header.version_number = u8((version >> 1) & 0x1F);
    header.current_next_indicator = u8(version & 0x01);
    header.section_number = section->Read8();
    header.last_section_number = section->Read8();
    return header;
}

u32 TS_Section_LoopLength(const TS_SectionHeader &header, const TS_ByteReader &section)
{
    const u32 crc_start = header.section_length > 1 ? header.section_length - 1u : 0u;
    const u32 loop_end = crc_start < section.Size() ? crc_start : section.Size();
    return loop_end > section.Offset() ? loop_end - section.Offset() : 0;
}

u32 TS_Section_ReadCRC(const TS_ByteReader &section)
{
    // A section of fewer than four bytes holds no CRC_32.
    if (section.Size() < 4)
        return 0;
    return TS_ByteReader(section.End() - 4, 4).Read32();
}
