// Decoders and printers of the ISO/IEC 13818-1 descriptors with a body of their own (2.6.2 to
// 2.6.34): tags 0x02 to 0x08 and 0x0A to 0x12.
//
// A decoder reads its fixed body whatever descriptor_length says; the descriptor loops of the
// tables only hand it a descriptor whose fixed body and announced length lie inside the section
// (TS_Descriptor_GetWithin), so the direct indexing below stays inside the caller's bytes.
#include <cstdio>
#include <cstring>

#include "descriptors/descriptors.h"
#include "common/bytes.h"
#include "text/text.h"

namespace {

constexpr u8 kTagVideoStream = 0x02;
constexpr u8 kTagAudioStream = 0x03;
constexpr u8 kTagHierarchy = 0x04;
constexpr u8 kTagRegistration = 0x05;
constexpr u8 kTagDataStreamAlignment = 0x06;
constexpr u8 kTagTargetBackgroundGrid = 0x07;
constexpr u8 kTagVideoWindow = 0x08;
constexpr u8 kTagISO639Language = 0x0A;
constexpr u8 kTagSystemClock = 0x0B;
constexpr u8 kTagMultiplexBufferUtilization = 0x0C;
constexpr u8 kTagCopyright = 0x0D;
constexpr u8 kTagMaximumBitrate = 0x0E;
constexpr u8 kTagPrivateDataIndicator = 0x0F;
constexpr u8 kTagSmoothingBuffer = 0x10;
constexpr u8 kTagSTD = 0x11;
constexpr u8 kTagIBP = 0x12;

// Common head of every decoder: -1 for a null pointer, -2 when data holds another kind (the
// record is left alone), else 0 with tag and length stored.
int TS_Descriptor_BeginGet(TS_Descriptor *descriptor, const u8 *data, u8 tag)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    if (data[0] != tag)
        return -2;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    return 0;
}

// Common head of every printer: -1 for a null record, -2 for a record of another kind.
int TS_Descriptor_CheckPrint(const TS_Descriptor *descriptor, u8 tag)
{
    if (descriptor == nullptr)
        return -1;
    return descriptor->descriptor_tag == tag ? 0 : -2;
}

// Bytes that follow a 4-byte identifier in a descriptor of the given length: none when the
// descriptor is too short even for the identifier.
int TS_Descriptor_TrailingCount(u8 length)
{
    return length > 4 ? length - 4 : 0;
}

// A 22-bit rate or size: six low bits of the first byte, then two whole bytes.
u32 TS_Read22(const u8 *bytes)
{
    return (u32(bytes[0] & 0x3F) << 16) | (u32(bytes[1]) << 8) | u32(bytes[2]);
}

// horizontal_size and vertical_size (14 bits each) and the 4 bits behind them, packed into the
// four bytes of a target background grid or video window descriptor (2.6.12, 2.6.14).
void TS_Read14x14x4(const u8 *bytes, u16 *first, u16 *second, u8 *last)
{
    *first = u16((bytes[0] << 6) | (bytes[1] >> 2));
    *second = u16(((bytes[1] & 0x03) << 12) | (bytes[2] << 4) | (bytes[3] >> 4));
    *last = bytes[3] & 0x0F;
}

}  // namespace

// video_stream_descriptor (2.6.2): frame rate and, for MPEG-2 video, profile and chroma format.
int TS_Descriptor_GetVideoStream(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagVideoStream);
    if (result != 0)
        return result;
    TS_VideoStreamDescriptor *video = &descriptor->tVideoStream;
    video->multiple_frame_rate_flag = data[2] >> 7;
    video->frame_rate_code = (data[2] >> 3) & 0x0F;
    video->MPEG_1_only_flag = (data[2] >> 2) & 0x01;
    video->constrained_parameter_flag = (data[2] >> 1) & 0x01;
    video->still_picture_flag = data[2] & 0x01;
    // The last two bytes are present only when the stream is not restricted to ISO/IEC 11172-2.
    if (video->MPEG_1_only_flag == 0) {
        video->profile_and_level_indication = data[3];
        video->chroma_format = data[4] >> 6;
        video->frame_rate_extension_flag = (data[4] >> 5) & 0x01;
        video->reserved = data[4] & 0x1F;
    }
    return 0;
}

