// The columns pidsift-check gives a cell: the table's edges, marks and format characters, wide
// scripts and emoji, and bytes that are not UTF-8.
#include <gtest/gtest.h>

#include <string>

#include "display_width.h"

namespace {

using front_end::CodePointWidth;
using front_end::DisplayWidth;

TEST(DisplayWidth, CodePointsAtTheEdgesOfTheRanges)
{
    const struct {
        u32 code;
        size_t width;
    } cases[] = {
        {0x0041, 1},  {0x02FF, 1},  {0x0300, 0},  {0x036F, 0},  {0x0370, 1},  // Latin and its marks
        {0x0E47, 0},  {0x0E4E, 0},  {0x0E4F, 1},                              // Thai tone marks, then a sign
        {0x00AD, 1},  {0x200B, 0},  {0x200D, 0},  {0xFE0F, 0},  {0x0600, 1},  // format characters
        {0x10FF, 1},  {0x1100, 2},  {0x115F, 2},  {0x1160, 0},  {0x11FF, 0},  {0x1200, 1},  // Hangul jamo
        {0x3000, 2},  {0x303F, 1},  {0x4E00, 2},  {0xAC00, 2},  {0xD7A3, 2},  {0xD7B0, 0},  {0xFF01, 2},
        {0xFF60, 2},  {0xFF61, 1},  {0xFF9F, 1},  {0xFFE0, 2},  // full and half width forms
        {0x2764, 1},  {0x26A1, 2},  {0x1F1E6, 1}, {0x1F600, 2}, {0x1F64F, 2}, {0x1F650, 1},  // emoji
        {0x1F9FF, 2}, {0x20000, 2}, {0x3FFFD, 2}, {0x3FFFE, 1}, {0xE0001, 0}, {0xE01EF, 0}, {0x10FFFF, 1},
    };
    for (const auto &each : cases)
        EXPECT_EQ(CodePointWidth(each.code), each.width) << std::hex << each.code;
}

TEST(DisplayWidth, Texts)
{
    const struct {
        const char *text;
        size_t width;
    } cases[] = {
        {"", 0},
        {"BBC NEWS", 8},
        {"France T\xC3\xA9l\xC3\xA9visions", 18},                              // é precomposed
        {"Cafe\xCC\x81", 4},                                                   // e and a combining accent
        {"\xE0\xB8\x8A\xE0\xB9\x88\xE0\xB8\xAD\xE0\xB8\x87 3", 5},             // ช่อง 3
        {"\xE8\xA6\x8B\xE6\x9C\xAC\xE3\x83\x86\xE3\x83\xAC\xE3\x83\x93", 10},  // 見本テレビ
        {"\xEF\xBD\xB1\xEF\xBE\x86\xEF\xBE\x92", 3},                           // half-width katakana
        {"\xF0\x9F\x98\x80", 2},                                               // 😀
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9", 4},                   // two emoji joined by ZWJ
    };
    for (const auto &each : cases)
        EXPECT_EQ(DisplayWidth(each.text), each.width) << each.text;
}

// Every byte that does not begin a whole, shortest, valid sequence takes one column, and the
// bytes after it are read afresh.
TEST(DisplayWidth, BytesOutsideUTF8)
{
    const struct {
        std::string text;
        size_t width;
    } cases[] = {
        {"\x80", 1},                  // a continuation byte alone
        {"\xC3", 1},                  // cut at the end
        {"\xC3\x41", 2},              // cut before an A
        {"\xE8\xA6", 2},              // a wide character cut: its two bytes
        {"\xE8\xA6\x8B\xE8\xA6", 4},  // a whole one, then a cut one
        {"\xC0\xAF", 2},              // overlong
        {"\xE0\x80\xAF", 3},          // overlong
        {"\xED\xA0\x80", 3},          // a surrogate
        {"\xF4\x90\x80\x80", 4},      // past U+10FFFF
        {"\xF5\x80", 2},              // no such lead byte
        {"\xFF\xFE", 2},
        {"\xF0\x9F\x98", 3},  // an emoji cut
    };
    for (const auto &each : cases)
        EXPECT_EQ(DisplayWidth(each.text), each.width) << testing::PrintToString(each.text);
}

}  // namespace
