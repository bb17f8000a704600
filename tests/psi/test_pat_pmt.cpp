// PAT and PMT decoding, stream membership and the CA PID of a program.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "stream_builder.h"
#include <pidsift/ts.h>

namespace {

using namespace testsupport;

// The PMT of the example program: 0x0408 with PCR on its video PID 0x0111 and an audio stream
// 0x0112 carrying a stream identifier descriptor.
const Bytes kExamplePMT = {
    0x02, 0xB0, 0x1A, 0x04, 0x08, 0xC1, 0x00, 0x00,  // header, section_length 26
    0xE1, 0x11, 0xF0, 0x00,                          // PCR_PID 0x0111, program_info_length 0
    0x02, 0xE1, 0x11, 0xF0, 0x00,                    // MPEG-2 video on 0x0111
    0x0F, 0xE1, 0x12, 0xF0, 0x03, 0x52, 0x01, 0x10,  // AAC audio on 0x0112, stream identifier
    0xDE, 0xAD, 0xBE, 0xEF,                          // CRC_32 as it stands
};

TEST(PAT, DecodesHeaderProgramsAndCRC)
{
    auto section = std::make_unique<TS_PreSection>();
    LoadSection(section.get(), {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x04, 0x08, 0xE1, 0xF0, 0x12, 0xA9, 0x27, 0xCE});
    TS_PAT pat = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
    EXPECT_EQ(pat.u8Valid, 1);
    EXPECT_EQ(pat.table_id, 0);
    EXPECT_EQ(pat.section_syntax_indicator, 1);
    EXPECT_EQ(pat.reserved1, 3);
    EXPECT_EQ(pat.section_length, 13);
    EXPECT_EQ(pat.transport_stream_id, 1);
    EXPECT_EQ(pat.reserved2, 3);
    EXPECT_EQ(pat.version_number, 0);
    EXPECT_EQ(pat.current_next_indicator, 1);
    ASSERT_EQ(pat.u16ProgramCount, 1);
    EXPECT_EQ(pat.ltProgram[0].program_number, 1032);
    EXPECT_EQ(pat.ltProgram[0].reserved, 7);
    EXPECT_EQ(pat.ltProgram[0].PID, 0x01F0);
    EXPECT_EQ(pat.CRC_32, 0x12A927CEu);

    EXPECT_EQ(TS_PAT_FromPreSection(nullptr, section.get()), -1);
    EXPECT_EQ(TS_PAT_FromPreSection(&pat, nullptr), -1);
}

TEST(PAT, NetworkEntryEmptyLoopAndReplacement)
{
    auto section = std::make_unique<TS_PreSection>();
    TS_PAT pat = {};
    LoadSection(section.get(), PATSection(0x7FE0, 2, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}}));
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
    ASSERT_EQ(pat.u16ProgramCount, 3);
    EXPECT_EQ(pat.ltProgram[0].program_number, 0);
    EXPECT_EQ(pat.ltProgram[0].PID, 0x0010);
    EXPECT_EQ(pat.version_number, 2);

    // section_length 9: no entries, and the CRC_32 right after the header.
    LoadSection(section.get(), PATSection(1, 0, {}));
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
    EXPECT_EQ(pat.u16ProgramCount, 0);
    EXPECT_EQ(pat.section_length, 9);
    EXPECT_EQ(pat.CRC_32, Crc32Mpeg2(section->lu8Section, 8));
    EXPECT_EQ(pat.u8Valid, 1);
}

TEST(PAT, ProgramsBeyondSixteenAreDropped)
{
    std::vector<PATEntry> entries;
    for (u16 i = 0; i < 50; ++i)
        entries.push_back({u16(i + 1), u16(0x100 + i)});
    auto section = std::make_unique<TS_PreSection>();
    LoadSection(section.get(), PATSection(1, 0, entries));
    TS_PAT pat = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
    EXPECT_EQ(pat.u16ProgramCount, 16);
    EXPECT_EQ(pat.ltProgram[15].PID, 0x10F);
    EXPECT_EQ(pat.CRC_32, Crc32Mpeg2(section->lu8Section, section->u16Length - 4));
}

