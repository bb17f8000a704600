// The parts the SDT and NIT decoders and printers share: descriptor loops kept as their tags, and
// names, decoded at print time in the family the caller chose.
#include <cstring>

#include "descriptors/descriptors.h"
#include "psi/si.h"
#include "text/text.h"

u16 TS_SI_DecodeLoop(TS_Descriptor *scratch, u8 *tags, const TS_ByteReader &loop, const TS_ByteReader &section)
{
    const u16 count = TS_Descriptor_DecodeLoop(scratch, TS_MAX_DESCRIPTORS, loop.Begin(), loop.End(), section.End());
    for (u16 i = 0; i < count; ++i)
        tags[i] = scratch[i].descriptor_tag;
    return count;
}

u8 TS_SI_CopyName(u8 *name, const TS_ByteReader &part)
{
    const u32 count = part.Size() < TS_MAX_NAME_BYTES ? part.Size() : TS_MAX_NAME_BYTES;
    if (count > 0)
        std::memcpy(name, part.Begin(), count);
    return u8(count);
}

int TS_SI_Family(int family) { return family == TS_TEXT_ARIB ? TS_TEXT_ARIB : TS_TEXT_DVB; }

void TS_SI_NameToUTF8(char *out, const u8 *bytes, u32 count, int family)
{
    out[0] = '\0';
    const int bounded = int(count < TS_MAX_NAME_BYTES ? count : TS_MAX_NAME_BYTES);
    TS_Text_ToUTF8(out, int(TS_SI_NAME_TEXT), bytes, bounded, TS_SI_Family(family));
}

void TS_SI_PrintName(const char *key, const u8 *bytes, u32 count, int family)
{
    char text[TS_SI_NAME_TEXT];
    TS_SI_NameToUTF8(text, bytes, count, family);
    // Escaped, the text is at most four times as long.
    char quoted[4 * TS_SI_NAME_TEXT + 1];
    size_t n = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        const u8 byte = u8(*c);
        if (byte == '"' || byte == '\\') {
            quoted[n++] = '\\';
            quoted[n++] = char(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            static const char kDigits[] = "0123456789ABCDEF";
            quoted[n++] = '\\';
            quoted[n++] = 'x';
            quoted[n++] = kDigits[byte >> 4];
            quoted[n++] = kDigits[byte & 0x0F];
        } else {
            quoted[n++] = char(byte);
        }
    }
    quoted[n] = '\0';
    TS_Text_Printf(" %s:\"%s\"", key, quoted);
}

void TS_SI_PrintNameJSON(TS_Json *json, const char *key, const u8 *bytes, u32 count, int family)
{
    char text[TS_SI_NAME_TEXT];
    TS_SI_NameToUTF8(text, bytes, count, family);
    TS_Json_StringField(json, key, text);
    char bytes_key[64];
    const size_t length = std::strlen(key);
    if (length + sizeof "_bytes" > sizeof bytes_key)
        return;
    std::memcpy(bytes_key, key, length);
    std::memcpy(bytes_key + length, "_bytes", sizeof "_bytes");
    TS_Json_HexField(json, bytes_key, bytes, count < TS_MAX_NAME_BYTES ? count : TS_MAX_NAME_BYTES);
}

void TS_SI_PrintTagsJSON(TS_Json *json, const u8 *tags, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    TS_Json_Key(json, "descriptor_tags");
    TS_Json_ArrayBegin(json);
    for (u16 i = 0; i < bounded; ++i)
        TS_Json_Number(json, tags[i]);
    TS_Json_ArrayEnd(json);
}

void TS_SI_PrintTags(const u8 *tags, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        TS_Text_Printf(i == 0 ? " TAGS:0x%02X" : ",0x%02X", tags[i]);
}
