// Descriptor loops as the table decoders walk them.
#ifndef PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
#define PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H

#include <pidsift/ts.h>

// Decodes the descriptor at data if its fixed body and its announced length both end at or
// before end. Returns the bytes it spans (2 + descriptor_length), or -4 when it does not fit
// (nothing decoded).
int TS_Descriptor_GetWithin(TS_Descriptor *descriptor, const u8 *data, const u8 *end);

// Decodes the descriptor loop from begin up to loop_end into list, at most capacity entries.
// A descriptor reaching past section_end stops the loop; surplus descriptors are skipped.
// Returns the number stored.
u16 TS_Descriptor_DecodeLoop(TS_Descriptor *list, u16 capacity, const u8 *begin,
                             const u8 *loop_end, const u8 *section_end);

#endif  // PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
