// Printer dispatch by tag through the table of kinds, the raw printer, and the printers of the
// kinds with a body of their own: tags 0x02 to 0x12.
#include "descriptors/descriptors.h"
#include "text/text.h"

namespace {

// Prints the fields of a kind's record.
using TS_DescriptorText = void (*)(const TS_Descriptor *record);

// What every kind's printer does around its text: -1 for a null record, -2 for a record of
// another kind (nothing printed), else 0 with the text printed.
int TS_Descriptor_PrintKind(const TS_Descriptor *descriptor, u8 tag, TS_DescriptorText text)
{
    if (descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != tag)
        return -2;
    text(descriptor);
    return 0;
}

}  // namespace

// Prints a decoded descriptor with the printer its tag selects: the kind it was decoded as.
int TS_Descriptor_Print(const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    TS_DescriptorKind_For(descriptor->descriptor_tag).pfnPrint(descriptor);
    return 0;
}

// Prints any descriptor as its name, tag and length, then a dump of its body bytes.
int TS_Descriptor_PrintRAW(const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    char name[256];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    TS_Text_Printf("[D %s] T:0x%02X L:%d\n  ", name, descriptor->descriptor_tag, descriptor->descriptor_length);
    TS_Text_PrintBytes(descriptor->lu8Raw, descriptor->descriptor_length);
    return 0;
}

// Prints a video stream descriptor, with a second line for the MPEG-2 fields.
int TS_Descriptor_PrintVideoStream(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_VideoStreamDescriptor *video = &record->tVideoStream;
        TS_Text_Printf("[D Video stream] MFRF:%d FRC:%d CPF:%d SPF:%d\n", video->multiple_frame_rate_flag,
                       video->frame_rate_code, video->constrained_parameter_flag, video->still_picture_flag);
        if (video->MPEG_1_only_flag == 0)
            TS_Text_Printf("  PALI:%d CF:%d FREF:%d R:%d\n", video->profile_and_level_indication, video->chroma_format,
                           video->frame_rate_extension_flag, video->reserved);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_VIDEO_STREAM, text);
}

// Prints an audio stream descriptor.
int TS_Descriptor_PrintAudioStream(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_AudioStreamDescriptor *audio = &record->tAudioStream;
        TS_Text_Printf("[D Audio Stream] FFF:%d I:%d L:%d VRAI:%d R:%d\n", audio->free_format_flag, audio->ID,
                       audio->layer, audio->variable_rate_audio_indicator, audio->reserved);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_AUDIO_STREAM, text);
}

// Prints a hierarchy descriptor.
int TS_Descriptor_PrintHierarchy(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_HierarchyDescriptor *hierarchy = &record->tHierarchy;
        TS_Text_Printf("[D Hierarchy] R1:%d HT:%d R2:%d HLI:%d R3:%d HELI:%d R4:%d HC:%d\n", hierarchy->reserved1,
                       hierarchy->hierarchy_type, hierarchy->reserved2, hierarchy->hierarchy_layer_index,
                       hierarchy->reserved3, hierarchy->hierarchy_embedded_layer_index, hierarchy->reserved4,
                       hierarchy->hierarchy_channel);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_HIERARCHY, text);
}

// Prints a registration descriptor and dumps its additional identification bytes.
int TS_Descriptor_PrintRegistration(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_RegistrationDescriptor *registration = &record->tRegistration;
        TS_Text_Printf("[D Registration] FI:%d\n  ", int(registration->format_identifier));
        TS_Text_PrintBytes(registration->additional_identification_info,
                           TS_Descriptor_TrailingCount(record->descriptor_length));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_REGISTRATION, text);
}

// Prints a data stream alignment descriptor.
int TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        TS_Text_Printf("[D Data stream alignment] AT:%d\n", record->tDataStreamAlignment.alignment_type);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_DATA_STREAM_ALIGNMENT, text);
}

// Prints a target background grid descriptor.
int TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_TargetBackgroundGridDescriptor *grid = &record->tTargetBackgroundGrid;
        TS_Text_Printf("[D Target background grid] HS:%d VS:%d ARI:%d\n", grid->horizontal_size, grid->vertical_size,
                       grid->aspect_ratio_information);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_TARGET_BACKGROUND_GRID, text);
}

// Prints a video window descriptor.
int TS_Descriptor_PrintVideoWindow(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_VideoWindowDescriptor *window = &record->tVideoWindow;
        TS_Text_Printf("[D Video window] HO:%d VO:%d WP:%d\n", window->horizontal_offset, window->vertical_offset,
                       window->window_priority);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_VIDEO_WINDOW, text);
}

