// The stream dump run on generated recordings: output compared line for line under several
// selection masks, and the rules of what is printed when.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <pidsift/demux.h>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;

// A packet on a PCR PID whose adaptation field carries no PCR (PCR_flag clear): stuffing only.
// Without payload it keeps the counter of the PID's last packet, here the first one (0).
Packet AdaptationOnly(u16 pid)
{
    Packet packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = u8((pid >> 8) & 0x1F);
    packet[2] = u8(pid);
    packet[3] = 0x20;  // adaptation field only, continuity_counter 0
    packet[4] = 183;   // adaptation_field_length
    packet[5] = 0x00;  // no flag set
    return packet;
}

// A small multiplex in broadcast order: a CAT, EMM and PMT before the first PAT, then two
// programs: 0x0400 (PMT 0x01F0, PCR on its video PID) and the scrambled 0x0401 (PMT 0x01F1 spanning
// two packets with SI and null packets between them, ECM 0x0130, PCR on 0x01FF), the EMM PID
// 0x0901 named by the CAT.
Recording DumpRecording()
{
    PacketBuilder builder;
    Recording recording;
    const Bytes pat = PATSection(0x7FE0, 3, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});
    const Bytes cat = CATSection(1, CADescriptor(0x0005, 0x0901));
    const Bytes pmt_a =
        PMTSection(0x0400, 0, 0x0111, Descriptor(0xC1, {0x84, 0xFF}),
                   {{0x02, 0x0111, Descriptor(0x52, {0x00})}, {0x0F, 0x0112, Descriptor(0x52, {0x10})}});
    // A registration descriptor with 170 bytes of additional_identification_info: the section
    // needs two packets.
    Bytes long_info(170);
    for (size_t i = 0; i < long_info.size(); ++i)
        long_info[i] = u8(i);
    const Bytes pmt_b = PMTSection(0x0401, 2, 0x01FF,
                                   Concat({CADescriptor(0x0005, 0x0130, {0x01, 0x02}),
                                           Descriptor(0x05, Concat({{'A', 'R', 'I', 'B'}, long_info}))}),
                                   {{0x02, 0x0121, {}}, {0x0F, 0x0122, {}}});
    const Bytes emm = PrivateSection(0x84, 0x0001, 0, {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xEE, 0xEE});
    const Bytes ecm = PrivateSection(0x82, 0x0401, 0, {0x11, 0x22, 0x33, 0x44});

    // Before the first PAT only the CAT can print.
    recording.Add(builder.Section(0x0001, cat));
    recording.Add(builder.Section(0x0901, emm));
    recording.Add(builder.Section(0x01F0, pmt_a), 0x0400);
    recording.Add(builder.PCR(0x0111, 2700000, 12, true, 0x55), 0x0400);

    recording.Add(builder.Section(0x0000, pat));
    recording.Add(builder.Section(0x01F0, pmt_a), 0x0400);
    const std::vector<Packet> halves = builder.Section(0x01F1, pmt_b);
    EXPECT_EQ(halves.size(), 2u);
    recording.Add(halves[0], 0x0401);
    recording.Add(builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(20, 0x5A))));
    recording.Add(PacketBuilder::Null());
    recording.Add(halves[1], 0x0401);

    recording.Add(builder.PCR(0x0111, 2700000 + 3600, 12, true, 0x66), 0x0400);  // PCR on the video PID
    recording.Add(builder.Payload(0x0111, 0x67), 0x0400);
    recording.Add(builder.Payload(0x0112, 0x68, true), 0x0400);
    recording.Add(AdaptationOnly(0x01FF), 0x0401);                      // no PCR in it
    recording.Add(builder.PCR(0x01FF, 324000000, 299, false), 0x0401);  // one hour in
    recording.Add(builder.Section(0x0130, ecm), 0x0401);
    recording.Add(builder.Section(0x0901, emm));
    recording.Add(builder.Payload(0x0121, 0x69), 0x0401);
    recording.Add(PacketBuilder::Null());
    recording.Add(builder.Section(0x0000, pat));
    return recording;
}