// Prints a video stream descriptor, with a second line for the MPEG-2 fields.
int TS_Descriptor_PrintVideoStream(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagVideoStream);
    if (result != 0)
        return result;
    const TS_VideoStreamDescriptor *video = &descriptor->tVideoStream;
    TS_Text_Printf("[D Video stream] MFRF:%d FRC:%d CPF:%d SPF:%d\n", video->multiple_frame_rate_flag,
           video->frame_rate_code, video->constrained_parameter_flag, video->still_picture_flag);
    if (video->MPEG_1_only_flag == 0)
        TS_Text_Printf("  PALI:%d CF:%d FREF:%d R:%d\n", video->profile_and_level_indication,
               video->chroma_format, video->frame_rate_extension_flag, video->reserved);
    return 0;
}

// audio_stream_descriptor (2.6.4).
int TS_Descriptor_GetAudioStream(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagAudioStream);
    if (result != 0)
        return result;
    TS_AudioStreamDescriptor *audio = &descriptor->tAudioStream;
    audio->free_format_flag = data[2] >> 7;
    audio->ID = (data[2] >> 6) & 0x01;
    audio->layer = (data[2] >> 4) & 0x03;
    audio->variable_rate_audio_indicator = (data[2] >> 3) & 0x01;
    audio->reserved = data[2] & 0x07;
    return 0;
}

// Prints an audio stream descriptor.
int TS_Descriptor_PrintAudioStream(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagAudioStream);
    if (result != 0)
        return result;
    const TS_AudioStreamDescriptor *audio = &descriptor->tAudioStream;
    TS_Text_Printf("[D Audio Stream] FFF:%d I:%d L:%d VRAI:%d R:%d\n", audio->free_format_flag, audio->ID,
           audio->layer, audio->variable_rate_audio_indicator, audio->reserved);
    return 0;
}

// hierarchy_descriptor (2.6.6): the layer of a scalable or multi-view stream.
int TS_Descriptor_GetHierarchy(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagHierarchy);
    if (result != 0)
        return result;
    TS_HierarchyDescriptor *hierarchy = &descriptor->tHierarchy;
    hierarchy->reserved1 = data[2] >> 4;
    hierarchy->hierarchy_type = data[2] & 0x0F;
    hierarchy->reserved2 = data[3] >> 6;
    hierarchy->hierarchy_layer_index = data[3] & 0x3F;
    hierarchy->reserved3 = data[4] >> 6;
    hierarchy->hierarchy_embedded_layer_index = data[4] & 0x3F;
    hierarchy->reserved4 = data[5] >> 6;
    hierarchy->hierarchy_channel = data[5] & 0x3F;
    return 0;
}

// Prints a hierarchy descriptor.
int TS_Descriptor_PrintHierarchy(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagHierarchy);
    if (result != 0)
        return result;
    const TS_HierarchyDescriptor *hierarchy = &descriptor->tHierarchy;
    TS_Text_Printf("[D Hierarchy] R1:%d HT:%d R2:%d HLI:%d R3:%d HELI:%d R4:%d HC:%d\n",
           hierarchy->reserved1, hierarchy->hierarchy_type, hierarchy->reserved2,
           hierarchy->hierarchy_layer_index, hierarchy->reserved3,
           hierarchy->hierarchy_embedded_layer_index, hierarchy->reserved4,
           hierarchy->hierarchy_channel);
    return 0;
}

