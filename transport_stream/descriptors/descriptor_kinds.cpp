// Decoders of the ISO/IEC 13818-1 descriptors with a body of their own: tags 0x02 to 0x12.
//
// A decoder reads its fixed part whatever descriptor_length says; the descriptor loops of the
// tables only hand it a descriptor whose fixed part (TS_DESCRIPTOR_KINDS) and announced length
// lie inside the section, so the direct indexing below stays inside the caller's bytes.
#include <cstring>

#include "common/bytes.h"
#include "descriptors/descriptors.h"

namespace {

// Stores the fields of a kind's body; data points at the tag byte.
using TS_DescriptorFields = void (*)(TS_Descriptor *record, const u8 *data);

// What every kind's decoder does around its fields: -1 for a null pointer, -2 when data holds
// another kind (the record is left alone), else 0 with tag, length and fields stored.
int TS_Descriptor_DecodeKind(TS_Descriptor *descriptor, const u8 *data, u8 tag, TS_DescriptorFields fields)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    if (data[0] != tag)
        return -2;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    fields(descriptor, data);
    return 0;
}

// The bytes behind a 4-byte identifier, copied to their array.
void TS_Descriptor_CopyTrailing(u8 *array, const u8 *data)
{
    std::memcpy(array, data + 6, size_t(TS_Descriptor_TrailingCount(data[1])));
}

// Three letters of a language code as one 24-bit number.
u32 TS_Read24(const u8 *bytes) { return (u32(bytes[0]) << 16) | (u32(bytes[1]) << 8) | u32(bytes[2]); }

// A 22-bit rate or size: six low bits of the first byte, then two whole bytes.
u32 TS_Read22(const u8 *bytes) { return (u32(bytes[0] & 0x3F) << 16) | (u32(bytes[1]) << 8) | u32(bytes[2]); }

// A 15-bit bound behind a flag bit, over two bytes.
u16 TS_Read15(const u8 *bytes) { return u16(((bytes[0] & 0x7F) << 8) | bytes[1]); }

// horizontal_size and vertical_size (14 bits each) and the 4 bits behind them, packed into the
// four bytes of a target background grid or video window descriptor.
void TS_Read14x14x4(const u8 *bytes, u16 *first, u16 *second, u8 *last)
{
    *first = u16((bytes[0] << 6) | (bytes[1] >> 2));
    *second = u16(((bytes[1] & 0x03) << 12) | (bytes[2] << 4) | (bytes[3] >> 4));
    *last = bytes[3] & 0x0F;
}

}  // namespace

// video_stream_descriptor: frame rate and, for MPEG-2 video, profile and chroma format.
int TS_Descriptor_GetVideoStream(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_VideoStreamDescriptor *video = &record->tVideoStream;
        video->multiple_frame_rate_flag = bytes[2] >> 7;
        video->frame_rate_code = (bytes[2] >> 3) & 0x0F;
        video->MPEG_1_only_flag = (bytes[2] >> 2) & 0x01;
        video->constrained_parameter_flag = (bytes[2] >> 1) & 0x01;
        video->still_picture_flag = bytes[2] & 0x01;
        // The last two bytes are present only when the stream is not restricted to ISO/IEC
        // 11172-2; otherwise those fields keep what the record held.
        if (video->MPEG_1_only_flag == 0) {
            video->profile_and_level_indication = bytes[3];
            video->chroma_format = bytes[4] >> 6;
            video->frame_rate_extension_flag = (bytes[4] >> 5) & 0x01;
            video->reserved = bytes[4] & 0x1F;
        }
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_VIDEO_STREAM, fields);
}

// audio_stream_descriptor.
int TS_Descriptor_GetAudioStream(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_AudioStreamDescriptor *audio = &record->tAudioStream;
        audio->free_format_flag = bytes[2] >> 7;
        audio->ID = (bytes[2] >> 6) & 0x01;
        audio->layer = (bytes[2] >> 4) & 0x03;
        audio->variable_rate_audio_indicator = (bytes[2] >> 3) & 0x01;
        audio->reserved = bytes[2] & 0x07;
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_AUDIO_STREAM, fields);
}

// hierarchy_descriptor: the layer of a scalable or multi-view stream. Each of the last three
// bytes holds two reserved bits over a 6-bit index.
int TS_Descriptor_GetHierarchy(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_HierarchyDescriptor *hierarchy = &record->tHierarchy;
        hierarchy->reserved1 = bytes[2] >> 4;
        hierarchy->hierarchy_type = bytes[2] & 0x0F;
        hierarchy->reserved2 = bytes[3] >> 6;
        hierarchy->hierarchy_layer_index = bytes[3] & 0x3F;
        hierarchy->reserved3 = bytes[4] >> 6;
        hierarchy->hierarchy_embedded_layer_index = bytes[4] & 0x3F;
        hierarchy->reserved4 = bytes[5] >> 6;
        hierarchy->hierarchy_channel = bytes[5] & 0x3F;
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_HIERARCHY, fields);
}

// registration_descriptor: a format_identifier registered with the registration authority,
// followed by whatever bytes that format defines.
int TS_Descriptor_GetRegistration(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tRegistration.format_identifier = TS_Read32(bytes + 2);
        TS_Descriptor_CopyTrailing(record->tRegistration.additional_identification_info, bytes);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_REGISTRATION, fields);
}

