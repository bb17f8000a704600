// CRC-32/MPEG-2 of PSI sections and the base file name of the split drivers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <pidsift/ts.h>

#include "common/crc.h"
#include "stream_builder.h"

namespace {

// A PAT section with one program, ahead of its CRC_32.
const u8 kPATSection[] = {
    0x00,        // table_id
    0xB0, 0x0D,  // section_syntax_indicator 1, '0', reserved 3, section_length 13
    0x00, 0x01,  // transport_stream_id 1
    0xC1,        // reserved 3, version_number 0, current_next_indicator 1
    0x00,        // section_number
    0x00,        // last_section_number
    0x04, 0x08,  // program_number 1032
    0xE1, 0xF0,  // reserved 7, program_map_PID 0x01F0
};

TEST(CRC32, TableAndKnownValues)
{
    EXPECT_EQ(g_lu32CRC32Table[0x00], 0x00000000u);
    EXPECT_EQ(g_lu32CRC32Table[0x01], 0x04C11DB7u);
    EXPECT_EQ(g_lu32CRC32Table[0x02], 0x09823B6Eu);
    EXPECT_EQ(g_lu32CRC32Table[0x80], 0x690CE0EEu);
    EXPECT_EQ(g_lu32CRC32Table[0xFF], 0xB1F740B4u);
    // The register is linear in its input, so every entry is the XOR of the single-bit ones:
    // a mistyped literal anywhere in the table breaks this.
    for (u32 i = 1; i < 256; ++i)
        EXPECT_EQ(g_lu32CRC32Table[i], g_lu32CRC32Table[i & (i - 1)] ^ g_lu32CRC32Table[i & (0u - i)]) << i;

    const char *digits = "123456789";
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, reinterpret_cast<const u8 *>(digits), 9), 0x0376E6E7u);
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, kPATSection, sizeof kPATSection), 0x12A927CEu);
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, kPATSection, 0), 0xFFFFFFFFu);
    EXPECT_EQ(GetCRC32(0x12345678, nullptr, 0), 0x12345678u);
}

TEST(CRC32, SectionFollowedByItsCRCGivesZero)
{
    std::vector<u8> sealed(kPATSection, kPATSection + sizeof kPATSection);
    sealed.insert(sealed.end(), {0x12, 0xA9, 0x27, 0xCE});
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, sealed.data(), sealed.size()), 0u);
    sealed[9] ^= 0x01;  // a single flipped bit is caught
    EXPECT_NE(GetCRC32(0xFFFFFFFF, sealed.data(), sealed.size()), 0u);
}

// Runs GetBaseFileName on path and returns the base, or "<rc>" for a non-zero result.
std::string BaseOf(const std::string &path)
{
    static char base[65536];
    std::memset(base, 'x', sizeof base);
    const int rc = GetBaseFileName(base, path.c_str());
    if (rc != 0)
        return "<" + std::to_string(rc) + ">";
    return base;
}

TEST(BaseFileName, CutsTheLastExtension)
{
    EXPECT_EQ(BaseOf("rec/movie.ts"), "rec/movie");
    EXPECT_EQ(BaseOf("a.b.c"), "a.b");
    EXPECT_EQ(BaseOf("movie"), "movie");
    EXPECT_EQ(BaseOf("movie."), "movie");
    EXPECT_EQ(BaseOf("x.ts"), "x");
}

TEST(BaseFileName, DirectorySeparatorsStopTheScan)
{
    EXPECT_EQ(BaseOf("dir.x/file"), "dir.x/file");
    EXPECT_EQ(BaseOf("dir.x\\file"), "dir.x\\file");
    EXPECT_EQ(BaseOf("dir.x/file.ts"), "dir.x/file");
    EXPECT_EQ(BaseOf("/srv/rec.d/a"), "/srv/rec.d/a");
    EXPECT_EQ(BaseOf("dir/.ts"), "dir/");  // only index 0 is exempt
}

