// The bounds-checked byte reader that the packet and table decoders walk their fields with.
#include <gtest/gtest.h>

#include "common/bytes.h"

namespace {

// The first twelve bytes of a PMT section and its first stream entry, as a multiplexer writes
// them: program 0x0408, PCR on 0x0111, then AVC video on 0x0111 with a 6-byte ES_info loop.
const u8 kPMTStart[] = {
    0x02, 0xB0, 0x1A, 0x04, 0x08, 0xC3, 0x00, 0x00,  // header, section_length 26, version 1
    0xE1, 0x11, 0xF0, 0x00,                          // PCR_PID 0x0111, program_info_length 0
    0x1B, 0xE1, 0x11, 0xF0, 0x06,                    // stream_type, elementary_PID, ES_info_length
};

TEST(ByteReader, ReadsBigEndianFieldsInOrder)
{
    TS_ByteReader reader(kPMTStart, sizeof kPMTStart);
    EXPECT_EQ(reader.Read8(), 0x02);
    EXPECT_EQ(reader.Read12(), 26);  // the flag bits above section_length are masked off
    EXPECT_EQ(reader.Read16(), 0x0408);
    EXPECT_EQ(reader.Read8(), 0xC3);
    reader.Skip(2);
    EXPECT_EQ(reader.Read13(), 0x0111);  // the three reserved bits are masked off
    EXPECT_EQ(reader.Read12(), 0);
    EXPECT_EQ(reader.Read32(), 0x1BE111F0u);
    EXPECT_EQ(reader.Offset(), 16u);
    EXPECT_EQ(reader.Remaining(), 1u);
    EXPECT_EQ(reader.Read8(), 0x06);
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_FALSE(reader.Failed());  // reading exactly up to the end is no error
}

// A read that does not fit gives 0, not the bytes that are there, and leaves the reader at the
// end with its flag set: a decoder that reads on gets zeros and can check the flag once.
TEST(ByteReader, ReadPastTheEndGivesZeroAndStaysFailed)
{
    TS_ByteReader reader(kPMTStart, 3);
    EXPECT_EQ(reader.Read8(), 0x02);
    EXPECT_EQ(reader.Read32(), 0u);  // two bytes left: no half value
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Offset(), 3u);
    EXPECT_EQ(reader.Remaining(), 0u);
    EXPECT_EQ(reader.Read8(), 0);  // the bytes the failed read passed over are gone too
    EXPECT_TRUE(reader.Failed());

    // One byte short at every width; reading on into the next byte would give no 0.
    TS_ByteReader short16(kPMTStart + 1, 1), short12 = short16, short13 = short16;
    TS_ByteReader short32(kPMTStart + 1, 3);
    EXPECT_EQ(short16.Read16(), 0);
    EXPECT_EQ(short12.Read12(), 0);
    EXPECT_EQ(short13.Read13(), 0);
    EXPECT_EQ(short32.Read32(), 0u);
    EXPECT_TRUE(short16.Failed() && short12.Failed() && short13.Failed() && short32.Failed());

    TS_ByteReader skipping(kPMTStart, sizeof kPMTStart);
    skipping.Skip(sizeof kPMTStart);
    EXPECT_FALSE(skipping.Failed());
    skipping.Skip(1);
    EXPECT_TRUE(skipping.Failed());
    EXPECT_EQ(skipping.Offset(), sizeof kPMTStart);

    TS_ByteReader nothing;
    EXPECT_EQ(nothing.Read16(), 0);
    EXPECT_TRUE(nothing.Failed());
    EXPECT_EQ(nothing.Take(4).Size(), 0u);
}

// ES_info_length 6 with only the three bytes of one descriptor left in the section: the loop is
// cut to those three, and reading the loop never reaches the bytes behind the section, even
// though they lie in the same buffer.
TEST(ByteReader, ATakenPartNeverReachesPastItsParent)
{
    const u8 buffer[] = {
        0x1B, 0xE1, 0x11, 0xF0, 0x06,  // stream entry, ES_info_length 6
        0x52, 0x01, 0x10,              // stream identifier descriptor: the section ends here
        0xDE, 0xAD,                    // bytes of the buffer behind the section
    };
    TS_ByteReader section(buffer, 8);
    section.Skip(3);
    const u16 es_info_length = section.Read12();
    ASSERT_EQ(es_info_length, 6);
    TS_ByteReader loop = section.Take(es_info_length);
    EXPECT_EQ(loop.Size(), 3u);
    EXPECT_EQ(loop.Begin(), buffer + 5);
    EXPECT_EQ(loop.End(), section.End());
    EXPECT_TRUE(section.Failed());  // the declared length overran the section
    EXPECT_EQ(section.Remaining(), 0u);
    EXPECT_FALSE(loop.Failed());    // the part itself is whole
    EXPECT_EQ(loop.Read8(), 0x52);
    EXPECT_EQ(loop.Read8(), 0x01);
    EXPECT_EQ(loop.Read16(), 0);  // 0x10 and the 0xDE behind the section: not read
    EXPECT_TRUE(loop.Failed());

    // A part that fits leaves its parent right behind it, unflagged.
    TS_ByteReader entry(buffer, sizeof buffer);
    TS_ByteReader fixed = entry.Take(5);
    EXPECT_EQ(fixed.Size(), 5u);
    EXPECT_FALSE(entry.Failed());
    EXPECT_EQ(entry.Offset(), 5u);
    EXPECT_EQ(entry.Read8(), 0x52);
    EXPECT_EQ(fixed.Read32(), 0x1BE111F0u);
    TS_ByteReader empty = entry.Take(0);
    EXPECT_EQ(empty.Size(), 0u);
    EXPECT_FALSE(entry.Failed());
}

}  // namespace
