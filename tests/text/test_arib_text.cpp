// ARIB 8-unit code to UTF-8: the sets of the initial state and those designated by ESC, the
// shifts, the character sizes, the additional symbols and kanji, controls and their
// parameters, names as they are broadcast, and broken input. Codes are JIS row/cell plus 0x20
// (GL) or 0xA0 (GR). Every input sits in a heap block of exactly its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include <pidsift/ts.h>

#include "text_field.h"

namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

std::string Arib(const std::string &field, int capacity = 1024)
{
    return testsupport::DecodedText(field, TS_TEXT_ARIB, capacity);
}

TEST(AribText, InitialSetsKanjiInGLHiraganaInGR)
{
    EXPECT_EQ(Arib("\x41\x6D\x39\x67"), "総合");          // JIS 0x416D 0x3967
    EXPECT_EQ(Arib("\xCB\xE5\xF9\xB9"), "にゅーす");      // G2 hiragana in GR
    EXPECT_EQ(Arib("\xF7\xF8\xFA\xFB\xFC\xFD\xFE"), "ゝゞ。「」、・");
    EXPECT_EQ(Arib("\xF3\xF4"), "ん" + kFFFD);            // 0x74 to 0x76 are empty
    EXPECT_EQ(Arib("\x21\x3C\x21\x3E"), "ー‐");          // Kanji row 1 in GL
}

TEST(AribText, LockingShiftsAndDesignations)
{
    // LS3R puts G3 (katakana) into GR, with its own iteration marks at 0x77 and 0x78.
    EXPECT_EQ(Arib("\x1B\x7C\xCB\xE5\xF9\xB9\xF7\xF8"), "ニュースヽヾ");
    // LS1 puts G1 (alphanumeric) into GL, LS0 the Kanji back.
    EXPECT_EQ(Arib("\x0E" "NHK\x0F\x41\x6D"), "ＮＨＫ総");
    // LS2 and LS3 into GL, LS1R and LS2R into GR.
    EXPECT_EQ(Arib("\x1B\x6E\x24\x1B\x6F\x24\x1B\x7E\xC1\x1B\x7D\xA4"), "いイＡい");
    // ESC 0x28 F: alphanumeric into G0; ESC 0x24 F: Kanji back into G0.
    EXPECT_EQ(Arib("\x1B\x28\x4A" "BS\x1B\x24\x42\x41\x6D"), "ＢＳ総");
    // ESC 0x24 0x29 F: Kanji into G1; ESC 0x2A F: katakana into G2, still in GR.
    EXPECT_EQ(Arib("\x1B\x24\x29\x42\x0E\x41\x6D\x1B\x2A\x31\xCB"), "総ニ");
    // Proportional sets read as their fixed-width ones.
    EXPECT_EQ(Arib("\x1B\x29\x36\x0E" "A\x1B\x2A\x37\xA4\x1B\x2B\x38\x1B\x7C\xA4"), "Ａいイ");
}

TEST(AribText, SingleShiftsTakeOneCharacter)
{
    EXPECT_EQ(Arib("\x19\x24\x41\x6D"), "い総");   // SS2: G2 hiragana, then G0 again
    EXPECT_EQ(Arib("\x1D\x24\x41\x6D"), "イ総");   // SS3: G3 katakana
    EXPECT_EQ(Arib("\x1B\x24\x2B\x42\x1D\x41\x6D\xA4"), "総い");  // a two-byte set in G3
    // A control between the shift and the character cancels the shift.
    EXPECT_EQ(Arib("\x19\x0D\x41\x6D"), "\n総");
}