class StreamDump : public ::testing::Test {
protected:
    std::string Dump(const Recording &recording, int mask, int *result = nullptr)
    {
        const std::string path = dir.File("in.ts");
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        int returned = 0;
        const std::string text = CaptureStdout([&] { returned = TS_Print(path.c_str(), mask); });
        if (result != nullptr)
            *result = returned;
        else
            EXPECT_EQ(returned, 0);
        return text;
    }
    // The dump as pidsift-dump runs it: every entry of the tables, into a string.
    std::string FullDump(const Recording &recording, int mask)
    {
        const std::string path = dir.File("full.ts");
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        int result = -1;
        const std::string text = DumpedText(path, mask, &result);
        EXPECT_EQ(result, 0);
        return text;
    }

    TempDir dir;
};

constexpr char kSeparator[] = "========================================\n";

TEST_F(StreamDump, GoldenOutputUnderSeveralMasks)
{
    const Recording recording = DumpRecording();
    const struct {
        const char *golden;
        int mask;
    } cases[] = {
        {"dump_default", TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PIDS},
        {"dump_pat", TS_PRINT_PAT},
        {"dump_pids", TS_PRINT_PIDS},
        {"dump_pcr", TS_PRINT_PCR},
        {"dump_ecm_emm", TS_PRINT_ECM | TS_PRINT_EMM},
        {"dump_packets_es", TS_PRINT_PACKETS | TS_PRINT_ES},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.golden);
        EXPECT_EQ(CompareWithGolden(each.golden, Dump(recording, each.mask)), "");
    }
}

TEST_F(StreamDump, WhatEachMaskPrints)
{
    const Recording recording = DumpRecording();
    EXPECT_EQ(Dump(recording, 0), "");
    EXPECT_EQ(Dump(recording, 0x200 | 0x8000), "");  // undefined bits are ignored

    // The PAT alone: separator, the header line of the packet that completed it, the PAT; twice.
    const std::string pat = Dump(recording, TS_PRINT_PAT);
    EXPECT_EQ(pat.rfind(kSeparator, 0), 0u);
    EXPECT_EQ(Occurrences(pat, kSeparator), 2u);
    EXPECT_EQ(Occurrences(pat, "[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0000"), 2u);
    EXPECT_EQ(Occurrences(pat, "[PAT]"), 2u);

    // Only packets that carry a PCR print one, and only once a PAT named the program: the first
    // PCR packet comes before the PAT, and the adaptation-only packet on 0x01FF has none.
    const std::string pcr = Dump(recording, TS_PRINT_PCR);
    EXPECT_EQ(Occurrences(pcr, "[PCR]"), 2u);
    EXPECT_NE(pcr.find("PB:324000000(01:00:00.000)"), std::string::npos);

    // Every packet gets one separator; a video packet selected twice prints twice under it.
    const std::string packets = Dump(recording, TS_PRINT_PACKETS | TS_PRINT_ES);
    EXPECT_EQ(Occurrences(packets, kSeparator), recording.packets.size());
    EXPECT_EQ(Occurrences(packets, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x0111"), 3u + 2u);

    // The CAT prints before the PAT; the EMM before it does not.
    const std::string tables = Dump(recording, TS_PRINT_CAT | TS_PRINT_EMM | TS_PRINT_PAT);
    EXPECT_LT(tables.find("[CAT]"), tables.find("[PAT]"));
    EXPECT_EQ(Occurrences(tables, "[EMM]"), 1u);
    EXPECT_GT(tables.find("[EMM]"), tables.find("[PAT]"));
}

TEST_F(StreamDump, PIDListKeepsTheFirst256PIDs)
{
    PacketBuilder builder;
    Recording recording;
    for (u16 i = 0; i < 300; ++i)
        recording.Add(builder.Payload(u16(0x1000 + (i * 7) % 300), u8(i)));
    recording.Add(builder.Payload(0x1000, 0));  // met again: listed once
    const std::string text = Dump(recording, TS_PRINT_PIDS);
    std::string expected = std::string(kSeparator) + "PID List:\n";
    for (u16 i = 0; i < 256; ++i) {
        char line[16];
        snprintf(line, sizeof line, "  0x%04X,\n", 0x1000 + (i * 7) % 300);
        expected += line;
    }
    EXPECT_EQ(text, expected);
    EXPECT_EQ(g_tData.u16PIDCount, 256);
}

TEST_F(StreamDump, ProgramsSharingAPMTPIDEachTakeTheirOwnSections)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F0}})));
    recording.Add(builder.Section(0x1F0, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})));
    recording.Add(builder.Section(0x1F0, PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}})));
    recording.Add(builder.Payload(0x101, 1));
    recording.Add(builder.Payload(0x201, 2));
    recording.Add(builder.Payload(0x301, 3));
    const std::string text = Dump(recording, TS_PRINT_PMT | TS_PRINT_ES);
    EXPECT_EQ(Occurrences(text, "[PMT]"), 2u);
    EXPECT_NE(text.find("TSI:1 "), std::string::npos);
    EXPECT_NE(text.find("TSI:2 "), std::string::npos);
    EXPECT_EQ(g_tData.ltPMT[1].program_number, 1);
    EXPECT_EQ(g_tData.ltPMT[2].program_number, 2);
    // Both programs' video PIDs print; the unknown PID does not.
    EXPECT_EQ(Occurrences(text, "[TS Packet]"), 2u);
    EXPECT_EQ(Occurrences(text, "PID:0x0301"), 0u);
}

