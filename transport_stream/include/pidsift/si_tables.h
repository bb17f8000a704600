// The programme guide and the broadcast clock of EN 300 468 (DVB) and ARIB STD-B10 (ISDB): the
// Event Information Table (EIT) with the descriptors of its events, the Time and Date Table (TDT)
// and the Time Offset Table (TOT), as C++ records.
//
// Unlike the fixed-size records of <pidsift/ts.h>, these keep their loops in vectors: an EIT
// section carries any number of events and descriptors, and an event's description may run over
// several descriptors. A decoder takes one complete section as bytes and fills a record; whether
// its CRC_32 checks is for the caller to know (the printers are told). Texts are kept as the bytes
// of the broadcast and decoded when printed, in the family the caller gives (TS_TEXT_DVB or
// TS_TEXT_ARIB, see TS_Text_ToUTF8): the bytes do not tell which.
//
// Times: both families carry a date as a Modified Julian Date and a time of day as six BCD digits
// in the same fields, but DVB's are UTC and ISDB's Japan Standard Time, UTC+9 (ARIB STD-B10 names
// the TDT's field JST_time). A time is kept on the broadcast's own clock and printed with the
// offset its family implies, as RFC 3339: 2024-03-11T20:10:14Z, 2019-06-12T21:00:00+09:00.
#ifndef PIDSIFT_TRANSPORT_STREAM_SI_TABLES_H
#define PIDSIFT_TRANSPORT_STREAM_SI_TABLES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include <pidsift/sink.h>
#include <pidsift/ts.h>

namespace pidsift {

// ---------------------------------------------------------------------------------------------
// Times
// ---------------------------------------------------------------------------------------------

// A date and time of 40 bits (start_time, UTC_time, time_of_change): the MJD in 16 bits, then
// hours, minutes and seconds as two BCD digits each.
struct SiTime {
    u16 mjd = 0xFFFF;
    u32 bcd = 0xFFFFFF;  // hhmmss, six BCD digits in the low 24 bits
    // False when the field is all ones (undefined: an NVOD reference event's start, EN 300 468
    // 5.2.4), or when a digit is no decimal digit or the time of day is out of range (hours past
    // 23, minutes or seconds past 59): no time is made up from such a field.
    bool defined = false;
    // The date (from the MJD, exactly for every 16-bit value) and time, when defined.
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    // Seconds since 1970-01-01T00:00:00 on the broadcast's clock (UTC for DVB, JST for ISDB);
    // negative before 1970. 0 when undefined.
    std::int64_t seconds = 0;

    bool operator==(const SiTime &) const = default;
};

// A duration of six BCD digits (hhmmss). Hours run to 99; minutes and seconds past 59, a digit
// that is no decimal digit, and all ones (undefined) leave it undefined.
struct SiDuration {
    u32 bcd = 0xFFFFFF;
    bool defined = false;
    u32 seconds = 0;

