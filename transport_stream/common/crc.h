// The CRC_32 of PSI sections, as fast as the machine allows: the checking drivers run it over
// every section of the table PIDs, where a byte a step would cost more than reading the file.
#ifndef PIDSIFT_TRANSPORT_STREAM_COMMON_CRC_H
#define PIDSIFT_TRANSPORT_STREAM_COMMON_CRC_H

#include <pidsift/ts.h>

// The register after feeding length bytes into crc: what GetCRC32 returns.
u32 TS_CRC32_Update(u32 crc, const u8 *data, size_t length);

// The register over a whole section from the start value 0xFFFFFFFF. A section followed by its
// own CRC_32 leaves 0 (ISO/IEC 13818-1 Annex A).
inline u32 TS_CRC32(const u8 *data, size_t length) { return TS_CRC32_Update(0xFFFFFFFF, data, length); }

#endif  // PIDSIFT_TRANSPORT_STREAM_COMMON_CRC_H