TEST_F(StreamDump, APMTSlotKeepsItsPMTUntilReplaced)
{
    // The second PAT moves program 2 from position 2 to position 1; until its PMT arrives again,
    // slot 2 still names 0x0201 and slot 1 still 0x0101.
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})));
    recording.Add(builder.Section(0x200, PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}})));
    recording.Add(builder.Section(0, PATSection(1, 1, {{0, 0x10}, {2, 0x200}, {3, 0x300}})));
    recording.Add(builder.Payload(0x101, 1));
    recording.Add(builder.Payload(0x201, 2));
    recording.Add(builder.Section(0x200, PMTSection(2, 0, 0x202, {}, {{0x02, 0x202, {}}})));
    recording.Add(builder.Payload(0x201, 3));  // still named by slot 2's old PMT
    recording.Add(builder.Payload(0x202, 4));
    const std::string text = Dump(recording, TS_PRINT_ES);
    EXPECT_EQ(Occurrences(text, "[TS Packet]"), 4u);
    EXPECT_EQ(g_tData.ltPMT[1].program_number, 2);
    EXPECT_EQ(g_tData.ltPMT[2].program_number, 2);
    // pidsift-dump's run keeps the slots alike.
    EXPECT_EQ(FullDump(recording, TS_PRINT_ES), text);
}

// TS_Print leaves in g_tData.ltPCR the last PCR printed for each position, on the first position
// whose PMT names the PCR_PID; the slot's PMT still names it after a later PAT lists another
// program there, so the PCR prints and stays on that position.
TEST_F(StreamDump, APCRGoesToTheFirstSlotNamingItsPID)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F1}})));
    // Two programs on one clock, carried on the first one's video PID.
    recording.Add(builder.Section(0x1F0, PMTSection(1, 0, 0x111, {}, {{0x02, 0x111, {}}})));
    recording.Add(builder.Section(0x1F1, PMTSection(2, 0, 0x111, {}, {{0x02, 0x121, {}}})));
    recording.Add(builder.PCR(0x111, 90000, 0, true, 0x11));
    recording.Add(builder.Section(0, PATSection(1, 1, {{0, 0x10}, {3, 0x1F2}, {2, 0x1F1}})));
    recording.Add(builder.PCR(0x111, 180000, 0, true, 0x11));
    const std::string text = Dump(recording, TS_PRINT_PCR);
    EXPECT_EQ(Occurrences(text, "[PCR]"), 2u);
    EXPECT_NE(text.find("PB:180000(00:00:02.000)"), std::string::npos);
    EXPECT_EQ(g_tData.ltPCR[1].program_clock_reference_base, 180000u);
    EXPECT_EQ(g_tData.ltPCR[2].program_clock_reference_base, 0u);
    EXPECT_EQ(FullDump(recording, TS_PRINT_PCR), text);
}

