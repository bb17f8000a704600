// Text and JSON forms of a decoded private section, and of an EMM with its card ID in front of
// the data.
#include "psi/print.h"

namespace {

// Fixed bytes of the long form after private_section_length: table_id_extension to
// last_section_number (5) and the CRC_32 (4).
constexpr u32 kLongFormOverhead = 9;

// Number of private_data_bytes the record holds, never more than its array.
u32 TS_PrivateSection_DataLength(const TS_PrivateSection *section)
{
    u32 length = section->private_section_length;
    if (section->section_syntax_indicator)
        length = length > kLongFormOverhead ? length - kLongFormOverhead : 0;
    return length < sizeof section->lu8Data ? length : u32(sizeof section->lu8Data);
}

// Prints the header line of a private section or an EMM; the long form adds its extension
// fields. Ends with the indent of the first dump line.
void TS_PrivateSection_PrintHeader(TS_Sink *out, const char *tag, const TS_PrivateSection *section)
{
    TS_Text_Printf(out, "[%s] TI:0x%02X(%s) SSI:%d PI:%d R1:%d PSL:%d", tag, section->table_id,
                   TS_Name_TableId(section->table_id), section->section_syntax_indicator, section->private_indicator,
                   section->reserved1, section->private_section_length);
    if (section->section_syntax_indicator)
        TS_Text_Printf(out, " TE:%d R2:%d VN:%d CNI:%d SN:%d LSN:%d", section->table_id_extension, section->reserved2,
                       section->version_number, section->current_next_indicator, section->section_number,
                       section->last_section_number);
    TS_Text_Printf(out, "\n  ");
}

// The CRC_32 line that closes a long-form section.
void TS_PrivateSection_PrintCRC(TS_Sink *out, const TS_PrivateSection *section)
{
    if (section->section_syntax_indicator)
        TS_Section_PrintCRC(out, section->CRC_32);
}

// The JSON members of a private section or an EMM up to its data: the long form adds its
// extension fields.
void TS_PrivateSection_PrintHeaderJSON(TS_Json *json, const TS_PrivateSection *section)
{
    TS_Json_NumberField(json, "table_id", section->table_id);
    TS_Json_NumberField(json, "section_syntax_indicator", section->section_syntax_indicator);
    TS_Json_NumberField(json, "private_indicator", section->private_indicator);
    TS_Json_NumberField(json, "private_section_length", section->private_section_length);
    if (section->section_syntax_indicator) {
        TS_Json_NumberField(json, "table_id_extension", section->table_id_extension);
        TS_Section_PrintVersionJSON(json, *section);
    }
}

// The data bytes, then the CRC_32 of the long form; the short form has none to check.
void TS_PrivateSection_PrintDataJSON(TS_Json *json, const TS_PrivateSection *section, bool crc_ok)
{
    TS_Json_HexField(json, "private_data_byte", section->lu8Data, TS_PrivateSection_DataLength(section));
    if (section->section_syntax_indicator) {
        TS_Section_PrintCRCJSON(json, section->CRC_32, crc_ok);
    } else {
        TS_Json_Key(json, "crc_ok");
        TS_Json_Null(json);
    }
}

}  // namespace

// Prints the header line, the private_data_bytes, and for the long form the CRC_32.
int TS_Section_PrintPrivate(TS_Sink *out, const TS_PrivateSection *section)
{
    if (section == nullptr)
        return -1;
    TS_PrivateSection_PrintHeader(out, "Private", section);
    TS_Text_PrintBytes(out, section->lu8Data, int(TS_PrivateSection_DataLength(section)));
    TS_PrivateSection_PrintCRC(out, section);
    return 0;
}

// Prints an EMM: the header line, the card ID of the first six data bytes in decimal and in
// hexadecimal, the data bytes after it, and for the long form the CRC_32.
int TS_Section_PrintEMM(TS_Sink *out, const TS_PrivateSection *section)
{
    if (section == nullptr)
        return -1;
    TS_PrivateSection_PrintHeader(out, "EMM", section);
    u64 card_id = 0;
    TS_Section_GetCardIdFromEMM(&card_id, section);
    TS_Text_Printf(out, "CardID:%lld(0x%llx)\n  ", static_cast<long long>(card_id),
                   static_cast<unsigned long long>(card_id));
    const u32 length = TS_PrivateSection_DataLength(section);
    TS_Text_PrintBytes(out, section->lu8Data + 6, length > 6 ? int(length - 6) : 0);
    TS_PrivateSection_PrintCRC(out, section);
    return 0;
}

void TS_Section_PrintPrivateJSON(TS_Json *json, const TS_PrivateSection *section, bool crc_ok)
{
    TS_PrivateSection_PrintHeaderJSON(json, section);
    TS_PrivateSection_PrintDataJSON(json, section, crc_ok);
}

// The card ID comes before the data, which is written whole, the card ID's six bytes included.
void TS_Section_PrintEMMJSON(TS_Json *json, const TS_PrivateSection *section, bool crc_ok)
{
    TS_PrivateSection_PrintHeaderJSON(json, section);
    u64 card_id = 0;
    TS_Section_GetCardIdFromEMM(&card_id, section);
    TS_Json_NumberField(json, "card_id", card_id);
    TS_PrivateSection_PrintDataJSON(json, section, crc_ok);
}

int TS_Section_PrintPrivate(const TS_PrivateSection *section)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Section_PrintPrivate(out, section); });
}

int TS_Section_PrintEMM(const TS_PrivateSection *section)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Section_PrintEMM(out, section); });
}
