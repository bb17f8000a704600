// What the table printers share.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H

#include <pidsift/ts.h>

#include "common/bytes.h"
#include "text/json.h"
#include "text/text.h"

// The header line of a long-form table: "[tag] TI:... LSN:...", bytes 3-4 under the table's own
// label (NID for a NIT's network_id, SID for an EIT's service_id).
template <class Table>
void TS_Section_PrintHeaderLine(TS_Sink *out, const char *tag, const Table &table, const char *identifier_label,
                                u16 identifier)
{
    TS_Text_Printf(out, "[%s] TI:0x%02X(%s) SSI:%d R1:%d SL:%d %s:%d R2:%d VN:%d CNI:%d SN:%d LSN:%d\n", tag,
                   table.table_id, TS_Name_TableId(table.table_id), int(table.section_syntax_indicator),
                   int(table.reserved1), int(table.section_length), identifier_label, int(identifier),
                   int(table.reserved2), int(table.version_number), int(table.current_next_indicator),
                   int(table.section_number), int(table.last_section_number));
}

// The same for the PAT, CAT and SDT, whose records bear bytes 3-4 as transport_stream_id
// (reserved in a CAT).
template <class Table> void TS_Section_PrintHeaderLine(TS_Sink *out, const char *tag, const Table &table)
{
    TS_Section_PrintHeaderLine(out, tag, table, "TSI", table.transport_stream_id);
}

// The printers of ts.h writing to a sink.
int TS_PAT_Print(TS_Sink *out, const TS_PAT *pat);
int TS_PMT_Print(TS_Sink *out, const TS_PMT *pmt);
int TS_CAT_Print(TS_Sink *out, const TS_CAT *cat);
int TS_Section_PrintPrivate(TS_Sink *out, const TS_PrivateSection *section);
int TS_Section_PrintEMM(TS_Sink *out, const TS_PrivateSection *section);

// Prints the first count descriptors of a loop, never more than the loop's capacity.
void TS_Section_PrintDescriptors(TS_Sink *out, const TS_Descriptor *list, u16 count);

// The line of a table's CRC_32, as it stands in the record.
void TS_Section_PrintCRC(TS_Sink *out, u32 crc);

// A descriptor loop of a section, every descriptor of it (TS_Descriptor_ForEach): how many there
// are, and each printed as the records print theirs.
u16 TS_Section_CountDescriptors(const TS_ByteReader &loop, const u8 *section_end);
void TS_Section_PrintDescriptorLoop(TS_Sink *out, const TS_ByteReader &loop, const u8 *section_end);

// A whole section of a PAT, PMT or CAT, every entry and descriptor it carries, laid out as the
// record printers lay out what fits a record: the dump's forms, which no record limits. section:
// the bytes as collected, length 3 + section_length.
void TS_PAT_PrintSection(TS_Sink *out, const u8 *section, u32 length);
void TS_PMT_PrintSection(TS_Sink *out, const u8 *section, u32 length);
void TS_CAT_PrintSection(TS_Sink *out, const u8 *section, u32 length);
void TS_PAT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok);
void TS_PMT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok);
void TS_CAT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok);

// ---------------------------------------------------------------------------------------------
// JSON forms: the members of a table, written into the object the caller has opened, under the
// syntax element names in lower case (reserved bits left out). crc_ok tells whether the CRC_32
// checks over the section as collected; the record holds only the CRC_32 as it stands.
// ---------------------------------------------------------------------------------------------

// "programs": [{"program_number", "pid"}], the network_PID as the pid of program_number 0.
void TS_PAT_PrintJSON(TS_Json *json, const TS_PAT *pat, bool crc_ok);
void TS_CAT_PrintJSON(TS_Json *json, const TS_CAT *cat, bool crc_ok);
// "descriptors" of the program loop, "streams": [{"stream_type", "elementary_pid",
// "es_info_length", "descriptors"}].
void TS_PMT_PrintJSON(TS_Json *json, const TS_PMT *pmt, bool crc_ok);
// "private_data_byte" in hexadecimal. A section of the short form has no CRC_32: no "crc_32",
// and "crc_ok" is null.
void TS_Section_PrintPrivateJSON(TS_Json *json, const TS_PrivateSection *section, bool crc_ok);
// As a private section, with "card_id" from the first six data bytes.
void TS_Section_PrintEMMJSON(TS_Json *json, const TS_PrivateSection *section, bool crc_ok);

// "descriptors": the first count descriptors of a loop, never more than its capacity.
void TS_Section_PrintDescriptorsJSON(TS_Json *json, const TS_Descriptor *list, u16 count);
// "descriptors": every descriptor of a section's loop.
void TS_Section_PrintDescriptorLoopJSON(TS_Json *json, const TS_ByteReader &loop, const u8 *section_end);
// "crc_32" and "crc_ok".
void TS_Section_PrintCRCJSON(TS_Json *json, u32 crc, bool crc_ok);

// The fields from version_number to last_section_number, which every long-form record names
// alike.
template <class Table> void TS_Section_PrintVersionJSON(TS_Json *json, const Table &table)
{
    TS_Json_NumberField(json, "version_number", table.version_number);
    TS_Json_NumberField(json, "current_next_indicator", table.current_next_indicator);
    TS_Json_NumberField(json, "section_number", table.section_number);
    TS_Json_NumberField(json, "last_section_number", table.last_section_number);
}

// The JSON form of a long-form table, in section order: the header fields every table names
// alike, the table's own identifier of bytes 3-4 under its name (none for a CAT, where they are
// reserved), the version fields (all these the head), the table's body, and the CRC_32.
template <class Table>
void TS_Section_PrintTableHeadJSON(TS_Json *json, const Table &table, const char *identifier_name, u16 identifier)
{
    TS_Json_NumberField(json, "table_id", table.table_id);
    TS_Json_NumberField(json, "section_syntax_indicator", table.section_syntax_indicator);
    TS_Json_NumberField(json, "section_length", table.section_length);
    if (identifier_name != nullptr)
        TS_Json_NumberField(json, identifier_name, identifier);
    TS_Section_PrintVersionJSON(json, table);
}

template <class Table, class Body>
void TS_Section_PrintTableJSON(TS_Json *json, const Table &table, const char *identifier_name, u16 identifier,
                               bool crc_ok, Body body)
{
    TS_Section_PrintTableHeadJSON(json, table, identifier_name, identifier);
    body();
    TS_Section_PrintCRCJSON(json, table.CRC_32, crc_ok);
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H
