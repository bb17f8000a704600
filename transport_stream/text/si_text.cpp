// TS_Text_ToUTF8: the text of a name or description, decoded in the family asked for.
#include "text/si_text.h"

int TS_Text_ToUTF8(char *out, int capacity, const u8 *bytes, int length, int family)
{
    if (out == nullptr || (bytes == nullptr && length > 0) || length < 0 || capacity < 0)
        return -1;
    if (family != TS_TEXT_DVB && family != TS_TEXT_ARIB)
        return -1;
    TS_TextOut text;
    TS_TextOut_Start(&text, out, capacity);
    if (length > 0) {
        if (family == TS_TEXT_DVB)
            TS_Text_DecodeDVB(&text, bytes, length);
        else
            TS_Text_DecodeARIB(&text, bytes, length);
    }
    return TS_TextOut_Finish(&text);
}
