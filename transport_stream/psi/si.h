// What the decoders and printers of the service information tables (SDT, NIT) share: their
// descriptor loops, of which the records keep the tags and the bodies of the few descriptors
// they name, and the names those bodies carry.
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_SI_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_SI_H

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
void TS_SI_PrintName(const char *key, const u8 *bytes, u32 count, int family);
// JSON: key as the name in UTF-8, and key + "_bytes" as its raw bytes in hexadecimal.
void TS_SI_PrintNameJSON(TS_Json *json, const char *key, const u8 *bytes, u32 count, int family);
// "descriptor_tags": the tags as numbers.
void TS_SI_PrintTagsJSON(TS_Json *json, const u8 *tags, u16 count);
// Text: " TAGS:0x48,0xC1" (nothing for an empty loop).
void TS_SI_PrintTags(const u8 *tags, u16 count);

// JSON forms, as those of psi/print.h, with "charset" ("dvb" or "arib": how the names were
// decoded) and each name as UTF-8 beside its raw bytes in hexadecimal. A service without a
// service descriptor has null for service_type, its name lengths and names; a NIT section
// without a network name descriptor null for network_name and network_name_bytes.
void TS_SDT_PrintJSON(TS_Json *json, const TS_SDT *sdt, bool crc_ok, int family);
void TS_NIT_PrintJSON(TS_Json *json, const TS_NIT *nit, bool crc_ok, int family);

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_SI_H
