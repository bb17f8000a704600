// The descriptor kinds with a fixed body, each described once: where each field lies in the
// body, where TS_Descriptor keeps it, and how the text and JSON forms show it. Their decoder,
// printer and JSON form all read these layouts (ISO 639 language, a list of entries, has its own).
#ifndef PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTOR_LAYOUTS_H
#define PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTOR_LAYOUTS_H

#include <cstddef>
#include <cstring>
#include <span>

#include "descriptors/descriptors.h"

enum TS_DescriptorFieldFlags : u8 {
    TS_FIELD_TEXT_ONLY = 0x01,  // reserved bits and descriptor_length: the JSON leaves them out
    TS_FIELD_JSON_ONLY = 0x02,  // the text leaves it out
    TS_FIELD_HEX = 0x04,        // the text writes it as %X
    TS_FIELD_PID = 0x08,        // the text writes it as 0x%04X
    TS_FIELD_IN_PLACE = 0x10,   // its bits keep their place in their byte, as the STD's reserved bits
    // Present only while the layout's short-form flag is clear; the text puts these fields on a
    // line of their own.
    TS_FIELD_LONG_FORM = 0x20,
};

struct TS_DescriptorField {
    u16 u16Offset;         // where TS_Descriptor keeps the field
    u8 u8Size;             // and its size there: 1, 2 or 4 bytes
    const char *strName;   // its name in the record; in lower case, its JSON key
    u8 u8FirstBit;         // counted from the most significant bit of the first body byte
    u8 u8Bits;             // 0: not read from the body (descriptor_length, which the CA text shows)
    const char *strLabel;  // its label in the text ("ECRI:5")
    u8 u8Flags = 0;
};

struct TS_DescriptorLayout {
    u8 u8Tag;
    const char *strText;  // the kind's name in the text ("[D Audio Stream]")
    const char *strJSON;  // and in the JSON ("Audio stream")
    std::span<const TS_DescriptorField> tFields;
    // The bytes behind a 4-byte identifier (registration, CA, copyright): where the record keeps
    // them and their name; 0 and null for a kind without them.
    u16 u16TrailingOffset = 0;
    const char *strTrailing = nullptr;
    // The field whose value 1 leaves out the TS_FIELD_LONG_FORM fields (MPEG_1_only_flag), or -1.
    int iShortFormFlag = -1;
};