// A record holding fewer bytes than its section_length declares (as a caller may load one):
// the PAT reads only the bytes it holds, like the CAT and the PMT, and never the stale bytes of
// the buffer behind them. Entries still start up to the last byte before the CRC_32's place.
TEST(PAT, DeclaredLengthPastTheBytesHeldIsCutToThem)
{
    const Bytes sealed = PATSection(0x7FE0, 4, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});
    ASSERT_EQ(sealed.size(), 24u);
    Bytes bytes = sealed;
    bytes[1] = 0xBF;  // section_length 4095
    bytes[2] = 0xFF;
    auto section = MakePreSection(bytes);
    std::memset(section->lu8Section + bytes.size(), 0x47, 200);
    TS_PAT pat = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
    EXPECT_EQ(pat.section_length, 4095);
    EXPECT_EQ(pat.transport_stream_id, 0x7FE0);
    // The three programs, then an entry made of the four CRC_32 bytes that close the bytes held.
    ASSERT_EQ(pat.u16ProgramCount, 4);
    EXPECT_EQ(pat.ltProgram[2].program_number, 0x0401);
    EXPECT_EQ(pat.ltProgram[2].PID, 0x01F1);
    EXPECT_EQ(pat.ltProgram[3].program_number, u16(bytes[20] << 8 | bytes[21]));
    EXPECT_EQ(pat.ltProgram[3].reserved, bytes[22] >> 5);
    EXPECT_EQ(pat.ltProgram[3].PID, u16((bytes[22] & 0x1F) << 8 | bytes[23]));
    EXPECT_EQ(pat.CRC_32, Crc32Mpeg2(sealed.data(), 20));
}

TEST(PMT, DecodesTheExampleProgram)
{
    auto section = std::make_unique<TS_PreSection>();
    LoadSection(section.get(), kExamplePMT);
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x01F0), 0);
    EXPECT_EQ(pmt->u8Valid, 1);
    EXPECT_EQ(pmt->u16PID, 0x01F0);
    EXPECT_EQ(pmt->program_number, 0x0408);
    EXPECT_EQ(pmt->PCR_PID, 0x0111);
    EXPECT_EQ(pmt->program_info_length, 0);
    EXPECT_EQ(pmt->u16DescriptorCount, 0);
    ASSERT_EQ(pmt->u16StreamCount, 2);
    EXPECT_EQ(pmt->ltStream[0].stream_type, 0x02);
    EXPECT_EQ(pmt->ltStream[0].elementary_PID, 0x0111);
    EXPECT_EQ(pmt->ltStream[0].u16DescriptorCount, 0);
    EXPECT_EQ(pmt->ltStream[1].stream_type, 0x0F);
    EXPECT_EQ(pmt->ltStream[1].elementary_PID, 0x0112);
    EXPECT_EQ(pmt->ltStream[1].ES_info_length, 3);
    ASSERT_EQ(pmt->ltStream[1].u16DescriptorCount, 1);
    EXPECT_EQ(pmt->ltStream[1].ltDescriptor[0].descriptor_tag, 0x52);
    EXPECT_EQ(pmt->ltStream[1].ltDescriptor[0].descriptor_length, 1);
    EXPECT_EQ(pmt->ltStream[1].ltDescriptor[0].lu8Raw[0], 0x10);
    EXPECT_EQ(pmt->CRC_32, 0xDEADBEEFu);

    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0111), 1);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0112), 1);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0113), 0);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x01F0), 0);
    u16 ca_pid = 0;
    EXPECT_EQ(TS_GetCAPIDFromPMT(&ca_pid, pmt.get()), 0);
    EXPECT_EQ(ca_pid, TS_NO_PID);
}