TEST(AribText, CharacterSizeDecidesWidth)
{
    // Normal size: full-width alphanumerics, ideographic space, yen and overline full-width.
    EXPECT_EQ(Arib("\x0E" "A1 \\~"), "Ａ１　￥￣");
    // Middle size: ASCII with the JIS X 0201 yen and overline, half-width katakana; NSZ back.
    EXPECT_EQ(Arib("\x89\x0E" "A1 \\~\x8A" "A"), "A1 ¥‾Ａ");
    EXPECT_EQ(Arib("\x89\x1B\x7C\xCB\xE5\xF9\xB9\xFA\xFB\xFC\xFD\xFE"), "ﾆｭｰｽ｡｢｣､･");
    // Voiced letters take the half-width sound marks; letters without a half-width form stay.
    EXPECT_EQ(Arib("\x89\x1B\x7C\xAC\xD1\xF4\xEE\xF6\xF7"), "ｶﾞﾊﾟｳﾞヮヶヽ");
    // Small size is narrow too; hiragana and kanji keep their width in every size.
    EXPECT_EQ(Arib("\x88\xCB\xF9\x41\x6D\x0E" "A"), "にー総A");
}

TEST(AribText, JISX0201Katakana)
{
    // ESC 0x29 0x49: JIS X 0201 katakana into G1; 0x36 is ｶ, 0x5E the voiced sound mark.
    EXPECT_EQ(Arib("\x1B\x29\x49\x0E\x36\x5E\x21"), "カ゛。");
    EXPECT_EQ(Arib("\x89\x1B\x29\x49\x0E\x36\x5E\x21\x60"), "ｶﾞ｡" + kFFFD);
}

TEST(AribText, JISX0213Sets)
{
    // JIS X 0213 plane 1 additions through the Kanji set: a circled number of row 13, a kana
    // with the semi-voiced mark that Unicode writes as two code points.
    EXPECT_EQ(Arib("\x2D\x21\x24\x77"), "①か\xE3\x82\x9A");
    // The dash of row 1: JIS X 0208's mapping in the Kanji set, JIS X 0213's in plane 1.
    EXPECT_EQ(Arib("\x21\x3D\x1B\x24\x39\x21\x3D"), "―—");
    // Plane 2 (ESC 0x24 0x3A), 1-1; and a plane-2 row JIS X 0213 leaves empty.
    EXPECT_EQ(Arib("\x1B\x24\x3A\x21\x21\x22\x21"), "𠂉" + kFFFD);
}

TEST(AribText, AdditionalSymbolsAndKanji)
{
    // Rows 90 to 94 in the Kanji set: boxed HV, boxed 字 (a programme guide's subtitle mark),
    // Roman numeral I, circled 1, the Heisei era, a parenthesised lower-case abbreviation with
    // no Unicode character.
    EXPECT_EQ(Arib("\x7A\x50\x7A\x56\x7E\x21\x7E\x61\x7D\x2C\x7C\x58"), "🅊🈑Ⅰ①㍻" + kFFFD);
    // Rows 85 and 86: additional kanji of names.
    EXPECT_EQ(Arib("\x75\x40\x76\x47"), "﨑髙");
    // Rows 87 to 89 are empty.
    EXPECT_EQ(Arib("\x77\x21\x79\x7E"), kFFFD + kFFFD);
    // The additional-symbols set (ESC 0x24 0x3B) holds those rows and nothing else.
    EXPECT_EQ(Arib("\x1B\x24\x3B\x7A\x50\x76\x47\x41\x6D"), "🅊髙" + kFFFD);
}