// data_stream_alignment_descriptor.
int TS_Descriptor_GetDataStreamAlignment(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tDataStreamAlignment.alignment_type = bytes[2];
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_DATA_STREAM_ALIGNMENT, fields);
}

// target_background_grid_descriptor.
int TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_TargetBackgroundGridDescriptor *grid = &record->tTargetBackgroundGrid;
        TS_Read14x14x4(bytes + 2, &grid->horizontal_size, &grid->vertical_size, &grid->aspect_ratio_information);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_TARGET_BACKGROUND_GRID, fields);
}

// video_window_descriptor: where the picture sits on the target background grid.
int TS_Descriptor_GetVideoWindow(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_VideoWindowDescriptor *window = &record->tVideoWindow;
        TS_Read14x14x4(bytes + 2, &window->horizontal_offset, &window->vertical_offset, &window->window_priority);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_VIDEO_WINDOW, fields);
}

// CA_descriptor: the CA system and the PID of its ECM (in a PMT) or EMM (in a CAT).
int TS_Descriptor_GetConditionalAccess(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_ConditionalAccessDescriptor *ca = &record->tConditionalAccess;
        ca->CA_system_ID = TS_Read16(bytes + 2);
        ca->reserved = bytes[4] >> 5;
        ca->CA_PID = TS_Read13(bytes + 4);
        TS_Descriptor_CopyTrailing(ca->private_data_byte, bytes);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_CONDITIONAL_ACCESS, fields);
}

// ISO_639_language_descriptor: one 4-byte entry per language; trailing bytes that do not make a
// whole entry are ignored.
int TS_Descriptor_GetISO639Language(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        const int count = bytes[1] / 4;  // at most 63, the capacity of ltEntry
        for (int i = 0; i < count; ++i) {
            const u8 *entry = bytes + 2 + 4 * i;
            TS_ISO639LanguageEntry *language = &record->tISO639Language.ltEntry[i];
            language->ISO_639_language_code = TS_Read24(entry);
            language->audio_type = entry[3];
        }
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_ISO_639_LANGUAGE, fields);
}

// system_clock_descriptor: accuracy of the clock the stream was encoded with.
int TS_Descriptor_GetSystemClock(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_SystemClockDescriptor *clock = &record->tSystemClock;
        clock->external_clock_reference_indicator = bytes[2] >> 7;
        clock->reserved1 = (bytes[2] >> 6) & 0x01;
        clock->clock_accuracy_integer = bytes[2] & 0x3F;
        clock->clock_accuracy_exponent = bytes[3] >> 5;
        clock->reserved2 = bytes[3] & 0x1F;
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_SYSTEM_CLOCK, fields);
}

// multiplex_buffer_utilization_descriptor: bounds of the legal time window offset.
int TS_Descriptor_GetMultiplexBufferUtilization(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_MultiplexBufferUtilizationDescriptor *buffer = &record->tMultiplexBufferUtilization;
        buffer->bound_valid_flag = bytes[2] >> 7;
        buffer->LTW_offset_lower_bound = TS_Read15(bytes + 2);
        buffer->reserved = bytes[4] >> 7;
        buffer->LTW_offset_upper_bound = TS_Read15(bytes + 4);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, fields);
}

// copyright_descriptor: a registered copyright_identifier and its own further bytes.
int TS_Descriptor_GetCopyright(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tCopyright.copyright_identifier = TS_Read32(bytes + 2);
        TS_Descriptor_CopyTrailing(record->tCopyright.additional_copyright_info, bytes);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_COPYRIGHT, fields);
}

// maximum_bitrate_descriptor: in units of 50 bytes per second.
int TS_Descriptor_GetMaximumBitrate(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tMaximumBitrate.reserved = bytes[2] >> 6;
        record->tMaximumBitrate.maximum_bitrate = TS_Read22(bytes + 2);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_MAXIMUM_BITRATE, fields);
}

// private_data_indicator_descriptor.
int TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tPrivateDataIndicator.private_data_indicator = TS_Read32(bytes + 2);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_PRIVATE_DATA_INDICATOR, fields);
}

// smoothing_buffer_descriptor: leak rate and size of the smoothing buffer.
int TS_Descriptor_GetSmoothingBuffer(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_SmoothingBufferDescriptor *smoothing = &record->tSmoothingBuffer;
        smoothing->reserved1 = bytes[2] >> 6;
        smoothing->sb_leak_rate = TS_Read22(bytes + 2);
        smoothing->reserved2 = bytes[5] >> 6;
        smoothing->sb_size = TS_Read22(bytes + 5);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_SMOOTHING_BUFFER, fields);
}

// STD_descriptor. The reserved bits stay where they stand in the byte.
int TS_Descriptor_GetSTD(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        record->tSTD.reserved = bytes[2] & 0xFE;
        record->tSTD.leak_valid_flag = bytes[2] & 0x01;
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_STD, fields);
}

// IBP_descriptor: GOP structure of a video stream.
int TS_Descriptor_GetIBP(TS_Descriptor *descriptor, const u8 *data)
{
    const auto fields = [](TS_Descriptor *record, const u8 *bytes) {
        TS_IBPDescriptor *ibp = &record->tIBP;
        ibp->closed_gop_flag = bytes[2] >> 7;
        ibp->identical_gop_flag = (bytes[2] >> 6) & 0x01;
        ibp->max_gop_length = u16(((bytes[2] & 0x3F) << 8) | bytes[3]);
    };
    return TS_Descriptor_DecodeKind(descriptor, data, TS_TAG_IBP, fields);
}
