// PAT rebuilding, and decoding of the CAT, private sections, EMM card IDs and PCRs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "stream_builder.h"
#include <pidsift/ts.h>

namespace {

using testsupport::MakePreSection;
using testsupport::Sealed;

// ---------------------------------------------------------------------------------------------
// PAT rebuilding
// ---------------------------------------------------------------------------------------------

TS_Packet PATHeader()
{
    TS_Packet header = {};
    header.sync_byte = 0x47;
    header.payload_unit_start_indicator = 1;
    header.PID = 0x0000;
    header.adaptation_field_control = 1;
    return header;
}

TS_PAT ExamplePAT()
{
    TS_PAT pat = {};
    pat.table_id = 0x00;
    pat.section_syntax_indicator = 1;
    pat.reserved1 = 3;
    pat.section_length = 13;
    pat.transport_stream_id = 1;
    pat.reserved2 = 3;
    pat.version_number = 0;
    pat.current_next_indicator = 1;
    pat.u16ProgramCount = 1;
    pat.ltProgram[0] = {0x0408, 7, 0x01F0};
    pat.CRC_32 = 0x12A927CE;
    pat.u8Valid = 1;
    return pat;
}

void ExpectSamePAT(const TS_PAT &a, const TS_PAT &b)
{
    EXPECT_EQ(a.table_id, b.table_id);
    EXPECT_EQ(a.section_syntax_indicator, b.section_syntax_indicator);
    EXPECT_EQ(a.reserved1, b.reserved1);
    EXPECT_EQ(a.section_length, b.section_length);
    EXPECT_EQ(a.transport_stream_id, b.transport_stream_id);
    EXPECT_EQ(a.reserved2, b.reserved2);
    EXPECT_EQ(a.version_number, b.version_number);
    EXPECT_EQ(a.current_next_indicator, b.current_next_indicator);
    EXPECT_EQ(a.section_number, b.section_number);
    EXPECT_EQ(a.last_section_number, b.last_section_number);
    ASSERT_EQ(a.u16ProgramCount, b.u16ProgramCount);
    for (u16 i = 0; i < a.u16ProgramCount; ++i) {
        EXPECT_EQ(a.ltProgram[i].program_number, b.ltProgram[i].program_number) << "program " << i;
        EXPECT_EQ(a.ltProgram[i].reserved, b.ltProgram[i].reserved) << "program " << i;
        EXPECT_EQ(a.ltProgram[i].PID, b.ltProgram[i].PID) << "program " << i;
    }
    EXPECT_EQ(a.CRC_32, b.CRC_32);
    EXPECT_EQ(a.u8Valid, b.u8Valid);
}

TEST(PATToPacket, ReproducesTheExamplePacket)
{
    const TS_Packet header = PATHeader();
    TS_PAT pat = ExamplePAT();
    pat.CRC_32 = 0xDEADBEEF;  // the CRC_32 is computed, not copied from the record
    u8 packet[188];
    std::memset(packet, 0, sizeof packet);
    ASSERT_EQ(TS_PAT_ToPacket(packet, &header, &pat), 0);
    const u8 expected[21] = {
        0x47, 0x40, 0x00, 0x10,  // sync, PUSI, PID 0, AFC 1, CC 0
        0x00,                    // pointer_field
        0x00, 0xB0, 0x0D,        // table_id, SSI/'0'/R1/section_length
        0x00, 0x01, 0xC1, 0x00, 0x00,
        0x04, 0x08, 0xE1, 0xF0,  // program 1032 on PMT PID 0x01F0
        0x12, 0xA9, 0x27, 0xCE,  // CRC_32
    };
    EXPECT_EQ(std::vector<u8>(packet, packet + 21), std::vector<u8>(expected, expected + 21));
    EXPECT_EQ(std::vector<u8>(packet + 21, packet + 188), std::vector<u8>(167, 0xFF));
}

TEST(PATToPacket, HeaderFieldsAreMaskedIntoTheirBits)
{
    TS_Packet header = PATHeader();
    header.transport_error_indicator = 1;
    header.transport_priority = 1;
    header.PID = 0x1234;
    header.transport_scrambling_control = 2;
    header.adaptation_field_control = 2;
    header.continuity_counter = 0x1B;  // only 0xB belongs to the counter, not AFC's low bit
    const TS_PAT pat = ExamplePAT();
    u8 packet[188];
    ASSERT_EQ(TS_PAT_ToPacket(packet, &header, &pat), 0);
    EXPECT_EQ(packet[1], 0xE0 | 0x12);
    EXPECT_EQ(packet[2], 0x34);
    EXPECT_EQ(packet[3], 0x80 | 0x20 | 0x0B);
}

TEST(PATToPacket, NoProgramsLeavesEightSectionBytesAndTheCRC)
{
    const TS_Packet header = PATHeader();
    TS_PAT pat = ExamplePAT();
    pat.u16ProgramCount = 0;
    pat.section_length = 9;
    u8 packet[188];
    ASSERT_EQ(TS_PAT_ToPacket(packet, &header, &pat), 0);
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, packet + 5, 12), 0u);
    EXPECT_EQ(std::vector<u8>(packet + 17, packet + 188), std::vector<u8>(171, 0xFF));
}