TEST(AribText, AdditionalKanjiEachAtItsOwnCell)
{
    // Anchors from outside the table: Unihan's kIRG_JSource JARIB codes (the characters Unicode
    // encoded for these broadcasts), the two forms of 𤋮 side by side, and kanji of the standard's
    // table at the cells where a shift of one would show: 85-69 煇, 86-39 髙, 86-43 麵 the last.
    struct Anchor {
        u8 u8Row;
        u8 u8Cell;
        const char *strText;
    };
    const Anchor anchors[] = {
        {0x75, 0x47, "\uFA6B"}, {0x75, 0x4F, "\u9FC4"}, {0x75, 0x63, "\uFA6C"}, {0x75, 0x64, "\U000242EE"},
        {0x75, 0x65, "煇"},     {0x75, 0x7D, "\u9FC6"}, {0x76, 0x21, "\u9FC5"}, {0x76, 0x2B, "\uFA6D"},
        {0x76, 0x47, "髙"},     {0x76, 0x4B, "麵"},     {0x76, 0x4C, "\uFFFD"},  // past the last
    };
    // Both sets reach rows 85 and 86: the Kanji set and the additional symbols.
    for (const std::string designation : {"\x1B\x24\x42", "\x1B\x24\x3B"}) {
        for (const Anchor &anchor : anchors)
            EXPECT_EQ(Arib(designation + char(anchor.u8Row) + char(anchor.u8Cell)), anchor.strText)
                << testing::PrintToString(designation) << std::hex << " " << int(anchor.u8Row) << int(anchor.u8Cell);
    }
    // The whole run from 85-67 to 86-43 at once: one character a cell, none missing or doubled,
    // U+242EE once and right after U+FA6C, every anchor of the run at its own place.
    std::vector<int> codes;
    for (int cell = 67; cell <= 94; ++cell)
        codes.push_back(0x7520 + cell);
    for (int cell = 1; cell <= 43; ++cell)
        codes.push_back(0x7620 + cell);
    std::string run;
    for (int code : codes)
        run += std::string{char(code >> 8), char(code & 0xFF)};
    const std::string text = Arib(run);
    std::vector<std::string> cells;
    for (size_t at = 0; at < text.size();) {
        const size_t length = TS_Text_UTF8Length(reinterpret_cast<const u8 *>(text.data()) + at, text.size() - at);
        ASSERT_GT(length, 0u);
        cells.push_back(text.substr(at, length));
        at += length;
    }
    ASSERT_EQ(cells.size(), codes.size());
    EXPECT_EQ(std::count(cells.begin(), cells.end(), "\U000242EE"), 1);
    EXPECT_EQ(std::count(cells.begin(), cells.end(), "\uFFFD"), 0);
    for (const Anchor &anchor : anchors) {
        const auto at = std::find(codes.begin(), codes.end(), anchor.u8Row << 8 | anchor.u8Cell);
        if (at != codes.end()) {
            EXPECT_EQ(cells[size_t(at - codes.begin())], anchor.strText) << std::hex << *at;
        }
    }
}

TEST(AribText, SetsWithoutUnicodeGiveOneReplacementPerCharacter)
{
    EXPECT_EQ(Arib("\x1B\x29\x32\x0E\x21\x7E"), kFFFD + kFFFD);           // mosaic A
    EXPECT_EQ(Arib("\x1B\x29\x20\x41\x0E\x21\x22"), kFFFD + kFFFD);       // DRCS-1
    EXPECT_EQ(Arib("\x1B\x24\x28\x20\x40\x21\x21\x22\x22"), kFFFD + kFFFD);  // DRCS-0: two bytes each
    EXPECT_EQ(Arib("\x1B\x24\x7A\x21\x21\x0F\x1B\x28\x7A\x21"), kFFFD + kFFFD);  // unknown sets
}

