// The parts of the table printers that every table prints alike.
#include "descriptors/descriptors.h"
#include "psi/print.h"

void TS_Section_PrintDescriptors(TS_Sink *out, const TS_Descriptor *list, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        TS_Descriptor_Print(out, &list[i]);
}

u16 TS_Section_CountDescriptors(const TS_ByteReader &loop, const u8 *section_end)
{
    return TS_Descriptor_ForEach(loop.Begin(), loop.End(), section_end, [](const u8 *, u32) { return true; });
}

void TS_Section_PrintDescriptorLoop(TS_Sink *out, const TS_ByteReader &loop, const u8 *section_end)
{
    TS_Descriptor descriptor;
    TS_Descriptor_ForEach(loop.Begin(), loop.End(), section_end, [&](const u8 *data, u32) {
        TS_GetDescriptor(&descriptor, data);
        TS_Descriptor_Print(out, &descriptor);
        return true;
    });
}

void TS_Section_PrintDescriptorLoopJSON(TS_Json *json, const TS_ByteReader &loop, const u8 *section_end)
{
    TS_Descriptor descriptor;
    TS_Json_Key(json, "descriptors");
    TS_Json_ArrayBegin(json);
    TS_Descriptor_ForEach(loop.Begin(), loop.End(), section_end, [&](const u8 *data, u32) {
        TS_GetDescriptor(&descriptor, data);
        TS_Descriptor_PrintJSON(json, &descriptor);
        return true;
    });
    TS_Json_ArrayEnd(json);
}

void TS_Section_PrintCRC(TS_Sink *out, u32 crc) { TS_Text_Printf(out, "  CRC32:0x%08X\n", crc); }

void TS_Section_PrintDescriptorsJSON(TS_Json *json, const TS_Descriptor *list, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    TS_Json_Key(json, "descriptors");
    TS_Json_ArrayBegin(json);
    for (u16 i = 0; i < bounded; ++i)
        TS_Descriptor_PrintJSON(json, &list[i]);
    TS_Json_ArrayEnd(json);
}

void TS_Section_PrintCRCJSON(TS_Json *json, u32 crc, bool crc_ok)
{
    TS_Json_NumberField(json, "crc_32", crc);
    TS_Json_BoolField(json, "crc_ok", crc_ok);
}