TEST(PMT, CAPIDComesFromTheFirstProgramLevelDescriptor)
{
    auto section = std::make_unique<TS_PreSection>();
    auto pmt = std::make_unique<TS_PMT>();
    u16 ca_pid = 0;

    LoadSection(section.get(), PMTSection(1, 0, 0x100, Concat({CADescriptor(5, 0x0901), CADescriptor(6, 0x0902)}),
                                   {{0x02, 0x100, {}}}));
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    EXPECT_EQ(TS_GetCAPIDFromPMT(&ca_pid, pmt.get()), 0);
    EXPECT_EQ(ca_pid, 0x0901);
    EXPECT_EQ(pmt->ltDescriptor[0].tConditionalAccess.CA_system_ID, 5);
    EXPECT_EQ(pmt->ltDescriptor[0].tConditionalAccess.reserved, 7);

    // Only a stream-level CA descriptor: the program has no ECM PID.
    LoadSection(section.get(), PMTSection(1, 0, 0x100, {}, {{0x02, 0x100, CADescriptor(5, 0x0903)}}));
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    EXPECT_EQ(TS_GetCAPIDFromPMT(&ca_pid, pmt.get()), 0);
    EXPECT_EQ(ca_pid, TS_NO_PID);

    ca_pid = 0;
    EXPECT_EQ(TS_GetCAPIDFromPMT(&ca_pid, nullptr), -1);
    EXPECT_EQ(ca_pid, TS_NO_PID);
    EXPECT_EQ(TS_GetCAPIDFromPMT(nullptr, pmt.get()), -1);
}

TEST(PMT, EmptyProgram)
{
    auto section = std::make_unique<TS_PreSection>();
    auto pmt = std::make_unique<TS_PMT>();
    LoadSection(section.get(), PMTSection(7, 0, 0x1FFF, {}, {}));
    ASSERT_EQ(section->u16Length, 16);
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x30), 0);
    EXPECT_EQ(pmt->u16StreamCount, 0);
    EXPECT_EQ(pmt->u16DescriptorCount, 0);
    EXPECT_EQ(pmt->CRC_32, Crc32Mpeg2(section->lu8Section, 12));
}

// 40 streams with 40 descriptors each: the record keeps 16 streams of 32 descriptors.
TEST(PMT, CapacitiesDropSurplusStreamsAndDescriptors)
{
    Bytes forty;
    for (int i = 0; i < 40; ++i)
        forty = Concat({forty, Descriptor(0x52, {u8(i)})});
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 40; ++i)
        streams.push_back({0x06, u16(0x200 + i), forty});
    const Bytes bytes = PMTSection(1, 0, 0x200, forty, streams);
    ASSERT_GT(bytes.size(), 2928u);  // longer than a section can be: the importer refuses it

    // Keep as many streams as fit the buffer.
    streams.resize(20);
    auto section = std::make_unique<TS_PreSection>();
    LoadSection(section.get(), PMTSection(1, 0, 0x200, forty, streams));
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    EXPECT_EQ(pmt->u16DescriptorCount, 32);
    ASSERT_EQ(pmt->u16StreamCount, 16);
    EXPECT_EQ(pmt->ltStream[15].elementary_PID, 0x20F);
    EXPECT_EQ(pmt->ltStream[15].u16DescriptorCount, 32);
    EXPECT_EQ(pmt->ltStream[15].ltDescriptor[31].lu8Raw[0], 31);
}

TEST(PMT, DescriptorsOverrunningTheSectionAreCut)
{
    auto section = std::make_unique<TS_PreSection>();
    auto pmt = std::make_unique<TS_PMT>();

    // program_info_length claims 1000 bytes; the one real descriptor is followed by a
    // descriptor whose length runs past the section's end.
    Bytes bytes = PMTSection(1, 0, 0x100, Concat({CADescriptor(5, 0x0901), {0xC1, 200, 0x00}}), {});
    bytes[10] = 0xF3;
    bytes[11] = 0xE8;
    LoadSection(section.get(), bytes);
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    EXPECT_EQ(pmt->u16DescriptorCount, 1);
    EXPECT_EQ(pmt->u16StreamCount, 0);

    // A smoothing buffer descriptor needs 8 bytes from its tag; at the end of the section
    // its fixed body would reach past it, so it is not decoded.
    LoadSection(section.get(), PMTSection(1, 0, 0x100, {}, {{0x02, 0x100, {0x10, 0x00}}}));
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    ASSERT_EQ(pmt->u16StreamCount, 1);
    EXPECT_EQ(pmt->ltStream[0].u16DescriptorCount, 0);

    // ES_info_length beyond the section: the stream is kept, its descriptors cut.
    bytes = PMTSection(1, 0, 0x100, {}, {{0x02, 0x100, Descriptor(0x52, {1})}});
    bytes[15] = 0xFF;
    bytes[16] = 0xFF;
    LoadSection(section.get(), bytes);
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x1F0), 0);
    ASSERT_EQ(pmt->u16StreamCount, 1);
    EXPECT_EQ(pmt->ltStream[0].u16DescriptorCount, 1);
}

