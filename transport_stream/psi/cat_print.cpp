// Text and JSON forms of a decoded CAT.
#include "psi/print.h"

// Prints the header line, the descriptor count, each descriptor, and the CRC_32 after an empty
// line.
int TS_CAT_Print(const TS_CAT *cat)
{
    if (cat == nullptr)
        return -1;
    TS_Section_PrintHeaderLine("CAT", *cat);
    TS_Text_Printf("  DSC:%d\n", cat->u16DescriptorCount);
    TS_Section_PrintDescriptors(cat->ltDescriptor, cat->u16DescriptorCount);
    TS_Text_Putchar('\n');
    TS_Section_PrintCRC(cat->CRC_32);
    return 0;
}

// Bytes 3-4 are reserved in a CAT: they are left out with the other reserved bits.
void TS_CAT_PrintJSON(TS_Json *json, const TS_CAT *cat, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, *cat, nullptr, 0, crc_ok, [json, cat] {
        TS_Section_PrintDescriptorsJSON(json, cat->ltDescriptor, cat->u16DescriptorCount);
    });
}
