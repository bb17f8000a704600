// What the table printers share.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H

#include <pidsift/ts.h>

#include "text/text.h"

// The header line of the PAT and the CAT, whose records bear the same header fields (bytes 3-4
// as transport_stream_id, reserved in a CAT): "[tag] TI:... LSN:...".
template <class Table>
void TS_Section_PrintHeaderLine(const char *tag, const Table &table)
{
    TS_Text_Printf("[%s] TI:0x%02X(%s) SSI:%d R1:%d SL:%d TSI:%d R2:%d VN:%d CNI:%d SN:%d LSN:%d\n", tag,
                   table.table_id, TS_Name_TableId(table.table_id), int(table.section_syntax_indicator),
                   int(table.reserved1), int(table.section_length), int(table.transport_stream_id),
                   int(table.reserved2), int(table.version_number), int(table.current_next_indicator),
                   int(table.section_number), int(table.last_section_number));
}

// Prints the first count descriptors of a loop, never more than the loop's capacity.
void TS_Section_PrintDescriptors(const TS_Descriptor *list, u16 count);

// The line of a table's CRC_32, as it stands in the record.
void TS_Section_PrintCRC(u32 crc);

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_PRINT_H
