// What the table decoders share about a reassembled section.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H

#include <pidsift/ts.h>

#include "common/bytes.h"

// Section bytes a decoder may read: the collected length, never more than the buffer holds.
inline u32 TS_PreSection_Extent(const TS_PreSection *section)
{
    return section->u16Length < TS_SECTION_CAPACITY ? section->u16Length : TS_SECTION_CAPACITY;
}

// The last four bytes of a section of extent bytes, or 0 when there are fewer than four.
inline u32 TS_Section_ReadCRC(const u8 *section, u32 extent)
{
    return extent >= 4 ? TS_Read32(section + extent - 4) : 0;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_SECTION_H