TEST(PATToPacket, NeverWritesMoreThanSixteenPrograms)
{
    const TS_Packet header = PATHeader();
    TS_PAT pat = ExamplePAT();
    for (u16 i = 0; i < 16; ++i)
        pat.ltProgram[i] = {u16(i + 1), 7, u16(0x0100 + i)};
    pat.u16ProgramCount = 40;  // not a count a decoder leaves; only 16 entries exist
    u8 packet[188];
    ASSERT_EQ(TS_PAT_ToPacket(packet, &header, &pat), 0);
    // 8 header bytes + 64 program bytes, then the CRC at bytes 77-80 and stuffing after it.
    EXPECT_EQ(GetCRC32(0xFFFFFFFF, packet + 5, 76), 0u);
    EXPECT_EQ(packet[5 + 8 + 60 + 1], 16);  // last program_number
    EXPECT_EQ(std::vector<u8>(packet + 81, packet + 188), std::vector<u8>(107, 0xFF));
}

TEST(PATToPacket, RebuiltPATDecodesToTheSameRecord)
{
    TS_PAT pat = {};
    pat.section_syntax_indicator = 1;
    pat.reserved1 = 3;
    pat.transport_stream_id = 0x7FE1;
    pat.reserved2 = 3;
    pat.version_number = 21;
    pat.current_next_indicator = 1;
    pat.section_number = 2;
    pat.last_section_number = 3;
    pat.u16ProgramCount = 16;
    pat.ltProgram[0] = {0, 7, 0x0010};  // network_PID entry
    for (u16 i = 1; i < 16; ++i)
        pat.ltProgram[i] = {u16(0x0400 + i), u8(i % 8), u16(0x1FC8 + i)};
    pat.section_length = 9 + 4 * 16;
    pat.u8Valid = 1;

    TS_Packet header = PATHeader();
    header.continuity_counter = 9;
    u8 packet[188];
    ASSERT_EQ(TS_PAT_ToPacket(packet, &header, &pat), 0);
    pat.CRC_32 = GetCRC32(0xFFFFFFFF, packet + 5, 8 + 64);

    auto section = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(section.get());
    ASSERT_EQ(TS_PAT_ImportPreSection(section.get(), packet), 0);
    ASSERT_EQ(section->u8Complete, 1);
    TS_PAT decoded = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&decoded, section.get()), 0);
    ExpectSamePAT(decoded, pat);

    TS_Packet reread = {};
    ASSERT_EQ(TS_Packet_Get(&reread, packet), 0);
    EXPECT_EQ(reread.PID, 0);
    EXPECT_EQ(reread.payload_unit_start_indicator, 1);
    EXPECT_EQ(reread.continuity_counter, 9);
}

// ---------------------------------------------------------------------------------------------
// CAT
// ---------------------------------------------------------------------------------------------

std::vector<u8> CATSection(const std::vector<u8> &descriptors)
{
    const u16 section_length = u16(5 + descriptors.size() + 4);
    std::vector<u8> bytes = {
        0x01,                                  // table_id
        u8(0xB0 | (section_length >> 8)),      // SSI 1, '0', reserved 3, section_length
        u8(section_length & 0xFF),
        0xFF, 0xFF,                            // reserved
        0xC1,                                  // reserved 3, version_number 0, CNI 1
        0x00, 0x00,                            // section_number, last_section_number
    };
    bytes.insert(bytes.end(), descriptors.begin(), descriptors.end());
    return Sealed(bytes);
}

