// The per-program split on generated recordings: file names, the reduced PAT, and the packets
// each program's file receives.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

#include "recording.h"

namespace {

using namespace testsupport;

// Number of descriptors the process has open.
size_t OpenDescriptors()
{
    size_t count = 0;
    DIR *dir = opendir("/proc/self/fd");
    while (dir != nullptr && readdir(dir) != nullptr)
        ++count;
    if (dir != nullptr)
        closedir(dir);
    return count;
}

// Runs call with standard error sent to a file, and returns what it printed there.
template <class Call>
std::string CaptureStderr(Call &&call)
{
    fflush(stderr);
    FILE *sink = tmpfile();
    const int saved = dup(STDERR_FILENO);
    dup2(fileno(sink), STDERR_FILENO);
    call();
    fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text;
    rewind(sink);
    char chunk[1024];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, sink)) > 0;)
        text.append(chunk, got);
    fclose(sink);
    return text;
}

// The PAT packet the split writes for one program: the network entry and the program, under
// the header of the received PAT packet.
Packet ReducedPAT(const Packet &received, u16 transport_stream_id, u8 version, u16 network_pid, PATEntry program)
{
    std::vector<PATEntry> entries;
    if (network_pid != 0)
        entries.push_back({0, network_pid});
    entries.push_back(program);
    const Bytes section = PATSection(transport_stream_id, version, entries);
    Packet packet;
    packet.fill(0xFF);
    std::copy(received.begin(), received.begin() + 4, packet.begin());
    packet[4] = 0x00;  // pointer_field
    std::copy(section.begin(), section.end(), packet.begin() + 5);
    return packet;
}

class ProgramSplit : public ::testing::Test {
protected:
    std::string Write(const Recording &recording, const std::string &name = "in.ts")
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        return path;
    }
    // The files in the scratch directory other than the input.
    std::set<std::string> Outputs(const std::string &input_name = "in.ts")
    {
        std::set<std::string> names;
        DIR *listing = opendir(dir.path().c_str());
        for (dirent *entry; listing != nullptr && (entry = readdir(listing)) != nullptr;)
            if (entry->d_name[0] != '.' && input_name != entry->d_name)
                names.insert(entry->d_name);
        if (listing != nullptr)
            closedir(listing);
        return names;
    }
    std::vector<Packet> Output(const std::string &name) { return Packets(ReadBytes(dir.File(name))); }

    TempDir dir;
};

TEST_F(ProgramSplit, SampleBroadcastGivesEachProgramItsPacketsAfterReducedPATs)
{
    const BroadcastSpec mux = SampleBroadcast(6000);
    const Recording recording = Generate(mux);
    const std::string input = Write(recording, "rec.ts");
    ASSERT_EQ(TS_ProgramSplitFile(input.c_str()), 0);
    EXPECT_EQ(Outputs("rec.ts"), (std::set<std::string>{"rec_1024_0_0.ts", "rec_1025_0_0.ts", "rec_1032_0_0.ts"}));

    for (const ProgramSpec &program : mux.programs) {
        SCOPED_TRACE(program.program_number);
        Bytes expected;
        for (size_t i = 0; i < recording.packets.size(); ++i) {
            if (PacketPID(recording.packets[i]) == 0x0000)
                Append(&expected, ReducedPAT(recording.packets[i], mux.transport_stream_id, 0, mux.network_pid,
                                             {program.program_number, program.pmt_pid}));
            else if (recording.owners[i] == program.program_number)
                Append(&expected, recording.packets[i]);
        }
        const Bytes written =
            ReadBytes(dir.File("rec_" + std::to_string(program.program_number) + "_0_0.ts"));
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
        // section_length 17 and a CRC_32 that checks: the CRC over the section with it is 0.
        ASSERT_GE(written.size(), 188u);
        EXPECT_EQ(((written[6] & 0x0F) << 8) | written[7], 17);
        EXPECT_EQ(Crc32Mpeg2(written.data() + 5, 3 + 17), 0u);
    }
    EXPECT_EQ(g_tPNSplitData.u16Count, 3);
    for (u16 i = 0; i < 3; ++i)
        EXPECT_EQ(g_tPNSplitData.ltSplit[i].s32FD, -1);
}