// TS_Print follows what its records hold: the programs of the first 16 entries of the PAT and the
// first 16 streams of a PMT. pidsift-dump follows every one.
TEST_F(StreamDump, PrintFollowsWhatTheRecordsHold)
{
    std::vector<PATEntry> programs = {{0, 0x0010}};
    for (u16 n = 1; n <= 17; ++n)
        programs.push_back({n, u16(0x01F0 + n)});
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 20; ++i)
        streams.push_back({0x06, u16(0x0300 + i), {}});
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, programs)));
    recording.Add(builder.Section(0x01F1, PMTSection(1, 0, 0x0300, {}, streams)));
    recording.Add(builder.Section(0x0201, PMTSection(17, 0, 0x0400, {}, {{0x02, 0x0400, {}}})));  // entry 17
    for (u16 i = 0; i < 20; ++i)
        recording.Add(builder.Payload(u16(0x0300 + i), u8(i)));
    recording.Add(builder.Payload(0x0400, 0x40));

    const std::string records = Dump(recording, TS_PRINT_PMT | TS_PRINT_ES);
    EXPECT_EQ(Occurrences(records, "[PMT]"), 1u);
    EXPECT_EQ(Occurrences(records, "[TS Packet]"), 16u);
    EXPECT_EQ(Occurrences(records, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x030F"), 1u);
    EXPECT_EQ(Occurrences(records, "PID:0x0310"), 0u);
    EXPECT_EQ(Occurrences(records, "PID:0x0400"), 0u);
    const std::string full = FullDump(recording, TS_PRINT_PMT | TS_PRINT_ES);
    EXPECT_EQ(Occurrences(full, "[PMT]"), 2u);
    EXPECT_EQ(Occurrences(full, "[TS Packet]"), 21u);
    EXPECT_EQ(Occurrences(full, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x0313"), 1u);
    EXPECT_EQ(Occurrences(full, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x0400"), 1u);
}

// The PID list looks at every PID until it has met it; the SDT and NIT PIDs, met at their first
// packet, still print every table that comes on them.
TEST_F(StreamDump, SDTAndNITPrintBesideThePIDList)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}})));
    for (u8 version = 0; version < 3; ++version) {
        recording.Add(builder.Section(
            0x0011,
            SDTSection(0x42, 0x7FE0, 0x233A, version,
                       {{0x0400, ServiceDescriptor(0x01, Text("P"), Text("Service " + std::to_string(version)))}})));
        recording.Add(builder.Section(0x0010, NITSection(0x40, 0x3001, version, Descriptor(0x40, Text("Net")), {})));
        recording.Add(PacketBuilder::Null());
    }
    const std::string tables = FullDump(recording, TS_PRINT_SDT | TS_PRINT_NIT);
    EXPECT_EQ(Occurrences(tables, "[SDT]"), 3u);
    EXPECT_EQ(Occurrences(tables, "[NIT]"), 3u);
    EXPECT_NE(tables.find("\"Service 2\""), std::string::npos) << tables;
    EXPECT_EQ(FullDump(recording, TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PIDS),
              tables + kSeparator + "PID List:\n  0x0000,\n  0x0011,\n  0x0010,\n  0x1FFF,\n");
}

TEST_F(StreamDump, Failures)
{
    EXPECT_EQ(TS_Print(nullptr, TS_PRINT_PAT), -1);
    int result = 0;
    const std::string missing = dir.File("missing.ts");
    EXPECT_EQ(CaptureStdout([&] { result = TS_Print(missing.c_str(), TS_PRINT_PIDS); }), "");
    EXPECT_EQ(result, -2);
    // A directory opens but cannot be read: the run ends as at the end of a file, with the
    // (empty) PID list.
    EXPECT_EQ(CaptureStdout([&] { result = TS_Print(dir.path().c_str(), TS_PRINT_PIDS); }),
              "========================================\nPID List:\n");
    EXPECT_EQ(result, -5);
}

TEST_F(StreamDump, SampleBroadcastFollowsThePMTChange)
{
    const Recording recording = Generate(SampleBroadcast(3000));
    size_t pats = 0;
    size_t extra_stream = 0;  // the stream that the changed PMTs add to program 0x0400
    for (const Packet &packet : recording.packets) {
        pats += PacketPID(packet) == 0x0000;
        extra_stream += PacketPID(packet) == 0x0114;
    }
    ASSERT_GT(extra_stream, 0u);
    const std::string text = Dump(recording, TS_PRINT_PAT | TS_PRINT_PMT | TS_PRINT_ES);
    EXPECT_EQ(Occurrences(text, "[PAT]"), pats);
    EXPECT_EQ(Occurrences(text, "[PMT]"), 3 * pats);
    EXPECT_GT(Occurrences(text, " VER:1 "), 0u);
    EXPECT_EQ(Occurrences(text, " VER:0 ") + Occurrences(text, " VER:1 "), 3 * pats);
    EXPECT_EQ(Occurrences(text, "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x0114"), extra_stream);
}