    bool operator==(const SiDuration &) const = default;
};

SiTime DecodeSiTime(u16 mjd, u32 bcd);
// The five bytes of a 40-bit time field, as they stand in a section.
SiTime ReadSiTime(const u8 *bytes);
SiDuration DecodeSiDuration(u32 bcd);

// The calendar date of a Modified Julian Date (day 0 is 1858-11-17), and back.
void MjdToDate(u32 mjd, int *year, int *month, int *day);
std::int64_t DateToMjd(int year, int month, int day);

// Minutes that the family's clock is ahead of UTC: 0 for DVB, 540 for ISDB (any other value
// is read as DVB, as the printers read it).
int ClockOffsetMinutes(int family);
// RFC 3339 with the family's offset ("2024-03-11T20:10:14Z", "2019-06-12T21:00:00+09:00"), from
// seconds on the broadcast's clock (an event's end: its start's seconds and its duration's), or
// from a time; "" for an undefined time.
std::string FormatTime(std::int64_t seconds, int family);
std::string FormatTime(const SiTime &time, int family);
// "hh:mm:ss"; "" when undefined.
std::string FormatDuration(const SiDuration &duration);
// "+hh:mm" or "-hh:mm".
std::string FormatOffset(int minutes);

// ---------------------------------------------------------------------------------------------
// Descriptors of events and of the TOT
// ---------------------------------------------------------------------------------------------

// ISO 639 language and ISO 3166 country codes are three letters as a 24-bit big-endian number.
// Texts keep the bytes the descriptor holds; a declared length that reaches past the descriptor
// is kept as declared, its text cut where the descriptor ends.

constexpr u8 SI_TAG_SHORT_EVENT = 0x4D;
constexpr u8 SI_TAG_EXTENDED_EVENT = 0x4E;
constexpr u8 SI_TAG_COMPONENT = 0x50;
constexpr u8 SI_TAG_CONTENT = 0x54;
constexpr u8 SI_TAG_PARENTAL_RATING = 0x55;
constexpr u8 SI_TAG_LOCAL_TIME_OFFSET = 0x58;
constexpr u8 SI_TAG_AUDIO_COMPONENT = 0xC4;  // ARIB STD-B10
constexpr u8 SI_TAG_EVENT_GROUP = 0xD6;      // ARIB STD-B10

// EN 300 468 6.2.37: the event's name and a short description.
struct ShortEventDescriptor {
    u32 ISO_639_language_code = 0;
    u8 event_name_length = 0;
    std::vector<u8> event_name;
    u8 text_length = 0;
    std::vector<u8> text;
};

struct ExtendedEventItem {
    u8 item_description_length = 0;
    std::vector<u8> item_description;
    u8 item_length = 0;
    std::vector<u8> item;
};

// EN 300 468 6.2.15: one of a numbered run of descriptors that together hold a longer description
// as items (a description such as "Cast" and its text) and free text.
struct ExtendedEventDescriptor {
    u8 descriptor_number = 0;
    u8 last_descriptor_number = 0;
    u32 ISO_639_language_code = 0;
    u8 length_of_items = 0;
    std::vector<ExtendedEventItem> items;  // those that start inside length_of_items
    u8 text_length = 0;
    std::vector<u8> text;
};

// EN 300 468 6.2.8, ARIB STD-B10: the kind of stream a component is.
struct ComponentDescriptor {
    u8 stream_content_ext = 0;  // reserved_future_use in ARIB
    u8 stream_content = 0;
    u8 component_type = 0;
    u8 component_tag = 0;
    u32 ISO_639_language_code = 0;
    std::vector<u8> text;
};

struct ContentEntry {
    u8 content_nibble_level_1 = 0;
    u8 content_nibble_level_2 = 0;
    u8 user_nibble_1 = 0;
    u8 user_nibble_2 = 0;
};

// EN 300 468 6.2.9: the genres of the event, whole two-byte entries.
struct ContentDescriptor {
    std::vector<ContentEntry> entries;
};

struct ParentalRatingEntry {
    u32 country_code = 0;
    u8 rating = 0;  // 0x01 to 0x0F: a minimum age of rating + 3
};

// EN 300 468 6.2.28: whole four-byte entries.
struct ParentalRatingDescriptor {
    std::vector<ParentalRatingEntry> entries;
};

struct LocalTimeOffsetEntry {
    u32 country_code = 0;
    u8 country_region_id = 0;  // 6 bits
    u8 reserved = 0;
    u8 local_time_offset_polarity = 0;  // 0: local time ahead of the clock, 1: behind it
    u16 local_time_offset = 0;          // hhmm, four BCD digits
    SiTime time_of_change;              // on the TOT's clock
    u16 next_time_offset = 0;           // hhmm, the offset from time_of_change on
};

// EN 300 468 6.2.20: whole 13-byte entries. In DVB the offsets apply to UTC; in ISDB to JST,
// for summer time (ARIB STD-B10).
struct LocalTimeOffsetDescriptor {
    std::vector<LocalTimeOffsetEntry> entries;
};

// ARIB STD-B10, audio component descriptor: an audio component of the event.
struct AudioComponentDescriptor {
    u8 reserved_future_use = 0;  // 4 bits
    u8 stream_content = 0;
    u8 component_type = 0;
    u8 component_tag = 0;
    u8 stream_type = 0;
    u8 simulcast_group_tag = 0;
    u8 ES_multi_lingual_flag = 0;
    u8 main_component_flag = 0;
    u8 quality_indicator = 0;
    u8 sampling_rate = 0;
    u8 reserved_future_use2 = 0;  // 1 bit
    u32 ISO_639_language_code = 0;
    u32 ISO_639_language_code_2 = 0;  // only with ES_multi_lingual_flag
    std::vector<u8> text;
};

struct EventGroupEvent {
    u16 service_id = 0;
    u16 event_id = 0;
};

struct EventGroupOtherNetworkEvent {
    u16 original_network_id = 0;
    u16 transport_stream_id = 0;
    u16 service_id = 0;
    u16 event_id = 0;
};

// ARIB STD-B10, event group descriptor: events grouped with this one (shared, relayed, moved).
// Whole entries only.
struct EventGroupDescriptor {
    u8 group_type = 0;
    u8 event_count = 0;
    std::vector<EventGroupEvent> events;
    // group_type 4 and 5 (relay and move to other networks): the entries behind the events.
    std::vector<EventGroupOtherNetworkEvent> other_network_events;
    // Every other group_type: the bytes behind the events.
    std::vector<u8> private_data_byte;
};

// A descriptor of an SI loop: its tag, length and body, and the body decoded when the tag is one
// of those above (std::monostate for the others).
struct SiDescriptor {
    u8 descriptor_tag = 0;
    u8 descriptor_length = 0;
    std::vector<u8> body;
    std::variant<std::monostate, ShortEventDescriptor, ExtendedEventDescriptor, ComponentDescriptor, ContentDescriptor,
                 ParentalRatingDescriptor, LocalTimeOffsetDescriptor, AudioComponentDescriptor, EventGroupDescriptor>
        decoded;

