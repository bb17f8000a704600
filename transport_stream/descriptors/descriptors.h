// Descriptor kinds and descriptor loops as the table decoders walk them.
#ifndef PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
#define PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H

#include <cstddef>
#include <iterator>

#include <pidsift/ts.h>

#include "text/json.h"

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
using TS_DescriptorPrinter = int (*)(const TS_Descriptor *);
// Writes a decoded descriptor as one JSON object: tag, length, name and the kind's fields.
using TS_DescriptorJSON = int (*)(TS_Json *, const TS_Descriptor *);

// The JSON forms of the kinds, as TS_DescriptorJSON: -1 for a null pointer, -2 for a record of
// another kind (nothing written), else 0. Identifiers come as numbers, the bytes behind them and
// the body of a raw descriptor as hexadecimal strings, a language code as a string.
int TS_Descriptor_PrintRAWJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintVideoStreamJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintAudioStreamJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintHierarchyJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintRegistrationJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintDataStreamAlignmentJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintTargetBackgroundGridJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintVideoWindowJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintConditionalAccessJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintISO639LanguageJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintSystemClockJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintMultiplexBufferUtilizationJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintCopyrightJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintMaximumBitrateJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintPrivateDataIndicatorJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintSmoothingBufferJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintSTDJSON(TS_Json *json, const TS_Descriptor *descriptor);
int TS_Descriptor_PrintIBPJSON(TS_Json *json, const TS_Descriptor *descriptor);
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

// Every kind with a decoder and a printer of its own, in tag order without gaps.
inline constexpr TS_DescriptorKind TS_DESCRIPTOR_KINDS[] = {
    {TS_TAG_VIDEO_STREAM, 5, TS_Descriptor_GetVideoStream, TS_Descriptor_PrintVideoStream,
     TS_Descriptor_PrintVideoStreamJSON, 0x04},
    {TS_TAG_AUDIO_STREAM, 3, TS_Descriptor_GetAudioStream, TS_Descriptor_PrintAudioStream,
     TS_Descriptor_PrintAudioStreamJSON},
    {TS_TAG_HIERARCHY, 6, TS_Descriptor_GetHierarchy, TS_Descriptor_PrintHierarchy, TS_Descriptor_PrintHierarchyJSON},
    {TS_TAG_REGISTRATION, 6, TS_Descriptor_GetRegistration, TS_Descriptor_PrintRegistration,
     TS_Descriptor_PrintRegistrationJSON},
    {TS_TAG_DATA_STREAM_ALIGNMENT, 3, TS_Descriptor_GetDataStreamAlignment, TS_Descriptor_PrintDataStreamAlignment,
     TS_Descriptor_PrintDataStreamAlignmentJSON},
    {TS_TAG_TARGET_BACKGROUND_GRID, 6, TS_Descriptor_GetTargetBackgroundGrid, TS_Descriptor_PrintTargetBackgroundGrid,
     TS_Descriptor_PrintTargetBackgroundGridJSON},
    {TS_TAG_VIDEO_WINDOW, 6, TS_Descriptor_GetVideoWindow, TS_Descriptor_PrintVideoWindow,
     TS_Descriptor_PrintVideoWindowJSON},
    {TS_TAG_CONDITIONAL_ACCESS, 6, TS_Descriptor_GetConditionalAccess, TS_Descriptor_PrintConditionalAccess,
     TS_Descriptor_PrintConditionalAccessJSON},
    // Whole 4-byte language entries only, as many as descriptor_length holds: no fixed part.
    {TS_TAG_ISO_639_LANGUAGE, 2, TS_Descriptor_GetISO639Language, TS_Descriptor_PrintISO639Language,
     TS_Descriptor_PrintISO639LanguageJSON},
    {TS_TAG_SYSTEM_CLOCK, 4, TS_Descriptor_GetSystemClock, TS_Descriptor_PrintSystemClock,
     TS_Descriptor_PrintSystemClockJSON},
    {TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, 6, TS_Descriptor_GetMultiplexBufferUtilization,
     TS_Descriptor_PrintMultiplexBufferUtilization, TS_Descriptor_PrintMultiplexBufferUtilizationJSON},
    {TS_TAG_COPYRIGHT, 6, TS_Descriptor_GetCopyright, TS_Descriptor_PrintCopyright, TS_Descriptor_PrintCopyrightJSON},
    {TS_TAG_MAXIMUM_BITRATE, 5, TS_Descriptor_GetMaximumBitrate, TS_Descriptor_PrintMaximumBitrate,
     TS_Descriptor_PrintMaximumBitrateJSON},
    {TS_TAG_PRIVATE_DATA_INDICATOR, 6, TS_Descriptor_GetPrivateDataIndicator, TS_Descriptor_PrintPrivateDataIndicator,
     TS_Descriptor_PrintPrivateDataIndicatorJSON},
    {TS_TAG_SMOOTHING_BUFFER, 8, TS_Descriptor_GetSmoothingBuffer, TS_Descriptor_PrintSmoothingBuffer,
     TS_Descriptor_PrintSmoothingBufferJSON},
    {TS_TAG_STD, 3, TS_Descriptor_GetSTD, TS_Descriptor_PrintSTD, TS_Descriptor_PrintSTDJSON},
    {TS_TAG_IBP, 4, TS_Descriptor_GetIBP, TS_Descriptor_PrintIBP, TS_Descriptor_PrintIBPJSON},
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

// Decodes the descriptor at data if its fixed part and its announced length both end at or
// before end. Returns the bytes it spans (2 + descriptor_length), or -4 when it does not fit
// (nothing decoded).
int TS_Descriptor_GetWithin(TS_Descriptor *descriptor, const u8 *data, const u8 *end);

// Decodes the descriptor loop from begin up to loop_end into list, at most capacity entries.
// A descriptor reaching past section_end stops the loop; surplus descriptors are skipped.
// Returns the number stored.
u16 TS_Descriptor_DecodeLoop(TS_Descriptor *list, u16 capacity, const u8 *begin, const u8 *loop_end,
                             const u8 *section_end);

#endif  // PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTORS_H