// A record filled by a caller with lengths no importer would leave must still decode inside
// the buffer.
TEST(PMT, HostileLengthsStayInsideTheBuffer)
{
    auto section = std::make_unique<TS_PreSection>();
    auto pmt = std::make_unique<TS_PMT>();
    TS_PAT pat = {};
    for (u16 length : {0, 3, 12, 2928, 4000, 65535}) {
        TS_PreSection_Initialise(section.get());
        std::memset(section->lu8Section, 0xFF, sizeof section->lu8Section);
        section->u16Length = section->u16Collected = length;
        EXPECT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 1), 0);
        EXPECT_LE(pmt->u16StreamCount, 16);
        EXPECT_LE(pmt->u16DescriptorCount, 32);
        EXPECT_EQ(TS_PAT_FromPreSection(&pat, section.get()), 0);
        EXPECT_LE(pat.u16ProgramCount, 16);
    }
}

// ES_info_length is a 12-bit field whose two top bits should be 0. When a multiplexer sets
// them, the length is still read with all twelve bits: masking to ten would step into the loop
// too early and list a made-up stream whose packets the filter would copy.
TEST(PMT, ESInfoLengthWithItsTopBitsSetKeepsTwelveBits)
{
    const Bytes section = Sealed({
        0x02, 0xB0, 0x1C, 0x04, 0x08, 0xC1, 0x00, 0x00,  // header, section_length 28
        0xE1, 0x11, 0xF0, 0x00,                          // PCR_PID 0x0111, program_info_length 0
        0x02, 0xE1, 0x11, 0xFC, 0x00,                    // video on 0x0111, ES_info_length 0xC00
        0x02, 0xE6, 0x66, 0xF0, 0x00,                    // what a 10-bit length would take for a stream
        0x0F, 0xE1, 0x12, 0xF0, 0x00,
    });
    auto presection = MakePreSection(section);
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), presection.get(), 0x01F0), 0);
    ASSERT_EQ(pmt->u16StreamCount, 1);
    EXPECT_EQ(pmt->ltStream[0].elementary_PID, 0x0111);
    EXPECT_EQ(pmt->ltStream[0].ES_info_length, 0xC00);
    EXPECT_EQ(TS_IsStreamPIDOfPMT(pmt.get(), 0x0666), 0);
}

TEST(PMT, ReachedThroughPacketsSpanningTwoPackets)
{
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 16; ++i)
        streams.push_back({0x06, u16(0x300 + i), Concat({Descriptor(0x52, {u8(i)}), Descriptor(0xFD, {0x00, 0x0C})})});
    const Bytes bytes = PMTSection(0x0401, 3, 0x300, CADescriptor(5, 0x0130), streams);
    PacketBuilder builder;
    const std::vector<Packet> packets = builder.Section(0x01F1, bytes);
    ASSERT_EQ(packets.size(), 2u);
    auto section = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(section.get());
    for (const Packet &packet : packets)
        ASSERT_EQ(TS_PMT_ImportPreSection(section.get(), packet.data()), 0);
    ASSERT_EQ(section->u8Complete, 1);
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x01F1), 0);
    EXPECT_EQ(pmt->version_number, 3);
    ASSERT_EQ(pmt->u16StreamCount, 16);
    EXPECT_EQ(pmt->ltStream[15].elementary_PID, 0x30F);
    EXPECT_EQ(pmt->ltStream[15].u16DescriptorCount, 2);
    EXPECT_EQ(pmt->ltStream[15].ltDescriptor[1].descriptor_tag, 0xFD);
    EXPECT_EQ(pmt->CRC_32, Crc32Mpeg2(bytes.data(), bytes.size() - 4));
}

}  // namespace