// registration_descriptor (2.6.8): a format_identifier registered with the registration
// authority, followed by whatever bytes that format defines.
int TS_Descriptor_GetRegistration(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagRegistration);
    if (result != 0)
        return result;
    TS_RegistrationDescriptor *registration = &descriptor->tRegistration;
    registration->format_identifier = TS_Read32(data + 2);
    std::memcpy(registration->additional_identification_info, data + 6,
                size_t(TS_Descriptor_TrailingCount(data[1])));
    return 0;
}

// Prints a registration descriptor and dumps its additional identification bytes.
int TS_Descriptor_PrintRegistration(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagRegistration);
    if (result != 0)
        return result;
    const TS_RegistrationDescriptor *registration = &descriptor->tRegistration;
    TS_Text_Printf("[D Registration] FI:%d\n  ", int(registration->format_identifier));
    TS_Text_PrintBytes(registration->additional_identification_info,
                       TS_Descriptor_TrailingCount(descriptor->descriptor_length));
    return 0;
}

// data_stream_alignment_descriptor (2.6.10).
int TS_Descriptor_GetDataStreamAlignment(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagDataStreamAlignment);
    if (result != 0)
        return result;
    descriptor->tDataStreamAlignment.alignment_type = data[2];
    return 0;
}

// Prints a data stream alignment descriptor.
int TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagDataStreamAlignment);
    if (result != 0)
        return result;
    TS_Text_Printf("[D Data stream alignment] AT:%d\n", descriptor->tDataStreamAlignment.alignment_type);
    return 0;
}

// target_background_grid_descriptor (2.6.12).
int TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagTargetBackgroundGrid);
    if (result != 0)
        return result;
    TS_TargetBackgroundGridDescriptor *grid = &descriptor->tTargetBackgroundGrid;
    TS_Read14x14x4(data + 2, &grid->horizontal_size, &grid->vertical_size,
                   &grid->aspect_ratio_information);
    return 0;
}

// Prints a target background grid descriptor.
int TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagTargetBackgroundGrid);
    if (result != 0)
        return result;
    const TS_TargetBackgroundGridDescriptor *grid = &descriptor->tTargetBackgroundGrid;
    TS_Text_Printf("[D Target background grid] HS:%d VS:%d ARI:%d\n", grid->horizontal_size,
           grid->vertical_size, grid->aspect_ratio_information);
    return 0;
}

// video_window_descriptor (2.6.14): where the picture sits on the target background grid.
int TS_Descriptor_GetVideoWindow(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagVideoWindow);
    if (result != 0)
        return result;
    TS_VideoWindowDescriptor *window = &descriptor->tVideoWindow;
    TS_Read14x14x4(data + 2, &window->horizontal_offset, &window->vertical_offset,
                   &window->window_priority);
    return 0;
}

// Prints a video window descriptor.
int TS_Descriptor_PrintVideoWindow(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagVideoWindow);
    if (result != 0)
        return result;
    const TS_VideoWindowDescriptor *window = &descriptor->tVideoWindow;
    TS_Text_Printf("[D Video window] HO:%d VO:%d WP:%d\n", window->horizontal_offset,
           window->vertical_offset, window->window_priority);
    return 0;
}

// ISO_639_language_descriptor (2.6.18): one 4-byte entry per language; trailing bytes that do
// not make a whole entry are ignored.
int TS_Descriptor_GetISO639Language(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagISO639Language);
    if (result != 0)
        return result;
    const int count = data[1] / 4;  // at most 63, the capacity of ltEntry
    for (int i = 0; i < count; ++i) {
        const u8 *entry = data + 2 + 4 * i;
        TS_ISO639LanguageEntry *language = &descriptor->tISO639Language.ltEntry[i];
        language->ISO_639_language_code = (u32(entry[0]) << 16) | (u32(entry[1]) << 8) | entry[2];
        language->audio_type = entry[3];
    }
    return 0;
}

