// The demux's section collector: sections packed back to back, cut anywhere by packet ends,
// continuity per PID, stuffing, and the CRC_32 judged once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demux/section_collector.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;
using pidsift::Section;
using pidsift::SectionCollector;

struct Collected {
    Bytes bytes;
    bool carried;
    bool has_crc;
    bool crc_ok;
};

// Feeds packets to a collector of pid and returns every section it delivered.
std::vector<Collected> Collect(const std::vector<Packet> &packets, u16 pid = 0x0012)
{
    SectionCollector collector(pid);
    std::vector<Collected> out;
    for (const Packet &packet : packets)
        collector.Feed(packet.data(), [&](const Section &section, bool carried) {
            EXPECT_EQ(section.pid, pid);
            out.push_back(
                {Bytes(section.bytes, section.bytes + section.length), carried, section.has_crc, section.crc_ok});
        });
    return out;
}

// EIT-like sections of several sizes, each with a good CRC_32.
std::vector<Bytes> Sections(const std::vector<size_t> &body_sizes)
{
    std::vector<Bytes> sections;
    for (size_t i = 0; i < body_sizes.size(); ++i)
        sections.push_back(LongSection(0x4E, u16(0x0400 + i), 0, Bytes(body_sizes[i], u8(0x30 + i))));
    return sections;
}

TEST(SectionCollector, SectionsPackedBackToBackAreEachDelivered)
{
    // Seven sections of 20 to 400 bytes end to end over one PID, the way multiplexers send the
    // EIT and the TDT: several start in one packet, some end in the packet where the next starts.
    const std::vector<Bytes> sections = Sections({20, 30, 400, 9, 150, 183, 60});
    PacketBuilder builder;
    const std::vector<Packet> packets = builder.Packed(0x0012, sections);
    const std::vector<Collected> got = Collect(packets);
    ASSERT_EQ(got.size(), sections.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_TRUE(got[i].bytes == sections[i]) << i;
        EXPECT_TRUE(got[i].has_crc && got[i].crc_ok) << i;
    }
    // The first two complete in the packet they start in; the third spans packets.
    EXPECT_FALSE(got[0].carried);
    EXPECT_FALSE(got[1].carried);
    EXPECT_TRUE(got[2].carried);
}

TEST(SectionCollector, HeaderCutByThePacketEndIsCompletedFromTheNextPacket)
{
    // A section whose first one, two and three bytes stand at the end of a packet.
    for (size_t cut : {1, 2, 3, 5}) {
        SCOPED_TRACE(cut);
        const Bytes second = LongSection(0x02, 0x0400, 0, Bytes(40, 0xE1));
        // The first section fills the packet up to the last cut bytes: 183 - 1 - cut bytes.
        const Bytes first = LongSection(0x02, 0x0401, 0, Bytes(183 - 12 - cut, 0xA5));
        PacketBuilder builder;
        const std::vector<Packet> packets = builder.Packed(0x01F0, {first, second});
        ASSERT_EQ(packets.size(), 2u);
        EXPECT_EQ(packets[0][4], 0);  // pointer_field: the first section starts right behind it
        const std::vector<Collected> got = Collect(packets, 0x01F0);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_TRUE(got[0].bytes == first);
        EXPECT_TRUE(got[1].bytes == second);
        EXPECT_TRUE(got[1].carried);
    }
}

TEST(SectionCollector, StuffingEndsThePacketsSections)
{
    // After the section, 0xFF where a table_id is due: the rest of the packet is stuffing, even
    // when bytes in it look like a section.
    const Bytes section = LongSection(0x42, 1, 0, Bytes(30, 0x11));
    Packet packet;
    packet.fill(0xFF);
    const u8 header[] = {0x47, 0x40, 0x11, 0x10, 0x00};
    std::copy(std::begin(header), std::end(header), packet.begin());
    std::copy(section.begin(), section.end(), packet.begin() + 5);
    const size_t after = 5 + section.size() + 1;
    const Bytes decoy = LongSection(0x42, 2, 0, Bytes(10, 0x22));
    std::copy(decoy.begin(), decoy.end(), packet.begin() + long(after));
    const std::vector<Collected> got = Collect({packet}, 0x0011);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].bytes == section);
}