// A PID's packets print from the moment a table gives it a role, not before, however many of
// its packets came while it had none: a stream added by a new PMT version, a PCR moved to
// another PID, an EMM PID named by a later CAT, a PMT PID that a later PAT lists.
TEST_F(StreamDump, PIDsPrintFromTheTableThatGivesThemARole)
{
    PacketBuilder builder;
    Recording recording;
    const Bytes pat_one = PATSection(0x7FE0, 0, {{0x0400, 0x01F0}});
    const Bytes pat_two = PATSection(0x7FE0, 1, {{0x0400, 0x01F0}, {0x0401, 0x01F1}});
    const Bytes pmt_v0 = PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}});
    const Bytes pmt_v1 = PMTSection(0x0400, 1, 0x0115, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0114, {}}});
    const Bytes pmt_other = PMTSection(0x0401, 0, 0x0121, {}, {{0x02, 0x0121, {}}});
    const Bytes cat = CATSection(0, CADescriptor(0x0005, 0x0901));
    const Bytes emm = PrivateSection(0x84, 0x0001, 0, {0x00, 0x00, 0x12, 0x34, 0x56, 0x78});
    // Every PID's packets, three rounds before its role and three after.
    const auto round = [&](u8 fill) {
        recording.Add(builder.Payload(0x0114, fill, true));
        recording.Add(builder.PCR(0x0115, 2700000 + fill, 0, false));
        recording.Add(builder.Section(0x0901, emm));
        recording.Add(builder.Section(0x01F1, pmt_other));
        recording.Add(PacketBuilder::Null());
    };
    recording.Add(builder.Section(0x0000, pat_one));
    recording.Add(builder.Section(0x01F0, pmt_v0));
    for (u8 fill = 0; fill < 3; ++fill)
        round(fill);
    recording.Add(builder.Section(0x01F0, pmt_v1));
    recording.Add(builder.Section(0x0001, cat));
    recording.Add(builder.Section(0x0000, pat_two));
    for (u8 fill = 3; fill < 6; ++fill)
        round(fill);

    const std::string text =
        Dump(recording, TS_PRINT_PAT | TS_PRINT_PMT | TS_PRINT_ES | TS_PRINT_PCR | TS_PRINT_EMM | TS_PRINT_PIDS);
    EXPECT_EQ(Occurrences(text, "[TS Packet] TEI:0 PUSI:1 TP:0 PID:0x0114"), 3u);
    EXPECT_EQ(Occurrences(text, "[PCR]"), 3u);
    EXPECT_EQ(Occurrences(text, "[EMM]"), 3u);
    // Program 0x0401's PMT: three times once its PAT entry is there.
    EXPECT_EQ(Occurrences(text, "[PMT]"), 2u + 3u);
    EXPECT_EQ(Occurrences(text, "PN:1025"), 1u);
    EXPECT_NE(
        text.find(
            "PID List:\n  0x0000,\n  0x01F0,\n  0x0114,\n  0x0115,\n  0x0901,\n  0x01F1,\n  0x1FFF,\n  0x0001,\n"),
        std::string::npos)
        << text;
}

// A PMT section on pid in one packet whose adaptation field carries a PCR of the given base.
Packet PMTWithPCR(PacketBuilder *builder, u16 pid, const Bytes &section, u64 base)
{
    Packet packet = builder->PCR(pid, base, 0, true, 0xFF);
    packet[1] |= 0x40;  // payload_unit_start_indicator
    packet[12] = 0x00;  // pointer_field
    std::copy(section.begin(), section.end(), packet.begin() + 13);
    return packet;
}

