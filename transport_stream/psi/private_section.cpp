// Private sections (ISO/IEC 13818-1 2.4.4.10), as carried on the CA PIDs: ECM sections named by
// a PMT's CA descriptor and EMM sections named by the CAT's. EMMs begin with a 48-bit card ID.
#include <cstring>

#include "psi/section.h"

namespace {

// Fixed bytes of the long form after private_section_length: table_id_extension to
// last_section_number (5) and the CRC_32 (4).
constexpr u32 kLongFormOverhead = 9;

}  // namespace

// Decodes a complete private section. The short form leaves the long-form fields and the
// CRC_32 as they were. A private_section_length that reaches past the bytes collected is cut to
// them, and a long form shorter than its 9 fixed bytes has no data.
int TS_Section_PrivateFromPreSection(TS_PrivateSection *section, const TS_PreSection *presection)
{
    if (section == nullptr || presection == nullptr)
        return -1;
    const u8 *s = presection->lu8Section;
    const u32 extent = TS_PreSection_Extent(presection);
    section->table_id = s[0];
    section->section_syntax_indicator = s[1] >> 7;
    section->private_indicator = (s[1] & 0x40) ? 1 : 0;
    section->reserved1 = (s[1] & 0x30) >> 4;
    const u32 available = extent > 3 ? extent - 3 : 0;
    const u16 length = TS_Read12(s + 1);
    section->private_section_length = length < available ? length : u16(available);

    if (!section->section_syntax_indicator) {
        std::memcpy(section->lu8Data, s + 3, section->private_section_length);
    } else {
        section->table_id_extension = TS_Read16(s + 3);
        section->reserved2 = s[5] >> 6;
        section->version_number = (s[5] & 0x3E) >> 1;
        section->current_next_indicator = (s[5] & 0x01) ? 1 : 0;
        section->section_number = s[6];
        section->last_section_number = s[7];
        const u32 data_length = section->private_section_length > kLongFormOverhead
            ? section->private_section_length - kLongFormOverhead : 0;
        std::memcpy(section->lu8Data, s + 8, data_length);
        section->CRC_32 = TS_Section_ReadCRC(s, extent);
    }
    section->u8Valid = 1;
    return 0;
}

// The card ID of an EMM: its first six data bytes as one big-endian 48-bit number.
int TS_Section_GetCardIdFromEMM(u64 *card_id, const TS_PrivateSection *section)
{
    if (card_id == nullptr || section == nullptr)
        return -1;
    u64 value = 0;
    for (int i = 0; i < 6; ++i)
        value = (value << 8) | section->lu8Data[i];
    *card_id = value;
    return 0;
}
