// The programme guide and the clock: DecodeEit, DecodeTdt and DecodeTot on one complete section
// each, as a driver hands them over, then their text and JSON forms and what the drivers read
// from an event. The first byte chooses: its low two bits the decoder (EIT, TDT, TOT, or a bare
// descriptor loop), bit 2 the family (DVB or ARIB); with bit 7 clear the section's table_id is
// set to one the decoder takes (for the EIT, 0x4E plus twice bits 3-6: the p/f and schedule
// tables of both kinds), with bit 7 set it is left as the input has it. The section follows, alone on the heap so that
// a read past it is caught.
//
// Checked: the decoders' results, descriptor bodies as long as their descriptor_length and
// inside the section, texts no longer than their declared lengths, every defined time a real
// date and time that gives back its MJD and seconds, undefined ones zero, every decoded text and
// time valid UTF-8, the joined extended event no larger than its parts, and JSON that closes
// every container it opens.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <pidsift/si_tables.h>

#include "psi/si.h"
#include "support.h"

using fuzzsupport::Check;

namespace {

bool IsUtf8(const std::string &text)
{
    const u8 *bytes = reinterpret_cast<const u8 *>(text.data());
    for (size_t at = 0; at < text.size();) {
        const size_t length = TS_Text_UTF8Length(bytes + at, text.size() - at);
        if (length == 0 || bytes[at] == 0)
            return false;
        at += length;
    }
    return true;
}

void CheckText(const std::vector<u8> &bytes, int family)
{
    Check(IsUtf8(pidsift::SiText(bytes, family)), "SI text is valid UTF-8 without NUL");
}

void CheckTime(const pidsift::SiTime &time, int family)
{
    if (!time.defined) {
        Check(time.seconds == 0 && pidsift::FormatTime(time, family).empty(), "an undefined time has no value");
        return;
    }
    Check(time.month >= 1 && time.month <= 12 && time.day >= 1 && time.day <= 31, "a real date");
    Check(time.hour <= 23 && time.minute <= 59 && time.second <= 59, "a real time of day");
    Check(pidsift::DateToMjd(time.year, time.month, time.day) == time.mjd, "the date gives back its MJD");
    Check(time.seconds == (std::int64_t(time.mjd) - 40587) * 86400 + time.hour * 3600 + time.minute * 60 + time.second,
          "seconds agree with the fields");
    const std::string text = pidsift::FormatTime(time, family);
    Check(text.size() == (family == TS_TEXT_ARIB ? 25u : 20u) && text[10] == 'T', "RFC 3339 of fixed width");
}

void CheckDescriptors(const std::vector<pidsift::SiDescriptor> &descriptors, size_t section_size, int family)
{
    size_t bytes = 0;
    for (const pidsift::SiDescriptor &descriptor : descriptors) {
        Check(descriptor.body.size() == descriptor.descriptor_length, "a body as long as descriptor_length");
        bytes += 2 + descriptor.body.size();
        if (const auto *d = std::get_if<pidsift::ShortEventDescriptor>(&descriptor.decoded)) {
            Check(d->event_name.size() <= d->event_name_length && d->text.size() <= d->text_length,
                  "short event texts within their lengths");
            CheckText(d->event_name, family);
            CheckText(d->text, family);
        } else if (const auto *e = std::get_if<pidsift::ExtendedEventDescriptor>(&descriptor.decoded)) {
            Check(e->descriptor_number <= 15 && e->last_descriptor_number <= 15, "four-bit numbers");
            for (const pidsift::ExtendedEventItem &item : e->items)
                Check(item.item_description.size() <= item.item_description_length &&
                          item.item.size() <= item.item_length,
                      "items within their lengths");
            Check(e->text.size() <= e->text_length, "extended text within its length");
        } else if (const auto *l = std::get_if<pidsift::LocalTimeOffsetDescriptor>(&descriptor.decoded)) {
            Check(l->entries.size() == descriptor.body.size() / 13, "whole local time offset entries");
            for (const pidsift::LocalTimeOffsetEntry &entry : l->entries)
                CheckTime(entry.time_of_change, family);
        } else if (const auto *c = std::get_if<pidsift::ContentDescriptor>(&descriptor.decoded)) {
            Check(c->entries.size() == descriptor.body.size() / 2, "whole content entries");
        }
    }
    Check(bytes <= section_size, "descriptors inside the section");
    const pidsift::ExtendedEventText joined = pidsift::JoinExtendedEvents(descriptors);
    size_t items = 0;
    size_t text = 0;
    for (const pidsift::SiDescriptor &descriptor : descriptors)
        if (const auto *e = std::get_if<pidsift::ExtendedEventDescriptor>(&descriptor.decoded)) {
            items += e->items.size();
            text += e->text.size();
        }
    Check(joined.items.size() <= items && joined.text.size() <= text, "the joined text is no larger than its parts");
    for (const pidsift::ExtendedEventText::Item &item : joined.items) {
        CheckText(item.description, family);
        CheckText(item.item, family);
    }
}

// The text the printers write goes nowhere: only what they read matters.
TS_Sink &Discard()
{
    thread_local TS_Sink sink([](const char *, size_t) {});
    return sink;
}

template <class Print> void PrintJSON(Print print)
{
    TS_Json json;
    TS_Json_Start(&json, &Discard());
    TS_Json_ObjectBegin(&json);
    print(&json);
    TS_Json_ObjectEnd(&json);
    TS_Json_EndLine(&json);
    Check(json.u32Depth == 0, "JSON closes every container it opens");
}

void OnEit(const u8 *section, size_t size, int family)
{
    pidsift::Eit eit;
    const int result = pidsift::DecodeEit(&eit, section, size);
    Check(result == 0 || (result == -2 && !pidsift::IsEitTableId(section[0])) || result == -4, "EIT result");
    if (result != 0)
        return;
    for (const pidsift::EitEvent &event : eit.events) {
        CheckTime(event.start_time, family);
        Check(!event.duration.defined || event.duration.seconds < 100 * 3600, "durations under 100 hours");
        Check(event.running_status <= 7 && event.descriptors_loop_length <= 0x0FFF, "event fields in their bits");
        CheckDescriptors(event.descriptors, size, family);
        PrintJSON([&](TS_Json *json) {
            TS_Json_Key(json, "event");
            pidsift::PrintEventJSON(json, event, family);
        });
    }
    pidsift::PrintEit(&Discard(), eit, family);
    PrintJSON([&](TS_Json *json) { pidsift::PrintEitJSON(json, eit, family == TS_TEXT_ARIB, family); });
}

void OnTdt(const u8 *section, size_t size, int family)
{
    pidsift::Tdt tdt;
    const int result = pidsift::DecodeTdt(&tdt, section, size);
    Check(result == 0 || (result == -2 && section[0] != 0x70) || result == -4, "TDT result");
    if (result != 0)
        return;
    CheckTime(tdt.UTC_time, family);
    pidsift::PrintTdt(&Discard(), tdt, family);
    PrintJSON([&](TS_Json *json) { pidsift::PrintTdtJSON(json, tdt, family); });
}

void OnTot(const u8 *section, size_t size, int family)
{
    pidsift::Tot tot;
    const int result = pidsift::DecodeTot(&tot, section, size);
    Check(result == 0 || (result == -2 && section[0] != 0x73) || result == -4, "TOT result");
    if (result != 0)
        return;
    CheckTime(tot.UTC_time, family);
    CheckDescriptors(tot.descriptors, size, family);
    for (const pidsift::SiDescriptor &descriptor : tot.descriptors)
        if (const auto *offsets = std::get_if<pidsift::LocalTimeOffsetDescriptor>(&descriptor.decoded))
            for (const pidsift::LocalTimeOffsetEntry &entry : offsets->entries) {
                int minutes = 0;
                if (pidsift::LocalTimeOffsetAt(entry, tot.UTC_time, &minutes))
                    Check(minutes > -24 * 60 && minutes < 24 * 60, "an offset under a day");
            }
    pidsift::PrintTot(&Discard(), tot, family);
    PrintJSON([&](TS_Json *json) { pidsift::PrintTotJSON(json, tot, true, family); });
}

void OnLoop(const u8 *loop, size_t size, int family)
{
    const std::vector<pidsift::SiDescriptor> descriptors = pidsift::DecodeSiDescriptors(loop, size, loop + size);
    CheckDescriptors(descriptors, size, family);
    for (const pidsift::SiDescriptor &descriptor : descriptors)
        pidsift::PrintSiDescriptor(&Discard(), descriptor, family);
    PrintJSON([&](TS_Json *json) { pidsift::PrintSiDescriptorsJSON(json, descriptors, family); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const u8 choice = data[0];
    const size_t length = size - 1;
    std::unique_ptr<u8[]> section(new u8[length]);
    std::memcpy(section.get(), data + 1, length);
    const int family = (choice & 0x04) ? TS_TEXT_ARIB : TS_TEXT_DVB;
    const bool keep_table_id = (choice & 0x80) != 0;
    switch (choice & 0x03) {
    case 0:
        if (!keep_table_id)
            section[0] = u8(0x4E + ((choice >> 3) & 0x0F) * 2);
        OnEit(section.get(), length, family);
        break;
    case 1:
        if (!keep_table_id)
            section[0] = 0x70;
        OnTdt(section.get(), length, family);
        break;
    case 2:
        if (!keep_table_id)
            section[0] = 0x73;
        OnTot(section.get(), length, family);
        break;
    default:
        OnLoop(section.get(), length, family);
        break;
    }
    return 0;
}
