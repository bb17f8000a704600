// JSON forms of decoded descriptors: dispatch by tag through the table of kinds, the raw form,
// and the forms of the kinds with a body of their own (tags 0x02 to 0x12, all but ISO 639
// language written from their layouts). Every descriptor is one object: "tag", "length",
// "name", then its fields under their syntax element names in lower case. Reserved bits are left
// out.
#include "descriptors/descriptor_layouts.h"

namespace {

void TS_Descriptor_OpenJSON(TS_Json *json, const TS_Descriptor *descriptor, const char *name)
{
    TS_Json_ObjectBegin(json);
    TS_Json_NumberField(json, "tag", descriptor->descriptor_tag);
    TS_Json_NumberField(json, "length", descriptor->descriptor_length);
    TS_Json_Key(json, "name");
    // A tag without a name has none in JSON, rather than the text's "?".
    if (name[0] == '?' && name[1] == '\0')
        TS_Json_Null(json);
    else
        TS_Json_String(json, name);
}

}  // namespace

int TS_Descriptor_PrintJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    TS_DescriptorKind_For(descriptor->descriptor_tag).pfnJSON(json, descriptor);
    return 0;
}

// Any descriptor: its name from the table of tags, and its body bytes.
int TS_Descriptor_PrintRAWJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    char name[256];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    TS_Descriptor_OpenJSON(json, descriptor, name);
    TS_Json_HexField(json, "bytes", descriptor->lu8Raw, descriptor->descriptor_length);
    TS_Json_ObjectEnd(json);
    return 0;
}

int TS_DescriptorLayout_PrintJSON(const TS_DescriptorLayout &layout, TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != layout.u8Tag)
        return -2;
    TS_Descriptor_OpenJSON(json, descriptor, layout.strJSON);
    for (const TS_DescriptorField &field : layout.tFields) {
        if ((field.u8Flags & TS_FIELD_TEXT_ONLY) || !TS_DescriptorLayout_Has(layout, field, descriptor))
            continue;
        // The record's name in lower case.
        char key[64];
        size_t n = 0;
        for (const char *c = field.strName; *c != '\0' && n + 1 < sizeof key; ++c)
            key[n++] = char(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
        key[n] = '\0';
        TS_Json_NumberField(json, key, TS_DescriptorField_Get(field, descriptor));
    }
    if (layout.strTrailing != nullptr)
        TS_Json_HexField(json, layout.strTrailing, reinterpret_cast<const u8 *>(descriptor) + layout.u16TrailingOffset,
                         size_t(TS_Descriptor_TrailingCount(descriptor->descriptor_length)));
    TS_Json_ObjectEnd(json);
    return 0;
}

// One entry per whole 4 bytes of descriptor_length. The code is three ISO 8859-1 letters,
// written as the string they spell ("jpn", "eng"); see text/json.h for bytes past ASCII.
int TS_Descriptor_PrintISO639LanguageJSON(TS_Json *json, const TS_Descriptor *descriptor)
{
    if (json == nullptr || descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != TS_TAG_ISO_639_LANGUAGE)
        return -2;
    TS_Descriptor_OpenJSON(json, descriptor, "ISO 639 language");
    TS_Json_Key(json, "languages");
    TS_Json_ArrayBegin(json);
    const int count = descriptor->descriptor_length / 4;
    for (int i = 0; i < count; ++i) {
        const TS_ISO639LanguageEntry *language = &descriptor->tISO639Language.ltEntry[i];
        const u32 code = language->ISO_639_language_code;
        const u8 letters[3] = {u8(code >> 16), u8(code >> 8), u8(code)};
        TS_Json_ObjectBegin(json);
        TS_Json_Key(json, "iso_639_language_code");
        TS_Json_StringBytes(json, letters, sizeof letters);
        TS_Json_NumberField(json, "audio_type", language->audio_type);
        TS_Json_ObjectEnd(json);
    }
    TS_Json_ArrayEnd(json);
    TS_Json_ObjectEnd(json);
    return 0;
}