// Prints an ISO 639 language descriptor, one line per entry.
int TS_Descriptor_PrintISO639Language(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagISO639Language);
    if (result != 0)
        return result;
    TS_Text_Puts("[D ISO 639 language]");
    const int count = descriptor->descriptor_length / 4;
    for (int i = 0; i < count; ++i) {
        const TS_ISO639LanguageEntry *language = &descriptor->tISO639Language.ltEntry[i];
        TS_Text_Printf("  <%d> ILC:%d AT:%d\n", i, int(language->ISO_639_language_code),
               language->audio_type);
    }
    return 0;
}

// system_clock_descriptor (2.6.20): accuracy of the clock the stream was encoded with.
int TS_Descriptor_GetSystemClock(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagSystemClock);
    if (result != 0)
        return result;
    TS_SystemClockDescriptor *clock = &descriptor->tSystemClock;
    clock->external_clock_reference_indicator = data[2] >> 7;
    clock->reserved1 = (data[2] >> 6) & 0x01;
    clock->clock_accuracy_integer = data[2] & 0x3F;
    clock->clock_accuracy_exponent = data[3] >> 5;
    clock->reserved2 = data[3] & 0x1F;
    return 0;
}

// Prints a system clock descriptor.
int TS_Descriptor_PrintSystemClock(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagSystemClock);
    if (result != 0)
        return result;
    const TS_SystemClockDescriptor *clock = &descriptor->tSystemClock;
    TS_Text_Printf("[D System clock] ECRI:%d R1:%d CAI:%d CAE:%d R2:%d\n",
           clock->external_clock_reference_indicator, clock->reserved1,
           clock->clock_accuracy_integer, clock->clock_accuracy_exponent, clock->reserved2);
    return 0;
}

// multiplex_buffer_utilization_descriptor (2.6.22): bounds of the legal time window offset.
int TS_Descriptor_GetMultiplexBufferUtilization(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagMultiplexBufferUtilization);
    if (result != 0)
        return result;
    TS_MultiplexBufferUtilizationDescriptor *buffer = &descriptor->tMultiplexBufferUtilization;
    buffer->bound_valid_flag = data[2] >> 7;
    buffer->LTW_offset_lower_bound = u16(((data[2] & 0x7F) << 8) | data[3]);
    buffer->reserved = data[4] >> 7;
    buffer->LTW_offset_upper_bound = u16(((data[4] & 0x7F) << 8) | data[5]);
    return 0;
}

// Prints a multiplex buffer utilization descriptor.
int TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagMultiplexBufferUtilization);
    if (result != 0)
        return result;
    const TS_MultiplexBufferUtilizationDescriptor *buffer = &descriptor->tMultiplexBufferUtilization;
    TS_Text_Printf("[D Multiplex buffer utilization] BVF:%d LOLB:%d R:%d LOUB:%d\n",
           buffer->bound_valid_flag, buffer->LTW_offset_lower_bound, buffer->reserved,
           buffer->LTW_offset_upper_bound);
    return 0;
}

// copyright_descriptor (2.6.24): a registered copyright_identifier and its own further bytes.
int TS_Descriptor_GetCopyright(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagCopyright);
    if (result != 0)
        return result;
    TS_CopyrightDescriptor *copyright = &descriptor->tCopyright;
    copyright->copyright_identifier = TS_Read32(data + 2);
    std::memcpy(copyright->additional_copyright_info, data + 6,
                size_t(TS_Descriptor_TrailingCount(data[1])));
    return 0;
}

// Prints a copyright descriptor and dumps its additional copyright bytes.
int TS_Descriptor_PrintCopyright(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagCopyright);
    if (result != 0)
        return result;
    const TS_CopyrightDescriptor *copyright = &descriptor->tCopyright;
    TS_Text_Printf("[D Copyright] CI:%d\n  ", int(copyright->copyright_identifier));
    TS_Text_PrintBytes(copyright->additional_copyright_info,
                       TS_Descriptor_TrailingCount(descriptor->descriptor_length));
    return 0;
}

// maximum_bitrate_descriptor (2.6.26): in units of 50 bytes per second.
int TS_Descriptor_GetMaximumBitrate(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagMaximumBitrate);
    if (result != 0)
        return result;
    descriptor->tMaximumBitrate.reserved = data[2] >> 6;
    descriptor->tMaximumBitrate.maximum_bitrate = TS_Read22(data + 2);
    return 0;
}