// Prints a CA_descriptor: CA system, ECM or EMM PID, private bytes.
int TS_Descriptor_PrintConditionalAccess(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_ConditionalAccessDescriptor *ca = &record->tConditionalAccess;
        TS_Text_Printf("[D Conditional access] L:%d CASID:%X R:%d CAPID:0x%04X\n  ", record->descriptor_length,
                       ca->CA_system_ID, ca->reserved, ca->CA_PID);
        TS_Text_PrintBytes(ca->private_data_byte, TS_Descriptor_TrailingCount(record->descriptor_length));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_CONDITIONAL_ACCESS, text);
}

// Prints an ISO 639 language descriptor, one line per entry.
int TS_Descriptor_PrintISO639Language(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        TS_Text_Puts("[D ISO 639 language]");
        const int count = record->descriptor_length / 4;
        for (int i = 0; i < count; ++i) {
            const TS_ISO639LanguageEntry *language = &record->tISO639Language.ltEntry[i];
            TS_Text_Printf("  <%d> ILC:%d AT:%d\n", i, int(language->ISO_639_language_code), language->audio_type);
        }
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_ISO_639_LANGUAGE, text);
}

// Prints a system clock descriptor.
int TS_Descriptor_PrintSystemClock(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_SystemClockDescriptor *clock = &record->tSystemClock;
        TS_Text_Printf("[D System clock] ECRI:%d R1:%d CAI:%d CAE:%d R2:%d\n",
                       clock->external_clock_reference_indicator, clock->reserved1, clock->clock_accuracy_integer,
                       clock->clock_accuracy_exponent, clock->reserved2);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_SYSTEM_CLOCK, text);
}

// Prints a multiplex buffer utilization descriptor.
int TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_MultiplexBufferUtilizationDescriptor *buffer = &record->tMultiplexBufferUtilization;
        TS_Text_Printf("[D Multiplex buffer utilization] BVF:%d LOLB:%d R:%d LOUB:%d\n", buffer->bound_valid_flag,
                       buffer->LTW_offset_lower_bound, buffer->reserved, buffer->LTW_offset_upper_bound);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, text);
}

// Prints a copyright descriptor and dumps its additional copyright bytes.
int TS_Descriptor_PrintCopyright(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_CopyrightDescriptor *copyright = &record->tCopyright;
        TS_Text_Printf("[D Copyright] CI:%d\n  ", int(copyright->copyright_identifier));
        TS_Text_PrintBytes(copyright->additional_copyright_info,
                           TS_Descriptor_TrailingCount(record->descriptor_length));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_COPYRIGHT, text);
}

// Prints a maximum bitrate descriptor.
int TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        TS_Text_Printf("[D Maximum bitrate] R:%d MB:%d\n", record->tMaximumBitrate.reserved,
                       int(record->tMaximumBitrate.maximum_bitrate));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_MAXIMUM_BITRATE, text);
}

// Prints a private data indicator descriptor.
int TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        TS_Text_Printf("[D Private data indicator] PD:%d\n", int(record->tPrivateDataIndicator.private_data_indicator));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_PRIVATE_DATA_INDICATOR, text);
}

// Prints a smoothing buffer descriptor.
int TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_SmoothingBufferDescriptor *smoothing = &record->tSmoothingBuffer;
        TS_Text_Printf("[D Smoothing buffer] R1:%d SLR:%d R2:%d SS:%d\n", smoothing->reserved1,
                       int(smoothing->sb_leak_rate), smoothing->reserved2, int(smoothing->sb_size));
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_SMOOTHING_BUFFER, text);
}

// Prints an STD descriptor.
int TS_Descriptor_PrintSTD(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        TS_Text_Printf("[D STD] R:%d LVF:%d\n", record->tSTD.reserved, record->tSTD.leak_valid_flag);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_STD, text);
}

// Prints an IBP descriptor.
int TS_Descriptor_PrintIBP(const TS_Descriptor *descriptor)
{
    const auto text = [](const TS_Descriptor *record) {
        const TS_IBPDescriptor *ibp = &record->tIBP;
        TS_Text_Printf("[D IBP] CGF:%d IGF:%d MGL:%d\n", ibp->closed_gop_flag, ibp->identical_gop_flag,
                       ibp->max_gop_length);
    };
    return TS_Descriptor_PrintKind(descriptor, TS_TAG_IBP, text);
}
