// Descriptor kinds and descriptor loops as the table decoders walk them.
#ifndef PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
#define PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H

#include <cstddef>
#include <iterator>

#include <pidsift/ts.h>

#include "text/json.h"
#include "text/text.h"

// The tags of the descriptors decoded into a kind of their own. Tags 0x00 and 0x01 are reserved,
// 0x13 and above belong to other standards and to the broadcasters: those are kept raw.
constexpr u8 TS_TAG_VIDEO_STREAM = 0x02;
constexpr u8 TS_TAG_AUDIO_STREAM = 0x03;
constexpr u8 TS_TAG_HIERARCHY = 0x04;
constexpr u8 TS_TAG_REGISTRATION = 0x05;
constexpr u8 TS_TAG_DATA_STREAM_ALIGNMENT = 0x06;
constexpr u8 TS_TAG_TARGET_BACKGROUND_GRID = 0x07;
constexpr u8 TS_TAG_VIDEO_WINDOW = 0x08;
constexpr u8 TS_TAG_CONDITIONAL_ACCESS = 0x09;
constexpr u8 TS_TAG_ISO_639_LANGUAGE = 0x0A;
constexpr u8 TS_TAG_SYSTEM_CLOCK = 0x0B;
constexpr u8 TS_TAG_MULTIPLEX_BUFFER_UTILIZATION = 0x0C;
constexpr u8 TS_TAG_COPYRIGHT = 0x0D;
constexpr u8 TS_TAG_MAXIMUM_BITRATE = 0x0E;
constexpr u8 TS_TAG_PRIVATE_DATA_INDICATOR = 0x0F;
constexpr u8 TS_TAG_SMOOTHING_BUFFER = 0x10;
constexpr u8 TS_TAG_STD = 0x11;
constexpr u8 TS_TAG_IBP = 0x12;

using TS_DescriptorDecoder = int (*)(TS_Descriptor *, const u8 *);
using TS_DescriptorPrinter = int (*)(TS_Sink *, const TS_Descriptor *);
// Writes a decoded descriptor as one JSON object: tag, length, name and the kind's fields.
using TS_DescriptorJSON = int (*)(TS_Json *, const TS_Descriptor *);

// Every kind with a decoder and a printer of its own, in tag order without gaps:
// X(Name, TAG, fixed size, short-form flags, form). Name gives TS_Descriptor_GetName,
// TS_Descriptor_PrintName (both in ts.h) and TS_Descriptor_PrintNameJSON; the fixed size and the
// flags are TS_DescriptorKind's. Form Layout: the three are those of kNameLayout
// (descriptor_layouts.h); form Own: written out for the kind. ISO 639 language has no fixed part:
// whole 4-byte language entries only, as many as descriptor_length holds.
#define TS_DESCRIPTOR_KIND_LIST(X)                                                                                     \
    X(VideoStream, VIDEO_STREAM, 5, 0x04, Layout)                                                                      \
    X(AudioStream, AUDIO_STREAM, 3, 0, Layout)                                                                         \
    X(Hierarchy, HIERARCHY, 6, 0, Layout)                                                                              \
    X(Registration, REGISTRATION, 6, 0, Layout)                                                                        \
    X(DataStreamAlignment, DATA_STREAM_ALIGNMENT, 3, 0, Layout)                                                        \
    X(TargetBackgroundGrid, TARGET_BACKGROUND_GRID, 6, 0, Layout)                                                      \
    X(VideoWindow, VIDEO_WINDOW, 6, 0, Layout)                                                                         \
    X(ConditionalAccess, CONDITIONAL_ACCESS, 6, 0, Layout)                                                             \
    X(ISO639Language, ISO_639_LANGUAGE, 2, 0, Own)                                                                     \
    X(SystemClock, SYSTEM_CLOCK, 4, 0, Layout)                                                                         \
    X(MultiplexBufferUtilization, MULTIPLEX_BUFFER_UTILIZATION, 6, 0, Layout)                                          \
    X(Copyright, COPYRIGHT, 6, 0, Layout)                                                                              \
    X(MaximumBitrate, MAXIMUM_BITRATE, 5, 0, Layout)                                                                   \
    X(PrivateDataIndicator, PRIVATE_DATA_INDICATOR, 6, 0, Layout)                                                      \
    X(SmoothingBuffer, SMOOTHING_BUFFER, 8, 0, Layout)                                                                 \
    X(STD, STD, 3, 0, Layout)                                                                                          \
    X(IBP, IBP, 4, 0, Layout)

