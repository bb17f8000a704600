// The JSON that the printers' JSON forms write on standard output, one document a line (JSON
// Lines), through the same stdout stream as their text.
//
// Strings are written as JSON requires whatever bytes they hold: a quote and a backslash are
// escaped with a backslash, bytes below 0x20 are written as \u00XX, and valid UTF-8 passes as
// it stands. A byte that does not belong to a valid UTF-8 sequence (a stray continuation byte,
// a lead byte whose sequence is cut short, an overlong form, a surrogate, a code point past
// U+10FFFF) is written as \u00XX of that byte: its reading as ISO 8859-1, which is how the few
// texts a stream carries in these tables (ISO 639 language codes) are coded, and which keeps
// the byte's value for a reader that wants it back. Nothing is ever replaced by U+FFFD.
#ifndef PIDSIFT_TRANSPORT_STREAM_TEXT_JSON_H
#define PIDSIFT_TRANSPORT_STREAM_TEXT_JSON_H

#include <cstddef>

#include <pidsift/ts.h>

// Containers open at once that the writer keeps track of. The library's documents nest five
// deep at most (a PMT's streams, their descriptors, a language list); past this depth the
// writer no longer knows where a comma is due.
constexpr u32 TS_JSON_MAX_DEPTH = 16;

// Where the writer stands in the document: which open containers have a member already, so
// that the next one is preceded by a comma.
struct TS_Json {
    u32 u32Depth;                             // containers open
    bool bAfterKey;                           // a key was written: its value follows without a comma
    bool lbHasMember[TS_JSON_MAX_DEPTH + 1];  // element 0: the top level
};

// Starts a fresh document.
void TS_Json_Start(TS_Json *json);

void TS_Json_ObjectBegin(TS_Json *json);
void TS_Json_ObjectEnd(TS_Json *json);
void TS_Json_ArrayBegin(TS_Json *json);
void TS_Json_ArrayEnd(TS_Json *json);

// The key of the next member of an object (escaped as any string).
void TS_Json_Key(TS_Json *json, const char *key);

// Values: an unsigned number in decimal (every u64 exactly, up to 18446744073709551615), true
// or false, null, a NUL-terminated string, count bytes as a string (NUL bytes included), and
// count bytes as a string of two lower-case hexadecimal digits a byte.
void TS_Json_Number(TS_Json *json, u64 value);
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
