// What the table decoders share about a reassembled section: the bytes they may read, the
// header in front of every table, where the table's loops end and its CRC_32.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H

#include <pidsift/ts.h>

#include "common/bytes.h"

// Section bytes a decoder may read: the collected length, never more than the buffer holds.
inline u32 TS_PreSection_Extent(const TS_PreSection *section)
{
    return section->u16Length < TS_SECTION_CAPACITY ? section->u16Length : TS_SECTION_CAPACITY;
}

// A reader over those bytes. Every field and loop of a table is read through it, so nothing
// a decoder reads lies past the section it was given.
inline TS_ByteReader TS_PreSection_Reader(const TS_PreSection *section)
{
    return TS_ByteReader(section->lu8Section, TS_PreSection_Extent(section));
}

// The header of a section: the three bytes up to section_length, and in the long form the
// five after them. The PAT, CAT and PMT read the long form whatever their
// section_syntax_indicator says (their table_id_extension is transport_stream_id, reserved
// and program_number); a private section has it only when the indicator is set.
struct TS_SectionHeader {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 private_indicator;  // the '0' bit of the PAT, CAT and PMT
    u8 reserved1;
    u16 section_length;  // as declared: it may reach past the bytes collected
    u16 table_id_extension;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
};

enum class TS_SectionForm {
    Long,         // the eight header bytes, always
    AsIndicated,  // the long form only when section_syntax_indicator is set
};

// Reads the header from the reader's position (the section's first byte) and leaves the
// reader behind it. Fields the form does not read, or that lie past the section, are 0.
TS_SectionHeader TS_Section_ReadHeader(TS_ByteReader *section, TS_SectionForm form);

// Bytes from the reader's position up to where the table's loops end: the start of the
// CRC_32, byte section_length - 1 (section_length counts from byte 3), never past the bytes
// collected; 0 once the reader stands there or beyond. Loop entries start before that point,
// and the fixed bytes of a last entry may still run into the CRC_32.
u32 TS_Section_LoopLength(const TS_SectionHeader &header, const TS_ByteReader &section);

// The CRC_32: the last four bytes of the section as collected, or 0 when it has fewer. It is
// read as it stands; whether it checks is for the caller to ask.
u32 TS_Section_ReadCRC(const TS_ByteReader &section);

// The fields from reserved2 to last_section_number, which every long-form record names alike.
template <class Record> void TS_Section_CopyVersion(Record *record, const TS_SectionHeader &header)
{
    record->reserved2 = header.reserved2;
    record->version_number = header.version_number;
    record->current_next_indicator = header.current_next_indicator;
    record->section_number = header.section_number;
    record->last_section_number = header.last_section_number;
}

// Decodes a complete PAT, CAT or PMT section into its record, the three laid out alike: the
// long-form header (bytes 3-4, table_id_extension, are left to read_body, as each record names
// them), then read_body(header, reader) with the reader behind the header, then the CRC_32.
// -1 when a pointer is null (nothing written).
template <class Table, class ReadBody>
int TS_Section_DecodeTable(Table *table, const TS_PreSection *section, ReadBody read_body)
{
    if (table == nullptr || section == nullptr)
        return -1;
    TS_ByteReader reader = TS_PreSection_Reader(section);
    const TS_SectionHeader header = TS_Section_ReadHeader(&reader, TS_SectionForm::Long);
    table->table_id = header.table_id;
    table->section_syntax_indicator = header.section_syntax_indicator;
    table->reserved1 = header.reserved1;
    table->section_length = header.section_length;
    TS_Section_CopyVersion(table, header);
    read_body(header, reader);
    table->CRC_32 = TS_Section_ReadCRC(reader);
    table->u8Valid = 1;
    return 0;
}

// The CA_PID of the first conditional-access descriptor (tag 0x09) in the descriptor loop of a
// CAT (the EMM PID) or in the program loop of a PMT (the ECM PID), or TS_NO_PID. ca_pid is set
// before the record is looked at; -1 when either pointer is null.
template <class Table> int TS_Section_GetCAPID(u16 *ca_pid, const Table *table)
{
    if (ca_pid == nullptr)
        return -1;
    *ca_pid = TS_NO_PID;
    if (table == nullptr)
        return -1;
    const u16 count = table->u16DescriptorCount < TS_MAX_DESCRIPTORS ? table->u16DescriptorCount : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < count; ++i) {
        if (table->ltDescriptor[i].descriptor_tag == 0x09) {
            *ca_pid = table->ltDescriptor[i].tConditionalAccess.CA_PID;
            break;
        }
    }
    return 0;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
