// Decoder dispatch by tag through the table of kinds, the raw decoder, and the bounds checks of
// the descriptor loops.
#include <cstring>

#include "descriptors/descriptors.h"

namespace {

// Bytes that the decoder of the descriptor at data reads, of the available bytes from its tag on.
u32 TS_Descriptor_FixedSize(const u8 *data, u32 available)
{
    const TS_DescriptorKind &kind = TS_DescriptorKind_For(data[0]);
    if (kind.u8ShortFormFlags != 0 && available >= 3 && (data[2] & kind.u8ShortFormFlags) != 0)
        return 3;
    return kind.u8FixedSize;
}

}  // namespace

// Decodes the descriptor at data with the decoder its tag selects.
int TS_GetDescriptor(TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    TS_DescriptorKind_For(data[0]).pfnGet(descriptor, data);
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

int TS_Descriptor_SpanWithin(const u8 *data, const u8 *end)
{
    const long long available = end - data;
    if (available < 2)
        return -4;
    const u32 span = 2u + data[1];
    if (span > available || TS_Descriptor_FixedSize(data, u32(available)) > available)
        return -4;
    return int(span);
}

int TS_Descriptor_GetWithin(TS_Descriptor *descriptor, const u8 *data, const u8 *end)
{
    const int span = TS_Descriptor_SpanWithin(data, end);
    if (span >= 0)
        TS_GetDescriptor(descriptor, data);
    return span;
}

u16 TS_Descriptor_DecodeLoop(TS_Descriptor *list, u16 capacity, const u8 *begin, const u8 *loop_end,
                             const u8 *section_end)
{
    // Surplus descriptors are dropped: the callers step over a loop by its declared length.
    u16 count = 0;
    TS_Descriptor_ForEach(begin, loop_end, section_end, [&](const u8 *data, u32) {
        if (count >= capacity)
            return false;
        TS_GetDescriptor(&list[count++], data);
        return true;
    });
    return count;
}
