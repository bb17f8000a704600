// The JSON writer of the library: the printers' JSON forms (the dump's JSON Lines, one document a
// line) and the check's report, written to a sink (text/text.h) as the values come, with the
// commas between members worked out from where the writer stands.
//
// Strings are written as JSON requires whatever bytes they hold, in one of two ways:
// - TS_JSON_BYTES (the printers'): a quote and a backslash are escaped with a backslash, bytes
//   below 0x20 are written as \u00XX, and valid UTF-8 passes as it stands. A byte that does not
//   belong to a valid UTF-8 sequence (a stray continuation byte, a lead byte whose sequence is
//   cut short, an overlong form, a surrogate, a code point past U+10FFFF) is written as \u00XX
//   of that byte: its reading as ISO 8859-1, which is how the few texts a stream carries in
//   these tables (ISO 639 language codes) are coded, and which keeps the byte's value for a
//   reader that wants it back. Nothing is ever replaced by U+FFFD.
// - TS_JSON_TEXT (texts meant for reading, the check's report): the same, but backspace, tab,
//   line feed, form feed and carriage return take their short escapes (\b \t \n \f \r), and
//   each maximal subpart of an invalid sequence (TS_Text_UTF8Subpart) becomes U+FFFD, as the
//   common JSON libraries write them.
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_JSON_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_JSON_H

#include <cstddef>

#include <pidsift/ts.h>

#include "text/text.h"

// Containers open at once that the writer keeps track of. The library's documents nest five
// deep at most (a PMT's streams, their descriptors, a language list); past this depth the
// writer no longer knows where a comma is due.
constexpr u32 TS_JSON_MAX_DEPTH = 16;

enum TS_JsonStrings : u8 { TS_JSON_BYTES, TS_JSON_TEXT };

// Where the writer writes, and where it stands in the document: which open containers have a
// member already, so that the next one is preceded by a comma.
struct TS_Json {
    TS_Sink *pOut;
    TS_JsonStrings eStrings;
    u32 u32Depth;                             // containers open
    bool bAfterKey;                           // a key was written: its value follows without a comma
    bool lbHasMember[TS_JSON_MAX_DEPTH + 1];  // element 0: the top level
};

// Starts a fresh document written to out.
void TS_Json_Start(TS_Json *json, TS_Sink *out, TS_JsonStrings strings = TS_JSON_BYTES);

void TS_Json_ObjectBegin(TS_Json *json);
void TS_Json_ObjectEnd(TS_Json *json);
void TS_Json_ArrayBegin(TS_Json *json);
void TS_Json_ArrayEnd(TS_Json *json);

// The key of the next member of an object (escaped as any string).
void TS_Json_Key(TS_Json *json, const char *key);

// Values: an unsigned number in decimal (every u64 exactly, up to 18446744073709551615), a
// double, true or false, null, a NUL-terminated string, count bytes as a string (NUL bytes
// included), and count bytes as a string of two lower-case hexadecimal digits a byte.
// A double is written with the fewest digits that read back as the same value, in the common
// JSON libraries' layout: "1.0" for an integral value, "0.001" down to 10^-5, "1e+16" and
// "1.5e-05" beyond, "-0.0"; NaN and the infinities, which JSON cannot write, as null.
void TS_Json_Number(TS_Json *json, u64 value);
void TS_Json_Double(TS_Json *json, double value);
void TS_Json_Bool(TS_Json *json, bool value);
void TS_Json_Null(TS_Json *json);
void TS_Json_String(TS_Json *json, const char *text);
void TS_Json_StringBytes(TS_Json *json, const u8 *bytes, size_t count);
void TS_Json_Hex(TS_Json *json, const u8 *bytes, size_t count);

// Ends the line of a finished document and starts the next one.
void TS_Json_EndLine(TS_Json *json);

// A member: key and value.
inline void TS_Json_NumberField(TS_Json *json, const char *key, u64 value)
{
    TS_Json_Key(json, key);
    TS_Json_Number(json, value);
}
inline void TS_Json_DoubleField(TS_Json *json, const char *key, double value)
{
    TS_Json_Key(json, key);
    TS_Json_Double(json, value);
}
inline void TS_Json_NullField(TS_Json *json, const char *key)
{
    TS_Json_Key(json, key);
    TS_Json_Null(json);
}
inline void TS_Json_BoolField(TS_Json *json, const char *key, bool value)
{
    TS_Json_Key(json, key);
    TS_Json_Bool(json, value);
}
inline void TS_Json_StringField(TS_Json *json, const char *key, const char *text)
{
    TS_Json_Key(json, key);
    TS_Json_String(json, text);
}
inline void TS_Json_HexField(TS_Json *json, const char *key, const u8 *bytes, size_t count)
{
    TS_Json_Key(json, key);
    TS_Json_Hex(json, bytes, count);
}

// "key": [{...}, ...]: one object for each index below count, its members written by member(i).
template <class Members> void TS_Json_ObjectArrayField(TS_Json *json, const char *key, u32 count, Members member)
{
    TS_Json_Key(json, key);
    TS_Json_ArrayBegin(json);
    for (u32 i = 0; i < count; ++i) {
        TS_Json_ObjectBegin(json);
        member(i);
        TS_Json_ObjectEnd(json);
    }
    TS_Json_ArrayEnd(json);
}

#endif  // PIDSIFT_TRANSPORT_STREAM_TEXT_JSON_H