TEST_F(ProgramSplit, FileNamesFromProgramNumberIndexAndCounter)
{
    PacketBuilder builder;
    Recording recording;
    // Programs 1 and 2, and program 5 listed twice (two services sharing a number by mistake).
    const Bytes pat = PATSection(0x0101, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F1}, {5, 0x1F5}, {5, 0x1F6}});
    for (int round = 0; round < 2; ++round) {
        recording.Add(builder.Section(0, pat));
        recording.Add(builder.Section(0x1F0, PMTSection(1, 0, 0x111, {}, {{0x02, 0x111, {}}})), 1);
        recording.Add(builder.Section(0x1F1, PMTSection(2, 0, 0x121, {}, {{0x02, 0x121, {}}})), 2);
        recording.Add(builder.Section(0x1F5, PMTSection(5, 0, 0x151, {}, {{0x02, 0x151, {}}})), 5);
        recording.Add(builder.Section(0x1F6, PMTSection(5, 0, 0x161, {}, {{0x02, 0x161, {}}})), 6);
        recording.Add(builder.PCR(0x111, 1000, 0, true, 1), 1);
        recording.Add(builder.Payload(0x121, 2), 2);
        recording.Add(builder.Payload(0x151, 5), 5);
        recording.Add(builder.Payload(0x161, 6), 6);
        recording.Add(PacketBuilder::Null());
    }
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    EXPECT_EQ(Outputs(), (std::set<std::string>{"in_1_0_0.ts", "in_2_0_0.ts", "in_5_0_0.ts", "in_5_1_0.ts"}));
    const struct {
        const char *name;
        u16 owner;
    } files[] = {{"in_1_0_0.ts", 1}, {"in_2_0_0.ts", 2}, {"in_5_0_0.ts", 5}, {"in_5_1_0.ts", 6}};
    for (const auto &file : files) {
        SCOPED_TRACE(file.name);
        const std::vector<Packet> written = Output(file.name);
        std::vector<Packet> own;
        for (size_t i = 0; i < recording.packets.size(); ++i)
            if (recording.owners[i] == file.owner)
                own.push_back(recording.packets[i]);
        ASSERT_EQ(written.size(), own.size() + 2);  // and one reduced PAT per PAT
        EXPECT_EQ(PacketPID(written[0]), 0x0000);
        EXPECT_TRUE(std::equal(own.begin(), own.begin() + long(own.size() / 2), written.begin() + 1));
        EXPECT_EQ(PacketPID(written[1 + own.size() / 2]), 0x0000);
    }
    EXPECT_EQ(g_tPNSplitData.ltSplit[3].u16ProgramNumber, 5);
    EXPECT_EQ(g_tPNSplitData.ltSplit[3].u16Index, 1);
    EXPECT_EQ(g_tPNSplitData.ltSplit[3].u16PMTPID, 0x1F6);
}

TEST_F(ProgramSplit, ProgramThatLeavesForThreePATsReturnsInANewFile)
{
    PacketBuilder builder;
    Recording recording;
    const Bytes both = PATSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}});
    const Bytes one = PATSection(1, 1, {{0, 0x10}, {1, 0x100}});
    const Bytes pmt2 = PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}});
    recording.Add(builder.Section(0, both));
    recording.Add(builder.Section(0x200, pmt2), 2);
    recording.Add(builder.Payload(0x201, 1), 2);
    for (int i = 0; i < 3; ++i) {
        recording.Add(builder.Section(0, one));
        recording.Add(builder.Payload(0x201, u8(10 + i)));  // the file is closed: written nowhere
    }
    recording.Add(builder.Section(0, both));
    recording.Add(builder.Section(0x200, pmt2), 2);
    recording.Add(builder.Payload(0x201, 2), 2);
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    // Program 1, whose PMT never comes, gets no file.
    EXPECT_EQ(Outputs(), (std::set<std::string>{"in_2_0_0.ts", "in_2_0_3.ts"}));
    const std::vector<Packet> first = Output("in_2_0_0.ts");
    const std::vector<Packet> second = Output("in_2_0_3.ts");
    ASSERT_EQ(first.size(), 3u);
    ASSERT_EQ(second.size(), 3u);
    EXPECT_EQ(first[1], recording.packets[1]);
    EXPECT_EQ(first[2], recording.packets[2]);
    EXPECT_EQ(second[0], ReducedPAT(recording.packets[9], 1, 0, 0x10, {2, 0x200}));
    EXPECT_EQ(second[2], recording.packets[11]);
    EXPECT_EQ(g_tPNSplitData.ltSplit[0].u16ProgramNumber, 1);
    EXPECT_EQ(g_tPNSplitData.ltSplit[1].u16FileNo, 3);
}