TEST(SectionCollector, ContinuityPerPID)
{
    const Bytes section = LongSection(0x4E, 1, 0, Bytes(300, 0x44));
    PacketBuilder builder;
    const std::vector<Packet> packets = builder.Section(0x0012, section);
    ASSERT_EQ(packets.size(), 2u);

    // A repeated packet is a copy: it adds nothing, and the section still completes.
    EXPECT_EQ(Collect({packets[0], packets[0], packets[1]}).size(), 1u);
    // A lost packet drops the section in progress; the continuation alone starts nothing.
    Packet jumped = packets[1];
    jumped[3] = u8((jumped[3] & 0xF0) | ((jumped[3] + 2) & 0x0F));
    EXPECT_TRUE(Collect({packets[0], jumped}).empty());
    EXPECT_TRUE(Collect({packets[1]}).empty());
    // The counter wraps from 15 to 0 inside a section.
    Packet first = packets[0];
    Packet second = packets[1];
    first[3] = u8((first[3] & 0xF0) | 0x0F);
    second[3] = u8((second[3] & 0xF0) | 0x00);
    const std::vector<Collected> wrapped = Collect({first, second});
    ASSERT_EQ(wrapped.size(), 1u);
    EXPECT_TRUE(wrapped[0].bytes == section);
}

TEST(SectionCollector, BytesBeforeThePointerEndTheSectionInProgress)
{
    // A 250-byte section, then a second one starting in the packet where the first ends: the
    // second packet's pointer_field counts the first one's last bytes.
    const std::vector<Bytes> sections = Sections({238, 50});
    PacketBuilder builder;
    const std::vector<Packet> packets = builder.Packed(0x0012, sections);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1][4], 250 - 183);
    const std::vector<Collected> got = Collect(packets);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_TRUE(got[0].bytes == sections[0] && got[0].carried);
    EXPECT_TRUE(got[1].bytes == sections[1] && !got[1].carried);

    // When the pointer_field says fewer bytes than the section needs, it is dropped unfinished,
    // and a section is read where the pointer_field says: here from the first one's tail (a
    // table_id 0x30 and section_length 0x030 made of its body bytes), whose CRC_32 fails.
    Packet short_pointer = packets[1];
    short_pointer[4] = 10;
    const std::vector<Collected> misread = Collect({packets[0], short_pointer});
    ASSERT_GE(misread.size(), 1u);
    for (const Collected &each : misread)
        EXPECT_FALSE(each.bytes == sections[0]);
    EXPECT_TRUE(misread[0].bytes == Bytes(short_pointer.begin() + 15, short_pointer.begin() + 15 + 3 + 0x030));
    EXPECT_FALSE(misread[0].carried);
    EXPECT_FALSE(misread[0].has_crc);
    // A pointer_field past the packet's end drops the section in progress and starts nothing.
    Packet past = packets[1];
    past[4] = 184;
    EXPECT_TRUE(Collect({packets[0], past}).empty());
}

TEST(SectionCollector, LongestSectionAndDamagedCRC)
{
    // section_length 0xFFF: 4,098 bytes over 23 packets, collected whole; one flipped bit makes
    // its CRC_32 fail.
    Bytes longest = {0x80, 0xFF, 0xFF, 0x00, 0x01, 0xC1, 0x00, 0x00};
    longest.resize(4098 - 4, 0x5A);
    longest = Sealed(longest);
    ASSERT_EQ(longest.size(), 4098u);
    PacketBuilder builder;
    std::vector<Collected> got = Collect(builder.Section(0x0030, longest), 0x0030);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].bytes == longest);
    EXPECT_TRUE(got[0].has_crc && got[0].crc_ok);
    longest[2000] ^= 0x01;
    got = Collect(builder.Section(0x0030, longest), 0x0030);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].has_crc);
    EXPECT_FALSE(got[0].crc_ok);

    // A short private section (section_syntax_indicator 0) has no CRC_32; the TOT has one.
    const Bytes tdt = {0x70, 0x70, 0x05, 0xE4, 0x5B, 0x12, 0x34, 0x56};
    got = Collect(builder.Section(0x0014, tdt), 0x0014);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_FALSE(got[0].has_crc);
    const Bytes tot = Sealed({0x73, 0x70, 0x0B, 0xE4, 0x5B, 0x12, 0x34, 0x56, 0xF0, 0x00});
    got = Collect(builder.Section(0x0014, tot), 0x0014);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].has_crc && got[0].crc_ok);
}

}  // namespace
