// Text forms of packets, PAT, CAT, PMT, private sections, EMM and PCR, compared with golden files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "capture.h"
#include "stream_builder.h"
#include <pidsift/ts.h>

using testsupport::CaptureStdout;
using testsupport::CompareWithGolden;

namespace {

using testsupport::MakePreSection;
using testsupport::Sealed;

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// ---------------------------------------------------------------------------------------------
// Packets
// ---------------------------------------------------------------------------------------------

TS_Packet MakePacket(u16 pid, u8 adaptation_field_control)
{
    TS_Packet packet = {};
    packet.sync_byte = 0x47;
    packet.transport_error_indicator = 1;
    packet.payload_unit_start_indicator = 1;
    packet.transport_priority = 0;
    packet.PID = pid;
    packet.transport_scrambling_control = 2;
    packet.adaptation_field_control = adaptation_field_control;
    packet.continuity_counter = 11;
    return packet;
}

TEST(PacketText, HeaderLinesAndPIDNames)
{
    const std::string text = CaptureStdout([] {
        const u16 pids[] = {0x0000, 0x0001, 0x000F, 0x0010, 0x1FFE, 0x1FFF, 0x2000};
        for (u16 pid : pids) {
            const TS_Packet packet = MakePacket(pid, 1);
            TS_Packet_PrintHeader(&packet);
            TS_Packet_Print(&packet);
        }
    });
    EXPECT_EQ(CompareWithGolden("packet_lines", text), "");
}

TEST(PacketText, AdaptationFieldChangesOnlyTheAFCValue)
{
    TS_Packet plain = MakePacket(0x0100, 1);
    TS_Packet with_field = MakePacket(0x0100, 3);
    with_field.adaptation_field.adaptation_field_length = 7;
    with_field.adaptation_field.PCR_flag = 1;
    std::string first = CaptureStdout([&] { TS_Packet_Print(&plain); });
    const std::string second = CaptureStdout([&] { TS_Packet_Print(&with_field); });
    first.replace(first.find("AFC:1"), 5, "AFC:3");
    EXPECT_EQ(first, second);

    // The two header forms differ only in their tag.
    std::string header = CaptureStdout([&] { TS_Packet_PrintHeader(&with_field); });
    header.replace(0, std::strlen("[TS Packet Header]"), "[TS Packet]");
    EXPECT_EQ(header, second);

    EXPECT_EQ(CaptureStdout([&] { TS_Packet_PrintAdaptationField(&with_field.adaptation_field); }), "");
}

TEST(PacketText, RawDumpOfAWholePacket)
{
    u8 bytes[188];
    for (int i = 0; i < 188; ++i)
        bytes[i] = u8(i);
    bytes[0] = 0x47;
    const std::string text = CaptureStdout([&] { EXPECT_EQ(TS_Packet_Print_RAW(bytes), 0); });
    EXPECT_EQ(CompareWithGolden("packet_raw", text), "");

    // Fifteen lines: tag, five header bytes, "  Section:", then 11, ten times 16 and 12 bytes.
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], "[TS Packet]");
    EXPECT_EQ(lines[1], "  Header: 0x47, 0x01, 0x02, 0x03, 0x04, ");
    EXPECT_EQ(lines[2], "  Section:");
    const size_t expected_bytes[12] = {11, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 12};
    for (size_t i = 0; i < 12; ++i) {
        const std::string &line = lines[3 + i];
        EXPECT_EQ(line.size(), 2 + 6 * expected_bytes[i]) << "line " << 3 + i;
        EXPECT_EQ(line.substr(0, 3), "  0") << "line " << 3 + i;
        EXPECT_EQ(line.substr(line.size() - 2), ", ") << "line " << 3 + i;
    }
    EXPECT_EQ(text.back(), '\n');
}