TEST(BaseFileName, FirstCharacterIsNeverExamined)
{
    EXPECT_EQ(BaseOf(".ts"), ".ts");
    EXPECT_EQ(BaseOf("a"), "a");
    EXPECT_EQ(BaseOf("."), ".");
    EXPECT_EQ(BaseOf(""), "");
}

TEST(BaseFileName, QuotedPaths)
{
    EXPECT_EQ(BaseOf("\"rec/movie.ts\""), "rec/movie");
    EXPECT_EQ(BaseOf("'movie.ts'"), "movie");
    EXPECT_EQ(BaseOf("\"movie\""), "movie\"");    // no dot: only the opening quote goes
    EXPECT_EQ(BaseOf("\"movie.ts'"), "\"movie");  // mismatched quotes are ordinary characters
    EXPECT_EQ(BaseOf("\""), "");
    EXPECT_EQ(BaseOf("'"), "");
    EXPECT_EQ(BaseOf("\"\""), "\"");
    EXPECT_EQ(BaseOf("\".ts\""), ".ts\"");  // the dot is at index 0 of the copy
}

TEST(BaseFileName, NullPointersWriteNothing)
{
    char base[8] = "keep";
    EXPECT_EQ(GetBaseFileName(nullptr, "a.ts"), -1);
    EXPECT_EQ(GetBaseFileName(base, nullptr), -1);
    EXPECT_STREQ(base, "keep");
}

TEST(BaseFileName, LongPathsUpToTheBufferAndNoFurther)
{
    // 65,535 characters and the terminator fill the caller's buffer exactly; the dot sits far
    // beyond any 16-bit index.
    std::string longest(65532, 'a');
    longest += ".ts";
    const std::string base = BaseOf(longest);
    EXPECT_EQ(base.size(), 65532u);
    EXPECT_EQ(base, std::string(65532, 'a'));

    EXPECT_EQ(BaseOf(std::string(65536, 'a')), "<-2>");
    EXPECT_EQ(BaseOf(std::string(70000, 'a') + ".ts"), "<-2>");
    // Quoted, the copy loses one character, so 65,536 characters still fit.
    EXPECT_EQ(BaseOf("\"" + std::string(65534, 'b') + "\""), std::string(65534, 'b') + "\"");
    EXPECT_EQ(BaseOf("\"" + std::string(65535, 'b') + "\""), "<-2>");

    char untouched[4] = "abc";
    const std::string too_long(65536, 'c');
    EXPECT_EQ(GetBaseFileName(untouched, too_long.c_str()), -2);
    EXPECT_STREQ(untouched, "abc");
}

// The register after length bytes through the public byte-wise table, one byte a step: the
// fast implementation must agree with it for every length, alignment and start value.
u32 ByteWise(u32 crc, const u8 *data, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        crc = g_lu32CRC32Table[((crc >> 24) ^ data[i]) & 0xFF] ^ (crc << 8);
    return crc;
}

TEST(CRC32, SteppedAndFoldedMatchTheTable)
{
    std::mt19937 random(7);
    std::vector<u8> bytes(4200);
    for (size_t length : {0, 1, 3, 4, 7, 8, 15, 16, 17, 31, 32, 33, 47, 48, 64, 100, 183, 1021, 4095, 4098}) {
        for (int round = 0; round < 20; ++round) {
            for (u8 &byte : bytes)
                byte = u8(random());
            const size_t offset = size_t(round % 8);
            const u32 start = round % 2 == 0 ? 0xFFFFFFFFu : u32(random());
            EXPECT_EQ(TS_CRC32_Update(start, bytes.data() + offset, length),
                      ByteWise(start, bytes.data() + offset, length))
                << length;
            EXPECT_EQ(GetCRC32(start, bytes.data() + offset, length), ByteWise(start, bytes.data() + offset, length));
        }
    }
    // A section followed by its own CRC_32 (computed bit by bit by the stream builder) leaves 0.
    const testsupport::Bytes section = testsupport::LongSection(0x4E, 1, 0, testsupport::Bytes(300, 0x3C));
    EXPECT_EQ(TS_CRC32(section.data(), section.size()), 0u);
}

}  // namespace