TEST_F(ProgramSplit, PMTSectionsReachTheirFileWholeAndOnlyThere)
{
    // Program 1's PMT spans two packets with other packets between; program 2's PMT shares its
    // PID. Nothing before the first PAT is written, PMT packets included.
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 12; ++i)
        streams.push_back({0x06, u16(0x110 + i), Concat({Descriptor(0x52, {u8(i)}), Descriptor(0xFD, {0x00, 0x08, 0x3D, 0x11})})});
    const Bytes long_pmt = PMTSection(1, 0, 0x110, CADescriptor(5, 0x130), streams);
    const Bytes short_pmt = PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}});
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x1F0, long_pmt));
    recording.Add(builder.Payload(0x110, 0));
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F0}})));
    for (int round = 0; round < 3; ++round) {
        const std::vector<Packet> halves = builder.Section(0x1F0, long_pmt);
        ASSERT_EQ(halves.size(), 2u);
        recording.Add(halves[0], 1);
        recording.Add(builder.Section(0x0011, LongSection(0x42, 1, 0, Bytes(30, 0x11))));
        recording.Add(PacketBuilder::Null());
        recording.Add(halves[1], 1);
        recording.Add(builder.Section(0x1F0, short_pmt), 2);
        recording.Add(builder.PCR(0x110, 900 * u64(round), 0, true), 1);  // PCR on a stream PID: once
        recording.Add(builder.Section(0x130, PrivateSection(0x82, 1, 0, Bytes(40, 0x99))), 1);
        recording.Add(builder.Payload(0x11B, u8(round)), 1);
        recording.Add(builder.Payload(0x201, u8(round)), 2);
    }
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    for (u16 program : {1, 2}) {
        SCOPED_TRACE(program);
        std::vector<Packet> expected;
        for (size_t i = 0; i < recording.packets.size(); ++i) {
            if (PacketPID(recording.packets[i]) == 0)
                expected.push_back(ReducedPAT(recording.packets[i], 1, 0, 0x10, {program, 0x1F0}));
            else if (recording.owners[i] == program)
                expected.push_back(recording.packets[i]);
        }
        EXPECT_EQ(Output("in_" + std::to_string(program) + "_0_0.ts"), expected);
    }
}

// A PAT with two network entries, one of them behind the program: the reduced PAT keeps the
// first network entry, ahead of the program, and nothing else.
TEST_F(ProgramSplit, ReducedPATKeepsOneNetworkEntryFirst)
{
    PacketBuilder builder;
    Recording recording;
    const Packet pat = builder.Section(0, PATSection(0x7FE0, 4, {{0x0400, 0x01F0}, {0, 0x0010}, {0, 0x0011}}))[0];
    recording.Add(pat);
    recording.Add(builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}})), 0x0400);
    recording.Add(builder.Payload(0x0111, 0x11, true), 0x0400);
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    const std::vector<Packet> written = Output("in_1024_0_0.ts");
    ASSERT_EQ(written.size(), 3u);
    // transport_stream_id 0x7FE0, version 4; the entries {0, 0x0010}, {0x0400, 0x01F0}; CRC_32.
    const Bytes section = {0x00, 0xB0, 0x11, 0x7F, 0xE0, 0xC9, 0x00, 0x00,
                           0x00, 0x00, 0xE0, 0x10, 0x04, 0x00, 0xE1, 0xF0};
    const u32 crc = Crc32Mpeg2(section.data(), section.size());
    EXPECT_TRUE(std::equal(section.begin(), section.end(), written[0].begin() + 5));
    EXPECT_EQ(written[0][21], u8(crc >> 24));
    EXPECT_EQ(written[0][22], u8(crc >> 16));
    EXPECT_EQ(written[0][23], u8(crc >> 8));
    EXPECT_EQ(written[0][24], u8(crc));
    EXPECT_EQ(written[0], ReducedPAT(pat, 0x7FE0, 4, 0x0010, {0x0400, 0x01F0}));
    EXPECT_EQ(written[1], recording.packets[1]);
    EXPECT_EQ(written[2], recording.packets[2]);
}