TEST(PacketText, NullArgumentsPrintNothing)
{
    const std::string text = CaptureStdout([] {
        EXPECT_EQ(TS_Packet_PrintHeader(nullptr), -1);
        EXPECT_EQ(TS_Packet_Print(nullptr), -1);
        EXPECT_EQ(TS_Packet_Print_RAW(nullptr), -1);
    });
    EXPECT_EQ(text, "");
}

// ---------------------------------------------------------------------------------------------
// PAT
// ---------------------------------------------------------------------------------------------

TEST(PATText, ExampleNetworkEntryAndEmptyPAT)
{
    // The one-program example, decoded from its section bytes.
    auto section = MakePreSection(
        {0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x04, 0x08, 0xE1, 0xF0, 0x12, 0xA9, 0x27, 0xCE});
    TS_PAT example = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&example, section.get()), 0);
    std::string text = CaptureStdout([&] { EXPECT_EQ(TS_PAT_Print(&example), 0); });
    EXPECT_EQ(CompareWithGolden("pat_example", text), "");
    EXPECT_EQ(Lines(text).size(), 4u);

    // A network_PID entry ahead of two programs.
    section = MakePreSection(Sealed({0x00, 0xB0, 0x15, 0x7F, 0xE1, 0xC7, 0x01, 0x02,
                                     0x00, 0x00, 0xE0, 0x10,    // program 0: network_PID 0x0010
                                     0x04, 0x08, 0xE1, 0xF0,    // program 1032: PMT 0x01F0
                                     0x04, 0x09, 0x02, 0x01}));  // program 1033, R3 0, PMT 0x0201
    TS_PAT network = {};
    ASSERT_EQ(TS_PAT_FromPreSection(&network, section.get()), 0);
    text = CaptureStdout([&] { TS_PAT_Print(&network); });
    EXPECT_EQ(CompareWithGolden("pat_network", text), "");

    TS_PAT empty = {};
    empty.table_id = 0x00;
    empty.section_syntax_indicator = 1;
    empty.section_length = 9;
    empty.CRC_32 = 0xABCD;
    text = CaptureStdout([&] { TS_PAT_Print(&empty); });
    EXPECT_EQ(CompareWithGolden("pat_empty", text), "");

    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_PAT_Print(nullptr), -1); }), "");
}

// ---------------------------------------------------------------------------------------------
// CAT
// ---------------------------------------------------------------------------------------------

TEST(CATText, WithAndWithoutDescriptors)
{
    auto section = MakePreSection(Sealed({0x01, 0xB0, 0x14, 0xFF, 0xFF, 0xC1, 0x00, 0x00,
                                          0x09, 0x04, 0x00, 0x05, 0xE0, 0x11,  // CA: EMM PID 0x0011
                                          0xC1, 0x03, 0xAA, 0xBB, 0xCC}));     // raw 0xC1
    TS_CAT cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    std::string text = CaptureStdout([&] { EXPECT_EQ(TS_CAT_Print(&cat), 0); });
    EXPECT_EQ(CompareWithGolden("cat_descriptors", text), "");

    section = MakePreSection({0x01, 0xB0, 0x09, 0xFF, 0xFF, 0xC3, 0x00, 0x00, 0x00, 0x00, 0xAB, 0xCD});
    cat = {};
    ASSERT_EQ(TS_CAT_FromPreSection(&cat, section.get()), 0);
    text = CaptureStdout([&] { TS_CAT_Print(&cat); });
    EXPECT_EQ(CompareWithGolden("cat_empty", text), "");

    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_CAT_Print(nullptr), -1); }), "");
}

// ---------------------------------------------------------------------------------------------
// PMT
// ---------------------------------------------------------------------------------------------

