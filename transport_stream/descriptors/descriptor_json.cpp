// JSON forms of decoded descriptors: dispatch by tag through the table of kinds, the raw form,
// and the forms of the kinds with a body of their own (tags 0x02 to 0x12). Every descriptor is
// one object: "tag", "length", "name", then its fields under their syntax element names in
// lower case. Reserved bits are left out.
#include "descriptors/descriptors.h"

namespace {

// Writes the fields of a kind's record into its object.
using TS_DescriptorFieldsJSON = void (*)(TS_Json *json, const TS_Descriptor *record);

void TS_Descriptor_OpenJSON(TS_Json *json, const TS_Descriptor *descriptor, const char *name)
{
    TS_Json_ObjectBegin(json);
    TS_Json_NumberField(json, "tag", descriptor->descriptor_tag);
    TS_Json_NumberField(json, "length", descriptor->descriptor_length);
    TS_Json_Key(json, "name");
    // A tag without a name has none in JSON, rather than the text's "?".
    if (name[0] == '?' && name[1] == '\0')
        TS_Json_Null(json);
    else
        TS_Json_String(json, name);
}

// What every kind's JSON form does around its fields: -1 for a null pointer, -2 for a record of
// another kind (nothing written), else 0 with the object written.
int TS_Descriptor_KindJSON(TS_Json *json, const TS_Descriptor *descriptor, u8 tag, const char *name,
                           TS_DescriptorFieldsJSON fields)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != tag)
        return -2;
    TS_Descriptor_OpenJSON(json, descriptor, name);
    fields(json, descriptor);
    TS_Json_ObjectEnd(json);
    return 0;
}

}  // namespace

int TS_Descriptor_PrintJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    TS_DescriptorKind_For(descriptor->descriptor_tag).pfnJSON(json, descriptor);
    return 0;
}

// Any descriptor: its name from the table of tags, and its body bytes.
int TS_Descriptor_PrintRAWJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    char name[256];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    TS_Descriptor_OpenJSON(json, descriptor, name);
    TS_Json_HexField(json, "bytes", descriptor->lu8Raw, descriptor->descriptor_length);
    TS_Json_ObjectEnd(json);
    return 0;
}

// The MPEG-2 fields only when the descriptor has them (MPEG_1_only_flag clear).
int TS_Descriptor_PrintVideoStreamJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_VideoStreamDescriptor *video = &record->tVideoStream;
        TS_Json_NumberField(out, "multiple_frame_rate_flag", video->multiple_frame_rate_flag);
        TS_Json_NumberField(out, "frame_rate_code", video->frame_rate_code);
        TS_Json_NumberField(out, "mpeg_1_only_flag", video->MPEG_1_only_flag);
        TS_Json_NumberField(out, "constrained_parameter_flag", video->constrained_parameter_flag);
        TS_Json_NumberField(out, "still_picture_flag", video->still_picture_flag);
        if (video->MPEG_1_only_flag == 0) {
            TS_Json_NumberField(out, "profile_and_level_indication", video->profile_and_level_indication);
            TS_Json_NumberField(out, "chroma_format", video->chroma_format);
            TS_Json_NumberField(out, "frame_rate_extension_flag", video->frame_rate_extension_flag);
        }
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_VIDEO_STREAM, "Video stream", fields);
}

int TS_Descriptor_PrintAudioStreamJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_AudioStreamDescriptor *audio = &record->tAudioStream;
        TS_Json_NumberField(out, "free_format_flag", audio->free_format_flag);
        TS_Json_NumberField(out, "id", audio->ID);
        TS_Json_NumberField(out, "layer", audio->layer);
        TS_Json_NumberField(out, "variable_rate_audio_indicator", audio->variable_rate_audio_indicator);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_AUDIO_STREAM, "Audio stream", fields);
}

int TS_Descriptor_PrintHierarchyJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_HierarchyDescriptor *hierarchy = &record->tHierarchy;
        TS_Json_NumberField(out, "hierarchy_type", hierarchy->hierarchy_type);
        TS_Json_NumberField(out, "hierarchy_layer_index", hierarchy->hierarchy_layer_index);
        TS_Json_NumberField(out, "hierarchy_embedded_layer_index", hierarchy->hierarchy_embedded_layer_index);
        TS_Json_NumberField(out, "hierarchy_channel", hierarchy->hierarchy_channel);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_HIERARCHY, "Hierarchy", fields);
}

int TS_Descriptor_PrintRegistrationJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_RegistrationDescriptor *registration = &record->tRegistration;
        TS_Json_NumberField(out, "format_identifier", registration->format_identifier);
        TS_Json_HexField(out, "additional_identification_info", registration->additional_identification_info,
                         size_t(TS_Descriptor_TrailingCount(record->descriptor_length)));
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_REGISTRATION, "Registration", fields);
}

int TS_Descriptor_PrintDataStreamAlignmentJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_NumberField(out, "alignment_type", record->tDataStreamAlignment.alignment_type);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_DATA_STREAM_ALIGNMENT, "Data stream alignment", fields);
}

int TS_Descriptor_PrintTargetBackgroundGridJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_TargetBackgroundGridDescriptor *grid = &record->tTargetBackgroundGrid;
        TS_Json_NumberField(out, "horizontal_size", grid->horizontal_size);
        TS_Json_NumberField(out, "vertical_size", grid->vertical_size);
        TS_Json_NumberField(out, "aspect_ratio_information", grid->aspect_ratio_information);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_TARGET_BACKGROUND_GRID, "Target background grid", fields);
}

