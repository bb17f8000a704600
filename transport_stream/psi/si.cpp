// The parts the SI decoders and printers share: descriptor loops kept as their tags, and names and
// texts, decoded at print time in the family the caller chose.
#include <cstring>
#include <string>

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

void TS_SI_PrintQuoted(TS_Sink *out, const char *key, const std::string &text)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string quoted;
    quoted.reserve(text.size() + 8);
    for (const char c : text) {
        const u8 byte = u8(c);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += char(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            quoted += "\\x";
            quoted += kDigits[byte >> 4];
            quoted += kDigits[byte & 0x0F];
        } else {
            quoted += char(byte);
        }
    }
    TS_Text_Printf(out, " %s:\"%s\"", key, quoted.c_str());
}

void TS_SI_PrintText(TS_Sink *out, const char *key, const u8 *bytes, size_t count, int family)
{
    TS_SI_PrintQuoted(out, key, pidsift::SiText(bytes, count, family));
}

void TS_SI_PrintName(TS_Sink *out, const char *key, const u8 *bytes, u32 count, int family)
{
    TS_SI_PrintText(out, key, bytes, count < TS_MAX_NAME_BYTES ? count : TS_MAX_NAME_BYTES, family);
}

void TS_SI_PrintTextJSON(TS_Json *json, const char *key, const u8 *bytes, size_t count, int family)
{
    const std::string text = pidsift::SiText(bytes, count, family);
    TS_Json_Key(json, key);
    TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(text.data()), text.size());
    char bytes_key[64];
    const size_t length = std::strlen(key);
    if (length + sizeof "_bytes" > sizeof bytes_key)
        return;
    std::memcpy(bytes_key, key, length);
    std::memcpy(bytes_key + length, "_bytes", sizeof "_bytes");
    TS_Json_HexField(json, bytes_key, bytes, count);
}

void TS_SI_PrintNameJSON(TS_Json *json, const char *key, const u8 *bytes, u32 count, int family)
{
    TS_SI_PrintTextJSON(json, key, bytes, count < TS_MAX_NAME_BYTES ? count : TS_MAX_NAME_BYTES, family);
}

const char *TS_SI_FamilyName(int family) { return TS_SI_Family(family) == TS_TEXT_ARIB ? "arib" : "dvb"; }

void TS_SI_PrintTagsJSON(TS_Json *json, const u8 *tags, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    TS_Json_Key(json, "descriptor_tags");
    TS_Json_ArrayBegin(json);
    for (u16 i = 0; i < bounded; ++i)
        TS_Json_Number(json, tags[i]);
    TS_Json_ArrayEnd(json);
}

void TS_SI_PrintTags(TS_Sink *out, const u8 *tags, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        TS_Text_Printf(out, i == 0 ? " TAGS:0x%02X" : ",0x%02X", tags[i]);
}

namespace pidsift {

std::string SiText(const u8 *bytes, size_t count, int family)
{
    // SI texts are shorter than a section; the bound keeps the sizes within an int.
    if (count > (1u << 20))
        count = 1u << 20;
    if (count == 0)
        return std::string();
    // The widest a byte decodes to is six bytes of UTF-8 (an ARIB katakana in middle size with
    // its half-width sound mark), and the longest character sixteen. The decoder cuts a text
    // before a character that does not fit: one that ends more than a character's width short
    // of the room was not cut.
    std::string text;
    for (size_t capacity = 6 * count + 32;; capacity *= 2) {
        text.assign(capacity, '\0');
        const int length = TS_Text_ToUTF8(text.data(), int(capacity), bytes, int(count), TS_SI_Family(family));
        if (length < 0) {
            text.clear();
            break;
        }
        if (size_t(length) + 16 < capacity) {
            text.resize(size_t(length));
            break;
        }
    }
    return text;
}

std::string SiText(const std::vector<u8> &bytes, int family) { return SiText(bytes.data(), bytes.size(), family); }

}  // namespace pidsift
