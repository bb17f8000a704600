// Text and JSON forms of the descriptors of the EIT and TOT, and of their times.
#include <cstdio>
#include <type_traits>

#include <pidsift/si_tables.h>

#include "psi/print.h"
#include "psi/si.h"

namespace pidsift {

namespace {

void TextJSON(TS_Json *json, const char *key, const std::vector<u8> &bytes, int family)
{
    TS_SI_PrintTextJSON(json, key, bytes.data(), bytes.size(), family);
}

void NameOrNull(TS_Json *json, const char *key, const char *name)
{
    TS_Json_Key(json, key);
    if (name != nullptr)
        TS_Json_String(json, name);
    else
        TS_Json_Null(json);
}

// The audio component and event group descriptors are ARIB's; in DVB their tags are the
// broadcasters' own, and such a descriptor is shown as its bytes.
bool Shown(const SiDescriptor &descriptor, int family)
{
    const bool arib_only =
        descriptor.descriptor_tag == SI_TAG_AUDIO_COMPONENT || descriptor.descriptor_tag == SI_TAG_EVENT_GROUP;
    return !std::holds_alternative<std::monostate>(descriptor.decoded) && (!arib_only || family == TS_TEXT_ARIB);
}

// "0x10(Movie/Drama: movie/drama (general))": the nibbles and the names the family has.
std::string GenreText(const ContentEntry &entry, int family)
{
    const char *level_1 = ContentLevel1Name(entry.content_nibble_level_1, family);
    const char *level_2 = ContentLevel2Name(entry.content_nibble_level_1, entry.content_nibble_level_2, family);
    char nibbles[16];
    snprintf(nibbles, sizeof nibbles, "0x%X%X,0x%X%X", entry.content_nibble_level_1, entry.content_nibble_level_2,
             entry.user_nibble_1, entry.user_nibble_2);
    std::string text = std::string(nibbles) + "(" + (level_1 != nullptr ? level_1 : "?");
    if (level_2 != nullptr)
        text += std::string(": ") + level_2;
    return text + ")";
}

void PrintBytes(TS_Sink *out, const char *key, const std::vector<u8> &bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    for (const u8 byte : bytes) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    TS_Text_Printf(out, " %s:%s", key, hex.c_str());
}

void PrintText(TS_Sink *out, const char *key, const std::vector<u8> &bytes, int family)
{
    TS_SI_PrintText(out, key, bytes.data(), bytes.size(), family);
}

// ---- Text, one kind a function ----

void PrintKind(TS_Sink *out, const ShortEventDescriptor &d, int family)
{
    TS_Text_Printf(out, "ShortEvent Lang:%s ENL:%d TL:%d", CodeText(d.ISO_639_language_code).c_str(),
                   d.event_name_length, d.text_length);
    PrintText(out, "Name", d.event_name, family);
    PrintText(out, "Text", d.text, family);
}

// The items' texts come joined with those of the event's other extended event descriptors
// (the event's line "Extended"): an ARIB item may be cut anywhere between two descriptors.
void PrintKind(TS_Sink *out, const ExtendedEventDescriptor &d, int)
{
    TS_Text_Printf(out, "ExtendedEvent DN:%d LDN:%d Lang:%s LOI:%d Items:%d TL:%d", d.descriptor_number,
                   d.last_descriptor_number, CodeText(d.ISO_639_language_code).c_str(), d.length_of_items,
                   int(d.items.size()), d.text_length);
}

void PrintKind(TS_Sink *out, const ComponentDescriptor &d, int family)
{
    TS_Text_Printf(out, "Component SCE:0x%X SC:0x%X CT:0x%02X CTAG:0x%02X Lang:%s", d.stream_content_ext,
                   d.stream_content, d.component_type, d.component_tag, CodeText(d.ISO_639_language_code).c_str());
    PrintText(out, "Text", d.text, family);
}

void PrintKind(TS_Sink *out, const ContentDescriptor &d, int family)
{
    TS_Text_Printf(out, "Content Genres:%d", int(d.entries.size()));
    for (const ContentEntry &entry : d.entries)
        TS_Text_Printf(out, " %s", GenreText(entry, family).c_str());
}

void PrintKind(TS_Sink *out, const ParentalRatingDescriptor &d, int)
{
    TS_Text_Printf(out, "ParentalRating Ratings:%d", int(d.entries.size()));
    for (const ParentalRatingEntry &entry : d.entries) {
        TS_Text_Printf(out, " %s:0x%02X", CodeText(entry.country_code).c_str(), entry.rating);
        // 0x01 to 0x0F: a minimum age of rating + 3; 0 undefined, the rest the broadcaster's.
        if (entry.rating >= 0x01 && entry.rating <= 0x0F)
            TS_Text_Printf(out, "(minimum age %d)", entry.rating + 3);
    }
}

void PrintKind(TS_Sink *out, const LocalTimeOffsetDescriptor &d, int family)
{
    TS_Text_Printf(out, "LocalTimeOffset Entries:%d", int(d.entries.size()));
    for (const LocalTimeOffsetEntry &entry : d.entries)
        TS_Text_Printf(out, "\n      CC:%s CRI:%d LTOP:%d LTO:%s TOC:%s NTO:%s", CodeText(entry.country_code).c_str(),
                       entry.country_region_id, entry.local_time_offset_polarity,
                       OffsetText(entry.local_time_offset_polarity, entry.local_time_offset).c_str(),
                       TimeText(entry.time_of_change, family).c_str(),
                       OffsetText(entry.local_time_offset_polarity, entry.next_time_offset).c_str());
}

void PrintKind(TS_Sink *out, const AudioComponentDescriptor &d, int family)
{
    TS_Text_Printf(out,
                   "AudioComponent SC:0x%X CT:0x%02X CTAG:0x%02X ST:0x%02X SGT:0x%02X MLF:%d MCF:%d QI:%d SR:%d "
                   "Lang:%s",
                   d.stream_content, d.component_type, d.component_tag, d.stream_type, d.simulcast_group_tag,
                   d.ES_multi_lingual_flag, d.main_component_flag, d.quality_indicator, d.sampling_rate,
                   CodeText(d.ISO_639_language_code).c_str());
    if (d.ES_multi_lingual_flag)
        TS_Text_Printf(out, " Lang2:%s", CodeText(d.ISO_639_language_code_2).c_str());
    PrintText(out, "Text", d.text, family);
}

void PrintKind(TS_Sink *out, const EventGroupDescriptor &d, int)
{
    TS_Text_Printf(out, "EventGroup GT:%d EC:%d", d.group_type, d.event_count);
    for (const EventGroupEvent &event : d.events)
        TS_Text_Printf(out, " SID:%d,EID:%d", event.service_id, event.event_id);
    for (const EventGroupOtherNetworkEvent &event : d.other_network_events)
        TS_Text_Printf(out, " ONID:%d,TSID:%d,SID:%d,EID:%d", event.original_network_id, event.transport_stream_id,
                       event.service_id, event.event_id);
    if (!d.private_data_byte.empty())
        PrintBytes(out, "PD", d.private_data_byte);
}

// ---- JSON, one kind a function ----

void KindJSON(TS_Json *json, const ShortEventDescriptor &d, int family)
{
    CodeJSON(json, "iso_639_language_code", d.ISO_639_language_code);
    TS_Json_NumberField(json, "event_name_length", d.event_name_length);
    TextJSON(json, "event_name", d.event_name, family);
    TS_Json_NumberField(json, "text_length", d.text_length);
    TextJSON(json, "text", d.text, family);
}

// The items' bytes only: their texts are decoded joined (the event's "extended_event").
void KindJSON(TS_Json *json, const ExtendedEventDescriptor &d, int)
{
    TS_Json_NumberField(json, "descriptor_number", d.descriptor_number);
    TS_Json_NumberField(json, "last_descriptor_number", d.last_descriptor_number);
    CodeJSON(json, "iso_639_language_code", d.ISO_639_language_code);
    TS_Json_NumberField(json, "length_of_items", d.length_of_items);
    TS_Json_ObjectArrayField(json, "items", u32(d.items.size()), [&](u32 i) {
        const ExtendedEventItem &item = d.items[i];
        TS_Json_NumberField(json, "item_description_length", item.item_description_length);
        TS_Json_HexField(json, "item_description_bytes", item.item_description.data(), item.item_description.size());
        TS_Json_NumberField(json, "item_length", item.item_length);
        TS_Json_HexField(json, "item_bytes", item.item.data(), item.item.size());
    });
    TS_Json_NumberField(json, "text_length", d.text_length);
    TS_Json_HexField(json, "text_bytes", d.text.data(), d.text.size());
}

void KindJSON(TS_Json *json, const ComponentDescriptor &d, int family)
{
    TS_Json_NumberField(json, "stream_content_ext", d.stream_content_ext);
    TS_Json_NumberField(json, "stream_content", d.stream_content);
    TS_Json_NumberField(json, "component_type", d.component_type);
    TS_Json_NumberField(json, "component_tag", d.component_tag);
    CodeJSON(json, "iso_639_language_code", d.ISO_639_language_code);
    TextJSON(json, "text", d.text, family);
}

void GenresJSON(TS_Json *json, const char *key, const std::vector<ContentEntry> &entries, int family)
{
    TS_Json_ObjectArrayField(json, key, u32(entries.size()), [&](u32 i) {
        const ContentEntry &entry = entries[i];
        TS_Json_NumberField(json, "content_nibble_level_1", entry.content_nibble_level_1);
        TS_Json_NumberField(json, "content_nibble_level_2", entry.content_nibble_level_2);
        TS_Json_NumberField(json, "user_nibble_1", entry.user_nibble_1);
        TS_Json_NumberField(json, "user_nibble_2", entry.user_nibble_2);
        NameOrNull(json, "level_1_name", ContentLevel1Name(entry.content_nibble_level_1, family));
        NameOrNull(json, "level_2_name",
                   ContentLevel2Name(entry.content_nibble_level_1, entry.content_nibble_level_2, family));
    });
}

void KindJSON(TS_Json *json, const ContentDescriptor &d, int family) { GenresJSON(json, "entries", d.entries, family); }

void KindJSON(TS_Json *json, const ParentalRatingDescriptor &d, int)
{
    TS_Json_ObjectArrayField(json, "entries", u32(d.entries.size()), [&](u32 i) {
        CodeJSON(json, "country_code", d.entries[i].country_code);
        TS_Json_NumberField(json, "rating", d.entries[i].rating);
    });
}

void OffsetJSON(TS_Json *json, const char *key, u8 polarity, u16 bcd)
{
    int minutes = 0;
    TS_Json_Key(json, key);
    if (DecodeTimeOffset(polarity, bcd, &minutes))
        TS_Json_String(json, FormatOffset(minutes).c_str());
    else
        TS_Json_Null(json);
}

void KindJSON(TS_Json *json, const LocalTimeOffsetDescriptor &d, int family)
{
    TS_Json_ObjectArrayField(json, "entries", u32(d.entries.size()), [&](u32 i) {
        const LocalTimeOffsetEntry &entry = d.entries[i];
        CodeJSON(json, "country_code", entry.country_code);
        TS_Json_NumberField(json, "country_region_id", entry.country_region_id);
        TS_Json_NumberField(json, "local_time_offset_polarity", entry.local_time_offset_polarity);
        OffsetJSON(json, "local_time_offset", entry.local_time_offset_polarity, entry.local_time_offset);
        PrintTimeJSON(json, "time_of_change", entry.time_of_change, family);
        OffsetJSON(json, "next_time_offset", entry.local_time_offset_polarity, entry.next_time_offset);
    });
}

void KindJSON(TS_Json *json, const AudioComponentDescriptor &d, int family)
{
    TS_Json_NumberField(json, "stream_content", d.stream_content);
    TS_Json_NumberField(json, "component_type", d.component_type);
    TS_Json_NumberField(json, "component_tag", d.component_tag);
    TS_Json_NumberField(json, "stream_type", d.stream_type);
    TS_Json_NumberField(json, "simulcast_group_tag", d.simulcast_group_tag);
    TS_Json_NumberField(json, "es_multi_lingual_flag", d.ES_multi_lingual_flag);
    TS_Json_NumberField(json, "main_component_flag", d.main_component_flag);
    TS_Json_NumberField(json, "quality_indicator", d.quality_indicator);
    TS_Json_NumberField(json, "sampling_rate", d.sampling_rate);
    CodeJSON(json, "iso_639_language_code", d.ISO_639_language_code);
    if (d.ES_multi_lingual_flag)
        CodeJSON(json, "iso_639_language_code_2", d.ISO_639_language_code_2);
    TextJSON(json, "text", d.text, family);
}

void KindJSON(TS_Json *json, const EventGroupDescriptor &d, int)
{
    TS_Json_NumberField(json, "group_type", d.group_type);
    TS_Json_NumberField(json, "event_count", d.event_count);
    TS_Json_ObjectArrayField(json, "events", u32(d.events.size()), [&](u32 i) {
        TS_Json_NumberField(json, "service_id", d.events[i].service_id);
        TS_Json_NumberField(json, "event_id", d.events[i].event_id);
    });
    if (d.group_type == 4 || d.group_type == 5) {
        TS_Json_ObjectArrayField(json, "other_network_events", u32(d.other_network_events.size()), [&](u32 i) {
            const EventGroupOtherNetworkEvent &event = d.other_network_events[i];
            TS_Json_NumberField(json, "original_network_id", event.original_network_id);
            TS_Json_NumberField(json, "transport_stream_id", event.transport_stream_id);
            TS_Json_NumberField(json, "service_id", event.service_id);
            TS_Json_NumberField(json, "event_id", event.event_id);
        });
    } else {
        TS_Json_HexField(json, "private_data_byte", d.private_data_byte.data(), d.private_data_byte.size());
    }
}

}  // namespace

std::string CodeText(u32 code)
{
    std::string text;
    for (int shift = 16; shift >= 0; shift -= 8) {
        const char letter = char((code >> shift) & 0xFF);
        text += letter >= 0x20 && letter < 0x7F ? letter : '?';
    }
    return text;
}

void CodeJSON(TS_Json *json, const char *key, u32 code)
{
    const u8 letters[3] = {u8(code >> 16), u8(code >> 8), u8(code)};
    TS_Json_Key(json, key);
    TS_Json_StringBytes(json, letters, sizeof letters);
}

void PrintSiDescriptor(TS_Sink *out, const SiDescriptor &descriptor, int family)
{
    TS_Text_Printf(out, "    ");
    if (Shown(descriptor, family)) {
        std::visit(
            [&](const auto &kind) {
                if constexpr (!std::is_same_v<std::decay_t<decltype(kind)>, std::monostate>)
                    PrintKind(out, kind, family);
            },
            descriptor.decoded);
    } else {
        TS_Text_Printf(out, "Descriptor 0x%02X(%s) DL:%d", descriptor.descriptor_tag,
                       TS_Name_DescriptorTag(descriptor.descriptor_tag), descriptor.descriptor_length);
        PrintBytes(out, "Data", descriptor.body);
    }
    TS_Text_Putchar(out, '\n');
}

void PrintSiDescriptorTags(TS_Sink *out, const std::vector<SiDescriptor> &descriptors)
{
    TS_Text_Printf(out, " DSC:%d", int(descriptors.size()));
    for (size_t i = 0; i < descriptors.size(); ++i)
        TS_Text_Printf(out, i == 0 ? " TAGS:0x%02X" : ",0x%02X", descriptors[i].descriptor_tag);
}

void PrintTimeJSON(TS_Json *json, const char *key, const SiTime &time, int family)
{
    TS_Json_Key(json, key);
    if (time.defined)
        TS_Json_String(json, FormatTime(time, family).c_str());
    else
        TS_Json_Null(json);
    PrintTimeBytesJSON(json, (std::string(key) + "_bytes").c_str(), time);
}

void PrintTimeBytesJSON(TS_Json *json, const char *key, const SiTime &time)
{
    const u8 bytes[5] = {u8(time.mjd >> 8), u8(time.mjd), u8(time.bcd >> 16), u8(time.bcd >> 8), u8(time.bcd)};
    TS_Json_HexField(json, key, bytes, sizeof bytes);
}

void PrintGenresJSON(TS_Json *json, const std::vector<ContentEntry> &genres, int family)
{
    GenresJSON(json, "genre", genres, family);
}

void PrintSiDescriptorsJSON(TS_Json *json, const std::vector<SiDescriptor> &descriptors, int family)
{
    TS_Json_Key(json, "descriptors");
    TS_Json_ArrayBegin(json);
    for (const SiDescriptor &descriptor : descriptors) {
        TS_Json_ObjectBegin(json);
        TS_Json_NumberField(json, "tag", descriptor.descriptor_tag);
        TS_Json_NumberField(json, "length", descriptor.descriptor_length);
        const char *name = TS_Name_DescriptorTag(descriptor.descriptor_tag);
        NameOrNull(json, "name", name[0] == '?' && name[1] == '\0' ? nullptr : name);
        if (Shown(descriptor, family)) {
            std::visit(
                [&](const auto &kind) {
                    if constexpr (!std::is_same_v<std::decay_t<decltype(kind)>, std::monostate>)
                        KindJSON(json, kind, family);
                },
                descriptor.decoded);
        } else {
            TS_Json_HexField(json, "bytes", descriptor.body.data(), descriptor.body.size());
        }
        TS_Json_ObjectEnd(json);
    }
    TS_Json_ArrayEnd(json);
}

}  // namespace pidsift
