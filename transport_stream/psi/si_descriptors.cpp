// The descriptors of the EIT's events and of the TOT (EN 300 468 6.2, ARIB STD-B10), decoded into
// the C++ records of si_tables.h, and their descriptor loops. Unlike the fixed records of the
// descriptors layer, these hold texts and loops of any length.
//
// Every body is read through a bounds-checked reader over exactly descriptor_length bytes: a
// field past the body reads 0, and a text whose declared length reaches past the body keeps the
// bytes that are there. Loops of fixed-size entries take whole entries only.
#include <pidsift/si_tables.h>

#include "common/bytes.h"
#include "psi/si.h"

namespace pidsift {

namespace {

// The next count bytes, or as many as are left.
std::vector<u8> TakeBytes(TS_ByteReader *body, u32 count)
{
    const TS_ByteReader part = body->Take(count);
    return std::vector<u8>(part.Begin(), part.End());
}

std::vector<u8> Rest(TS_ByteReader *body) { return TakeBytes(body, body->Remaining()); }

ShortEventDescriptor ReadShortEvent(TS_ByteReader body)
{
    ShortEventDescriptor descriptor;
    descriptor.ISO_639_language_code = Read24(&body);
    descriptor.event_name_length = body.Read8();
    descriptor.event_name = TakeBytes(&body, descriptor.event_name_length);
    descriptor.text_length = body.Read8();
    descriptor.text = TakeBytes(&body, descriptor.text_length);
    return descriptor;
}

// Items start inside length_of_items; the text follows where length_of_items says it does.
ExtendedEventDescriptor ReadExtendedEvent(TS_ByteReader body)
{
    ExtendedEventDescriptor descriptor;
    const u8 numbers = body.Read8();
    descriptor.descriptor_number = u8(numbers >> 4);
    descriptor.last_descriptor_number = u8(numbers & 0x0F);
    descriptor.ISO_639_language_code = Read24(&body);
    descriptor.length_of_items = body.Read8();
    TS_ByteReader items = body.Take(descriptor.length_of_items);
    while (items.Remaining() > 0) {
        ExtendedEventItem item;
        item.item_description_length = items.Read8();
        item.item_description = TakeBytes(&items, item.item_description_length);
        item.item_length = items.Read8();
        item.item = TakeBytes(&items, item.item_length);
        descriptor.items.push_back(std::move(item));
    }
    descriptor.text_length = body.Read8();
    descriptor.text = TakeBytes(&body, descriptor.text_length);
    return descriptor;
}

ComponentDescriptor ReadComponent(TS_ByteReader body)
{
    ComponentDescriptor descriptor;
    const u8 content = body.Read8();
    descriptor.stream_content_ext = u8(content >> 4);
    descriptor.stream_content = u8(content & 0x0F);
    descriptor.component_type = body.Read8();
    descriptor.component_tag = body.Read8();
    descriptor.ISO_639_language_code = Read24(&body);
    descriptor.text = Rest(&body);
    return descriptor;
}

ContentDescriptor ReadContent(TS_ByteReader body)
{
    ContentDescriptor descriptor;
    while (body.Remaining() >= 2) {
        const u8 nibbles = body.Read8();
        const u8 user = body.Read8();
        descriptor.entries.push_back({u8(nibbles >> 4), u8(nibbles & 0x0F), u8(user >> 4), u8(user & 0x0F)});
    }
    return descriptor;
}

ParentalRatingDescriptor ReadParentalRating(TS_ByteReader body)
{
    ParentalRatingDescriptor descriptor;
    while (body.Remaining() >= 4) {
        ParentalRatingEntry entry;
        entry.country_code = Read24(&body);
        entry.rating = body.Read8();
        descriptor.entries.push_back(entry);
    }
    return descriptor;
}

LocalTimeOffsetDescriptor ReadLocalTimeOffset(TS_ByteReader body)
{
    LocalTimeOffsetDescriptor descriptor;
    while (body.Remaining() >= 13) {
        LocalTimeOffsetEntry entry;
        entry.country_code = Read24(&body);
        const u8 region = body.Read8();
        entry.country_region_id = u8(region >> 2);
        entry.reserved = u8((region >> 1) & 0x01);
        entry.local_time_offset_polarity = u8(region & 0x01);
        entry.local_time_offset = body.Read16();
        entry.time_of_change = ReadSiTime(&body);
        entry.next_time_offset = body.Read16();
        descriptor.entries.push_back(entry);
    }
    return descriptor;
}

AudioComponentDescriptor ReadAudioComponent(TS_ByteReader body)
{
    AudioComponentDescriptor descriptor;
    const u8 content = body.Read8();
    descriptor.reserved_future_use = u8(content >> 4);
    descriptor.stream_content = u8(content & 0x0F);
    descriptor.component_type = body.Read8();
    descriptor.component_tag = body.Read8();
    descriptor.stream_type = body.Read8();
    descriptor.simulcast_group_tag = body.Read8();
    const u8 flags = body.Read8();
    descriptor.ES_multi_lingual_flag = u8(flags >> 7);
    descriptor.main_component_flag = u8((flags >> 6) & 0x01);
    descriptor.quality_indicator = u8((flags >> 4) & 0x03);
    descriptor.sampling_rate = u8((flags >> 1) & 0x07);
    descriptor.reserved_future_use2 = u8(flags & 0x01);
    descriptor.ISO_639_language_code = Read24(&body);
    if (descriptor.ES_multi_lingual_flag)
        descriptor.ISO_639_language_code_2 = Read24(&body);
    descriptor.text = Rest(&body);
    return descriptor;
}

// group_type 4 and 5 (relay and move to another network) list the events of other networks
// behind the group's own; the other types end in private data.
EventGroupDescriptor ReadEventGroup(TS_ByteReader body)
{
    EventGroupDescriptor descriptor;
    const u8 lead = body.Read8();
    descriptor.group_type = u8(lead >> 4);
    descriptor.event_count = u8(lead & 0x0F);
    for (u8 i = 0; i < descriptor.event_count && body.Remaining() >= 4; ++i) {
        EventGroupEvent event;
        event.service_id = body.Read16();
        event.event_id = body.Read16();
        descriptor.events.push_back(event);
    }
    if (descriptor.group_type == 4 || descriptor.group_type == 5) {
        while (body.Remaining() >= 8) {
            EventGroupOtherNetworkEvent event;
            event.original_network_id = body.Read16();
            event.transport_stream_id = body.Read16();
            event.service_id = body.Read16();
            event.event_id = body.Read16();
            descriptor.other_network_events.push_back(event);
        }
    } else {
        descriptor.private_data_byte = Rest(&body);
    }
    return descriptor;
}

void Decode(SiDescriptor *descriptor)
{
    const TS_ByteReader body(descriptor->body.data(), u32(descriptor->body.size()));
    switch (descriptor->descriptor_tag) {
    case SI_TAG_SHORT_EVENT:
        descriptor->decoded = ReadShortEvent(body);
        break;
    case SI_TAG_EXTENDED_EVENT:
        descriptor->decoded = ReadExtendedEvent(body);
        break;
    case SI_TAG_COMPONENT:
        descriptor->decoded = ReadComponent(body);
        break;
    case SI_TAG_CONTENT:
        descriptor->decoded = ReadContent(body);
        break;
    case SI_TAG_PARENTAL_RATING:
        descriptor->decoded = ReadParentalRating(body);
        break;
    case SI_TAG_LOCAL_TIME_OFFSET:
        descriptor->decoded = ReadLocalTimeOffset(body);
        break;
    case SI_TAG_AUDIO_COMPONENT:
        descriptor->decoded = ReadAudioComponent(body);
        break;
    case SI_TAG_EVENT_GROUP:
        descriptor->decoded = ReadEventGroup(body);
        break;
    default:
        break;
    }
}

}  // namespace

std::vector<SiDescriptor> DecodeSiDescriptors(const u8 *loop, size_t size, const u8 *section_end)
{
    std::vector<SiDescriptor> descriptors;
    if (loop == nullptr || section_end == nullptr || section_end < loop)
        return descriptors;
    // The rest of the section from the loop on; the loop is the first size bytes of it.
    TS_ByteReader section(loop, u32(section_end - loop));
    const u32 loop_size = size < section.Size() ? u32(size) : section.Size();
    while (section.Offset() < loop_size) {
        // Tag and length must be in the section, and so must the whole body.
        if (section.Remaining() < 2 || section.Remaining() - 2 < section.Here()[1])
            break;
        SiDescriptor descriptor;
        descriptor.descriptor_tag = section.Read8();
        descriptor.descriptor_length = section.Read8();
        const TS_ByteReader body = section.Take(descriptor.descriptor_length);
        descriptor.body.assign(body.Begin(), body.End());
        Decode(&descriptor);
        descriptors.push_back(std::move(descriptor));
    }
    return descriptors;
}

}  // namespace pidsift