// The packet that completes a PMT is looked at under the roles that PMT gives: when it names its
// own PID as PCR_PID and as a stream, the PCR and the packet print from that packet on; when a
// later version names neither, the packet that completes it prints nothing.
TEST_F(StreamDump, PacketThatCompletesAPMTPrintsUnderItsRoles)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {1, 0x0100}})));
    const Bytes pmt_v0 = PMTSection(1, 0, 0x0100, {}, {{0x02, 0x0111, {}}, {0x06, 0x0100, {}}});
    const Bytes pmt_v1 = PMTSection(1, 1, 0x0111, {}, {{0x02, 0x0111, {}}});
    recording.Add(PMTWithPCR(&builder, 0x0100, pmt_v0, 90000));
    recording.Add(PMTWithPCR(&builder, 0x0100, pmt_v1, 93600));
    recording.Add(builder.PCR(0x0111, 97200, 0, true, 0x11));
    EXPECT_EQ(Dump(recording, TS_PRINT_PCR | TS_PRINT_ES),
              std::string(kSeparator) +
                  "[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0100(<assigned>) TSC:0 AFC:3 CN:0\n"
                  "[PCR] TI:0x10(?) PB:90000(00:00:01.000) R:63 PE:0\n"
                  "[TS Packet] TEI:0 PUSI:1 TP:0 PID:0x0100(<assigned>) TSC:0 AFC:3 CN:0\n" +
                  kSeparator +
                  "[TS Packet Header] TEI:0 PUSI:0 TP:0 PID:0x0111(<assigned>) TSC:0 AFC:3 CN:0\n"
                  "[PCR] TI:0x10(?) PB:97200(00:00:01.080) R:63 PE:0\n"
                  "[TS Packet] TEI:0 PUSI:0 TP:0 PID:0x0111(<assigned>) TSC:0 AFC:3 CN:0\n");
}

// EMM sections one after the other on the CAT's CA PID, with no table between that would make
// the dump look at the PIDs' roles again: each prints.
TEST_F(StreamDump, EMMsBackToBackEachPrint)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {1, 0x01F0}})));
    recording.Add(builder.Section(0x0001, CATSection(0, CADescriptor(0x0005, 0x0901))));
    std::string expected;
    for (u8 card = 1; card <= 3; ++card) {
        const Bytes emm = PrivateSection(0x84, 0x0001, 0, {0x00, 0x00, 0x00, 0x00, 0x00, card, 0xEE});
        recording.Add(builder.Section(0x0901, emm));
        char block[512];
        snprintf(block, sizeof block,
                 "%s[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0901(<assigned>) TSC:0 AFC:1 CN:%d\n"
                 "[EMM] TI:0x84(EMM EMM-S) SSI:1 PI:1 R1:3 PSL:16 TE:1 R2:3 VN:0 CNI:1 SN:0 LSN:0\n"
                 "  CardID:%d(0x%d)\n  0xEE, \n  CRC32:0x%02X%02X%02X%02X\n",
                 kSeparator, card - 1, card, card, emm[15], emm[16], emm[17], emm[18]);
        expected += block;
    }
    EXPECT_EQ(Dump(recording, TS_PRINT_EMM), expected);
}

// TS_Print takes the bits 0x001 to 0x100 and ignores every other: the service information, the
// JSON form and the program list are TS_Dump's.
constexpr TS_DumpOptions kAll = {0x1FF};

TEST_F(StreamDump, PrintIgnoresTheBitsAbove0x100)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    const std::string all = Dump(recording, 0x1FF);
    ASSERT_NE(all.find("[PMT]"), std::string::npos);
    EXPECT_EQ(Dump(recording, 0x7FFF), all);
    EXPECT_EQ(Dump(recording, ~0), all);

    // TS_Dump takes them, and prints what TS_Print does under the bits they share.
    const auto dump = [&](int mask) {
        const TS_DumpOptions options = {mask};
        return CaptureStdout([&] { EXPECT_EQ(TS_Dump(dir.File("in.ts").c_str(), &options), 0); });
    };
    EXPECT_EQ(dump(0x1FF), all);
    EXPECT_EQ(dump(0x1FF | 0x200 | 0x40000), all);
    const std::string sdt = dump(TS_PRINT_SDT);
    EXPECT_EQ(sdt.rfind(std::string(kSeparator) + "[TS Packet Header] TEI:0 PUSI:1 TP:0 PID:0x0011", 0), 0u) << sdt;
    EXPECT_EQ(Occurrences(sdt, "[SDT]"), Occurrences(sdt, kSeparator));
    EXPECT_EQ(dump(TS_PRINT_PAT | TS_PRINT_JSON).rfind("{\"type\":\"pat\",", 0), 0u);
    EXPECT_EQ(TS_Dump(dir.File("in.ts").c_str(), nullptr), -1);
    EXPECT_EQ(TS_Dump(nullptr, &kAll), -1);
}

}  // namespace
