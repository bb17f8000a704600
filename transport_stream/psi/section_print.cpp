// The parts of the table printers that every table prints alike.
#include "psi/print.h"

void TS_Section_PrintDescriptors(const TS_Descriptor *list, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        TS_Descriptor_Print(&list[i]);
}

void TS_Section_PrintCRC(u32 crc) { TS_Text_Printf("  CRC32:0x%08X\n", crc); }