// Prints a maximum bitrate descriptor.
int TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagMaximumBitrate);
    if (result != 0)
        return result;
    TS_Text_Printf("[D Maximum bitrate] R:%d MB:%d\n", descriptor->tMaximumBitrate.reserved,
           int(descriptor->tMaximumBitrate.maximum_bitrate));
    return 0;
}

// private_data_indicator_descriptor (2.6.28).
int TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagPrivateDataIndicator);
    if (result != 0)
        return result;
    descriptor->tPrivateDataIndicator.private_data_indicator = TS_Read32(data + 2);
    return 0;
}

// Prints a private data indicator descriptor.
int TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagPrivateDataIndicator);
    if (result != 0)
        return result;
    TS_Text_Printf("[D Private data indicator] PD:%d\n",
           int(descriptor->tPrivateDataIndicator.private_data_indicator));
    return 0;
}

// smoothing_buffer_descriptor (2.6.30): leak rate and size of the smoothing buffer.
int TS_Descriptor_GetSmoothingBuffer(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagSmoothingBuffer);
    if (result != 0)
        return result;
    TS_SmoothingBufferDescriptor *smoothing = &descriptor->tSmoothingBuffer;
    smoothing->reserved1 = data[2] >> 6;
    smoothing->sb_leak_rate = TS_Read22(data + 2);
    smoothing->reserved2 = data[5] >> 6;
    smoothing->sb_size = TS_Read22(data + 5);
    return 0;
}

// Prints a smoothing buffer descriptor.
int TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagSmoothingBuffer);
    if (result != 0)
        return result;
    const TS_SmoothingBufferDescriptor *smoothing = &descriptor->tSmoothingBuffer;
    TS_Text_Printf("[D Smoothing buffer] R1:%d SLR:%d R2:%d SS:%d\n", smoothing->reserved1,
           int(smoothing->sb_leak_rate), smoothing->reserved2, int(smoothing->sb_size));
    return 0;
}

// STD_descriptor (2.6.32). The reserved bits stay where they stand in the byte.
int TS_Descriptor_GetSTD(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagSTD);
    if (result != 0)
        return result;
    descriptor->tSTD.reserved = data[2] & 0xFE;
    descriptor->tSTD.leak_valid_flag = data[2] & 0x01;
    return 0;
}

// Prints an STD descriptor.
int TS_Descriptor_PrintSTD(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagSTD);
    if (result != 0)
        return result;
    TS_Text_Printf("[D STD] R:%d LVF:%d\n", descriptor->tSTD.reserved, descriptor->tSTD.leak_valid_flag);
    return 0;
}

// IBP_descriptor (2.6.34): GOP structure of a video stream.
int TS_Descriptor_GetIBP(TS_Descriptor *descriptor, const u8 *data)
{
    const int result = TS_Descriptor_BeginGet(descriptor, data, kTagIBP);
    if (result != 0)
        return result;
    TS_IBPDescriptor *ibp = &descriptor->tIBP;
    ibp->closed_gop_flag = data[2] >> 7;
    ibp->identical_gop_flag = (data[2] >> 6) & 0x01;
    ibp->max_gop_length = u16(((data[2] & 0x3F) << 8) | data[3]);
    return 0;
}

// Prints an IBP descriptor.
int TS_Descriptor_PrintIBP(const TS_Descriptor *descriptor)
{
    const int result = TS_Descriptor_CheckPrint(descriptor, kTagIBP);
    if (result != 0)
        return result;
    const TS_IBPDescriptor *ibp = &descriptor->tIBP;
    TS_Text_Printf("[D IBP] CGF:%d IGF:%d MGL:%d\n", ibp->closed_gop_flag, ibp->identical_gop_flag,
           ibp->max_gop_length);
    return 0;
}