TEST(AribText, ControlsGiveNothingAndTakeTheirParameters)
{
    // Each parameter below would start a kanji if it were read as text.
    EXPECT_EQ(Arib("\x41\x6D\x0D\x39\x67"), "総\n合");                     // APR
    EXPECT_EQ(Arib("\x90\x51\x90\x20\x41\x41\x6D"), "総");                  // COL
    EXPECT_EQ(Arib("\x92\x20\x41\x91\x40\x93\x41\x94\x44\x97\x41\x98\x41\x41\x6D"), "総");
    EXPECT_EQ(Arib("\x8B\x41\x16\x41\x1C\x41\x42\x9D\x20\x41\x41\x6D"), "総");  // SZX PAPF APS TIME
    EXPECT_EQ(Arib("\x9B\x31\x30\x3B\x32\x30\x20\x53\x41\x6D"), "総");      // CSI
    EXPECT_EQ(Arib("\x95\x40\x41\x6D\x39\x67\x95\x4F\x41\x6D"), "総");      // a macro definition
    EXPECT_EQ(Arib("\x80\x87\x0C\x7F\x07\x18\x9A\x41\x6D"), "総");          // colour, CS, DEL, ...
    // Controls cut short by the end.
    EXPECT_EQ(Arib("\x41\x6D\x90\x20"), "総");
    EXPECT_EQ(Arib("\x41\x6D\x9B\x31"), "総");
    EXPECT_EQ(Arib("\x41\x6D\x95\x40\x41"), "総");
}

TEST(AribText, MacroDefinedAndExecutedTakesEffectAtOnce)
{
    // MACRO 0x41, the macro's code 0x21, a body that designates the alphanumeric set into G0 and
    // writes with it, MACRO 0x4F: the body's text is there and its designation holds after it.
    EXPECT_EQ(Arib("\x95\x41\x21\x1B\x28\x4A\x41\x95\x4F\x42"), "ＡＢ");
    // Defined alone with 0x40, the same body does nothing.
    EXPECT_EQ(Arib("\x95\x40\x21\x1B\x28\x4A\x41\x95\x4F\x41\x6D"), "総");
    // The body ends at MACRO 0x4F: a control cut short there takes nothing after it.
    EXPECT_EQ(Arib("\x95\x41\x21\x41\x6D\x90\x95\x4F\x39\x67"), "総合");
    // A definition inside the body runs to the body's end; the text goes on after MACRO 0x4F.
    EXPECT_EQ(Arib("\x95\x41\x21\x95\x41\x22\x41\x6D\x95\x4F\x39\x67"), "総合");
    // No MACRO 0x4F: the body runs to the end of the text. No code or body: nothing.
    EXPECT_EQ(Arib("\x95\x41\x21\x41\x6D"), "総");
    EXPECT_EQ(Arib("\x95\x41\x95\x4F\x41\x6D"), "総");
    EXPECT_EQ(Arib("\x41\x6D\x95\x41"), "総");
}

TEST(AribText, RepeatControlRepeatsTheNextCharacter)
{
    // RPC 0x43: three times, in a one-byte and in a two-byte set, then once again.
    EXPECT_EQ(Arib("\x0E\x98\x43\x41\x42"), "ＡＡＡＢ");
    EXPECT_EQ(Arib("\x98\x43\x41\x6D\x39\x67"), "総総総合");
    // A space; a half-width voiced letter (two code points) with a size control and a locking
    // shift between RPC and it; a character from a single shift.
    EXPECT_EQ(Arib("\x98\x42\x20\x98\x42\x89\x1B\x7C\xAC\x98\x42\x19\x24"), "　　ｶﾞｶﾞいい");
    // 0x40 (to the end of the line) writes it once, as does a parameter out of range, even after
    // another RPC.
    EXPECT_EQ(Arib("\x98\x40\x41\x6D\x98\x21\x41\x6D\x98\x43\x98\xC3\x41\x6D"), "総総総");
    // An RPC with nothing after it; the copies cut whole by the capacity.
    EXPECT_EQ(Arib("\x41\x6D\x98\x43"), "総");
    EXPECT_EQ(Arib("\x98\x43\x41\x6D\x0E\x41", 8), "総総");
}

