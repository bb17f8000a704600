// The parts of the table printers that every table prints alike.
#include "descriptors/descriptors.h"
#include "psi/print.h"

void TS_Section_PrintDescriptors(const TS_Descriptor *list, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        TS_Descriptor_Print(&list[i]);
}

void TS_Section_PrintCRC(u32 crc) { TS_Text_Printf("  CRC32:0x%08X\n", crc); }

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