// Programs 1 and 2 announce their PMTs on 0x01F0, whose sections come packed back to back: a
// packet that carries both goes to both files. Later program 1's section fills a packet up to
// the first two bytes of program 2's, whose header the next packet completes: program 2's file
// gets that packet, then its own packets that came meanwhile, then the rest of its section.
TEST_F(ProgramSplit, TwoProgramsPMTsPackedBackToBackOnOnePID)
{
    const Bytes pmt1 = PMTSection(1, 0, 0x111, {}, {{0x02, 0x111, {}}, {0x0F, 0x112, {}}});
    const Bytes pmt2 = PMTSection(2, 0, 0x121, CADescriptor(5, 0x130), {{0x02, 0x121, {}}});
    const Bytes long_pmt1 = PMTSection(1, 1, 0x111, {}, {{0x02, 0x111, Bytes(155, 0x00)}, {0x0F, 0x112, {}}});
    ASSERT_EQ(long_pmt1.size(), 181u);
    PacketBuilder builder;
    std::vector<Packet> packets;
    packets.push_back(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F0}}))[0]);
    const std::vector<Packet> both = builder.Packed(0x1F0, {pmt1, pmt2});
    ASSERT_EQ(both.size(), 1u);
    packets.push_back(both[0]);                                                                 // 1: both
    packets.push_back(builder.Payload(0x111, 0x11, true));                                      // 2: program 1
    packets.push_back(builder.Payload(0x121, 0x21, true));                                      // 3: program 2
    packets.push_back(builder.Section(0x130, PrivateSection(0x82, 2, 0, Bytes(20, 0x30)))[0]);  // 4: 2
    packets.push_back(builder.Payload(0x112, 0x12, true));                                      // 5: program 1
    const std::vector<Packet> cut = builder.Packed(0x1F0, {long_pmt1, pmt2});
    ASSERT_EQ(cut.size(), 2u);
    packets.push_back(cut[0]);                        // 6: program 1's section, program 2's first bytes
    packets.push_back(builder.Payload(0x121, 0x22));  // 7: program 2, waits behind 6
    packets.push_back(builder.Payload(0x111, 0x13));  // 8: program 1
    packets.push_back(PacketBuilder::Null());         // 9
    packets.push_back(cut[1]);                        // 10: program 2's section
    packets.push_back(builder.Payload(0x121, 0x23));  // 11: program 2
    packets.push_back(builder.Payload(0x111, 0x14));  // 12: program 1
    ASSERT_TRUE(WriteFile(dir.File("in.ts"), Flatten(packets)));
    ASSERT_EQ(TS_ProgramSplitFile(dir.File("in.ts").c_str()), 0);

    // A program's file: its reduced PAT, then the input packets of these indices.
    auto file = [&](u16 program, const std::vector<size_t> &indices) {
        std::vector<Packet> expected = {ReducedPAT(packets[0], 1, 0, 0x10, {program, 0x1F0})};
        for (size_t index : indices)
            expected.push_back(packets[index]);
        return expected;
    };
    EXPECT_EQ(Output("in_1_0_0.ts"), file(1, {1, 2, 5, 6, 8, 12}));
    EXPECT_EQ(Output("in_2_0_0.ts"), file(2, {1, 3, 4, 6, 7, 10, 11}));
}

