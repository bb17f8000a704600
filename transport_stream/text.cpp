// Text helpers shared by the printers.
#include <cstdio>

#include "internal.h"

void TS_Text_PrintBytes(const u8 *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        printf("0x%02X, ", bytes[i]);
        if ((i & 0x0F) == 0x0F)
            printf("\n  ");
    }
    putchar('\n');
}
