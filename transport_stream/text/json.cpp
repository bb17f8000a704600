// The JSON writer: values written straight into the sink, with the commas between members
// worked out from where the writer stands.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "text/json.h"
#include "text/utf8.h"

namespace {

const char kHexDigits[] = "0123456789abcdef";

// The control characters with an escape of their own, for TS_JSON_TEXT.
constexpr char kShortEscapes[0x20] = {0, 0, 0, 0, 0, 0, 0, 0, 'b', 't', 'n', 0, 'f', 'r'};

// The layout of a double's shortest digits, digits[0, count) times 10^exponent, as the common
// JSON libraries write it: plain decimals while the point stands within 15 digits of the first
// and no more than 4 zeros follow it, else one digit before the point and a signed exponent of
// at least two digits. Returns the characters written into out (room for 32).
size_t TS_Json_LayOutDouble(char *out, const char *digits, int count, int exponent)
{
    constexpr int kMaxPoint = 15;
    constexpr int kMinPoint = -4;
    const int point = count + exponent;  // where the decimal point falls among the digits
    size_t n = 0;
    if (count <= point && point <= kMaxPoint) {
        std::memcpy(out, digits, size_t(count));
        n = size_t(count);
        for (int k = count; k < point; ++k)
            out[n++] = '0';
        out[n++] = '.';
        out[n++] = '0';
        return n;
    }
    if (0 < point && point <= kMaxPoint) {
        std::memcpy(out, digits, size_t(point));
        out[point] = '.';
        std::memcpy(out + point + 1, digits + point, size_t(count - point));
        return size_t(count) + 1;
    }
    if (kMinPoint < point && point <= 0) {
        out[n++] = '0';
        out[n++] = '.';
        for (int k = point; k < 0; ++k)
            out[n++] = '0';
        std::memcpy(out + n, digits, size_t(count));
        return n + size_t(count);
    }
    out[n++] = digits[0];
    if (count > 1) {
        out[n++] = '.';
        std::memcpy(out + n, digits + 1, size_t(count - 1));
        n += size_t(count - 1);
    }
    int power = point - 1;
    out[n++] = 'e';
    out[n++] = power < 0 ? '-' : '+';
    power = power < 0 ? -power : power;
    if (power >= 100)
        out[n++] = char('0' + power / 100);
    out[n++] = char('0' + power / 10 % 10);
    out[n++] = char('0' + power % 10);
    return n;
}

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
        json->pOut->Put(',');
    has_member = true;
}

}  // namespace

namespace {

// Writes count bytes as a quoted string, escaped as the header describes. Runs of bytes that
// need no escape go out in one write.
void TS_Json_PutString(TS_Json *json, const u8 *text, size_t count)
{
    TS_Sink *out = json->pOut;
    const bool readable = json->eStrings == TS_JSON_TEXT;
    out->Put('"');
    size_t plain = 0;  // start of the run not yet written
    size_t i = 0;
    while (i < count) {
        const u8 byte = text[i];
        if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
            ++i;
            continue;
        }
        const size_t length = byte < 0x80 ? 1 : TS_Text_UTF8Length(text + i, count - i);
        if (byte >= 0x80 && length != 0) {
            i += length;
            continue;
        }
        if (i > plain)
            out->Write(reinterpret_cast<const char *>(text + plain), i - plain);
        size_t taken = 1;
        if (byte == '"' || byte == '\\') {
            const char escape[2] = {'\\', char(byte)};
            out->Write(escape, sizeof escape);
        } else if (readable && byte >= 0x80) {
            out->Write("\xEF\xBF\xBD", 3);
            taken = TS_Text_UTF8Subpart(text + i, count - i);
        } else if (readable && kShortEscapes[byte] != 0) {
            const char escape[2] = {'\\', kShortEscapes[byte]};
            out->Write(escape, sizeof escape);
        } else {
            const char escape[6] = {'\\', 'u', '0', '0', kHexDigits[byte >> 4], kHexDigits[byte & 0x0F]};
            out->Write(escape, sizeof escape);
        }
        i += taken;
        plain = i;
    }
    if (count > plain)
        out->Write(reinterpret_cast<const char *>(text + plain), count - plain);
    out->Put('"');
}

