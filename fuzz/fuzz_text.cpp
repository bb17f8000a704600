// SI text to UTF-8 (TS_Text_ToUTF8). The first byte chooses the family (its low bit: DVB or
// ARIB); the rest is the text field, alone on the heap so that a read past it is caught. The
// text is converted into a buffer that always has room, then into every small capacity and a
// few cut ones: each result must be valid UTF-8, NUL-terminated inside the capacity, with
// nothing written past its NUL, and be the whole text's longest prefix that ends on a character
// and fits.
#include <cstring>
#include <string>
#include <vector>

#include "support.h"

using fuzzsupport::Check;

namespace {

constexpr char kUntouched = '\x5A';
// The most UTF-8 one input byte can become: ARIB's RPC 0x7F and a JIS X 0201 katakana byte in
// middle size, three bytes, are 63 copies of a half-width letter and its sound mark, two
// three-byte characters.
constexpr int kMostPerByte = 63 * 6 / 3;

// Length of the valid UTF-8 sequence at text[0] (at most available bytes), 0 if there is none.
size_t SequenceLength(const u8 *text, size_t available)
{
    const u8 lead = text[0];
    size_t length = 0;
    u8 low = 0x80;
    u8 high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (length > available || text[1] < low || text[1] > high)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if ((text[k] & 0xC0) != 0x80)
            return 0;
    return length;
}

// A code point that the decoders may write after another as one unit, so that a cut never
// falls before it: a combining diacritic, the combining kana sound marks, the half-width sound
// marks, and the tone letters that JIS X 0213 pairs with each other.
bool IsMark(const u8 *text, size_t length)
{
    u32 code_point = 0;
    if (length == 2)
        code_point = u32(text[0] & 0x1F) << 6 | (text[1] & 0x3F);
    else if (length == 3)
        code_point = u32(text[0] & 0x0F) << 12 | u32(text[1] & 0x3F) << 6 | (text[2] & 0x3F);
    return (code_point >= 0x0300 && code_point <= 0x036F) || (code_point >= 0x02E5 && code_point <= 0x02E9) ||
           code_point == 0x3099 || code_point == 0x309A || code_point == 0xFF9E || code_point == 0xFF9F;
}

// Bytes of the character at text[0]: its code point and the marks that follow it.
size_t CharacterLength(const std::string &text, size_t at)
{
    const u8 *bytes = reinterpret_cast<const u8 *>(text.data());
    size_t length = SequenceLength(bytes + at, text.size() - at);
    if (length == 0)
        return 0;
    while (at + length < text.size()) {
        const size_t mark = SequenceLength(bytes + at + length, text.size() - at - length);
        if (mark == 0 || !IsMark(bytes + at + length, mark))
            break;
        length += mark;
    }
    return length;
}

bool ValidUTF8(const std::string &text)
{
    const u8 *bytes = reinterpret_cast<const u8 *>(text.data());
    for (size_t i = 0; i < text.size();) {
        const size_t length = SequenceLength(bytes + i, text.size() - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// Converts into capacity bytes (with a guard behind them) and checks what any result must hold.
std::string Convert(const u8 *text, int length, int family, int capacity)
{
    std::vector<char> out(size_t(capacity) + 16, kUntouched);
    const int written = TS_Text_ToUTF8(out.data(), capacity, text, length, family);
    Check(written >= 0, "a valid call succeeds");
    if (capacity == 0) {
        Check(written == 0, "capacity 0 gives nothing");
        for (char c : out)
            Check(c == kUntouched, "capacity 0 writes nothing");
        return std::string();
    }
    Check(written < capacity, "the NUL fits");
    Check(out[size_t(written)] == '\0', "NUL-terminated");
    Check(std::strlen(out.data()) == size_t(written), "no NUL inside the text");
    for (size_t i = size_t(written) + 1; i < out.size(); ++i)
        Check(out[i] == kUntouched, "nothing written past the NUL");
    std::string result(out.data(), size_t(written));
    Check(ValidUTF8(result), "valid UTF-8");
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 4097)
        return 0;
    const int family = data[0] & 1 ? TS_TEXT_ARIB : TS_TEXT_DVB;
    const int length = int(size - 1);
    const std::vector<u8> text(data + 1, data + size);
    const u8 *bytes = length > 0 ? text.data() : nullptr;

    const int roomy = length * kMostPerByte + 8;
    const std::string whole = Convert(bytes, length, family, roomy);
    Check(int(whole.size()) < roomy - 1, "the roomy buffer is never filled");
    Check(Convert(bytes, length, family, roomy) == whole, "the same text twice gives the same result");

    std::vector<int> capacities;
    for (int capacity = 0; capacity <= 9; ++capacity)
        capacities.push_back(capacity);
    for (int cut : {1, 2, 3, 4})
        if (int(whole.size()) + 1 - cut > 9)
            capacities.push_back(int(whole.size()) + 1 - cut);
    capacities.push_back(int(whole.size()) + 1);
    for (int capacity : capacities) {
        const std::string prefix = Convert(bytes, length, family, capacity);
        Check(whole.compare(0, prefix.size(), prefix) == 0, "a cut text is a prefix of the whole");
        if (prefix.size() < whole.size()) {
            // The character after the cut (with the marks that go with it) would not have fitted.
            const size_t next = CharacterLength(whole, prefix.size());
            Check(next > 0, "cut on a character boundary");
            Check(prefix.size() + next + 1 > size_t(capacity), "cut only where the next character does not fit");
        }
    }
    return 0;
}