TEST(CAT, DecodesTheHeaderAndTheCADescriptor)
{
    const std::vector<u8> bytes = CATSection({0x09, 0x04, 0x00, 0x05, 0xE0, 0x11});
    ASSERT_EQ(bytes.size(), 18u);
    auto section = MakePreSection(bytes);
    TS_CAT cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    EXPECT_EQ(cat.table_id, 0x01);
    EXPECT_EQ(cat.section_syntax_indicator, 1);
    EXPECT_EQ(cat.reserved1, 3u);
    EXPECT_EQ(cat.section_length, 15);
    EXPECT_EQ(cat.transport_stream_id, 65535);
    EXPECT_EQ(cat.reserved2, 3);
    EXPECT_EQ(cat.version_number, 0);
    EXPECT_EQ(cat.current_next_indicator, 1);
    ASSERT_EQ(cat.u16DescriptorCount, 1);
    EXPECT_EQ(cat.ltDescriptor[0].descriptor_tag, 0x09);
    EXPECT_EQ(cat.ltDescriptor[0].tConditionalAccess.CA_system_ID, 0x0005);
    EXPECT_EQ(cat.ltDescriptor[0].tConditionalAccess.CA_PID, 0x0011);
    EXPECT_EQ(cat.CRC_32, u32(bytes[14] << 24 | bytes[15] << 16 | bytes[16] << 8 | bytes[17]));
    EXPECT_EQ(cat.u8Valid, 1);

    u16 ca_pid = 0;
    EXPECT_EQ(TS_GetCAPIDFromCAT(&ca_pid, &cat), 0);
    EXPECT_EQ(ca_pid, 0x0011);
}

TEST(CAT, NoDescriptors)
{
    const std::vector<u8> bytes = CATSection({});
    auto section = MakePreSection(bytes);
    TS_CAT cat = {};
    cat.u16DescriptorCount = 5;  // left from an earlier section
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    EXPECT_EQ(cat.section_length, 9);
    EXPECT_EQ(cat.u16DescriptorCount, 0);
    EXPECT_EQ(cat.CRC_32, u32(bytes[8] << 24 | bytes[9] << 16 | bytes[10] << 8 | bytes[11]));
    u16 ca_pid = 0;
    EXPECT_EQ(TS_GetCAPIDFromCAT(&ca_pid, &cat), 0);
    EXPECT_EQ(ca_pid, TS_NO_PID);
}

TEST(CAT, FirstConditionalAccessDescriptorWins)
{
    auto section = MakePreSection(CATSection({
        0xC1, 0x02, 0xAA, 0xBB,              // a raw descriptor first
        0x09, 0x04, 0x00, 0x05, 0xE0, 0x21,  // CA_PID 0x0021
        0x09, 0x04, 0x00, 0x06, 0xE0, 0x31,  // CA_PID 0x0031
    }));
    TS_CAT cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    ASSERT_EQ(cat.u16DescriptorCount, 3);
    u16 ca_pid = 0;
    EXPECT_EQ(TS_GetCAPIDFromCAT(&ca_pid, &cat), 0);
    EXPECT_EQ(ca_pid, 0x0021);
}

TEST(CAT, DescriptorLoopStopsAtTheSectionEnd)
{
    // A descriptor announcing 200 body bytes in a section that has 4 left: not decoded.
    std::vector<u8> bytes = CATSection({0x09, 0x04, 0x00, 0x05, 0xE0, 0x11, 0xC2, 200, 0x01, 0x02});
    auto section = MakePreSection(bytes);
    std::memset(section->lu8Section + bytes.size(), 0x09, 300);  // what lies behind must not count
    TS_CAT cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    EXPECT_EQ(cat.u16DescriptorCount, 1);

    // section_length 4095 with 16 bytes collected: the zeros behind them would make a valid
    // 0xC2 body and a run of empty descriptors, but the loop ends at the collected bytes.
    bytes = {0x01, 0xBF, 0xFF, 0xFF, 0xFF, 0xC1, 0x00, 0x00,
             0x09, 0x04, 0x00, 0x05, 0xE0, 0x11,
             0xC2, 0x05};
    section = MakePreSection(bytes);
    cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    EXPECT_EQ(cat.section_length, 4095);
    ASSERT_EQ(cat.u16DescriptorCount, 1);
    EXPECT_EQ(cat.ltDescriptor[0].tConditionalAccess.CA_PID, 0x0011);
    EXPECT_EQ(cat.CRC_32, 0xE011C205u);  // the last four bytes collected
}

TEST(CAT, AtMostThirtyTwoDescriptors)
{
    std::vector<u8> descriptors;
    for (int i = 0; i < 40; ++i)
        descriptors.insert(descriptors.end(), {0xC3, 0x01, u8(i)});
    auto section = MakePreSection(CATSection(descriptors));
    TS_CAT cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    EXPECT_EQ(cat.u16DescriptorCount, 32);
    EXPECT_EQ(cat.ltDescriptor[31].lu8Raw[0], 31);
}

// ---------------------------------------------------------------------------------------------
// Private sections and EMM
// ---------------------------------------------------------------------------------------------

