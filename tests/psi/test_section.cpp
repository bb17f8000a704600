// Section reassembly from packets.
#include <gtest/gtest.h>

#include <cstring>

#include "stream_builder.h"
#include <pidsift/ts.h>

namespace {

using namespace testsupport;

class Reassembly : public ::testing::Test {
protected:
    void SetUp() override { TS_PreSection_Initialise(&section); }

    // A PAT-like section of the given section_length, bytes counting up so that misplaced bytes
    // show.
    static Bytes SectionOfLength(u16 section_length, u8 table_id = 0x00)
    {
        Bytes bytes(section_length + 3u);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = u8(i * 7 + 3);
        bytes[0] = table_id;
        bytes[1] = u8(0xB0 | (section_length >> 8));
        bytes[2] = u8(section_length);
        return bytes;
    }

    Bytes Collected() const { return Bytes(section.lu8Section, section.lu8Section + section.u16Collected); }

    TS_PreSection section;
    PacketBuilder builder;
};

TEST_F(Reassembly, InitialStateAndNullArguments)
{
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(section.u16Length, 0);
    EXPECT_EQ(section.u8LastCounter, 255);
    EXPECT_EQ(TS_PreSection_Initialise(nullptr), -1);
    const Packet packet = PacketBuilder::Null();
    EXPECT_EQ(TS_PAT_ImportPreSection(nullptr, packet.data()), -1);
    EXPECT_EQ(TS_PMT_ImportPreSection(&section, nullptr), -1);
}

TEST_F(Reassembly, SectionInOnePacket)
{
    const Bytes pat = PATSection(1, 0, {{0x0408, 0x01F0}});
    ASSERT_EQ(pat.size(), 16u);
    const Packet packet = builder.Section(0, pat)[0];
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, packet.data()), 0);
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(section.u16Length, 16);
    EXPECT_EQ(section.u16Collected, 16);
    EXPECT_EQ(Collected(), pat);
}

TEST_F(Reassembly, SectionSpanningPacketsUsesWholeContinuationPayloads)
{
    // 183 bytes fit after the pointer_field of the first packet, 184 in each continuation.
    for (u16 section_length : {180, 181, 364, 365, 1000}) {
        SCOPED_TRACE(section_length);
        TS_PreSection_Initialise(&section);
        const Bytes bytes = SectionOfLength(section_length, 0x02);
        const std::vector<Packet> packets = builder.Section(0x01F0, bytes);
        for (size_t i = 0; i < packets.size(); ++i) {
            ASSERT_EQ(TS_PMT_ImportPreSection(&section, packets[i].data()), 0);
            EXPECT_EQ(section.u8Complete, i + 1 == packets.size() ? 1 : 0);
        }
        EXPECT_EQ(Collected(), bytes);
    }
}

TEST_F(Reassembly, AdaptationFieldInPSIPacketsIsSkipped)
{
    // Both packets carry a 10-byte adaptation field; section bytes start after it (and after
    // the pointer_field in the first packet).
    const Bytes bytes = SectionOfLength(250);
    auto packet_with_field = [](u8 flags_and_counter) {
        Packet packet = PacketBuilder::Null();
        packet[1] = flags_and_counter & 0x40;
        packet[2] = 0x00;
        packet[3] = u8(0x30 | (flags_and_counter & 0x0F));
        packet[4] = 10;
        packet[5] = 0x00;
        return packet;
    };
    Packet first = packet_with_field(0x40 | 3);
    first[15] = 0x00;  // pointer_field
    std::memcpy(first.data() + 16, bytes.data(), 188 - 16);
    Packet second = packet_with_field(4);
    std::memcpy(second.data() + 15, bytes.data() + (188 - 16), bytes.size() - (188 - 16));

    ASSERT_EQ(TS_PAT_ImportPreSection(&section, first.data()), 0);
    EXPECT_EQ(section.u8Complete, 0);
    EXPECT_EQ(section.u16Collected, 188 - 16);
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, second.data()), 0);
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(Collected(), bytes);
}

TEST_F(Reassembly, PointerFieldSkipsTheTailOfAnEarlierSection)
{
    const Bytes pat = PATSection(1, 3, {{1, 0x100}, {2, 0x200}});
    Packet packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = 0x40;
    packet[2] = 0x00;
    packet[3] = 0x17;
    packet[4] = 20;  // 20 bytes of an earlier section come first
    std::memset(packet.data() + 5, 0xAA, 20);
    std::memcpy(packet.data() + 25, pat.data(), pat.size());
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, packet.data()), 0);
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(Collected(), pat);

    // A pointer_field pointing past the packet is refused.
    packet[4] = 183;
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, packet.data()), -4);
    EXPECT_EQ(section.u8LastCounter, 255);
}

TEST_F(Reassembly, UnitStartDropsTheSectionInProgress)
{
    const std::vector<Packet> long_section = builder.Section(0x0000, SectionOfLength(400));
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, long_section[0].data()), 0);
    EXPECT_EQ(section.u8Complete, 0);
    const Bytes pat = PATSection(7, 0, {{5, 0x300}});
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, builder.Section(0x0000, pat)[0].data()), 0);
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(Collected(), pat);
}