TEST_F(ProgramSplit, SharedStreamsGoToEveryProgramThatNamesThem)
{
    // Two services of one broadcaster share their audio and their PCR PID.
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x1FE, {}, {{0x02, 0x101, {}}, {0x0F, 0x1F1, {}}})));
    recording.Add(builder.Section(0x200, PMTSection(2, 0, 0x1FE, {}, {{0x02, 0x201, {}}, {0x0F, 0x1F1, {}}})));
    const Packet audio = builder.Payload(0x1F1, 0xA0);
    const Packet pcr = builder.PCR(0x1FE, 27000, 0, false);
    const Packet video1 = builder.Payload(0x101, 0x01);
    const Packet video2 = builder.Payload(0x201, 0x02);
    for (const Packet &packet : {audio, pcr, video1, video2, PacketBuilder::Null()})
        recording.Add(packet);
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    const std::vector<Packet> one = Output("in_1_0_0.ts");
    const std::vector<Packet> two = Output("in_2_0_0.ts");
    ASSERT_EQ(one.size(), 5u);
    ASSERT_EQ(two.size(), 5u);
    EXPECT_EQ(one[1], recording.packets[1]);
    EXPECT_EQ(two[1], recording.packets[2]);
    EXPECT_EQ((std::vector<Packet>(one.begin() + 2, one.end())), (std::vector<Packet>{audio, pcr, video1}));
    EXPECT_EQ((std::vector<Packet>(two.begin() + 2, two.end())), (std::vector<Packet>{audio, pcr, video2}));
}

TEST_F(ProgramSplit, PATChangesAndCapacity)
{
    PacketBuilder builder;
    Recording recording;
    // No network entry: each program's PAT lists that program alone (section_length 13).
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})));
    recording.Add(builder.Payload(0x101, 1));
    // Program 1 moves its PMT to 0x180 and its video to 0x181: it continues in the same file.
    recording.Add(builder.Section(0, PATSection(1, 1, {{1, 0x180}, {2, 0x200}})));
    recording.Add(builder.Section(0x180, PMTSection(1, 1, 0x181, {}, {{0x02, 0x181, {}}})));
    recording.Add(builder.Payload(0x181, 2));
    // Sixteen more programs, eighteen in all: each gets its file, and the split table keeps the
    // first sixteen.
    std::vector<PATEntry> many;
    for (u16 i = 0; i < 16; ++i)
        many.push_back({u16(100 + i), u16(0x300 + i)});
    recording.Add(builder.Section(0, PATSection(1, 2, many)));
    for (u16 i = 0; i < 16; ++i)
        recording.Add(builder.Section(u16(0x300 + i), PMTSection(u16(100 + i), 0, u16(0x400 + i), {}, {{0x02, u16(0x400 + i), {}}})));
    for (u16 i = 0; i < 16; ++i)
        recording.Add(builder.Payload(u16(0x400 + i), u8(i)));
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);

    EXPECT_EQ(g_tPNSplitData.u16Count, 16);
    EXPECT_EQ(g_tPNSplitData.ltSplit[15].u16ProgramNumber, 113);
    EXPECT_EQ(g_tPNSplitData.ltSplit[15].u16PMTPID, 0x30D);
    // Program 2's PMT never comes: it gets no file.
    const std::set<std::string> outputs = Outputs();
    EXPECT_EQ(outputs.size(), 17u);
    EXPECT_EQ(outputs.count("in_2_0_0.ts"), 0u);
    EXPECT_EQ(outputs.count("in_113_0_0.ts"), 1u);
    EXPECT_EQ(outputs.count("in_115_0_0.ts"), 1u);
    const std::vector<Packet> one = Output("in_1_0_0.ts");
    ASSERT_EQ(one.size(), 6u);
    EXPECT_EQ(((one[0][6] & 0x0F) << 8) | one[0][7], 13);
    EXPECT_EQ(Crc32Mpeg2(one[0].data() + 5, 3 + 13), 0u);
    EXPECT_EQ(one[0], ReducedPAT(recording.packets[0], 1, 0, 0, {1, 0x100}));
    EXPECT_EQ(one[3], ReducedPAT(recording.packets[3], 1, 1, 0, {1, 0x180}));
    EXPECT_EQ(one[5], recording.packets[5]);
    EXPECT_EQ(Output("in_113_0_0.ts").size(), 3u);
    const std::vector<Packet> last = Output("in_115_0_0.ts");
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0], ReducedPAT(recording.packets[6], 1, 2, 0, {115, 0x30F}));
    EXPECT_EQ(last[1], recording.packets[7 + 15]);
    EXPECT_EQ(last[2], recording.packets[7 + 16 + 15]);
}

