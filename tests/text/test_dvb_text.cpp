// DVB text fields to UTF-8: each character-table selector with text coded as its table codes
// it, the 6937 diacritics and euro, the control codes, the selectors without a table, and the
// API's refusals. Every input sits in a heap block of exactly its size, so that a read past
// the end is caught under ASan.
#include <gtest/gtest.h>

#include <string>

#include <pidsift/ts.h>

#include "text_field.h"

namespace {

const std::string kFFFD = "\xEF\xBF\xBD";

std::string Dvb(const std::string &field, int capacity = 1024)
{
    return testsupport::DecodedText(field, TS_TEXT_DVB, capacity);
}

TEST(DvbText, DefaultTableIsLatinWithEuroAndDiacriticsAheadOfTheirLetter)
{
    EXPECT_EQ(Dvb("BBC One"), "BBC One");
    EXPECT_EQ(Dvb("Caf\xC2" "e 10\xA4"), "Café 10€");
    EXPECT_EQ(Dvb("M\xC8unchen \xCFS\xC1" "a \xCB" "c"), "München Šà ç");
    // Single codes of the upper half: pound, currency sign, trade mark, D with stroke, eth,
    // quotes, soft hyphen at 0xFF.
    EXPECT_EQ(Dvb("\xA3\xA8\xD4\xE2\xF2\xF3\xA9\xBA\xFF"), "£¤™Đđð‘”\xC2\xAD");
    // A letter with no precomposed form keeps the mark as a combining one; a mark before a space
    // is the spacing mark.
    EXPECT_EQ(Dvb("\xC8" "b\xC1 \xC3 "), "b\xCC\x88`^");
}

TEST(DvbText, LatinCodesWithoutCharacterGiveReplacement)
{
    // 0xC0 and 0xD8 are empty; 0xCC has no mark; a mark before a digit, a control or the end
    // is replaced alone and what follows is read as it is.
    EXPECT_EQ(Dvb("a\xC0" "b\xD8"), "a" + kFFFD + "b" + kFFFD);
    EXPECT_EQ(Dvb("\xCC" "a"), kFFFD + "a");
    EXPECT_EQ(Dvb("\xC2" "1\xC2\x8A\xC2"), kFFFD + "1" + kFFFD + "\n" + kFFFD);
}

TEST(DvbText, ControlCodesDroppedButLineBreak)
{
    EXPECT_EQ(Dvb("\x86" "BBC\x87 One\x8ATwo"), "BBC One\nTwo");
    EXPECT_EQ(Dvb("A\x0D\x0A\x7F\x80\x9F" "B"), "AB");
    // The same codes in the private-use area of the two-byte table, and as UTF-8.
    EXPECT_EQ(Dvb(std::string("\x11\xE0\x86\x00" "A\xE0\x87\xE0\x8A\x00" "B\x00\x0D", 13)), "A\nB");
    EXPECT_EQ(Dvb("\x15\xEE\x82\x86" "A\xEE\x82\x87\xEE\x82\x8A" "B\xC2\x8A" "C"), "A\nB\nC");
}

TEST(DvbText, ISO8859TablesBySingleByteAndThreeByteSelectors)
{
    EXPECT_EQ(Dvb("\x01\xBC\xDE\xE1\xDA\xD2\xD0"), "Москва");  // 8859-5
    EXPECT_EQ(Dvb("\x03\xC5\xD1\xD4 1"), "ΕΡΤ 1");              // 8859-7
    EXPECT_EQ(Dvb("\x05" "Do\xF0" "an \xDDzmir"), "Doğan İzmir");   // 8859-9
    EXPECT_EQ(Dvb("\x0B" "5\xA4 \xBC"), "5€ Œ");                  // 8859-15
    EXPECT_EQ(Dvb(std::string("\x10\x00\x02\xA3\xF3" "d\xBC", 7)), "Łódź");
    EXPECT_EQ(Dvb(std::string("\x10\x00\x01\xC4rger", 8)), "Ärger");
    // The last table the three-byte selector reaches, 8859-15 (8859-14 and 8859-16 differ here).
    EXPECT_EQ(Dvb(std::string("\x10\x00\x0F\xA4", 4)), "€");
    EXPECT_EQ(Dvb(std::string("\x10\x00\x0F\xAA\xFE", 5)), "ªþ");
    // An 8859-7 code that the table leaves empty, and the control codes of the upper half.
    EXPECT_EQ(Dvb("\x03\xD2\x86" "A\x8A"), kFFFD + "A\n");
}

TEST(DvbText, SixteenBitTablesBothReadAsBigEndianUCS2)
{
    // 0x11 is the Basic Multilingual Plane, 0x14 its Big5 subset: both two bytes a character.
    for (const char selector : {'\x11', '\x14'}) {
        const auto field = [selector](const char *bytes, size_t length) {
            return Dvb(selector + std::string(bytes, length));
        };
        SCOPED_TRACE(int(selector));
        EXPECT_EQ(field("\x00\x41\x30\x42\x4E\x2D", 6), "Aあ中");
        EXPECT_EQ(field("\xD8\x3D\xDE\x00", 4), "😀");  // a surrogate pair read as UTF-16 would
        // A lone surrogate and an odd last byte.
        EXPECT_EQ(field("\xD8\x00\x00\x41\x00", 5), kFFFD + "A" + kFFFD);
        EXPECT_EQ(field("\xDC\x00\xD8\x00", 4), kFFFD + kFFFD);
    }
    // Service names of a Taiwanese DVB-T multiplex.
    EXPECT_EQ(Dvb(std::string("\x14\x83\xEF\x89\x96\x00\x43\x00\x54\x00\x53", 11)), "華視CTS");
    EXPECT_EQ(Dvb(std::string("\x14\x57\x0B\x67\x03\x98\x3B\x90\x53\x00\x31", 11)), "國會頻道1");
}

TEST(DvbText, EUCAndUTF8Tables)
{
    EXPECT_EQ(Dvb("\x12\xC7\xD1\xB1\xB9 KBS"), "한국 KBS");
    EXPECT_EQ(Dvb("\x13\xD6\xD0\xB9\xFA"), "中国");
    EXPECT_EQ(Dvb("\x15\xC3\x96" "1 Wien"), "Ö1 Wien");
}

TEST(DvbText, BrokenMultiByteCharactersGiveReplacementAndNeverReadPastTheEnd)
{
    // A lead byte cut by the end, a lead byte before ASCII, an empty KS X 1001 cell.
    EXPECT_EQ(Dvb("\x12\xC7\xD1\xB1"), "한" + kFFFD);
    EXPECT_EQ(Dvb("\x13\xD6" "A"), kFFFD + "A");
    EXPECT_EQ(Dvb("\x12\xA2\xF0"), kFFFD);
    EXPECT_EQ(Dvb("\x13\xFF\xA4"), kFFFD + kFFFD);
    // UTF-8: a cut sequence, an overlong form, a surrogate, a stray continuation byte.
    EXPECT_EQ(Dvb("\x15" "a\xE2\x82"), "a" + kFFFD + kFFFD);
    EXPECT_EQ(Dvb("\x15\xC0\x80\xED\xA0\x80\x80"), kFFFD + kFFFD + kFFFD + kFFFD + kFFFD + kFFFD);
}

TEST(DvbText, SelectorsWithoutTableGiveOneReplacement)
{
    for (const std::string &field : {std::string("\x08\xA1\xA2"), std::string("\x0C" "abc"), std::string("\x16" "abc"),
                                    std::string("\x1F\x01\x55\x66"), std::string("\x00" "abc", 4),
                                    std::string("\x10\x00\x0C" "a", 4), std::string("\x10\x00\x10\x41", 4),
                                    std::string("\x10\x01\x02" "a", 4),
                                    std::string("\x10\x00", 2), std::string("\x10")})
        EXPECT_EQ(Dvb(field), kFFFD) << testing::PrintToString(field);
    // A selector alone is an empty text in its table.
    EXPECT_EQ(Dvb("\x05"), "");
    EXPECT_EQ(Dvb(std::string("\x10\x00\x05", 3)), "");
}

TEST(DvbText, CapacityCutsBetweenWholeCharactersOnce)
{
    EXPECT_EQ(Dvb("Caf\xC2" "e", 1), "");
    EXPECT_EQ(Dvb("Caf\xC2" "e", 4), "Caf");
    EXPECT_EQ(Dvb("Caf\xC2" "e", 5), "Caf");  // é is two bytes: never half of it
    EXPECT_EQ(Dvb("Caf\xC2" "e", 6), "Café");
    // Once a character did not fit, the shorter ones after it are not written either.
    EXPECT_EQ(Dvb("\xA4" "ab", 3), "");
    EXPECT_EQ(Dvb(std::string("\x11\x4E\x2D\x00" "A", 5), 3), "");
    EXPECT_EQ(Dvb(std::string("\x11\x4E\x2D\x00" "A", 5), 4), "中");
}

TEST(TextToUTF8, RefusesBadArgumentsWithoutWriting)
{
    const u8 bytes[] = {'A'};
    char out[8] = "xxxxxxx";
    EXPECT_EQ(TS_Text_ToUTF8(nullptr, 8, bytes, 1, TS_TEXT_DVB), -1);
    EXPECT_EQ(TS_Text_ToUTF8(out, 8, nullptr, 1, TS_TEXT_DVB), -1);
    EXPECT_EQ(TS_Text_ToUTF8(out, 8, bytes, -1, TS_TEXT_DVB), -1);
    EXPECT_EQ(TS_Text_ToUTF8(out, -1, bytes, 1, TS_TEXT_DVB), -1);
    EXPECT_EQ(TS_Text_ToUTF8(out, 8, bytes, 1, 2), -1);
    EXPECT_EQ(TS_Text_ToUTF8(out, 8, bytes, 1, -1), -1);
    EXPECT_STREQ(out, "xxxxxxx");
    // Capacity 0 writes nothing at all; no bytes is an empty text.
    EXPECT_EQ(TS_Text_ToUTF8(out, 0, bytes, 1, TS_TEXT_ARIB), 0);
    EXPECT_STREQ(out, "xxxxxxx");
    EXPECT_EQ(TS_Text_ToUTF8(out, 8, nullptr, 0, TS_TEXT_DVB), 0);
    EXPECT_STREQ(out, "");
}

}  // namespace