TEST_F(Reassembly, ContinuityErrorsWhileCollecting)
{
    struct Case {
        u8 first;
        u8 second;
        int expected;
    } cases[] = {{15, 0, 0}, {15, 1, -2}, {6, 6, -3}, {6, 8, -3}, {6, 7, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.first) << " then " << int(c.second));
        TS_PreSection_Initialise(&section);
        std::vector<Packet> packets = builder.Section(0x0000, SectionOfLength(200));
        packets[0][3] = u8(0x10 | c.first);
        packets[1][3] = u8(0x10 | c.second);
        ASSERT_EQ(TS_PAT_ImportPreSection(&section, packets[0].data()), 0);
        EXPECT_EQ(TS_PAT_ImportPreSection(&section, packets[1].data()), c.expected);
        if (c.expected < 0) {
            EXPECT_EQ(section.u8Complete, 1);
            EXPECT_EQ(section.u8LastCounter, 255);
            // The next packet starts a new section.
            Packet next = builder.Section(0x0000, PATSection(1, 0, {{1, 0x100}}))[0];
            next[3] = u8(0x10 | c.second);
            EXPECT_EQ(TS_PAT_ImportPreSection(&section, next.data()), 0);
            EXPECT_EQ(section.u8Complete, 1);
        } else {
            EXPECT_EQ(section.u8Complete, 1);
        }
    }
}

TEST_F(Reassembly, AnyCounterStartsASection)
{
    Packet packet = builder.Section(0, PATSection(1, 0, {{1, 0x100}}))[0];
    for (u8 counter : {5, 5, 0, 15}) {
        packet[3] = u8(0x10 | counter);
        EXPECT_EQ(TS_PAT_ImportPreSection(&section, packet.data()), 0);
        EXPECT_EQ(section.u8LastCounter, counter);
    }
}

TEST_F(Reassembly, MinimumAndMaximumSectionLengths)
{
    for (u16 length : {8, 12, 13}) {
        const Packet packet = builder.Section(0x0100, SectionOfLength(length, 0x02))[0];
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(TS_PAT_ImportPreSection(&section, packet.data()), length <= 8 ? -4 : 0) << length;
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(TS_CAT_ImportPreSection(&section, packet.data()), length <= 8 ? -4 : 0) << length;
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(TS_Section_ImportPreSection(&section, packet.data()), length <= 8 ? -4 : 0) << length;
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(TS_PMT_ImportPreSection(&section, packet.data()), length <= 12 ? -4 : 0) << length;
    }
    // The buffer holds 2928 bytes: section_length 2925 fits, 2926 and 4093 do not.
    for (u16 length : {2925, 2926, 4093}) {
        TS_PreSection_Initialise(&section);
        const std::vector<Packet> packets = builder.Section(0x0012, SectionOfLength(length, 0x4E));
        int result = 0;
        for (const Packet &packet : packets) {
            result = TS_Section_ImportPreSection(&section, packet.data());
            if (result < 0)
                break;
        }
        if (length == 2925) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(section.u8Complete, 1);
            EXPECT_EQ(section.u16Collected, 2928);
        } else {
            EXPECT_EQ(result, -4) << length;
        }
    }
}

TEST_F(Reassembly, PacketsWithNothingForTheBuffer)
{
    // A continuation with no section in progress, and a packet without payload.
    Packet continuation = builder.Payload(0x0000, 0x55);
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, continuation.data()), -5);
    const Packet no_payload = builder.PCR(0x0000, 1, 0, false);
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, no_payload.data()), -5);
    EXPECT_EQ(section.u8LastCounter, 255);
    // An adaptation field filling the whole packet leaves no payload either.
    Packet full = PacketBuilder::Null();
    full[1] = 0x40;
    full[2] = 0x00;
    full[3] = 0x30;
    full[4] = 183;
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, full.data()), -5);
}

TEST_F(Reassembly, SectionHeaderSplitAcrossPackets)
{
    // The new section starts in the last two bytes of the packet: its section_length arrives
    // with the next packet.
    const Bytes pat = PATSection(1, 0, {{1, 0x100}, {2, 0x200}});
    Packet first = PacketBuilder::Null();
    first[1] = 0x40;
    first[2] = 0x00;
    first[3] = 0x13;
    first[4] = 181;  // section begins at byte 186
    first[186] = pat[0];
    first[187] = pat[1];
    Packet second = PacketBuilder::Null();
    second[1] = 0x00;
    second[2] = 0x00;
    second[3] = 0x14;
    std::memcpy(second.data() + 4, pat.data() + 2, pat.size() - 2);
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, first.data()), 0);
    EXPECT_EQ(section.u8Complete, 0);
    ASSERT_EQ(TS_PAT_ImportPreSection(&section, second.data()), 0);
    EXPECT_EQ(section.u8Complete, 1);
    EXPECT_EQ(Collected(), pat);
}

}  // namespace