TEST(AribText, NamesAsBroadcast)
{
    // A terrestrial service name all in the Kanji set.
    EXPECT_EQ(Arib("\x23\x4E\x23\x48\x23\x4B\x41\x6D\x39\x67\x23\x31\x21\x26\x45\x6C\x35\x7E"),
              "ＮＨＫ総合１・東京");
    // BS names: middle-size alphanumerics, then normal size for kanji and katakana.
    EXPECT_EQ(Arib("\x0E\x89" "BS\x8A\x0F\x46\x7C\x1B\x7C\xC6\xEC"), "BS日テレ");
    EXPECT_EQ(Arib("\x0E\x89" "WOWOW\x8A\x1B\x7C\xD7\xE9\xA4\xE0"), "WOWOWプライム");
    EXPECT_EQ(Arib("\x0E\x89" "NHK BS1"), "NHK BS1");
}

TEST(AribText, BrokenInputGivesReplacementAndNeverReadsPastTheEnd)
{
    EXPECT_EQ(Arib("\x41\x6D\x39"), "総" + kFFFD);               // a cut two-byte character
    EXPECT_EQ(Arib("\x41\x0D"), kFFFD + "\n");                   // second byte not graphic
    EXPECT_EQ(Arib("\x41\xED"), kFFFD + "ろ");                   // second byte from the other half
    EXPECT_EQ(Arib("\x1B\x40\x41\x6D"), kFFFD + "総");           // unknown ESC with its final byte
    EXPECT_EQ(Arib("\x1B\x21\x22\x40\x41\x6D"), kFFFD + "総");   // ... and its intermediates
    EXPECT_EQ(Arib("\x1B\x28\x0D"), kFFFD + "\n");               // designation without final byte
    EXPECT_EQ(Arib("\xA0\xFF\xA4"), kFFFD + kFFFD + "い");       // bytes no 94-set fills
    for (const std::string cut : {"\x1B", "\x1B\x24", "\x1B\x24\x29", "\x1B\x28\x20", "\x1B\x24\x28\x20"})
        EXPECT_EQ(Arib("\x41\x6D" + cut), "総" + kFFFD) << testing::PrintToString(cut);
    // Shifts and size controls at the end give nothing.
    EXPECT_EQ(Arib("\x41\x6D\x19"), "総");
    EXPECT_EQ(Arib("\x41\x6D\x0E\x89"), "総");
}

TEST(AribText, CapacityCutsBetweenWholeCharactersOnce)
{
    const std::string name = "\x41\x6D\x39\x67";  // 総合, three bytes each
    EXPECT_EQ(Arib(name, 3), "");
    EXPECT_EQ(Arib(name, 4), "総");
    EXPECT_EQ(Arib(name, 6), "総");
    EXPECT_EQ(Arib(name, 7), "総合");
    // A voiced half-width letter is one character of two code points: both or neither.
    EXPECT_EQ(Arib("\x89\x1B\x7C\xAC\xA2", 4), "");
    EXPECT_EQ(Arib("\x89\x1B\x7C\xAC\xA2", 7), "ｶﾞ");
    // So is a JIS X 0213 cell of two code points: か and the semi-voiced mark, two tone letters.
    EXPECT_EQ(Arib("\x24\x77\x2B\x65", 6), "");
    EXPECT_EQ(Arib("\x24\x77\x2B\x65", 10), "か\xE3\x82\x9A");
    EXPECT_EQ(Arib("\x24\x77\x2B\x65", 11), "か\xE3\x82\x9A˩˥");
    // Every capacity of a mixed text gives a prefix of the whole that ends on a character.
    const std::string mixed = "\x0E\x89" "BS\x8A\x0F\x46\x7C\x1B\x7C\xC6\xEC\x7A\x50";
    const std::string whole = Arib(mixed);
    EXPECT_EQ(whole, "BS日テレ🅊");
    const size_t ends[] = {0, 1, 2, 5, 8, 11, 15};
    for (int capacity = 1; capacity <= int(whole.size()) + 1; ++capacity) {
        size_t expected = 0;
        for (size_t end : ends)
            if (end < size_t(capacity))
                expected = end;
        EXPECT_EQ(Arib(mixed, capacity), whole.substr(0, expected)) << capacity;
    }
}

}  // namespace
