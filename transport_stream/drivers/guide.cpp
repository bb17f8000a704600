// The present/following events and the broadcast clock of a recording, for the drivers.
#include "drivers/guide.h"

#include <algorithm>

namespace pidsift {

namespace {

bool SameEvent(const std::optional<EitEvent> &a, const std::optional<EitEvent> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    return a->event_id == b->event_id && a->start_time.mjd == b->start_time.mjd &&
           a->start_time.bcd == b->start_time.bcd && a->duration.bcd == b->duration.bcd;
}

std::optional<EitEvent> FirstEvent(const Eit &eit)
{
    if (eit.events.empty())
        return std::nullopt;
    return eit.events.front();
}

}  // namespace

bool SameEvents(const EventPair &a, const EventPair &b)
{
    return SameEvent(a.present, b.present) && SameEvent(a.following, b.following);
}

const ServiceEvents *EventGuide::Take(const Section &section, int transport_stream_id)
{
    // The section number sits in the long-form header, which a CRC_32 that checks vouches for.
    if (section.length < 18 || section.bytes[0] != kEitPresentFollowingActual || !section.crc_ok)
        return nullptr;
    // The header fields read where the long form puts them: service_id, current_next_indicator,
    // section_number, transport_stream_id.
    const u16 service_id = u16((section.bytes[3] << 8) | section.bytes[4]);
    const u8 number = section.bytes[6];
    const int section_stream = (section.bytes[8] << 8) | section.bytes[9];
    if (number > 1 || (section.bytes[5] & 0x01) == 0 ||
        (transport_stream_id >= 0 && section_stream != transport_stream_id))
        return nullptr;
    auto found = std::find_if(m_lServices.begin(), m_lServices.end(),
                              [&](const ServiceEvents &service) { return service.service_id == service_id; });
    if (found == m_lServices.end()) {
        m_lServices.emplace_back();
        found = m_lServices.end() - 1;
        found->service_id = service_id;
    }
    ServiceEvents &service = *found;
    std::vector<u8> &bytes = service.half_bytes[number];
    if (bytes.size() == section.length && std::equal(bytes.begin(), bytes.end(), section.bytes))
        return nullptr;  // a repeat completes nothing new
    Eit eit;
    if (DecodeEit(&eit, section.bytes, section.length) != 0)
        return nullptr;
    bytes.assign(section.bytes, section.bytes + section.length);
    if (number == 0)
        service.latest_present = FirstEvent(eit);
    service.half[number] = std::move(eit);
    const std::optional<Eit> &present = service.half[0];
    const std::optional<Eit> &following = service.half[1];
    if (!present || !following || present->version_number != following->version_number)
        return nullptr;
    EventPair pair;
    pair.version_number = present->version_number;
    pair.present = FirstEvent(*present);
    pair.following = FirstEvent(*following);
    // The pair stands until one of its halves changes: a repeat of either completes nothing new.
    const bool repeat =
        service.last && service.last->version_number == pair.version_number && SameEvents(*service.last, pair);
    if (repeat)
        return nullptr;
    if (!service.first)
        service.first = pair;
    service.last = std::move(pair);
    return &service;
}

const ServiceEvents *EventGuide::Find(u16 service_id) const
{
    for (const ServiceEvents &service : m_lServices)
        if (service.service_id == service_id)
            return &service;
    return nullptr;
}

bool TakeClockSection(BroadcastClock *clock, const Section &section)
{
    SiTime time;
    const u8 table_id = section.length > 0 ? section.bytes[0] : 0;
    if (table_id == 0x70) {
        Tdt tdt;
        if (DecodeTdt(&tdt, section.bytes, section.length) != 0)
            return false;
        time = tdt.UTC_time;
    } else if (table_id == 0x73) {
        Tot tot;
        if (!section.crc_ok || DecodeTot(&tot, section.bytes, section.length) != 0)
            return false;
        time = tot.UTC_time;
        for (const SiDescriptor &descriptor : tot.descriptors) {
            const auto *offsets = std::get_if<LocalTimeOffsetDescriptor>(&descriptor.decoded);
            if (offsets == nullptr || offsets->entries.empty())
                continue;
            int minutes = 0;
            if (LocalTimeOffsetAt(offsets->entries.front(), time, &minutes)) {
                clock->has_offset = true;
                clock->offset_minutes = minutes;
                clock->country_code = offsets->entries.front().country_code;
            }
            break;
        }
    } else {
        return false;
    }
    if (!time.defined)
        return false;
    if (!clock->seen)
        clock->first = time;
    clock->seen = true;
    clock->last = time;
    return true;
}

}  // namespace pidsift