    // The same descriptor: its decoded form follows from its bytes.
    bool operator==(const SiDescriptor &other) const
    {
        return descriptor_tag == other.descriptor_tag && descriptor_length == other.descriptor_length &&
               body == other.body;
    }
};

// Decodes the descriptor loop of size bytes at loop, in a section that ends at section_end. As
// the SDT and NIT decoders do: a descriptor that reaches past the section's end is not decoded
// and ends the loop; one that reaches only past the loop's size is decoded and ends it.
std::vector<SiDescriptor> DecodeSiDescriptors(const u8 *loop, size_t size, const u8 *section_end);

// The offset in minutes that polarity and four BCD digits (hhmm) give: negative for polarity 1.
// False (minutes untouched) for a digit that is no decimal digit, hours past 23 or minutes past 59.
bool DecodeTimeOffset(u8 polarity, u16 bcd, int *minutes);
// The offset in force at time, a time on the TOT's clock: local_time_offset before time_of_change,
// next_time_offset from it on (local_time_offset when time_of_change is undefined). False when
// time is undefined or the offset in force does not decode.
bool LocalTimeOffsetAt(const LocalTimeOffsetEntry &entry, const SiTime &time, int *minutes);

// The names of a content descriptor's genres, as UTF-8: EN 300 468 table 28 for DVB, ARIB
// STD-B10 Annex H for ISDB (its large and middle genres, "ニュース／報道", "定時・総合").
// nullptr where the table names nothing (reserved values).
const char *ContentLevel1Name(u8 content_nibble_level_1, int family);
const char *ContentLevel2Name(u8 content_nibble_level_1, u8 content_nibble_level_2, int family);

// A text of the SI tables as UTF-8 (TS_Text_ToUTF8 in family, the whole text however long).
std::string SiText(const u8 *bytes, size_t count, int family);
std::string SiText(const std::vector<u8> &bytes, int family);

// ---------------------------------------------------------------------------------------------
// Event Information Table
// ---------------------------------------------------------------------------------------------

struct EitEvent {
    u16 event_id = 0;
    SiTime start_time;
    SiDuration duration;
    u8 running_status = 0;
    u8 free_CA_mode = 0;
    u16 descriptors_loop_length = 0;
    std::vector<SiDescriptor> descriptors;