// A long-form private section with the given data bytes.
std::vector<u8> LongPrivateSection(u8 table_id, const std::vector<u8> &data)
{
    const u16 length = u16(9 + data.size());
    std::vector<u8> bytes = {
        table_id,
        u8(0xF0 | (length >> 8)),  // SSI 1, private_indicator 1, reserved 3, length
        u8(length & 0xFF),
        0x12, 0x34,                // table_id_extension 4660
        0x8B,                      // reserved 2, version_number 5, current_next_indicator 1
        0x01, 0x02,                // section_number, last_section_number
    };
    bytes.insert(bytes.end(), data.begin(), data.end());
    return Sealed(bytes);
}

TEST(PrivateSection, LongForm)
{
    const std::vector<u8> bytes = LongPrivateSection(0x82, {0xA0, 0xA1, 0xA2});
    auto presection = MakePreSection(bytes);
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->table_id, 0x82);
    EXPECT_EQ(section->section_syntax_indicator, 1);
    EXPECT_EQ(section->private_indicator, 1);
    EXPECT_EQ(section->reserved1, 3);
    EXPECT_EQ(section->private_section_length, 12);
    EXPECT_EQ(section->table_id_extension, 4660);
    EXPECT_EQ(section->reserved2, 2);
    EXPECT_EQ(section->version_number, 5);
    EXPECT_EQ(section->current_next_indicator, 1);
    EXPECT_EQ(section->section_number, 1);
    EXPECT_EQ(section->last_section_number, 2);
    EXPECT_EQ(section->lu8Data[0], 0xA0);
    EXPECT_EQ(section->lu8Data[2], 0xA2);
    EXPECT_EQ(section->lu8Data[3], 0x00);  // the CRC is not data
    EXPECT_EQ(section->CRC_32, u32(bytes[11] << 24 | bytes[12] << 16 | bytes[13] << 8 | bytes[14]));
    EXPECT_EQ(section->u8Valid, 1);
}

TEST(PrivateSection, ShortFormKeepsTheLongFormFields)
{
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    auto presection = MakePreSection(LongPrivateSection(0x82, {0x01}));
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    const u32 long_crc = section->CRC_32;

    // SSI 0, private_indicator 0, reserved 1, private_section_length 4: four data bytes.
    presection = MakePreSection({0x83, 0x10, 0x04, 0xD0, 0xD1, 0xD2, 0xD3});
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->table_id, 0x83);
    EXPECT_EQ(section->section_syntax_indicator, 0);
    EXPECT_EQ(section->private_indicator, 0);
    EXPECT_EQ(section->reserved1, 1);
    EXPECT_EQ(section->private_section_length, 4);
    EXPECT_EQ(std::vector<u8>(section->lu8Data, section->lu8Data + 4),
              (std::vector<u8>{0xD0, 0xD1, 0xD2, 0xD3}));
    EXPECT_EQ(section->table_id_extension, 4660);
    EXPECT_EQ(section->version_number, 5);
    EXPECT_EQ(section->CRC_32, long_crc);
}

TEST(PrivateSection, LengthsThatDoNotFitAreCut)
{
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    // Long form with private_section_length 5: below its 9 fixed bytes, so no data.
    std::memset(section->lu8Data, 0xEE, 16);
    auto presection = MakePreSection({0x82, 0xF0, 0x05, 0x00, 0x01, 0xC1, 0x00, 0x00});
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->private_section_length, 5);
    EXPECT_EQ(section->lu8Data[0], 0xEE);

    // A short form announcing 4095 bytes of which 10 were collected keeps the 10.
    std::vector<u8> bytes = {0x83, 0x0F, 0xFF};
    for (u8 i = 0; i < 10; ++i)
        bytes.push_back(u8(0x40 + i));
    presection = MakePreSection(bytes);
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->private_section_length, 10);
    EXPECT_EQ(section->lu8Data[9], 0x49);

    // The long form reads its CRC_32 from the last collected bytes.
    bytes = LongPrivateSection(0x84, std::vector<u8>(20, 0x33));
    bytes[1] = 0xFF;
    bytes[2] = 0xFF;
    presection = MakePreSection(bytes);
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->private_section_length, bytes.size() - 3);
    EXPECT_EQ(section->CRC_32, u32(bytes[bytes.size() - 4] << 24 | bytes[bytes.size() - 3] << 16 |
                                   bytes[bytes.size() - 2] << 8 | bytes[bytes.size() - 1]));

    // A record that was never filled holds no section at all.
    presection = MakePreSection({});
    presection->lu8Section[1] = 0x0F;
    presection->lu8Section[2] = 0xFF;
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    EXPECT_EQ(section->private_section_length, 0);
}

