// Text and JSON forms of a decoded EIT, and of one event as pidsift-check reports it.
#include <pidsift/si_tables.h>

#include "psi/print.h"
#include "psi/si.h"

namespace pidsift {

namespace {

// The event's extended event descriptors joined: a line with their language, then a line per
// item and one for the text.
void PrintExtendedText(TS_Sink *out, const EitEvent &event, int family)
{
    const ExtendedEventText joined = JoinExtendedEvents(event.descriptors);
    if (!joined.present)
        return;
    TS_Text_Printf(out, "    Extended Lang:%s Complete:%d Items:%d\n", CodeText(joined.ISO_639_language_code).c_str(),
                   joined.complete ? 1 : 0, int(joined.items.size()));
    for (const ExtendedEventText::Item &item : joined.items) {
        TS_Text_Printf(out, "     ");
        TS_SI_PrintText(out, "Description", item.description.data(), item.description.size(), family);
        TS_SI_PrintText(out, "Item", item.item.data(), item.item.size(), family);
        TS_Text_Putchar(out, '\n');
    }
    if (!joined.text.empty()) {
        TS_Text_Printf(out, "     ");
        TS_SI_PrintText(out, "Text", joined.text.data(), joined.text.size(), family);
        TS_Text_Putchar(out, '\n');
    }
}

// The members every event object has, the check's and the dump's.
void EventMembers(TS_Json *json, const EitEvent &event, int family)
{
    TS_Json_NumberField(json, "event_id", event.event_id);
    TS_Json_Key(json, "start");
    if (event.start_time.defined)
        TS_Json_String(json, FormatTime(event.start_time, family).c_str());
    else
        TS_Json_Null(json);
    TS_Json_Key(json, "duration_s");
    if (event.duration.defined)
        TS_Json_Number(json, event.duration.seconds);
    else
        TS_Json_Null(json);
    const ShortEventDescriptor *short_event = FindShortEvent(event);
    for (const char *key : {"name", "text"}) {
        TS_Json_Key(json, key);
        if (short_event == nullptr) {
            TS_Json_Null(json);
            continue;
        }
        const std::string text = SiText(key[0] == 'n' ? short_event->event_name : short_event->text, family);
        TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(text.data()), text.size());
    }
    PrintGenresJSON(json, EventGenres(event), family);
    TS_Json_NumberField(json, "running_status", event.running_status);
    TS_Json_NumberField(json, "free_ca_mode", event.free_CA_mode);
}

void ExtendedEventJSON(TS_Json *json, const EitEvent &event, int family)
{
    const ExtendedEventText joined = JoinExtendedEvents(event.descriptors);
    TS_Json_Key(json, "extended_event");
    if (!joined.present) {
        TS_Json_Null(json);
        return;
    }
    TS_Json_ObjectBegin(json);
    CodeJSON(json, "iso_639_language_code", joined.ISO_639_language_code);
    TS_Json_BoolField(json, "complete", joined.complete);
    TS_Json_ObjectArrayField(json, "items", u32(joined.items.size()), [&](u32 i) {
        const ExtendedEventText::Item &item = joined.items[i];
        TS_SI_PrintTextJSON(json, "item_description", item.description.data(), item.description.size(), family);
        TS_SI_PrintTextJSON(json, "item", item.item.data(), item.item.size(), family);
    });
    TS_SI_PrintTextJSON(json, "text", joined.text.data(), joined.text.size(), family);
    TS_Json_ObjectEnd(json);
}

}  // namespace

void PrintEit(TS_Sink *out, const Eit &eit, int family)
{
    TS_Section_PrintHeaderLine(out, "EIT", eit, "SID", eit.service_id);
    TS_Text_Printf(out, "  TSI:%d ONID:%d SLSN:%d LTI:0x%02X Events:%d\n", eit.transport_stream_id,
                   eit.original_network_id, eit.segment_last_section_number, eit.last_table_id, int(eit.events.size()));
    for (const EitEvent &event : eit.events) {
        TS_Text_Printf(out, "  EID:%d Start:%s Duration:%s RS:%d FCA:%d DLL:%d", event.event_id,
                       TimeText(event.start_time, family).c_str(), DurationText(event.duration).c_str(),
                       event.running_status, event.free_CA_mode, event.descriptors_loop_length);
        PrintSiDescriptorTags(out, event.descriptors);
        TS_Text_Putchar(out, '\n');
        for (const SiDescriptor &descriptor : event.descriptors)
            PrintSiDescriptor(out, descriptor, family);
        PrintExtendedText(out, event, family);
    }
    TS_Section_PrintCRC(out, eit.CRC_32);
}

void PrintEit(const Eit &eit, int family, const TextSink &sink)
{
    TS_Sink out(sink);
    PrintEit(&out, eit, family);
}

void PrintEventJSON(TS_Json *json, const EitEvent &event, int family)
{
    TS_Json_ObjectBegin(json);
    EventMembers(json, event, family);
    TS_Json_ObjectEnd(json);
}

void PrintEitJSON(TS_Json *json, const Eit &eit, bool crc_ok, int family)
{
    TS_Section_PrintTableJSON(json, eit, "service_id", eit.service_id, crc_ok, [&] {
        TS_Json_NumberField(json, "transport_stream_id", eit.transport_stream_id);
        TS_Json_NumberField(json, "original_network_id", eit.original_network_id);
        TS_Json_NumberField(json, "segment_last_section_number", eit.segment_last_section_number);
        TS_Json_NumberField(json, "last_table_id", eit.last_table_id);
        TS_Json_StringField(json, "charset", TS_SI_FamilyName(family));
        TS_Json_ObjectArrayField(json, "events", u32(eit.events.size()), [&](u32 i) {
            const EitEvent &event = eit.events[i];
            EventMembers(json, event, family);
            PrintTimeBytesJSON(json, "start_time_bytes", event.start_time);
            const u8 duration_bytes[3] = {u8(event.duration.bcd >> 16), u8(event.duration.bcd >> 8),
                                          u8(event.duration.bcd)};
            TS_Json_HexField(json, "duration_bytes", duration_bytes, sizeof duration_bytes);
            TS_Json_NumberField(json, "descriptors_loop_length", event.descriptors_loop_length);
            PrintSiDescriptorsJSON(json, event.descriptors, family);
            ExtendedEventJSON(json, event, family);
        });
    });
}

}  // namespace pidsift
