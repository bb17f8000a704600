// Printer dispatch by tag through the table of kinds, the raw printer, and the printers of the
// kinds with a body of their own: tags 0x02 to 0x12, all but ISO 639 language printed from
// their layouts.
#include "descriptors/descriptor_layouts.h"
#include "text/text.h"

// Prints a decoded descriptor with the printer its tag selects: the kind it was decoded as.
int TS_Descriptor_Print(TS_Sink *out, const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    TS_DescriptorKind_For(descriptor->descriptor_tag).pfnPrint(out, descriptor);
    return 0;
}

// Prints any descriptor as its name, tag and length, then a dump of its body bytes.
int TS_Descriptor_PrintRAW(TS_Sink *out, const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    char name[256];
    TS_DescriptorTagToString(name, descriptor->descriptor_tag);
    TS_Text_Printf(out, "[D %s] T:0x%02X L:%d\n  ", name, descriptor->descriptor_tag, descriptor->descriptor_length);
    TS_Text_PrintBytes(out, descriptor->lu8Raw, descriptor->descriptor_length);
    return 0;
}

// "[D Name] LABEL:value ...", the long-form fields on a second line, and the bytes behind an
// identifier dumped on the lines after. Values print as the signed numbers they always have.
int TS_DescriptorLayout_Print(TS_Sink *out, const TS_DescriptorLayout &layout, const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != layout.u8Tag)
        return -2;
    TS_Text_Printf(out, "[D %s]", layout.strText);
    bool long_form = false;
    for (const TS_DescriptorField &field : layout.tFields) {
        if ((field.u8Flags & TS_FIELD_JSON_ONLY) || !TS_DescriptorLayout_Has(layout, field, descriptor))
            continue;
        const bool starts_long_form = (field.u8Flags & TS_FIELD_LONG_FORM) && !long_form;
        long_form = long_form || starts_long_form;
        const char *separator = starts_long_form ? "\n  " : " ";
        const u32 value = TS_DescriptorField_Get(field, descriptor);
        if (field.u8Flags & TS_FIELD_HEX)
            TS_Text_Printf(out, "%s%s:%X", separator, field.strLabel, value);
        else if (field.u8Flags & TS_FIELD_PID)
            TS_Text_Printf(out, "%s%s:0x%04X", separator, field.strLabel, value);
        else
            TS_Text_Printf(out, "%s%s:%d", separator, field.strLabel, int(value));
    }
    if (layout.strTrailing == nullptr) {
        TS_Text_Putchar(out, '\n');
        return 0;
    }
    TS_Text_Printf(out, "\n  ");
    TS_Text_PrintBytes(out, reinterpret_cast<const u8 *>(descriptor) + layout.u16TrailingOffset,
                       TS_Descriptor_TrailingCount(descriptor->descriptor_length));
    return 0;
}

// Prints an ISO 639 language descriptor, one line per entry.
int TS_Descriptor_PrintISO639Language(TS_Sink *out, const TS_Descriptor *descriptor)
{
    if (descriptor == nullptr)
        return -1;
    if (descriptor->descriptor_tag != TS_TAG_ISO_639_LANGUAGE)
        return -2;
    TS_Text_Puts(out, "[D ISO 639 language]");
    const int count = descriptor->descriptor_length / 4;
    for (int i = 0; i < count; ++i) {
        const TS_ISO639LanguageEntry *language = &descriptor->tISO639Language.ltEntry[i];
        TS_Text_Printf(out, "  <%d> ILC:%d AT:%d\n", i, int(language->ISO_639_language_code), language->audio_type);
    }
    return 0;
}

int TS_Descriptor_Print(const TS_Descriptor *descriptor)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Descriptor_Print(out, descriptor); });
}

int TS_Descriptor_PrintRAW(const TS_Descriptor *descriptor)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Descriptor_PrintRAW(out, descriptor); });
}

int TS_Descriptor_PrintISO639Language(const TS_Descriptor *descriptor)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Descriptor_PrintISO639Language(out, descriptor); });
}
