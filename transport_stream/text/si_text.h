// Names and descriptions of SI tables as UTF-8 (TS_Text_ToUTF8): the decoders of both families,
// which the dispatcher (si_text.cpp) chooses between. They write through text/utf8.h.
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_SI_TEXT_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_SI_TEXT_H

#include "text/utf8.h"

// The decoders: the text of bytes[0, length) in out. Neither reads a byte at or past length.
void TS_Text_DecodeDVB(TS_TextOut *out, const u8 *bytes, int length);
void TS_Text_DecodeARIB(TS_TextOut *out, const u8 *bytes, int length);

// The code points of ARIB's additional characters: the additional kanji of rows 85 and 86 and
// the additional symbols of rows 90 to 94, by row (1 to 94) and cell (1 to 94). 0 where the
// set has no character or Unicode has none for it.
u32 TS_ARIB_AdditionalCharacter(int row, int cell);

#endif  // PIDSIFT_TRANSPORT_STREAM_TEXT_SI_TEXT_H
