// Text and JSON forms of a CAT: of its record (the descriptors it holds) and of a whole section.
#include "psi/print.h"
#include "psi/walk.h"

namespace {

// The header line and the descriptor count.
void TS_CAT_PrintHead(TS_Sink *out, const TS_CAT &cat, u16 descriptor_count)
{
    TS_Section_PrintHeaderLine(out, "CAT", cat);
    TS_Text_Printf(out, "  DSC:%d\n", descriptor_count);
}

// The CRC_32 after an empty line.
void TS_CAT_PrintEnd(TS_Sink *out, u32 crc)
{
    TS_Text_Putchar(out, '\n');
    TS_Section_PrintCRC(out, crc);
}

// The header of a section into cat (its descriptors left out); the reader is left over the
// descriptor loop and the CRC_32.
TS_SectionHeader TS_CAT_ReadHead(TS_CAT *cat, TS_ByteReader *reader)
{
    const TS_SectionHeader header = TS_Section_ReadHeader(cat, reader, TS_SectionForm::Long);
    cat->section_length = header.section_length;
    cat->transport_stream_id = header.table_id_extension;
    cat->CRC_32 = TS_Section_ReadCRC(*reader);
    cat->u16DescriptorCount = 0;
    cat->u8Valid = 1;
    return header;
}

}  // namespace

int TS_CAT_Print(TS_Sink *out, const TS_CAT *cat)
{
    if (cat == nullptr)
        return -1;
    TS_CAT_PrintHead(out, *cat, cat->u16DescriptorCount);
    TS_Section_PrintDescriptors(out, cat->ltDescriptor, cat->u16DescriptorCount);
    TS_CAT_PrintEnd(out, cat->CRC_32);
    return 0;
}

// Bytes 3-4 are reserved in a CAT: they are left out with the other reserved bits.
void TS_CAT_PrintJSON(TS_Json *json, const TS_CAT *cat, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, *cat, nullptr, 0, crc_ok, [json, cat] {
        TS_Section_PrintDescriptorsJSON(json, cat->ltDescriptor, cat->u16DescriptorCount);
    });
}

void TS_CAT_PrintSection(TS_Sink *out, const u8 *section, u32 length)
{
    TS_CAT cat;
    TS_ByteReader reader(section, length);
    const TS_SectionHeader header = TS_CAT_ReadHead(&cat, &reader);
    const TS_ByteReader loop = reader.Take(TS_Section_LoopLength(header, reader));
    TS_CAT_PrintHead(out, cat, TS_Section_CountDescriptors(loop, reader.End()));
    TS_Section_PrintDescriptorLoop(out, loop, reader.End());
    TS_CAT_PrintEnd(out, cat.CRC_32);
}

void TS_CAT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok)
{
    TS_CAT cat;
    TS_ByteReader reader(section, length);
    const TS_SectionHeader header = TS_CAT_ReadHead(&cat, &reader);
    const TS_ByteReader loop = reader.Take(TS_Section_LoopLength(header, reader));
    TS_Section_PrintTableJSON(json, cat, nullptr, 0, crc_ok,
                              [&] { TS_Section_PrintDescriptorLoopJSON(json, loop, reader.End()); });
}

int TS_CAT_Print(const TS_CAT *cat)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_CAT_Print(out, cat); });
}