// The printers of ts.h (TS_Descriptor_Print and those of each kind) writing to a sink.
int TS_Descriptor_Print(TS_Sink *out, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintRAW(TS_Sink *out, const TS_Descriptor *descriptor);
#define TS_DESCRIPTOR_DECLARE_PRINT(Name, TAG, fixed_size, short_form_flags, form)                                     \
    int TS_Descriptor_Print##Name(TS_Sink *out, const TS_Descriptor *descriptor);
TS_DESCRIPTOR_KIND_LIST(TS_DESCRIPTOR_DECLARE_PRINT)
#undef TS_DESCRIPTOR_DECLARE_PRINT

// The JSON forms of the kinds, as TS_DescriptorJSON: -1 for a null pointer, -2 for a record of
// another kind (nothing written), else 0. Identifiers come as numbers, the bytes behind them and
// the body of a raw descriptor as hexadecimal strings, a language code as a string.
int TS_Descriptor_PrintRAWJSON(TS_Json *json, const TS_Descriptor *descriptor);
#define TS_DESCRIPTOR_DECLARE_JSON(Name, TAG, fixed_size, short_form_flags, form)                                      \
    int TS_Descriptor_Print##Name##JSON(TS_Json *json, const TS_Descriptor *descriptor);
TS_DESCRIPTOR_KIND_LIST(TS_DESCRIPTOR_DECLARE_JSON)
#undef TS_DESCRIPTOR_DECLARE_JSON
// Writes a decoded descriptor with the JSON form its tag selects: the kind it was decoded as.
int TS_Descriptor_PrintJSON(TS_Json *json, const TS_Descriptor *descriptor);

// A kind of descriptor: its tag, how many bytes its decoder reads, its decoder and printer, and
// its JSON form.
struct TS_DescriptorKind {
    u8 u8Tag;
    // Bytes the decoder reads from the tag byte on, whatever descriptor_length says: tag, length
    // and the fixed part of the body. A descriptor whose fixed part would reach past its section
    // is not decoded.
    u8 u8FixedSize;
    TS_DescriptorDecoder pfnGet;
    TS_DescriptorPrinter pfnPrint;
    TS_DescriptorJSON pfnJSON;
    // Bits of the first body byte that, when any is set, leave that byte the whole fixed part:
    // the video stream descriptor drops its two MPEG-2 bytes when MPEG_1_only_flag is set.
    u8 u8ShortFormFlags = 0;
};

inline constexpr TS_DescriptorKind TS_DESCRIPTOR_KINDS[] = {
#define TS_DESCRIPTOR_KIND_ENTRY(Name, TAG, fixed_size, short_form_flags, form)                                        \
    {TS_TAG_##TAG,    fixed_size, TS_Descriptor_Get##Name, TS_Descriptor_Print##Name, TS_Descriptor_Print##Name##JSON, \
     short_form_flags},
    TS_DESCRIPTOR_KIND_LIST(TS_DESCRIPTOR_KIND_ENTRY)
#undef TS_DESCRIPTOR_KIND_ENTRY
};

// Every other tag: tag, length and the body bytes as they stand.
inline constexpr TS_DescriptorKind TS_DESCRIPTOR_RAW_KIND = {0x00, 2, TS_Descriptor_GetRAW, TS_Descriptor_PrintRAW,
                                                             TS_Descriptor_PrintRAWJSON};

// Bytes behind a 4-byte identifier (registration, copyright, CA system and PID) in a descriptor
// of the given length: none when the descriptor is too short even for the identifier.
inline int TS_Descriptor_TrailingCount(u8 length) { return length > 4 ? length - 4 : 0; }

// The lookup below indexes the table by tag.
constexpr bool TS_DescriptorKinds_AreConsecutive()
{
    for (std::size_t i = 0; i < std::size(TS_DESCRIPTOR_KINDS); ++i)
        if (TS_DESCRIPTOR_KINDS[i].u8Tag != TS_DESCRIPTOR_KINDS[0].u8Tag + i)
            return false;
    return true;
}
static_assert(TS_DescriptorKinds_AreConsecutive(), "descriptor kinds out of tag order");

// The kind that decodes and prints a tag: its entry of TS_DESCRIPTOR_KINDS, else the raw kind.
constexpr const TS_DescriptorKind &TS_DescriptorKind_For(u8 tag)
{
    const unsigned index = unsigned(tag) - TS_DESCRIPTOR_KINDS[0].u8Tag;
    return index < std::size(TS_DESCRIPTOR_KINDS) ? TS_DESCRIPTOR_KINDS[index] : TS_DESCRIPTOR_RAW_KIND;
}

// The bytes the descriptor at data spans (2 + descriptor_length) when its fixed part and its
// announced length both end at or before end, else -4: where a descriptor loop stops.
int TS_Descriptor_SpanWithin(const u8 *data, const u8 *end);

// Decodes the descriptor at data if it lies within end (TS_Descriptor_SpanWithin). Returns the
// bytes it spans, or -4 when it does not fit (nothing decoded).
int TS_Descriptor_GetWithin(TS_Descriptor *descriptor, const u8 *data, const u8 *end);

// Walks a descriptor loop from begin up to loop_end: on_descriptor(data, span) for each
// descriptor, until it returns false. A descriptor reaching past section_end stops the loop;
// one reaching only past loop_end is the last. Returns the number visited.
template <class OnDescriptor>
u16 TS_Descriptor_ForEach(const u8 *begin, const u8 *loop_end, const u8 *section_end, OnDescriptor &&on_descriptor)
{
    u16 count = 0;
    for (const u8 *position = begin; position < loop_end; ++count) {
        const int span = TS_Descriptor_SpanWithin(position, section_end);
        if (span < 0 || !on_descriptor(position, u32(span)))
            break;
        position += span;
    }
    return count;
}

// Decodes the descriptor loop from begin up to loop_end into list, at most capacity entries.
// A descriptor reaching past section_end stops the loop; surplus descriptors are skipped.
// Returns the number stored.
u16 TS_Descriptor_DecodeLoop(TS_Descriptor *list, u16 capacity, const u8 *begin, const u8 *loop_end,
                             const u8 *section_end);

#endif  // PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
