// The process-wide records of the drivers. They live in static storage: a run allocates nothing.
#include <pidsift/ts.h>

u8 g_lu8Buffer[TS_READ_CHUNK];
TS_SimpleData g_tSimpleData;
TS_Data g_tData;
char g_strString1[65536];
char g_strString2[65536];
TS_PNSplitList g_tPNSplitData;
