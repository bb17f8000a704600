// The text that the printers write on standard output.
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H

#include <pidsift/ts.h>

// Prints count bytes as "0x%02X, ", "\n  " after every byte whose index has its low four bits
// set, and one newline at the end: the hex dump shared by every printer that ends in data.
void TS_Text_PrintBytes(const u8 *bytes, int count);

// printf, puts and putchar on stdout for the printers: the conversions %d %u %x %X %s %c with
// the l and ll sizes, a width and zero padding, formatted without the C library's printf.
int TS_Text_Printf(const char *format, ...) __attribute__((format(printf, 1, 2)));
int TS_Text_Puts(const char *text);
int TS_Text_Putchar(int c);

// Names of PIDs, table_ids, stream types and descriptor tags, as TS_Header_PIDToString,
// TS_Section_TagToString, TS_Header_StreamTypeToString and TS_DescriptorTagToString copy them: "?" for a value without
// one. Static strings.
const char *TS_Name_PID(u16 pid);
const char *TS_Name_TableId(u8 table_id);
const char *TS_Name_StreamType(u8 stream_type);
const char *TS_Name_DescriptorTag(u8 descriptor_tag);
// The tables a PID of 0x0002 to 0x002F is reserved for by its number ("SDT/BAT", "TDT/TOT"), or
// "reserved for tables" for the others of that range.
const char *TS_Name_TablePID(u16 pid);

#endif  // PIDSIFT_TRANSPORT_STREAM_TEXT_TEXT_H