    bool operator==(const EitEvent &) const = default;
};

// EN 300 468 5.2.4, ARIB STD-B10. PID 0x0012; ISDB also sends the EIT on 0x0026 and 0x0027.
struct Eit {
    // 0x4E: present/following of this transport stream (actual), 0x4F: of another one;
    // 0x50-0x5F: schedule, actual; 0x60-0x6F: schedule, other.
    u8 table_id = 0;
    u8 section_syntax_indicator = 0;
    u8 reserved1 = 0;
    u16 section_length = 0;
    u16 service_id = 0;  // table_id_extension
    u8 reserved2 = 0;
    u8 version_number = 0;
    u8 current_next_indicator = 0;
    u8 section_number = 0;
    u8 last_section_number = 0;
    u16 transport_stream_id = 0;
    u16 original_network_id = 0;
    u8 segment_last_section_number = 0;
    u8 last_table_id = 0;
    std::vector<EitEvent> events;
    u32 CRC_32 = 0;
};

constexpr bool IsEitTableId(u8 table_id) { return table_id >= 0x4E && table_id <= 0x6F; }

// Decodes an EIT section of length bytes (the section is its first 3 + section_length bytes when
// it has more). An event starts before the CRC_32 with its twelve fixed bytes in the section; the
// next starts where descriptors_loop_length says. CRC_32: the four bytes that end the section as
// section_length gives it, 0 when they lie past length.
// Returns 0; -1 for a null pointer, -2 for a table_id that is no EIT's, -4 for fewer than the 18
// bytes of the header, the fixed fields and the CRC_32 (the record is not written on failure).
int DecodeEit(Eit *eit, const u8 *section, size_t length);

// The first short event descriptor of the event, or nullptr.
const ShortEventDescriptor *FindShortEvent(const EitEvent &event);
// The genres of the event: the entries of its content descriptors, in loop order.
std::vector<ContentEntry> EventGenres(const EitEvent &event);

// The extended event descriptors of one event joined into one description.
struct ExtendedEventText {
    bool present = false;  // the event has an extended event descriptor
    u32 ISO_639_language_code = 0;
    // Every descriptor from 0 to last_descriptor_number came, once or more.
    bool complete = false;
    struct Item {
        std::vector<u8> description;
        std::vector<u8> item;
    };
    std::vector<Item> items;
    std::vector<u8> text;
};

// Joins the extended event descriptors of the language of the first one, in descriptor_number
// order (a number that comes twice is taken once, the first time): their items in turn, and
// their texts end to end. An item with an empty description continues the item before it: ARIB
// STD-B10 splits an item too long for one descriptor so, repeating it in the next with
// item_description_length 0. Bytes are joined before they are decoded, as a character or a
// designation may span the cut.
ExtendedEventText JoinExtendedEvents(const std::vector<SiDescriptor> &descriptors);

// ---------------------------------------------------------------------------------------------
// Time and Date Table, Time Offset Table
// ---------------------------------------------------------------------------------------------

// EN 300 468 5.2.5, ARIB STD-B10: the clock alone, a short-form section without CRC_32.
struct Tdt {
    u8 table_id = 0;  // 0x70
    u8 section_syntax_indicator = 0;
    u8 reserved1 = 0;
    u16 section_length = 0;
    SiTime UTC_time;  // JST_time in ISDB
};

// EN 300 468 5.2.6, ARIB STD-B10: the clock and the local time offsets, with a CRC_32.
struct Tot {
    u8 table_id = 0;  // 0x73
    u8 section_syntax_indicator = 0;
    u8 reserved1 = 0;
    u16 section_length = 0;
    SiTime UTC_time;   // JST_time in ISDB
    u8 reserved2 = 0;  // 4 bits
    u16 descriptors_loop_length = 0;
    std::vector<SiDescriptor> descriptors;
    u32 CRC_32 = 0;
};

// PID 0x0014 carries both; section[0] tells which. Returns 0; -1 for a null pointer, -2 for a
// foreign table_id, -4 for a section too short for its fixed fields (8 bytes for the TDT, 14
// with the CRC_32 for the TOT); the record is not written on failure. The section ends as
// DecodeEit says; the TOT's CRC_32 is the four bytes that end it.
int DecodeTdt(Tdt *tdt, const u8 *section, size_t length);
int DecodeTot(Tot *tot, const u8 *section, size_t length);

// ---------------------------------------------------------------------------------------------
// Text forms, as the dump prints the other tables, on standard output or the sink given
// ---------------------------------------------------------------------------------------------

// A header line, a line per event and a line per descriptor, the event's extended event
// descriptors joined (a line with their language, one per item, one for the text), and the
// CRC_32; texts in double quotes, escaped as the SDT's names are (a line break as \x0A). ARIB's
// audio component and event group descriptors are shown decoded for TS_TEXT_ARIB only, as their
// bytes otherwise: a DVB broadcaster's own descriptors may carry those tags.
void PrintEit(const Eit &eit, int family, const TextSink &sink = {});
void PrintTdt(const Tdt &tdt, int family, const TextSink &sink = {});
void PrintTot(const Tot &tot, int family, const TextSink &sink = {});

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_SI_TABLES_H