void TS_Json_Open(TS_Json *json, char bracket)
{
    TS_Json_BeforeValue(json);
    json->pOut->Put(bracket);
    ++json->u32Depth;
    TS_Json_Level(json) = false;
}

void TS_Json_Close(TS_Json *json, char bracket)
{
    json->pOut->Put(bracket);
    if (json->u32Depth > 0)
        --json->u32Depth;
    json->bAfterKey = false;
}

}  // namespace

void TS_Json_Start(TS_Json *json, TS_Sink *out, TS_JsonStrings strings)
{
    std::memset(json, 0, sizeof *json);
    json->pOut = out;
    json->eStrings = strings;
}

void TS_Json_ObjectBegin(TS_Json *json) { TS_Json_Open(json, '{'); }
void TS_Json_ObjectEnd(TS_Json *json) { TS_Json_Close(json, '}'); }
void TS_Json_ArrayBegin(TS_Json *json) { TS_Json_Open(json, '['); }
void TS_Json_ArrayEnd(TS_Json *json) { TS_Json_Close(json, ']'); }

void TS_Json_Key(TS_Json *json, const char *key)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(json, reinterpret_cast<const u8 *>(key), std::strlen(key));
    json->pOut->Put(':');
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
    json->pOut->Write(digits + sizeof digits - count, count);
}

void TS_Json_Double(TS_Json *json, double value)
{
    TS_Json_BeforeValue(json);
    if (!std::isfinite(value)) {
        json->pOut->Write("null", 4);
        return;
    }
    char *out = json->pOut->Reserve(40);
    size_t n = 0;
    if (std::signbit(value)) {
        out[n++] = '-';
        value = -value;
    }
    if (value == 0) {
        std::memcpy(out + n, "0.0", 3);
        json->pOut->Commit(u32(n + 3));
        return;
    }
    // The shortest digits that read back as value, as d.ddde±x.
    char scientific[32];
    const std::to_chars_result written =
        std::to_chars(scientific, scientific + sizeof scientific, value, std::chars_format::scientific);
    const char *e = static_cast<const char *>(std::memchr(scientific, 'e', size_t(written.ptr - scientific)));
    char digits[20];
    int count = 0;
    for (const char *c = scientific; c < e; ++c)
        if (*c != '.')
            digits[count++] = *c;
    int power = 0;
    std::from_chars(e + (e[1] == '+' ? 2 : 1), written.ptr, power);
    n += TS_Json_LayOutDouble(out + n, digits, count, power - (count - 1));
    json->pOut->Commit(u32(n));
}

void TS_Json_Bool(TS_Json *json, bool value)
{
    TS_Json_BeforeValue(json);
    if (value)
        json->pOut->Write("true", 4);
    else
        json->pOut->Write("false", 5);
}

void TS_Json_Null(TS_Json *json)
{
    TS_Json_BeforeValue(json);
    json->pOut->Write("null", 4);
}

void TS_Json_String(TS_Json *json, const char *text)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(json, reinterpret_cast<const u8 *>(text), std::strlen(text));
}

void TS_Json_StringBytes(TS_Json *json, const u8 *bytes, size_t count)
{
    TS_Json_BeforeValue(json);
    TS_Json_PutString(json, bytes, count);
}

void TS_Json_Hex(TS_Json *json, const u8 *bytes, size_t count)
{
    TS_Json_BeforeValue(json);
    TS_Sink *out = json->pOut;
    out->Put('"');
    for (size_t i = 0; i < count; ++i) {
        out->Put(kHexDigits[bytes[i] >> 4]);
        out->Put(kHexDigits[bytes[i] & 0x0F]);
    }
    out->Put('"');
}

void TS_Json_EndLine(TS_Json *json)
{
    json->pOut->Put('\n');
    TS_Json_Start(json, json->pOut, json->eStrings);
}
