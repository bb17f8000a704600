// Decoders of the ISO/IEC 13818-1 descriptors with a body of their own: tags 0x02 to 0x12, all
// but ISO 639 language read through their layouts.
//
// A decoder reads its fixed part whatever descriptor_length says; the descriptor loops of the
// tables only hand it a descriptor whose fixed part (TS_DESCRIPTOR_KINDS) and announced length
// lie inside the section, so the direct indexing below stays inside the caller's bytes.
#include <cstring>

#include "descriptors/descriptor_layouts.h"

namespace {

// The field's bits in the body, most significant first: at most 32 of them over at most five
// bytes.
u32 TS_DescriptorField_Read(const TS_DescriptorField &field, const u8 *body)
{
    const unsigned end = unsigned(field.u8FirstBit) + field.u8Bits;
    u64 bits = 0;
    for (unsigned byte = field.u8FirstBit / 8u; byte < (end + 7) / 8; ++byte)
        bits = (bits << 8) | body[byte];
    const unsigned below = (8 - end % 8) % 8;  // bits of the last byte behind the field
    const u64 mask = (u64(1) << field.u8Bits) - 1;
    if (field.u8Flags & TS_FIELD_IN_PLACE)
        return u32(bits & (mask << below));
    return u32((bits >> below) & mask);
}

void TS_DescriptorField_Set(const TS_DescriptorField &field, TS_Descriptor *descriptor, u32 value)
{
    u8 *at = reinterpret_cast<u8 *>(descriptor) + field.u16Offset;
    if (field.u8Size == 1) {
        *at = u8(value);
    } else if (field.u8Size == 2) {
        const u16 half = u16(value);
        std::memcpy(at, &half, sizeof half);
    } else {
        std::memcpy(at, &value, sizeof value);
    }
}

// Whether the layout reads only bytes of its kind's fixed part (the first body byte alone for
// the fields of a short form), at most 32 bits a field, into the fields its record has.
constexpr bool TS_DescriptorLayout_FitsItsKind(const TS_DescriptorLayout &layout)
{
    const TS_DescriptorKind &kind = TS_DescriptorKind_For(layout.u8Tag);
    if (kind.u8Tag != layout.u8Tag)
        return false;
    for (const TS_DescriptorField &field : layout.tFields) {
        const bool long_form = (field.u8Flags & TS_FIELD_LONG_FORM) != 0;
        const unsigned body = long_form || kind.u8ShortFormFlags == 0 ? kind.u8FixedSize - 2u : 1u;
        if (field.u8FirstBit + field.u8Bits > 8 * body || field.u8Bits > 32 || field.u8Bits > 8 * field.u8Size)
            return false;
        if (long_form && (layout.iShortFormFlag < 0 || size_t(layout.iShortFormFlag) >= layout.tFields.size()))
            return false;
    }
    return true;
}

}  // namespace

int TS_DescriptorLayout_Decode(const TS_DescriptorLayout &layout, TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    if (data[0] != layout.u8Tag)
        return -2;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    // A long-form field that the body lacks keeps what the record held.
    for (const TS_DescriptorField &field : layout.tFields)
        if (field.u8Bits != 0 && TS_DescriptorLayout_Has(layout, field, descriptor))
            TS_DescriptorField_Set(field, descriptor, TS_DescriptorField_Read(field, data + 2));
    if (layout.strTrailing != nullptr)
        std::memcpy(reinterpret_cast<u8 *>(descriptor) + layout.u16TrailingOffset, data + 6,
                    size_t(TS_Descriptor_TrailingCount(data[1])));
    return 0;
}

// The decoder, printer and JSON form of each kind of form Layout: those of its layout.
#define TS_DESCRIPTOR_FORMS_Own(Name)
#define TS_DESCRIPTOR_FORMS_Layout(Name)                                                                               \
    static_assert(TS_DescriptorLayout_FitsItsKind(k##Name##Layout), #Name " reads outside its fixed part");            \
    int TS_Descriptor_Get##Name(TS_Descriptor *descriptor, const u8 *data)                                             \
    {                                                                                                                  \
        return TS_DescriptorLayout_Decode(k##Name##Layout, descriptor, data);                                          \
    }                                                                                                                  \
    int TS_Descriptor_Print##Name(TS_Sink *out, const TS_Descriptor *descriptor)                                       \
    {                                                                                                                  \
        return TS_DescriptorLayout_Print(out, k##Name##Layout, descriptor);                                            \
    }                                                                                                                  \
    int TS_Descriptor_Print##Name(const TS_Descriptor *descriptor)                                                     \
    {                                                                                                                  \
        return TS_Text_ToStdout([&](TS_Sink *out) { return TS_Descriptor_Print##Name(out, descriptor); });             \
    }                                                                                                                  \
    int TS_Descriptor_Print##Name##JSON(TS_Json *json, const TS_Descriptor *descriptor)                                \
    {                                                                                                                  \
        return TS_DescriptorLayout_PrintJSON(k##Name##Layout, json, descriptor);                                       \
    }
#define TS_DESCRIPTOR_FORMS(Name, TAG, fixed_size, short_form_flags, form) TS_DESCRIPTOR_FORMS_##form(Name)
TS_DESCRIPTOR_KIND_LIST(TS_DESCRIPTOR_FORMS)
#undef TS_DESCRIPTOR_FORMS
#undef TS_DESCRIPTOR_FORMS_Layout
#undef TS_DESCRIPTOR_FORMS_Own

// ISO_639_language_descriptor: one 4-byte entry per language; trailing bytes that do not make a
// whole entry are ignored.
int TS_Descriptor_GetISO639Language(TS_Descriptor *descriptor, const u8 *data)
{
    if (descriptor == nullptr || data == nullptr)
        return -1;
    if (data[0] != TS_TAG_ISO_639_LANGUAGE)
        return -2;
    descriptor->descriptor_tag = data[0];
    descriptor->descriptor_length = data[1];
    const int count = data[1] / 4;  // at most 63, the capacity of ltEntry
    for (int i = 0; i < count; ++i) {
        const u8 *entry = data + 2 + 4 * i;
        TS_ISO639LanguageEntry *language = &descriptor->tISO639Language.ltEntry[i];
        // Three letters as one 24-bit number.
        language->ISO_639_language_code = (u32(entry[0]) << 16) | (u32(entry[1]) << 8) | u32(entry[2]);
        language->audio_type = entry[3];
    }
    return 0;
}