TEST(PMTText, ExampleWithARawDescriptor)
{
    auto section = MakePreSection(Sealed({
        0x02, 0xB0, 0x1A,  // table_id, SSI 1, '0', R1 3, section_length 26
        0x04, 0x08,        // program_number 1032
        0xC1, 0x00, 0x00,  // R2 3, version 0, CNI 1, section numbers
        0xE1, 0x11,        // PCR_PID 0x0111
        0xF0, 0x00,        // program_info_length 0
        0x02, 0xE1, 0x11, 0xF0, 0x00,               // MPEG-2 video on 0x0111
        0x0F, 0xE1, 0x12, 0xF0, 0x03, 0x52, 0x01, 0x10,  // AAC on 0x0112, stream identifier 0x10
    }));
    auto pmt = std::make_unique<TS_PMT>();
    *pmt = {};
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), section.get(), 0x01F0), 0);
    const std::string text = CaptureStdout([&] { EXPECT_EQ(TS_PMT_Print(pmt.get()), 0); });
    EXPECT_EQ(CompareWithGolden("pmt_example", text), "");
    EXPECT_EQ(Lines(text).size(), 9u);
}

TEST(PMTText, EmptyPMTIsThreeLines)
{
    auto pmt = std::make_unique<TS_PMT>();
    *pmt = {};
    pmt->table_id = 0x02;
    pmt->section_syntax_indicator = 1;
    pmt->section_length = 13;
    pmt->program_number = 7;
    pmt->PCR_PID = 0x1FFF;
    pmt->CRC_32 = 0xABCD;
    std::string text = CaptureStdout([&] { TS_PMT_Print(pmt.get()); });
    EXPECT_EQ(CompareWithGolden("pmt_empty", text), "");
    EXPECT_EQ(Lines(text).size(), 3u);

    // Any table_id is printed with its own name; a zeroed record calls itself a PAT.
    *pmt = {};
    text = CaptureStdout([&] { TS_PMT_Print(pmt.get()); });
    EXPECT_EQ(text.substr(0, 19), "[PMT] TI:0x00(PAT) ");

    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_PMT_Print(nullptr), -1); }), "");
}

// ---------------------------------------------------------------------------------------------
// Private sections and EMM
// ---------------------------------------------------------------------------------------------

std::vector<u8> LongPrivateSection(u8 table_id, const std::vector<u8> &data)
{
    const u16 length = u16(9 + data.size());
    std::vector<u8> bytes = {table_id, u8(0xB0 | (length >> 8)), u8(length & 0xFF),
                             0x12, 0x34, 0xC3, 0x00, 0x01};
    bytes.insert(bytes.end(), data.begin(), data.end());
    return Sealed(bytes);
}

std::string PrintDecoded(const std::vector<u8> &bytes, int (*print)(const TS_PrivateSection *))
{
    auto presection = MakePreSection(bytes);
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    EXPECT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
    return CaptureStdout([&] { EXPECT_EQ(print(section.get()), 0); });
}

TEST(PrivateText, LongAndShortForms)
{
    // No data bytes: the header line, a line of two spaces, the CRC line.
    std::string text = PrintDecoded(LongPrivateSection(0x82, {}), TS_Section_PrintPrivate);
    EXPECT_EQ(CompareWithGolden("private_no_data", text), "");
    EXPECT_EQ(Lines(text).size(), 3u);

    std::vector<u8> sixteen;
    for (int i = 0; i < 16; ++i)
        sixteen.push_back(u8(0xA0 + i));
    text = PrintDecoded(LongPrivateSection(0x82, sixteen), TS_Section_PrintPrivate);
    EXPECT_EQ(CompareWithGolden("private_16_bytes", text), "");

    // Short form: 18 data bytes over two lines and no CRC line.
    std::vector<u8> bytes = {0x83, 0x40, 18};
    for (int i = 0; i < 18; ++i)
        bytes.push_back(u8(i));
    text = PrintDecoded(bytes, TS_Section_PrintPrivate);
    EXPECT_EQ(CompareWithGolden("private_short", text), "");

    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_Section_PrintPrivate(nullptr), -1); }), "");
}

