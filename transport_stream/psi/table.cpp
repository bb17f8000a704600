// The parts of a section the table decoders share: the end of the table's loops and the
// CRC_32 (ISO/IEC 13818-1 2.4.4).
#include "psi/section.h"

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

u32 TS_Section_ReadDeclaredCRC(const TS_SectionHeader &header, const TS_ByteReader &section)
{
    if (header.section_length < 4 || section.Size() < 3u + header.section_length)
        return 0;
    return TS_Section_ReadCRC(section);
}
