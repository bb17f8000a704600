// Private sections (ISO/IEC 13818-1 2.4.4.10), as carried on the CA PIDs: ECM sections named by
// a PMT's CA descriptor and EMM sections named by the CAT's. EMMs begin with a 48-bit card ID.
#include <cstring>

#include "psi/section.h"

// Decodes a complete private section. The short form leaves the long-form fields and the
// CRC_32 as they were. A private_section_length that reaches past the bytes collected is cut to
// them, and a long form shorter than its 9 fixed bytes has no data.
int TS_Section_PrivateFromPreSection(TS_PrivateSection *section, const TS_PreSection *presection)
{
    if (section == nullptr || presection == nullptr)
        return -1;
    TS_ByteReader reader = TS_PreSection_Reader(presection);
    TS_SectionHeader header = TS_Section_ReadHeader(section, &reader, TS_SectionForm::AsIndicated);

    // private_section_length counts the bytes after itself; the short form's are all data.
    TS_ByteReader after_length = TS_PreSection_Reader(presection);
    after_length.Skip(3);
    const TS_ByteReader body = after_length.Take(header.section_length);
    section->private_section_length = u16(body.Size());
    if (!section->section_syntax_indicator) {
        std::memcpy(section->lu8Data, body.Begin(), body.Size());
    } else {
        section->table_id_extension = header.table_id_extension;
        // The long form's data lies between last_section_number and the CRC_32 that closes
        // private_section_length, as cut.
        header.section_length = section->private_section_length;
        const TS_ByteReader data = reader.Take(TS_Section_LoopLength(header, reader));
        std::memcpy(section->lu8Data, data.Begin(), data.Size());
        section->CRC_32 = TS_Section_ReadCRC(reader);
    }
    section->u8Valid = 1;
    return 0;
}

// The card ID of an EMM: its first six data bytes as one big-endian 48-bit number.
int TS_Section_GetCardIdFromEMM(u64 *card_id, const TS_PrivateSection *section)
{
    if (card_id == nullptr || section == nullptr)
        return -1;
    TS_ByteReader data(section->lu8Data, 6);
    const u64 high = data.Read16();
    *card_id = (high << 32) | data.Read32();
    return 0;
}