TEST(PrivateSection, CardIdOfAnEMM)
{
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    auto presection = MakePreSection(LongPrivateSection(0x84, {0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x77}));
    ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    u64 card_id = 0;
    ASSERT_EQ(TS_Section_GetCardIdFromEMM(&card_id, section.get()), 0);
    EXPECT_EQ(card_id, 256u);

    const u8 all_bytes[6] = {0x81, 0x02, 0x03, 0x04, 0x05, 0xF6};
    std::memcpy(section->lu8Data, all_bytes, 6);
    ASSERT_EQ(TS_Section_GetCardIdFromEMM(&card_id, section.get()), 0);
    EXPECT_EQ(card_id, 0x8102030405F6ull);
}

// ---------------------------------------------------------------------------------------------
// PCR
// ---------------------------------------------------------------------------------------------

TEST(PCR, ImportSplitsBaseReservedAndExtension)
{
    TS_PCR pcr = {};
    const u8 one[7] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00};
    ASSERT_EQ(TS_PCR_Import(&pcr, one), 0);
    EXPECT_EQ(pcr.u8Lead, 0x10);
    EXPECT_EQ(pcr.program_clock_reference_base, 1u);
    EXPECT_EQ(pcr.reserved, 0);
    EXPECT_EQ(pcr.program_clock_reference_extension, 0u);

    const u8 reserved[7] = {0x50, 0x00, 0x00, 0x00, 0x00, 0x7F, 0x00};
    ASSERT_EQ(TS_PCR_Import(&pcr, reserved), 0);
    EXPECT_EQ(pcr.program_clock_reference_base, 0u);
    EXPECT_EQ(pcr.reserved, 63);
    EXPECT_EQ(pcr.program_clock_reference_extension, 256u);

    const u8 largest[7] = {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0xFF};
    ASSERT_EQ(TS_PCR_Import(&pcr, largest), 0);
    EXPECT_EQ(pcr.program_clock_reference_base, 8589934591ull);
    EXPECT_EQ(pcr.reserved, 0);
    EXPECT_EQ(pcr.program_clock_reference_extension, 511u);

    const u8 extension[7] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x81, 0x2C};
    ASSERT_EQ(TS_PCR_Import(&pcr, extension), 0);
    EXPECT_EQ(pcr.program_clock_reference_base, 1u);
    EXPECT_EQ(pcr.program_clock_reference_extension, 300u);
}

// ---------------------------------------------------------------------------------------------
// Null pointers: -1, nothing written
// ---------------------------------------------------------------------------------------------

TEST(TablesDecode, NullPointers)
{
    const TS_Packet header = PATHeader();
    const TS_PAT pat = ExamplePAT();
    u8 packet[188] = {};
    EXPECT_EQ(TS_PAT_ToPacket(nullptr, &header, &pat), -1);
    EXPECT_EQ(TS_PAT_ToPacket(packet, nullptr, &pat), -1);
    EXPECT_EQ(TS_PAT_ToPacket(packet, &header, nullptr), -1);
    EXPECT_EQ(packet[0], 0);

    auto presection = MakePreSection(CATSection({}));
    TS_CAT cat = {};
    EXPECT_EQ(TS_CAT_FromPreSection(nullptr, presection.get()), -1);
    EXPECT_EQ(TS_CAT_FromPreSection(&cat, nullptr), -1);
    EXPECT_EQ(cat.u8Valid, 0);
    u16 ca_pid = 0x1234;
    EXPECT_EQ(TS_GetCAPIDFromCAT(&ca_pid, nullptr), -1);
    EXPECT_EQ(ca_pid, TS_NO_PID);  // set before the record is looked at
    EXPECT_EQ(TS_GetCAPIDFromCAT(nullptr, &cat), -1);

    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    EXPECT_EQ(TS_Section_PrivateFromPreSection(nullptr, presection.get()), -1);
    EXPECT_EQ(TS_Section_PrivateFromPreSection(section.get(), nullptr), -1);
    EXPECT_EQ(section->u8Valid, 0);
    u64 card_id = 0;
    EXPECT_EQ(TS_Section_GetCardIdFromEMM(nullptr, section.get()), -1);
    EXPECT_EQ(TS_Section_GetCardIdFromEMM(&card_id, nullptr), -1);

    TS_PCR pcr = {};
    const u8 bytes[7] = {};
    EXPECT_EQ(TS_PCR_Import(nullptr, bytes), -1);
    EXPECT_EQ(TS_PCR_Import(&pcr, nullptr), -1);
}

}  // namespace
