// Reading the big-endian fields of packets and sections.
#ifndef PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H
#define PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H

#include <pidsift/ts.h>

// Big-endian field readers. Callers have checked that the bytes lie inside their buffer.
inline u16 TS_Read16(const u8 *bytes) { return u16((bytes[0] << 8) | bytes[1]); }
inline u32 TS_Read32(const u8 *bytes)
{
    return (u32(bytes[0]) << 24) | (u32(bytes[1]) << 16) | (u32(bytes[2]) << 8) | u32(bytes[3]);
}
// The 12-bit length that follows a table_id or stands in a loop header.
inline u16 TS_Read12(const u8 *bytes) { return u16(((bytes[0] & 0x0F) << 8) | bytes[1]); }
// The 13-bit PID of a PID field.
inline u16 TS_Read13(const u8 *bytes) { return u16(((bytes[0] & 0x1F) << 8) | bytes[1]); }

#endif  // PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H