// A field of the kind's record: its offset and size in TS_Descriptor and its name.
#define TS_FIELD(Kind, member)                                                                                         \
    u16(offsetof(TS_Descriptor, t##Kind) + offsetof(TS_##Kind##Descriptor, member)),                                   \
        u8(sizeof(TS_##Kind##Descriptor::member)), #member
#define TS_TRAILING(Kind, member)                                                                                      \
    u16(offsetof(TS_Descriptor, t##Kind) + offsetof(TS_##Kind##Descriptor, member)), #member

inline constexpr TS_DescriptorField kVideoStreamFields[] = {
    {TS_FIELD(VideoStream, multiple_frame_rate_flag), 0, 1, "MFRF"},
    {TS_FIELD(VideoStream, frame_rate_code), 1, 4, "FRC"},
    {TS_FIELD(VideoStream, MPEG_1_only_flag), 5, 1, "", TS_FIELD_JSON_ONLY},
    {TS_FIELD(VideoStream, constrained_parameter_flag), 6, 1, "CPF"},
    {TS_FIELD(VideoStream, still_picture_flag), 7, 1, "SPF"},
    {TS_FIELD(VideoStream, profile_and_level_indication), 8, 8, "PALI", TS_FIELD_LONG_FORM},
    {TS_FIELD(VideoStream, chroma_format), 16, 2, "CF", TS_FIELD_LONG_FORM},
    {TS_FIELD(VideoStream, frame_rate_extension_flag), 18, 1, "FREF", TS_FIELD_LONG_FORM},
    {TS_FIELD(VideoStream, reserved), 19, 5, "R", TS_FIELD_LONG_FORM | TS_FIELD_TEXT_ONLY},
};
inline constexpr TS_DescriptorField kAudioStreamFields[] = {
    {TS_FIELD(AudioStream, free_format_flag), 0, 1, "FFF"},
    {TS_FIELD(AudioStream, ID), 1, 1, "I"},
    {TS_FIELD(AudioStream, layer), 2, 2, "L"},
    {TS_FIELD(AudioStream, variable_rate_audio_indicator), 4, 1, "VRAI"},
    {TS_FIELD(AudioStream, reserved), 5, 3, "R", TS_FIELD_TEXT_ONLY},
};
// Each of the last three bytes holds two reserved bits over a 6-bit index.
inline constexpr TS_DescriptorField kHierarchyFields[] = {
    {TS_FIELD(Hierarchy, reserved1), 0, 4, "R1", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(Hierarchy, hierarchy_type), 4, 4, "HT"},
    {TS_FIELD(Hierarchy, reserved2), 8, 2, "R2", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(Hierarchy, hierarchy_layer_index), 10, 6, "HLI"},
    {TS_FIELD(Hierarchy, reserved3), 16, 2, "R3", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(Hierarchy, hierarchy_embedded_layer_index), 18, 6, "HELI"},
    {TS_FIELD(Hierarchy, reserved4), 24, 2, "R4", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(Hierarchy, hierarchy_channel), 26, 6, "HC"},
};
inline constexpr TS_DescriptorField kRegistrationFields[] = {
    {TS_FIELD(Registration, format_identifier), 0, 32, "FI"},
};
inline constexpr TS_DescriptorField kDataStreamAlignmentFields[] = {
    {TS_FIELD(DataStreamAlignment, alignment_type), 0, 8, "AT"},
};
inline constexpr TS_DescriptorField kTargetBackgroundGridFields[] = {
    {TS_FIELD(TargetBackgroundGrid, horizontal_size), 0, 14, "HS"},
    {TS_FIELD(TargetBackgroundGrid, vertical_size), 14, 14, "VS"},
    {TS_FIELD(TargetBackgroundGrid, aspect_ratio_information), 28, 4, "ARI"},
};
inline constexpr TS_DescriptorField kVideoWindowFields[] = {
    {TS_FIELD(VideoWindow, horizontal_offset), 0, 14, "HO"},
    {TS_FIELD(VideoWindow, vertical_offset), 14, 14, "VO"},
    {TS_FIELD(VideoWindow, window_priority), 28, 4, "WP"},
};
// The CA system and the PID of its ECM (in a PMT) or EMM (in the CAT); the text begins with
// descriptor_length.
inline constexpr TS_DescriptorField kConditionalAccessFields[] = {
    {u16(offsetof(TS_Descriptor, descriptor_length)), 1, "descriptor_length", 0, 0, "L", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(ConditionalAccess, CA_system_ID), 0, 16, "CASID", TS_FIELD_HEX},
    {TS_FIELD(ConditionalAccess, reserved), 16, 3, "R", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(ConditionalAccess, CA_PID), 19, 13, "CAPID", TS_FIELD_PID},
};
inline constexpr TS_DescriptorField kSystemClockFields[] = {
    {TS_FIELD(SystemClock, external_clock_reference_indicator), 0, 1, "ECRI"},
    {TS_FIELD(SystemClock, reserved1), 1, 1, "R1", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(SystemClock, clock_accuracy_integer), 2, 6, "CAI"},
    {TS_FIELD(SystemClock, clock_accuracy_exponent), 8, 3, "CAE"},
    {TS_FIELD(SystemClock, reserved2), 11, 5, "R2", TS_FIELD_TEXT_ONLY},
};
// Bounds of the legal time window offset, each behind a flag bit.
inline constexpr TS_DescriptorField kMultiplexBufferUtilizationFields[] = {
    {TS_FIELD(MultiplexBufferUtilization, bound_valid_flag), 0, 1, "BVF"},
    {TS_FIELD(MultiplexBufferUtilization, LTW_offset_lower_bound), 1, 15, "LOLB"},
    {TS_FIELD(MultiplexBufferUtilization, reserved), 16, 1, "R", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(MultiplexBufferUtilization, LTW_offset_upper_bound), 17, 15, "LOUB"},
};
inline constexpr TS_DescriptorField kCopyrightFields[] = {
    {TS_FIELD(Copyright, copyright_identifier), 0, 32, "CI"},
};
// In units of 50 bytes per second.
inline constexpr TS_DescriptorField kMaximumBitrateFields[] = {
    {TS_FIELD(MaximumBitrate, reserved), 0, 2, "R", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(MaximumBitrate, maximum_bitrate), 2, 22, "MB"},
};
inline constexpr TS_DescriptorField kPrivateDataIndicatorFields[] = {
    {TS_FIELD(PrivateDataIndicator, private_data_indicator), 0, 32, "PD"},
};
// Leak rate and size of the smoothing buffer.
inline constexpr TS_DescriptorField kSmoothingBufferFields[] = {
    {TS_FIELD(SmoothingBuffer, reserved1), 0, 2, "R1", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(SmoothingBuffer, sb_leak_rate), 2, 22, "SLR"},
    {TS_FIELD(SmoothingBuffer, reserved2), 24, 2, "R2", TS_FIELD_TEXT_ONLY},
    {TS_FIELD(SmoothingBuffer, sb_size), 26, 22, "SS"},
};
inline constexpr TS_DescriptorField kSTDFields[] = {
    {TS_FIELD(STD, reserved), 0, 7, "R", TS_FIELD_TEXT_ONLY | TS_FIELD_IN_PLACE},
    {TS_FIELD(STD, leak_valid_flag), 7, 1, "LVF"},
};
// GOP structure of a video stream.
inline constexpr TS_DescriptorField kIBPFields[] = {
    {TS_FIELD(IBP, closed_gop_flag), 0, 1, "CGF"},
    {TS_FIELD(IBP, identical_gop_flag), 1, 1, "IGF"},
    {TS_FIELD(IBP, max_gop_length), 2, 14, "MGL"},
};

// The MPEG-2 fields of a video stream descriptor only while MPEG_1_only_flag (field 2) is clear.
inline constexpr TS_DescriptorLayout kVideoStreamLayout = {.u8Tag = TS_TAG_VIDEO_STREAM,
                                                           .strText = "Video stream",
                                                           .strJSON = "Video stream",
                                                           .tFields = kVideoStreamFields,
                                                           .iShortFormFlag = 2};
inline constexpr TS_DescriptorLayout kAudioStreamLayout = {TS_TAG_AUDIO_STREAM, "Audio Stream", "Audio stream",
                                                           kAudioStreamFields};
inline constexpr TS_DescriptorLayout kHierarchyLayout = {TS_TAG_HIERARCHY, "Hierarchy", "Hierarchy", kHierarchyFields};
inline constexpr TS_DescriptorLayout kRegistrationLayout = {TS_TAG_REGISTRATION, "Registration", "Registration",
                                                            kRegistrationFields,
                                                            TS_TRAILING(Registration, additional_identification_info)};
inline constexpr TS_DescriptorLayout kDataStreamAlignmentLayout = {
    TS_TAG_DATA_STREAM_ALIGNMENT, "Data stream alignment", "Data stream alignment", kDataStreamAlignmentFields};
inline constexpr TS_DescriptorLayout kTargetBackgroundGridLayout = {
    TS_TAG_TARGET_BACKGROUND_GRID, "Target background grid", "Target background grid", kTargetBackgroundGridFields};
inline constexpr TS_DescriptorLayout kVideoWindowLayout = {TS_TAG_VIDEO_WINDOW, "Video window", "Video window",
                                                           kVideoWindowFields};
inline constexpr TS_DescriptorLayout kConditionalAccessLayout = {TS_TAG_CONDITIONAL_ACCESS, "Conditional access",
                                                                 "Conditional access", kConditionalAccessFields,
                                                                 TS_TRAILING(ConditionalAccess, private_data_byte)};
inline constexpr TS_DescriptorLayout kSystemClockLayout = {TS_TAG_SYSTEM_CLOCK, "System clock", "System clock",
                                                           kSystemClockFields};
inline constexpr TS_DescriptorLayout kMultiplexBufferUtilizationLayout = {
    TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, "Multiplex buffer utilization", "Multiplex buffer utilization",
    kMultiplexBufferUtilizationFields};
inline constexpr TS_DescriptorLayout kCopyrightLayout = {TS_TAG_COPYRIGHT, "Copyright", "Copyright", kCopyrightFields,
                                                         TS_TRAILING(Copyright, additional_copyright_info)};
inline constexpr TS_DescriptorLayout kMaximumBitrateLayout = {TS_TAG_MAXIMUM_BITRATE, "Maximum bitrate",
                                                              "Maximum bitrate", kMaximumBitrateFields};
inline constexpr TS_DescriptorLayout kPrivateDataIndicatorLayout = {
    TS_TAG_PRIVATE_DATA_INDICATOR, "Private data indicator", "Private data indicator", kPrivateDataIndicatorFields};
inline constexpr TS_DescriptorLayout kSmoothingBufferLayout = {TS_TAG_SMOOTHING_BUFFER, "Smoothing buffer",
                                                               "Smoothing buffer", kSmoothingBufferFields};
inline constexpr TS_DescriptorLayout kSTDLayout = {TS_TAG_STD, "STD", "STD", kSTDFields};
inline constexpr TS_DescriptorLayout kIBPLayout = {TS_TAG_IBP, "IBP", "IBP", kIBPFields};

#undef TS_FIELD
#undef TS_TRAILING

// A field's value as the record keeps it.
inline u32 TS_DescriptorField_Get(const TS_DescriptorField &field, const TS_Descriptor *descriptor)
{
    const u8 *at = reinterpret_cast<const u8 *>(descriptor) + field.u16Offset;
    if (field.u8Size == 1)
        return at[0];
    if (field.u8Size == 2) {
        u16 value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    u32 value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Whether the record has the field: a long-form field only while the short-form flag is clear.
inline bool TS_DescriptorLayout_Has(const TS_DescriptorLayout &layout, const TS_DescriptorField &field,
                                    const TS_Descriptor *descriptor)
{
    return !(field.u8Flags & TS_FIELD_LONG_FORM) ||
           TS_DescriptorField_Get(layout.tFields[size_t(layout.iShortFormFlag)], descriptor) == 0;
}

// The decoder, printer and JSON form of a layout's kind, as the kinds' own: -1 for a null
// pointer, -2 for another kind (nothing done), else 0.
int TS_DescriptorLayout_Decode(const TS_DescriptorLayout &layout, TS_Descriptor *descriptor, const u8 *data);
int TS_DescriptorLayout_Print(TS_Sink *out, const TS_DescriptorLayout &layout, const TS_Descriptor *descriptor);
int TS_DescriptorLayout_PrintJSON(const TS_DescriptorLayout &layout, TS_Json *json, const TS_Descriptor *descriptor);

#endif  // PIDSIFT_TRANSPORT_STREAM_DESCRIPTORS_DESCRIPTOR_LAYOUTS_H