TEST(PrivateText, EMMWithItsCardID)
{
    std::vector<u8> data = {0x00, 0x00, 0x00, 0x00, 0x01, 0x00};
    for (int i = 0; i < 18; ++i)
        data.push_back(u8(0xC0 + i));
    std::string text = PrintDecoded(LongPrivateSection(0x84, data), TS_Section_PrintEMM);
    EXPECT_EQ(CompareWithGolden("emm_card_256", text), "");
    EXPECT_EQ(Lines(text)[1], "  CardID:256(0x100)");

    // Six data bytes or fewer: the card ID line, then an empty dump.
    text = PrintDecoded(LongPrivateSection(0x85, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}), TS_Section_PrintEMM);
    EXPECT_EQ(CompareWithGolden("emm_card_only", text), "");

    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_Section_PrintEMM(nullptr), -1); }), "");
}

TEST(PrivateText, LengthBeyondTheDataArrayIsBounded)
{
    // A record filled by hand with a length the decoder never leaves.
    auto section = std::make_unique<TS_PrivateSection>();
    *section = {};
    section->private_section_length = 4095;
    const std::string text = CaptureStdout([&] { TS_Section_PrintPrivate(section.get()); });
    EXPECT_EQ(Lines(text).size(), 1 + 2928 / 16 + 1);
    const std::string emm = CaptureStdout([&] { TS_Section_PrintEMM(section.get()); });
    EXPECT_NE(emm.find("CardID:0(0x0)"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// PCR
// ---------------------------------------------------------------------------------------------

TEST(PCRText, TimesOfDay)
{
    const std::string text = CaptureStdout([] {
        TS_PCR pcr = {};
        const u8 one[7] = {0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00};  // base 1
        TS_PCR_Import(&pcr, one);
        EXPECT_EQ(TS_PCR_Print(&pcr), 0);
        pcr = {0x50, 2268000000ull, 0, 0};                             // seven hours
        TS_PCR_Print(&pcr);
        const u8 largest[7] = {0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // 33-bit maximum
        TS_PCR_Import(&pcr, largest);
        TS_PCR_Print(&pcr);
        pcr = {0x00, 90000ull * 3723 + 45 * 90 + 89, 1, 299};          // 01:02:03.045
        TS_PCR_Print(&pcr);
    });
    EXPECT_EQ(CompareWithGolden("pcr_times", text), "");
    EXPECT_EQ(CaptureStdout([] { EXPECT_EQ(TS_PCR_Print(nullptr), -1); }), "");
}

// ---------------------------------------------------------------------------------------------
// Malformed input
// ---------------------------------------------------------------------------------------------

TEST(TablesText, ArbitrarySectionBytesStayInBounds)
{
    // Random buffers with collected lengths up to past the buffer's end: the decoders keep their
    // counts within the records and the printers stay inside them (checked by the sanitizer build).
    std::mt19937 random(20240611);
    auto presection = std::make_unique<TS_PreSection>();
    auto cat = std::make_unique<TS_CAT>();
    auto section = std::make_unique<TS_PrivateSection>();
    const u16 lengths[] = {0, 1, 3, 8, 12, 40, 183, 1000, 2927, 2928, 2929, 65535};
    for (int round = 0; round < 200; ++round) {
        for (u8 &byte : presection->lu8Section)
            byte = u8(random());
        const u16 length = round < 12 ? lengths[round] : u16(random() % 3000);
        presection->u16Length = length;
        presection->u16Collected = length;
        const u32 extent = length < 2928 ? length : 2928;

        ASSERT_EQ(TS_CAT_FromPreSection(cat.get(), presection.get()), 0);
        EXPECT_LE(cat->u16DescriptorCount, 32);
        ASSERT_EQ(TS_Section_PrivateFromPreSection(section.get(), presection.get()), 0);
        EXPECT_LE(section->private_section_length, extent > 3 ? extent - 3 : 0) << "length " << length;
        const std::string text = CaptureStdout([&] {
            TS_CAT_Print(cat.get());
            TS_Section_PrintPrivate(section.get());
            TS_Section_PrintEMM(section.get());
        });
        EXPECT_EQ(text.compare(0, 6, "[CAT] "), 0);
    }
}

}  // namespace
