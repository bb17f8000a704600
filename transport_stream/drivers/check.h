// What the recording check keeps to itself but its tests look at.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_H

#include <pidsift/ts.h>

// The register GetCRC32(0xFFFFFFFF, data, length) leaves, eight bytes a step: the check runs it
// over every section of the SI PIDs, where a byte a step would cost more than reading the file.
u32 TS_Check_CRC32(const u8 *data, size_t length);

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_H