int TS_Descriptor_PrintVideoWindowJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_VideoWindowDescriptor *window = &record->tVideoWindow;
        TS_Json_NumberField(out, "horizontal_offset", window->horizontal_offset);
        TS_Json_NumberField(out, "vertical_offset", window->vertical_offset);
        TS_Json_NumberField(out, "window_priority", window->window_priority);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_VIDEO_WINDOW, "Video window", fields);
}

// The ECM PID in a PMT, the EMM PID in the CAT.
int TS_Descriptor_PrintConditionalAccessJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_ConditionalAccessDescriptor *ca = &record->tConditionalAccess;
        TS_Json_NumberField(out, "ca_system_id", ca->CA_system_ID);
        TS_Json_NumberField(out, "ca_pid", ca->CA_PID);
        TS_Json_HexField(out, "private_data_byte", ca->private_data_byte,
                         size_t(TS_Descriptor_TrailingCount(record->descriptor_length)));
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_CONDITIONAL_ACCESS, "Conditional access", fields);
}

// One entry per whole 4 bytes of descriptor_length. The code is three ISO 8859-1 letters,
// written as the string they spell ("jpn", "eng"); see text/json.h for bytes past ASCII.
int TS_Descriptor_PrintISO639LanguageJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_Key(out, "languages");
        TS_Json_ArrayBegin(out);
        const int count = record->descriptor_length / 4;
        for (int i = 0; i < count; ++i) {
            const TS_ISO639LanguageEntry *language = &record->tISO639Language.ltEntry[i];
            const u32 code = language->ISO_639_language_code;
            const u8 letters[3] = {u8(code >> 16), u8(code >> 8), u8(code)};
            TS_Json_ObjectBegin(out);
            TS_Json_Key(out, "iso_639_language_code");
            TS_Json_StringBytes(out, letters, sizeof letters);
            TS_Json_NumberField(out, "audio_type", language->audio_type);
            TS_Json_ObjectEnd(out);
        }
        TS_Json_ArrayEnd(out);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_ISO_639_LANGUAGE, "ISO 639 language", fields);
}

int TS_Descriptor_PrintSystemClockJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_SystemClockDescriptor *clock = &record->tSystemClock;
        TS_Json_NumberField(out, "external_clock_reference_indicator", clock->external_clock_reference_indicator);
        TS_Json_NumberField(out, "clock_accuracy_integer", clock->clock_accuracy_integer);
        TS_Json_NumberField(out, "clock_accuracy_exponent", clock->clock_accuracy_exponent);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_SYSTEM_CLOCK, "System clock", fields);
}

int TS_Descriptor_PrintMultiplexBufferUtilizationJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_MultiplexBufferUtilizationDescriptor *buffer = &record->tMultiplexBufferUtilization;
        TS_Json_NumberField(out, "bound_valid_flag", buffer->bound_valid_flag);
        TS_Json_NumberField(out, "ltw_offset_lower_bound", buffer->LTW_offset_lower_bound);
        TS_Json_NumberField(out, "ltw_offset_upper_bound", buffer->LTW_offset_upper_bound);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_MULTIPLEX_BUFFER_UTILIZATION, "Multiplex buffer utilization",
                                  fields);
}

int TS_Descriptor_PrintCopyrightJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_CopyrightDescriptor *copyright = &record->tCopyright;
        TS_Json_NumberField(out, "copyright_identifier", copyright->copyright_identifier);
        TS_Json_HexField(out, "additional_copyright_info", copyright->additional_copyright_info,
                         size_t(TS_Descriptor_TrailingCount(record->descriptor_length)));
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_COPYRIGHT, "Copyright", fields);
}

int TS_Descriptor_PrintMaximumBitrateJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_NumberField(out, "maximum_bitrate", record->tMaximumBitrate.maximum_bitrate);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_MAXIMUM_BITRATE, "Maximum bitrate", fields);
}

int TS_Descriptor_PrintPrivateDataIndicatorJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_NumberField(out, "private_data_indicator", record->tPrivateDataIndicator.private_data_indicator);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_PRIVATE_DATA_INDICATOR, "Private data indicator", fields);
}

int TS_Descriptor_PrintSmoothingBufferJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_NumberField(out, "sb_leak_rate", record->tSmoothingBuffer.sb_leak_rate);
        TS_Json_NumberField(out, "sb_size", record->tSmoothingBuffer.sb_size);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_SMOOTHING_BUFFER, "Smoothing buffer", fields);
}

int TS_Descriptor_PrintSTDJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        TS_Json_NumberField(out, "leak_valid_flag", record->tSTD.leak_valid_flag);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_STD, "STD", fields);
}

int TS_Descriptor_PrintIBPJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    const auto fields = [](TS_Json *out, const TS_Descriptor *record) {
        const TS_IBPDescriptor *ibp = &record->tIBP;
        TS_Json_NumberField(out, "closed_gop_flag", ibp->closed_gop_flag);
        TS_Json_NumberField(out, "identical_gop_flag", ibp->identical_gop_flag);
        TS_Json_NumberField(out, "max_gop_length", ibp->max_gop_length);
    };
    return TS_Descriptor_KindJSON(json, descriptor, TS_TAG_IBP, "IBP", fields);
}
