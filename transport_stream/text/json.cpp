// The JSON writer of the printers' JSON forms: values written straight onto stdout, with the
// commas between members worked out from where the writer stands.
#include <cstdio>
#include <cstring>

#include "text/json.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The slot of the innermost open container; a writer nested deeper than its capacity shares
// the last slot, so that no call reaches past the array.
bool &TS_Json_Level(TS_Json *json)
{
    return json->lbHasMember[json->u32Depth < TS_JSON_MAX_DEPTH ? json->u32Depth : TS_JSON_MAX_DEPTH];
}

// The comma ahead of a value that is not its container's first member; a value behind its key
// takes none.
void TS_Json_BeforeValue(TS_Json *json)
{
    if (json->bAfterKey) {
        json->bAfterKey = false;
        return;
    }
    bool &has_member = TS_Json_Level(json);
    if (has_member)
        putc_unlocked(',', stdout);
    has_member = true;
}

}  // namespace

// Overlong forms, surrogates (U+D800 to U+DFFF) and code points past U+10FFFF are ruled out by
// the second byte's range.
size_t TS_Text_UTF8Length(const u8 *text, size_t available)
{
    const u8 lead = text[0];
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    u8 low = 0x80;
    u8 high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;  // below: an overlong form
        else if (lead == 0xED)
            high = 0x9F;  // above: a surrogate
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;  // below: an overlong form
        else if (lead == 0xF4)
            high = 0x8F;  // above: past U+10FFFF
    } else {
        return 0;  // a continuation byte, 0xC0, 0xC1 or 0xF5 to 0xFF
    }
    if (length > available || text[1] < low || text[1] > high)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if ((text[k] & 0xC0) != 0x80)
            return 0;
    return length;
}

namespace {

// Writes count bytes as a quoted string, escaped as the header describes. Runs of bytes that
// need no escape go out in one write.
void TS_Json_PutString(const u8 *text, size_t count)
{
    putc_unlocked('"', stdout);
    size_t plain = 0;  // start of the run not yet written
    size_t i = 0;
    while (i < count) {
        const u8 byte = text[i];
        const size_t length = TS_Text_UTF8Length(text + i, count - i);
        if (byte >= 0x20 && byte != '"' && byte != '\\' && length != 0) {
            i += length;
            continue;
        }
        if (i > plain)
            fwrite_unlocked(text + plain, 1, i - plain, stdout);
        if (byte == '"' || byte == '\\') {
            const char escape[2] = {'\\', char(byte)};
            fwrite_unlocked(escape, 1, sizeof escape, stdout);
        } else {
            const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
            fwrite_unlocked(escape, 1, sizeof escape, stdout);
        }
        plain = ++i;
    }
    if (count > plain)
        fwrite_unlocked(text + plain, 1, count - plain, stdout);
    putc_unlocked('"', stdout);
}

void TS_Json_Open(TS_Json *json, char bracket)
{
    TS_Json_BeforeValue(json);
    putc_unlocked(bracket, stdout);
    ++json->u32Depth;
    TS_Json_Level(json) = false;
}

void TS_Json_Close(TS_Json *json, char bracket)
{
    putc_unlocked(bracket, stdout);
    if (json->u32Depth > 0)
        --json->u32Depth;
    json->bAfterKey = false;
}

}  // namespace

void TS_Json_Start(TS_Json *json) { std::memset(json, 0, sizeof *json); }

void TS_Json_ObjectBegin(TS_Json *json) { TS_Json_Open(json, '{'); }
void TS_Json_ObjectEnd(TS_Json *json) { TS_Json_Close(json, '}'); }
void TS_Json_ArrayBegin(TS_Json *json) { TS_Json_Open(json, '['); }
void TS_Json_ArrayEnd(TS_Json *json) { TS_Json_Close(json, ']'); }

void TS_Json_Key(TS_Json *json, const char *key)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(reinterpret_cast<const u8 *>(key), std::strlen(key));
    putc_unlocked(':', stdout);
    json->bAfterKey = true;
}

void TS_Json_Number(TS_Json *json, u64 value)
{
    TS_Json_BeforeValue(json);
    char digits[20];  // 18446744073709551615 has twenty
    size_t count = 0;
    do {
        digits[sizeof digits - ++count] = char('0' + value % 10);
        value /= 10;
    } while (value != 0);
    fwrite_unlocked(digits + sizeof digits - count, 1, count, stdout);
}

void TS_Json_Bool(TS_Json *json, bool value)
{
    TS_Json_BeforeValue(json);
    fputs_unlocked(value ? "true" : "false", stdout);
}

void TS_Json_Null(TS_Json *json)
{
    TS_Json_BeforeValue(json);
    fputs_unlocked("null", stdout);
}

void TS_Json_String(TS_Json *json, const char *text)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(reinterpret_cast<const u8 *>(text), std::strlen(text));
}

void TS_Json_StringBytes(TS_Json *json, const u8 *bytes, size_t count)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(bytes, count);
}

void TS_Json_Hex(TS_Json *json, const u8 *bytes, size_t count)
{
    TS_Json_BeforeValue(json);
    putc_unlocked('"', stdout);
    char pair[2];
    for (size_t i = 0; i < count; ++i) {
        pair[0] = kHexDigits[bytes[i] >> 4];
        pair[1] = kHexDigits[bytes[i] & 0x0F];
        fwrite_unlocked(pair, 1, sizeof pair, stdout);
    }
    putc_unlocked('"', stdout);
}

void TS_Json_EndLine(TS_Json *json)
{
    putc_unlocked('\n', stdout);
    TS_Json_Start(json);
}
