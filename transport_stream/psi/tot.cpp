// Time and date section and time offset section decoding (the TDT and TOT of EN 300 468 5.2.5 and
// 5.2.6, ARIB STD-B10), PID 0x0014. Both are short-form sections: their header ends at
// section_length, and the time follows.
#include <pidsift/si_tables.h>

#include "psi/section.h"
#include "psi/si.h"

namespace pidsift {

namespace {

bool IsTdt(u8 table_id) { return table_id == 0x70; }
bool IsTot(u8 table_id) { return table_id == 0x73; }

// The short header and the time behind it, into a TDT or TOT record; the reader is left behind
// the time. Returns the header.
template <class Table> TS_SectionHeader ReadClock(Table *table, TS_ByteReader *reader)
{
    const TS_SectionHeader header = TS_Section_ReadHeader(table, reader, TS_SectionForm::Short);
    table->section_length = header.section_length;
    table->UTC_time = ReadSiTime(reader);
    return header;
}

}  // namespace

int DecodeTdt(Tdt *tdt, const u8 *section, size_t length)
{
    TS_ByteReader reader;
    const int opened = TS_Section_Open(tdt, section, length, IsTdt, 8, &reader);
    if (opened != 0)
        return opened;
    Tdt decoded;
    ReadClock(&decoded, &reader);
    *tdt = decoded;
    return 0;
}

int DecodeTot(Tot *tot, const u8 *section, size_t length)
{
    // Header and time, the descriptor loop's length, and the CRC_32.
    TS_ByteReader reader;
    const int opened = TS_Section_Open(tot, section, length, IsTot, 14, &reader);
    if (opened != 0)
        return opened;
    Tot decoded;
    const TS_SectionHeader header = ReadClock(&decoded, &reader);
    const u16 loop = reader.Read16();
    decoded.reserved2 = u8(loop >> 12);
    decoded.descriptors_loop_length = u16(loop & 0x0FFF);
    const TS_ByteReader descriptors = reader.Take(decoded.descriptors_loop_length);
    decoded.descriptors = DecodeSiDescriptors(descriptors.Begin(), descriptors.Size(), reader.End());
    decoded.CRC_32 = TS_Section_ReadDeclaredCRC(header, reader);
    *tot = std::move(decoded);
    return 0;
}

}  // namespace pidsift
