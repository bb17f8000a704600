// The 6-byte clock reference field that a PCR and an OPCR share.
#ifndef PIDSIFT_TRANSPORT_STREAM_PACKET_CLOCK_REFERENCE_H
#define PIDSIFT_TRANSPORT_STREAM_PACKET_CLOCK_REFERENCE_H

#include "common/bytes.h"

// Reads the field: 33 bits of base in 90 kHz ticks, 6 reserved bits, 9 bits of extension in
// 27 MHz ticks.
inline void TS_ClockReference_Read(TS_ByteReader *reader, u64 *base, u8 *reserved, u16 *extension)
{
    const u64 high = reader->Read32();
    const u16 low = reader->Read16();
    *base = (high << 1) | (low >> 15);
    *reserved = u8((low >> 9) & 0x3F);
    *extension = u16(low & 0x1FF);
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PACKET_CLOCK_REFERENCE_H
