// Descriptor record, decoder dispatch by tag, and the raw and conditional-access decoders
// (ISO/IEC 13818-1 2.6).
#include <cstring>

#include "descriptors/descriptors.h"
#include "common/bytes.h"
#include "text/text.h"

namespace {

using TS_DescriptorDecoder = int (*)(TS_Descriptor *, const u8 *);

// The decoder of each tag with a kind of its own; every other tag is held raw.
TS_DescriptorDecoder TS_Descriptor_DecoderFor(u8 tag)
{
    switch (tag) {
    case 0x02: return TS_Descriptor_GetVideoStream;
    case 0x03: return TS_Descriptor_GetAudioStream;
    case 0x04: return TS_Descriptor_GetHierarchy;
    case 0x05: return TS_Descriptor_GetRegistration;
    case 0x06: return TS_Descriptor_GetDataStreamAlignment;
    case 0x07: return TS_Descriptor_GetTargetBackgroundGrid;
    case 0x08: return TS_Descriptor_GetVideoWindow;
    case 0x09: return TS_Descriptor_GetConditionalAccess;
    case 0x0A: return TS_Descriptor_GetISO639Language;
    case 0x0B: return TS_Descriptor_GetSystemClock;
    case 0x0C: return TS_Descriptor_GetMultiplexBufferUtilization;
    case 0x0D: return TS_Descriptor_GetCopyright;
    case 0x0E: return TS_Descriptor_GetMaximumBitrate;
    case 0x0F: return TS_Descriptor_GetPrivateDataIndicator;
    case 0x10: return TS_Descriptor_GetSmoothingBuffer;
    case 0x11: return TS_Descriptor_GetSTD;
    case 0x12: return TS_Descriptor_GetIBP;
    default: return TS_Descriptor_GetRAW;
    }
}

// Bytes that the decoder of a tag reads from the tag byte on, whatever descriptor_length says:
// the fixed part of the body. A descriptor whose fixed part would reach past the section is not
// decoded.
u32 TS_Descriptor_FixedSize(const u8 *data, u32 available)
{
    switch (data[0]) {
    case 0x02:  // video stream: two more bytes unless MPEG_1_only_flag is set
        return available >= 3 && (data[2] & 0x04) ? 3 : 5;
    case 0x03: return 3;
    case 0x04: return 6;
    case 0x05: return 6;
    case 0x06: return 3;
    case 0x07: return 6;
    case 0x08: return 6;
    case 0x09: return 6;
    case 0x0A: return 2;
    case 0x0B: return 4;
    case 0x0C: return 6;
    case 0x0D: return 6;
    case 0x0E: return 5;
    case 0x0F: return 6;
    case 0x10: return 8;
    case 0x11: return 3;
    case 0x12: return 4;
    default: return 2;
    }
}

}  // namespace

// Decodes the descriptor at data with the decoder its tag selects.
int TS_GetDescriptor(TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    TS_Descriptor_DecoderFor(data[0])(descriptor, data);
    return 0;
}

// Keeps any descriptor as its tag, length and body bytes.
int TS_Descriptor_GetRAW(TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    std::memcpy(descriptor->lu8Raw, data + 2, data[1]);
    return 0;
}

// CA_descriptor (tag 0x09): the CA system and the PID of its ECM (in a PMT) or EMM (in a CAT).
int TS_Descriptor_GetConditionalAccess(TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    if (data[0] != 0x09)
        return -2;
    TS_ConditionalAccessDescriptor *ca = &descriptor->tConditionalAccess;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    ca->CA_system_ID = TS_Read16(data + 2);
    ca->reserved = data[4] >> 5;
    ca->CA_PID = TS_Read13(data + 4);
    // A descriptor shorter than its 4 fixed bytes has no private data.
    if (data[1] > 4)
        std::memcpy(ca->private_data_byte, data + 6, data[1] - 4u);
    return 0;
}

int TS_Descriptor_GetWithin(TS_Descriptor *descriptor, const u8 *data, const u8 *end)
{
    const long long available = end - data;
    if (available < 2)
        return -4;
    const u32 span = 2u + data[1];
    if (span > available || TS_Descriptor_FixedSize(data, u32(available)) > available)
        return -4;
    TS_GetDescriptor(descriptor, data);
    return int(span);
}

u16 TS_Descriptor_DecodeLoop(TS_Descriptor *list, u16 capacity, const u8 *begin, const u8 *loop_end,
                             const u8 *section_end)
{
    // Surplus descriptors are dropped: the callers step over a loop by its declared length.
    u16 count = 0;
    for (const u8 *position = begin; position < loop_end && count < capacity; ++count) {
        const int span = TS_Descriptor_GetWithin(&list[count], position, section_end);
        if (span < 0)
            break;
        position += span;
    }
    return count;
}
