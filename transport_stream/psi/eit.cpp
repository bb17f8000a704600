// Event information section decoding (the EIT of EN 300 468 5.2.4 and ARIB STD-B10): the events
// of one service with their descriptors, and what the drivers read from an event.
#include <pidsift/si_tables.h>

#include "psi/section.h"
#include "psi/si.h"

namespace pidsift {

namespace {

// The fixed part of an event: event_id, start_time, duration, and the two bytes of
// running_status, free_CA_mode and descriptors_loop_length.
constexpr u32 kEventFixedBytes = 12;

// One entry of the event loop; the reader is left where descriptors_loop_length says the next
// entry starts.
EitEvent ReadEvent(TS_ByteReader *section)
{
    EitEvent event;
    event.event_id = section->Read16();
    event.start_time = ReadSiTime(section);
    event.duration = DecodeSiDuration(Read24(section));
    const u16 status = section->Read16();
    event.running_status = u8(status >> 13);
    event.free_CA_mode = u8((status >> 12) & 0x01);
    event.descriptors_loop_length = u16(status & 0x0FFF);
    const TS_ByteReader loop = section->Take(event.descriptors_loop_length);
    event.descriptors = DecodeSiDescriptors(loop.Begin(), loop.Size(), section->End());
    return event;
}

}  // namespace

int DecodeEit(Eit *eit, const u8 *section, size_t length)
{
    // The eight header bytes, the six of the fixed fields and the CRC_32.
    TS_ByteReader reader;
    const int opened = TS_Section_Open(eit, section, length, IsEitTableId, 18, &reader);
    if (opened != 0)
        return opened;
    Eit decoded;
    const TS_SectionHeader header = TS_Section_ReadHeader(&decoded, &reader, TS_SectionForm::Long);
    decoded.section_length = header.section_length;
    decoded.service_id = header.table_id_extension;
    decoded.transport_stream_id = reader.Read16();
    decoded.original_network_id = reader.Read16();
    decoded.segment_last_section_number = reader.Read8();
    decoded.last_table_id = reader.Read8();
    // An event starts before the CRC_32 and has its fixed bytes in the section.
    while (TS_Section_LoopLength(header, reader) > 0 && reader.Remaining() >= kEventFixedBytes)
        decoded.events.push_back(ReadEvent(&reader));
    decoded.CRC_32 = TS_Section_ReadDeclaredCRC(header, reader);
    *eit = std::move(decoded);
    return 0;
}

const ShortEventDescriptor *FindShortEvent(const EitEvent &event)
{
    for (const SiDescriptor &descriptor : event.descriptors)
        if (const auto *short_event = std::get_if<ShortEventDescriptor>(&descriptor.decoded))
            return short_event;
    return nullptr;
}

std::vector<ContentEntry> EventGenres(const EitEvent &event)
{
    std::vector<ContentEntry> genres;
    for (const SiDescriptor &descriptor : event.descriptors)
        if (const auto *content = std::get_if<ContentDescriptor>(&descriptor.decoded))
            genres.insert(genres.end(), content->entries.begin(), content->entries.end());
    return genres;
}

ExtendedEventText JoinExtendedEvents(const std::vector<SiDescriptor> &descriptors)
{
    ExtendedEventText joined;
    // The first descriptor of each number, in the language of the first of all.
    const ExtendedEventDescriptor *by_number[16] = {};
    u8 last = 0;
    for (const SiDescriptor &descriptor : descriptors) {
        const auto *extended = std::get_if<ExtendedEventDescriptor>(&descriptor.decoded);
        if (extended == nullptr)
            continue;
        if (!joined.present) {
            joined.present = true;
            joined.ISO_639_language_code = extended->ISO_639_language_code;
            last = extended->last_descriptor_number;
        }
        if (extended->ISO_639_language_code == joined.ISO_639_language_code &&
            by_number[extended->descriptor_number] == nullptr)
            by_number[extended->descriptor_number] = extended;
    }
    if (!joined.present)
        return joined;
    joined.complete = true;
    for (u8 number = 0; number <= last; ++number)
        joined.complete = joined.complete && by_number[number] != nullptr;
    for (const ExtendedEventDescriptor *extended : by_number) {
        if (extended == nullptr)
            continue;
        for (const ExtendedEventItem &item : extended->items) {
            if (item.item_description.empty() && !joined.items.empty()) {
                std::vector<u8> &continued = joined.items.back().item;
                continued.insert(continued.end(), item.item.begin(), item.item.end());
            } else {
                joined.items.push_back({item.item_description, item.item});
            }
        }
        joined.text.insert(joined.text.end(), extended->text.begin(), extended->text.end());
    }
    return joined;
}

}  // namespace pidsift