TEST_F(ProgramSplit, FileCounterNeverComesBackToAnEarlierName)
{
    // A service off the air for 65,536 PATs (under two hours at ten PATs a second) returns under
    // the counter 65536, not 0, whose file would be replaced.
    PacketBuilder builder;
    Recording recording;
    const Bytes pmt1 = PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}});
    const Bytes pmt2 = PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}});
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x100, pmt1));
    recording.Add(builder.Section(0x200, pmt2));
    const Bytes one = PATSection(1, 1, {{1, 0x100}});
    for (u32 i = 0; i < 65536; ++i)
        recording.Add(builder.Section(0, one));
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x200, pmt2));
    ASSERT_EQ(TS_ProgramSplitFile(Write(recording).c_str()), 0);
    EXPECT_EQ(Outputs(), (std::set<std::string>{"in_1_0_0.ts", "in_2_0_0.ts", "in_2_0_65536.ts"}));
    EXPECT_EQ(Output("in_2_0_0.ts").size(), 2u);
    EXPECT_EQ(g_tPNSplitData.ltSplit[1].u16FileNo, 0xFFFF);
}

TEST_F(ProgramSplit, ExistingLongerFileIsReplaced)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x100}})));
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})));
    const std::string input = Write(recording);
    ASSERT_TRUE(WriteFile(dir.File("in_1_0_0.ts"), Bytes(100000, 0xAB)));
    ASSERT_EQ(TS_ProgramSplitFile(input.c_str()), 0);
    EXPECT_EQ(ReadBytes(dir.File("in_1_0_0.ts")).size(), 2u * 188);
}

TEST_F(ProgramSplit, FailuresCloseEverything)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}})));
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})));
    recording.Add(builder.Section(0x200, PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}})));
    for (int i = 0; i < 50; ++i)
        recording.Add(builder.Payload(0x101, u8(i)));
    const std::string input = Write(recording);
    const size_t open_before = OpenDescriptors();

    EXPECT_EQ(TS_ProgramSplitFile(nullptr), -1);
    const std::string missing = dir.File("missing.ts");
    int result = 0;
    EXPECT_EQ(CaptureStderr([&] { result = TS_ProgramSplitFile(missing.c_str()); }),
              "Error: Failed open " + missing + ".\n");
    EXPECT_EQ(result, -2);

    // Outputs go next to the input; where nothing can be created, the first one fails. The input
    // is reached through /proc, a directory in which no file can be created, even by root.
    const int fd = open(input.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    const std::string through_proc = "/proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(CaptureStderr([&] { result = TS_ProgramSplitFile(through_proc.c_str()); }),
              "Error: Failed open " + through_proc + "_1_0_0.ts.\n");
    EXPECT_EQ(result, -3);
    close(fd);

    // The second program's file cannot be opened: the first one is closed with what it had.
    ASSERT_EQ(mkdir(dir.File("in_2_0_0.ts").c_str(), 0755), 0);
    EXPECT_EQ(CaptureStderr([&] { result = TS_ProgramSplitFile(input.c_str()); }),
              "Error: Failed open " + dir.File("in_2_0_0.ts") + ".\n");
    EXPECT_EQ(result, -3);
    EXPECT_EQ(ReadBytes(dir.File("in_1_0_0.ts")).size(), 2u * 188);
    rmdir(dir.File("in_2_0_0.ts").c_str());

    // A full device: the write error is reported and the run ends.
    ASSERT_EQ(symlink("/dev/full", dir.File("in_1_0_0.ts.tmp").c_str()), 0);
    ASSERT_EQ(rename(dir.File("in_1_0_0.ts.tmp").c_str(), dir.File("in_1_0_0.ts").c_str()), 0);
    EXPECT_EQ(CaptureStderr([&] { result = TS_ProgramSplitFile(input.c_str()); }),
              "Error: Failed write " + dir.File("in_1_0_0.ts") + ".\n");
    EXPECT_EQ(result, -6);

    // A directory as input opens but cannot be read.
    EXPECT_EQ(CaptureStderr([&] { result = TS_ProgramSplitFile(dir.path().c_str()); }),
              "Error: Failed read " + dir.path() + ".\n");
    EXPECT_EQ(result, -5);
    EXPECT_EQ(OpenDescriptors(), open_before);
}

}  // namespace
