// What the table decoders share about a reassembled section: the bytes they may read, the
// header in front of every table, where the table's loops end and its CRC_32.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H

#include <cstring>

#include <pidsift/ts.h>

#include "common/bytes.h"
#include "descriptors/descriptors.h"

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

// Loads a complete section (collected elsewhere, as the demux does) into a reassembly buffer, as
// the importers leave one they completed, for the record decoders; false when it is longer than
// the buffer holds (such a section has no record form).
inline bool TS_PreSection_LoadWhole(TS_PreSection *target, const u8 *bytes, u32 length)
{
    if (length > TS_SECTION_CAPACITY)
        return false;
    std::memcpy(target->lu8Section, bytes, length);
    target->u16Length = u16(length);
    target->u16Collected = u16(length);
    target->u8Complete = 1;
    return true;
}

enum class TS_SectionForm {
    Long,         // the eight header bytes, always
    AsIndicated,  // the long form only when section_syntax_indicator is set
    Short,        // the three bytes up to section_length, always (the TDT and TOT)
};

// What the header says besides the fields that every record names alike: section_length as
// declared (it may reach past the bytes collected), and table_id_extension, which each table
// names its own way (transport_stream_id, program_number, network_id).
struct TS_SectionHeader {
    u16 section_length;
    u16 table_id_extension;
};

// A reader over a section handed over as bytes: its first 3 + section_length bytes, or all of
// them when there are fewer.
inline TS_ByteReader TS_Section_Bytes(const u8 *section, size_t length)
{
    const size_t declared = length >= 3 ? 3u + TS_Read12(section + 1) : length;
    return TS_ByteReader(section, u32(declared < length ? declared : length));
}

// What every decoder of a section handed over as bytes checks before it writes its record:
// -1 when record or section is null, -2 when takes(table_id) is false, -4 when the section holds
// fewer than minimum bytes (TS_Section_Bytes); else 0, and reader over the section.
inline int TS_Section_Open(const void *record, const u8 *section, size_t length, bool (*takes)(u8 table_id),
                           u32 minimum, TS_ByteReader *reader)
{
    if (record == nullptr || section == nullptr)
        return -1;
    if (length < 1 || !takes(section[0]))
        return -2;
    *reader = TS_Section_Bytes(section, length);
    return reader->Size() < minimum ? -4 : 0;
}

// Reads the header of a section from the reader's position (its first byte) and leaves the
// reader behind it: the three bytes up to section_length, and in the long form the five after
// them. The PAT, CAT and PMT read the long form whatever their section_syntax_indicator says;
// a private section has it only when the indicator is set. The fields go straight into the
// record's fields of the same names (private_indicator, the '0' bit of the PAT, CAT and PMT,
// only where the record has one); those the form does not read are left as they were, those
// past the section read 0.
template <class Record>
TS_SectionHeader TS_Section_ReadHeader(Record *record, TS_ByteReader *section, TS_SectionForm form)
{
    TS_SectionHeader header = {};
    record->table_id = section->Read8();
    const u16 flags_and_length = section->Read16();
    record->section_syntax_indicator = u8(flags_and_length >> 15);
    if constexpr (requires { record->private_indicator; })
        record->private_indicator = u8((flags_and_length >> 14) & 0x01);
    record->reserved1 = u8((flags_and_length >> 12) & 0x03);
    header.section_length = u16(flags_and_length & 0x0FFF);
    // A record without the long form's fields (a TDT, a TOT) is only ever read in the short form.
    if constexpr (requires { record->version_number; }) {
        if (form == TS_SectionForm::Short || (form == TS_SectionForm::AsIndicated && !record->section_syntax_indicator))
            return header;
        header.table_id_extension = section->Read16();
        const u8 version = section->Read8();
        record->reserved2 = u8(version >> 6);
        record->version_number = u8((version >> 1) & 0x1F);
        record->current_next_indicator = u8(version & 0x01);
        record->section_number = section->Read8();
        record->last_section_number = section->Read8();
    }
    return header;
}

// Bytes from the reader's position up to where the table's loops end: the start of the
// CRC_32, byte section_length - 1 (section_length counts from byte 3), never past the bytes
// collected; 0 once the reader stands there or beyond. Loop entries start before that point,
// and the fixed bytes of a last entry may still run into the CRC_32.
u32 TS_Section_LoopLength(const TS_SectionHeader &header, const TS_ByteReader &section);

// The CRC_32: the last four bytes of the section as collected, or 0 when it has fewer. It is
// read as it stands; whether it checks is for the caller to ask.
u32 TS_Section_ReadCRC(const TS_ByteReader &section);

// The CRC_32 of a section handed over as bytes (TS_Section_Bytes): the four bytes that end it as
// section_length gives it, or 0 when they are not all there.
u32 TS_Section_ReadDeclaredCRC(const TS_SectionHeader &header, const TS_ByteReader &section);

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
    const TS_SectionHeader header = TS_Section_ReadHeader(table, &reader, TS_SectionForm::Long);
    table->section_length = header.section_length;
    read_body(header, reader);
    table->CRC_32 = TS_Section_ReadCRC(reader);
    table->u8Valid = 1;
    return 0;
}

// The CA_PID of the first conditional-access descriptor (tag 0x09, TS_TAG_CONDITIONAL_ACCESS)
// in the descriptor loop of a CAT (the EMM PID) or in the program loop of a PMT (the ECM PID),
// or TS_NO_PID. ca_pid is set before the record is looked at; -1 when either pointer is null.
template <class Table> int TS_Section_GetCAPID(u16 *ca_pid, const Table *table)
{
    if (ca_pid == nullptr)
        return -1;
    *ca_pid = TS_NO_PID;
    if (table == nullptr)
        return -1;
    const u16 count = table->u16DescriptorCount < TS_MAX_DESCRIPTORS ? table->u16DescriptorCount : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < count; ++i) {
        if (table->ltDescriptor[i].descriptor_tag == TS_TAG_CONDITIONAL_ACCESS) {
            *ca_pid = table->ltDescriptor[i].tConditionalAccess.CA_PID;
            break;
        }
    }
    return 0;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
