// What the decoders and printers of the service information tables (SDT, NIT, EIT, TDT, TOT)
// share: their descriptor loops, of which the SDT and NIT records keep the tags and the bodies of
// the few descriptors they name, the names and texts those bodies carry, and the JSON forms.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_SI_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_SI_H

#include <string>

#include <pidsift/si_tables.h>
#include <pidsift/ts.h>

#include "common/bytes.h"
#include "text/json.h"

// Decodes the descriptor loop of loop (a part of section) into scratch, as every table's loops
// are decoded (TS_Descriptor_DecodeLoop), and copies the tags into tags. Returns the count.
u16 TS_SI_DecodeLoop(TS_Descriptor *scratch, u8 *tags, const TS_ByteReader &loop, const TS_ByteReader &section);

// Copies the bytes of part into name (TS_MAX_NAME_BYTES) and returns how many.
u8 TS_SI_CopyName(u8 *name, const TS_ByteReader &part);

// A name as UTF-8 in out (always terminated, cut between whole characters when it does not fit).
// Room for every byte of a 255-byte name turned into four; the rare text that grows more (ARIB's
// repeated characters, half-width letters with their sound marks) is cut.
constexpr u32 TS_SI_NAME_TEXT = 4 * TS_MAX_NAME_BYTES + 1;
void TS_SI_NameToUTF8(char *out, const u8 *bytes, u32 count, int family);

// The family the printers use for a value other than TS_TEXT_DVB and TS_TEXT_ARIB: DVB's.
int TS_SI_Family(int family);

// Text: key, a colon and the name in double quotes, a quote and a backslash in it escaped with a
// backslash, control characters written as \xNN.
void TS_SI_PrintName(TS_Sink *out, const char *key, const u8 *bytes, u32 count, int family);
// JSON: key as the name in UTF-8, and key + "_bytes" as its raw bytes in hexadecimal.
void TS_SI_PrintNameJSON(TS_Json *json, const char *key, const u8 *bytes, u32 count, int family);
// The same for texts of any length (a name is cut to TS_MAX_NAME_BYTES): an event's description
// joined over several descriptors runs longer.
void TS_SI_PrintText(TS_Sink *out, const char *key, const u8 *bytes, size_t count, int family);
void TS_SI_PrintTextJSON(TS_Json *json, const char *key, const u8 *bytes, size_t count, int family);
// Text: key, a colon and UTF-8 text in double quotes, escaped as above.
void TS_SI_PrintQuoted(TS_Sink *out, const char *key, const std::string &text);
// "descriptor_tags": the tags as numbers.
void TS_SI_PrintTagsJSON(TS_Json *json, const u8 *tags, u16 count);
// Text: " TAGS:0x48,0xC1" (nothing for an empty loop).
void TS_SI_PrintTags(TS_Sink *out, const u8 *tags, u16 count);

// JSON forms, as those of psi/print.h, with "charset" ("dvb" or "arib": how the names were
// decoded) and each name as UTF-8 beside its raw bytes in hexadecimal. A service without a
// service descriptor has null for service_type, its name lengths and names; a NIT section
// without a network name descriptor null for network_name and network_name_bytes.
// The printers of ts.h writing to a sink.
int TS_SDT_Print(TS_Sink *out, const TS_SDT *sdt, int family);
int TS_NIT_Print(TS_Sink *out, const TS_NIT *nit, int family);
void TS_SDT_PrintJSON(TS_Json *json, const TS_SDT *sdt, bool crc_ok, int family);
void TS_NIT_PrintJSON(TS_Json *json, const TS_NIT *nit, bool crc_ok, int family);
// "charset" as those write it.
const char *TS_SI_FamilyName(int family);

namespace pidsift {

// A 24-bit field (a code of three letters, six BCD digits) from the reader; bytes past its end
// read 0.
u32 Read24(TS_ByteReader *reader);
// A 40-bit time field from the reader; undefined when its five bytes are not all there.
SiTime ReadSiTime(TS_ByteReader *reader);

// The text forms of times: RFC 3339 ("undefined(0x<the 40 bits>)" when undefined), hh:mm:ss
// ("undefined(0x<the 24 bits>)"), an offset with its sign ("undefined(0x<the 16 bits>)").
std::string TimeText(const SiTime &time, int family);
std::string DurationText(const SiDuration &duration);
std::string OffsetText(u8 polarity, u16 bcd);

// The three letters of an ISO 639 or ISO 3166 code; in the text, a byte outside printable ASCII
// as '?', so that a damaged code cannot break the line. In JSON, the string of its three bytes.
std::string CodeText(u32 code);
void CodeJSON(TS_Json *json, const char *key, u32 code);

// A descriptor of an SI loop as text: one line (a local time offset descriptor a line more per
// entry) at the indent of an event's descriptors. The audio component and event group
// descriptors are written as raw ones unless family is TS_TEXT_ARIB.
void PrintSiDescriptor(TS_Sink *out, const SiDescriptor &descriptor, int family);
// " DSC:<count>" and " TAGS:..." of a loop, as the SDT's lines have them.
void PrintSiDescriptorTags(TS_Sink *out, const std::vector<SiDescriptor> &descriptors);

// JSON forms, with "charset" as the SDT's. A time is an RFC 3339 string or null beside its
// bytes in hexadecimal ("start_time_bytes"); a text is UTF-8 beside its bytes ("event_name",
// "event_name_bytes"); a language or country code a string of its three letters.
void PrintTimeJSON(TS_Json *json, const char *key, const SiTime &time, int family);
// The five bytes alone.
void PrintTimeBytesJSON(TS_Json *json, const char *key, const SiTime &time);
// "genre": the entries of content descriptors, as PrintEventJSON describes them.
void PrintGenresJSON(TS_Json *json, const std::vector<ContentEntry> &genres, int family);
// "descriptors": [{"tag", "length", "name", the kind's fields}], raw ones with "bytes".
void PrintSiDescriptorsJSON(TS_Json *json, const std::vector<SiDescriptor> &descriptors, int family);
// An event as pidsift-check reports it, one object: {"event_id", "start" (RFC 3339 or null),
// "duration_s" (or null), "name", "text" (of the first short event descriptor, or null),
// "genre": [{"content_nibble_level_1", "content_nibble_level_2", "user_nibble_1",
// "user_nibble_2", "level_1_name", "level_2_name"}] (names null where the table has none),
// "running_status", "free_ca_mode"}.
void PrintEventJSON(TS_Json *json, const EitEvent &event, int family);
// The dump's forms. An EIT's "events" are the objects of PrintEventJSON with their detail
// behind: "start_time_bytes", "duration_bytes", "descriptors_loop_length", "descriptors", and
// "extended_event" ({"iso_639_language_code", "complete", "items": [{"item_description",
// "item"}], "text"}, JoinExtendedEvents, or null). The TDT has "crc_ok" null, as a section
// without CRC_32.
void PrintEit(TS_Sink *out, const Eit &eit, int family);
void PrintTdt(TS_Sink *out, const Tdt &tdt, int family);
void PrintTot(TS_Sink *out, const Tot &tot, int family);
void PrintEitJSON(TS_Json *json, const Eit &eit, bool crc_ok, int family);
void PrintTdtJSON(TS_Json *json, const Tdt &tdt, int family);
void PrintTotJSON(TS_Json *json, const Tot &tot, bool crc_ok, int family);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_SI_H
