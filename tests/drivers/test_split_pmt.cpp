// The PMT-change split on generated single-program recordings: the segment list, the files of
// all mode and single mode, and how the list's byte counts match what is written.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "recording.h"

namespace {

using namespace testsupport;

u32 SectionCRC(const Bytes &section)
{
    const size_t n = section.size();
    return (u32(section[n - 4]) << 24) | (u32(section[n - 3]) << 16) | (u32(section[n - 2]) << 8) | section[n - 1];
}

std::string CRCName(const std::string &base, u32 crc)
{
    char name[16];
    snprintf(name, sizeof name, "_%08X.ts", crc);
    return base + name;
}

// A single-program recording built packet by packet, with what the split must make of it: the
// file of each PMT and the segment list. A PMT section goes to its file behind the last PAT
// packet; a packet of the program goes to the file of the PMT in force.
class SingleProgram {
public:
    void PAT(const Bytes &section)
    {
        const std::vector<Packet> packets = m_builder.Section(0x0000, section);
        recording.Add(packets);
        m_last_pat = packets.back();
    }
    // between: packets of other PIDs sent after the section's first packet, before the rest.
    void PMT(u16 pid, const Bytes &section, const std::vector<Packet> &between = {})
    {
        PMTPackets(m_builder.Section(pid, section), SectionCRC(section), between);
    }
    // A PMT section sent in the given packets; a member between them is the program's under the
    // PMT in force until the section completes.
    void PMTPackets(const std::vector<Packet> &packets, u32 crc, const std::vector<Packet> &between = {},
                    const Packet *member = nullptr)
    {
        recording.Add(packets[0], 1);
        recording.Add(between);
        if (member != nullptr)
            Member(*member);
        recording.Add(std::vector<Packet>(packets.begin() + 1, packets.end()), 1);
        Append(&files[crc], m_last_pat);
        Append(&files[crc], packets);
        if (segments.empty() || segments.back().u32CRC != crc) {
            u16 index = 0;
            for (const TS_PMTSplitData &segment : segments)
                index = u16(index + (segment.u32CRC == crc));
            segments.push_back({crc, index, 0});
        }
        segments.back().u64Bytes += 188 * (1 + packets.size());
        m_current = crc;
    }
    // A packet of the PMT in force.
    void Member(const Packet &packet)
    {
        recording.Add(packet, 1);
        Append(&files[m_current], packet);
        segments.back().u64Bytes += 188;
    }
    void Other(const Packet &packet) { recording.Add(packet); }
    void Other(const std::vector<Packet> &packets) { recording.Add(packets); }
    PacketBuilder &builder() { return m_builder; }

    Recording recording;
    std::map<u32, Bytes> files;
    std::vector<TS_PMTSplitData> segments;

private:
    PacketBuilder m_builder;
    Packet m_last_pat{};
    u32 m_current = 0;
};

const Bytes kPAT = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}});

// PMT A: video 0x0111 carrying the PCR, audio 0x0112, ECM 0x0130. PMT B adds a caption stream
// 0x0114 and, with its longer descriptors, spans two packets.
Bytes PMTA() { return PMTSection(0x0400, 0, 0x0111, CADescriptor(5, 0x0130), {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}}); }
Bytes PMTB()
{
    std::vector<PMTStreamSpec> streams = {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}};
    streams.push_back({0x06, 0x0114, Concat({Descriptor(0xFD, {0x00, 0x08}), Descriptor(0x05, Bytes(180, 0x42))})});
    return PMTSection(0x0400, 1, 0x0111, CADescriptor(5, 0x0130), streams);
}

// One stretch of broadcast under the PMT in force.
void Period(SingleProgram *program, const Bytes &pmt, bool caption_in_pmt, int repeats, const Bytes &pat = kPAT)
{
    PacketBuilder &b = program->builder();
    for (int r = 0; r < repeats; ++r) {
        program->PAT(pat);
        program->Other(b.Section(0x0001, CATSection(0, CADescriptor(5, 0x0901))));
        program->PMT(0x01F0, pmt);
        program->Other(b.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(40, 0x5A))));
        program->Member(b.PCR(0x0111, 27000 * u64(r), 0, true, 0x10));  // PCR on the video PID: once
        program->Member(b.Payload(0x0111, 0x11));
        program->Member(b.Payload(0x0112, 0x12, true));
        program->Member(b.Section(0x0130, PrivateSection(0x82, 0x0400, 0, Bytes(30, u8(r))))[0]);
        program->Other(b.Section(0x0901, PrivateSection(0x84, 1, 0, Bytes(20, 0xEE))));
        if (caption_in_pmt)
            program->Member(b.Payload(0x0114, 0x14));
        else
            program->Other(b.Payload(0x0114, 0x14));  // sent before its PMT names it, or after
        program->Other(PacketBuilder::Null());
    }
}

SingleProgram ThreeSegments()
{
    SingleProgram program;
    program.Other(program.builder().Payload(0x0111, 0x01));  // before any PAT: nobody's
    Period(&program, PMTA(), false, 3);
    Period(&program, PMTB(), true, 2);
    Period(&program, PMTA(), false, 2);
    return program;
}

class PMTSplit : public ::testing::Test {
protected:
    std::string Write(const Recording &recording, const std::string &name = "rec.ts")
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        return path;
    }
    std::set<std::string> Files()
    {
        std::set<std::string> names;
        DIR *listing = opendir(dir.path().c_str());
        for (dirent *entry; listing != nullptr && (entry = readdir(listing)) != nullptr;)
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        if (listing != nullptr)
            closedir(listing);
        return names;
    }
    static void ExpectList(const TS_PMTSplitList &list, const std::vector<TS_PMTSplitData> &expected)
    {
        ASSERT_EQ(list.u16Count, expected.size());
        for (size_t i = 0; i < expected.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(list.ltSplit[i].u32CRC, expected[i].u32CRC);
            EXPECT_EQ(list.ltSplit[i].u16Index, expected[i].u16Index);
            EXPECT_EQ(list.ltSplit[i].u64Bytes, expected[i].u64Bytes);
        }
    }

    TempDir dir;
    std::unique_ptr<TS_PMTSplitList> list = std::make_unique<TS_PMTSplitList>();
};

TEST_F(PMTSplit, PMTsABAGiveThreeSegmentsAndTwoFiles)
{
    const SingleProgram program = ThreeSegments();
    const std::string input = Write(program.recording);
    const u32 a = SectionCRC(PMTA());
    const u32 b = SectionCRC(PMTB());

    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(list->u16Count, 3);
    EXPECT_EQ(list->ltSplit[0].u32CRC, a);
    EXPECT_EQ(list->ltSplit[1].u32CRC, b);
    EXPECT_EQ(list->ltSplit[2].u32CRC, a);
    EXPECT_EQ(list->ltSplit[2].u16Index, 1);

    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(Files(), (std::set<std::string>{"rec.ts", CRCName("rec", a), CRCName("rec", b)}));
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", a))) == program.files.at(a));
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", b))) == program.files.at(b));
    // Each file's size is what the list counts for its segments.
    EXPECT_EQ(ReadBytes(dir.File(CRCName("rec", a))).size(), list->ltSplit[0].u64Bytes + list->ltSplit[2].u64Bytes);
    EXPECT_EQ(ReadBytes(dir.File(CRCName("rec", b))).size(), list->ltSplit[1].u64Bytes);
}

TEST_F(PMTSplit, SingleModeGathersEveryPartUnderOnePMT)
{
    const SingleProgram program = ThreeSegments();
    const std::string input = Write(program.recording);
    const u32 a = SectionCRC(PMTA());
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);

    const std::string output = dir.File("main.ts");
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 0, a, output.c_str()), 0);
    const Bytes written = ReadBytes(output);
    EXPECT_EQ(written.size(), list->ltSplit[0].u64Bytes + list->ltSplit[2].u64Bytes);
    EXPECT_TRUE(written == program.files.at(a));
    EXPECT_EQ(Files(), (std::set<std::string>{"rec.ts", "main.ts"}));

    // Without a name, the file is named after the base name and the CRC_32.
    const u32 b = SectionCRC(PMTB());
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 0, b, nullptr), 0);
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", b))) == program.files.at(b));

    // A CRC_32 that never occurs: no file at all.
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 0, 0x12345678, dir.File("none.ts").c_str()), 0);
    EXPECT_EQ(Files().count("none.ts"), 0u);
    EXPECT_EQ(Files().size(), 3u);
}

TEST_F(PMTSplit, OnlyTheSectionsOfTheListedProgramCount)
{
    // The PMT PID also carries another program's PMT (a multiplex whose PAT was cut down to one
    // program), and the program's PMT, two packets long, is interrupted by other PIDs.
    SingleProgram program;
    PacketBuilder &b = program.builder();
    for (int r = 0; r < 2; ++r) {
        program.PAT(kPAT);
        program.Other(b.Section(0x01F0, PMTSection(0x0401, 0, 0x0121, {}, {{0x02, 0x0121, {}}})));
        const std::vector<Packet> between = {b.Payload(0x0121, 0x21), PacketBuilder::Null()};
        program.PMT(0x01F0, PMTB(), between);
        program.Member(b.Payload(0x0114, 0x14));
        program.Other(b.Payload(0x0121, 0x22));
    }
    ASSERT_EQ(program.segments.size(), 1u);
    EXPECT_EQ(program.segments[0].u64Bytes, 2u * (3 + 1) * 188);
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(Files().size(), 2u);
    const u32 b_crc = SectionCRC(PMTB());
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", b_crc))) == program.files.at(b_crc));
}

TEST_F(PMTSplit, PATsThatCannotBeFollowed)
{
    // A PAT with only the network entry names no program: no PMT is followed.
    SingleProgram lonely;
    lonely.PAT(PATSection(1, 0, {{0, 0x0010}}));
    lonely.Other(lonely.builder().Section(0x01F0, PMTA()));
    lonely.Other(lonely.builder().Payload(0x0111, 1));
    std::string input = Write(lonely.recording, "lonely.ts");
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    EXPECT_EQ(list->u16Count, 0);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(Files(), (std::set<std::string>{"lonely.ts"}));

    // Three entries: both stop with -3; the list keeps what was found, the file what was written.
    SingleProgram program;
    Period(&program, PMTA(), false, 2);
    program.PAT(PATSection(0x7FE0, 1, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}}));
    program.Other(program.builder().Section(0x01F0, PMTB()));
    input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), -3);
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), -3);
    const u32 a = SectionCRC(PMTA());
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", a))) == program.files.at(a));
}

TEST_F(PMTSplit, ListAndFileTablesHold256PMTs)
{
    // 257 distinct PMTs, one after the other: the 257th gets neither a segment nor a file.
    SingleProgram program;
    for (u16 i = 0; i < 257; ++i) {
        program.PAT(kPAT);
        program.PMT(0x01F0, PMTSection(0x0400, u8(i % 32), u16(0x0200 + i), {}, {{0x02, u16(0x0200 + i), {}}}));
        program.Member(program.builder().Payload(u16(0x0200 + i), u8(i)));
    }
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    program.segments.pop_back();
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_EQ(Files().size(), 1u + 256u);
    const u32 last = SectionCRC(PMTSection(0x0400, u8(256 % 32), 0x0300, {}, {{0x02, 0x0300, {}}}));
    EXPECT_EQ(Files().count(CRCName("rec", last)), 0u);
    const u32 first = list->ltSplit[0].u32CRC;
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", first))) == program.files.at(first));
}

TEST_F(PMTSplit, Failures)
{
    const SingleProgram program = ThreeSegments();
    const std::string input = Write(program.recording);
    const u32 a = SectionCRC(PMTA());
    EXPECT_EQ(TS_CheckPMTSplit(nullptr, input.c_str()), -1);
    EXPECT_EQ(TS_CheckPMTSplit(list.get(), nullptr), -1);
    EXPECT_EQ(TS_PMTSplitFile(nullptr, 1, 0, nullptr), -1);
    EXPECT_EQ(TS_CheckPMTSplit(list.get(), dir.File("missing.ts").c_str()), -2);
    EXPECT_EQ(TS_PMTSplitFile(dir.File("missing.ts").c_str(), 1, 0, nullptr), -2);

    // The output cannot be created: -4. In all mode the outputs go next to the input, here in
    // /proc, where no file can be created, even by root.
    EXPECT_EQ(TS_PMTSplitFile(input.c_str(), 0, a, dir.File("no/such/dir/out.ts").c_str()), -4);
    const int fd = open(input.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(TS_PMTSplitFile(("/proc/self/fd/" + std::to_string(fd)).c_str(), 1, 0, nullptr), -4);
    close(fd);

    // A full device, and the input named as output: refused before anything is lost.
    EXPECT_EQ(TS_PMTSplitFile(input.c_str(), 0, a, "/dev/full"), -6);
    EXPECT_EQ(TS_PMTSplitFile(input.c_str(), 0, a, input.c_str()), -4);
    EXPECT_TRUE(ReadBytes(input) == program.recording.bytes());

    EXPECT_EQ(TS_CheckPMTSplit(list.get(), dir.path().c_str()), -5);
    EXPECT_EQ(TS_PMTSplitFile(dir.path().c_str(), 1, 0, nullptr), -5);
}

// The program is the PAT's one program entry wherever it stands: most single-program
// recordings have no network entry, and some list it after the program.
TEST_F(PMTSplit, FollowsTheProgramEntryOfAnyTwoEntryPAT)
{
    const u32 a = SectionCRC(PMTA());
    const u32 b = SectionCRC(PMTB());
    for (const Bytes &pat : {PATSection(0x7FE0, 0, {{0x0400, 0x01F0}}), PATSection(0x7FE0, 0, {{0x0400, 0x01F0}, {0, 0x0010}})}) {
        SCOPED_TRACE(pat.size());
        SingleProgram program;
        Period(&program, PMTA(), false, 2, pat);
        Period(&program, PMTB(), true, 2, pat);
        const std::string input = Write(program.recording);
        ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
        ExpectList(*list, program.segments);
        ASSERT_EQ(list->u16Count, 2);
        ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
        EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", a))) == program.files.at(a));
        EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", b))) == program.files.at(b));
        unlink(dir.File(CRCName("rec", a)).c_str());
        unlink(dir.File(CRCName("rec", b)).c_str());
    }
}

// Every file of the per-program split is a recording the PMT split takes, with or without a
// network entry in the input.
TEST_F(PMTSplit, TakesTheFilesOfTheProgramSplit)
{
    for (const u16 network_pid : {u16(0), u16(0x0010)}) {
        SCOPED_TRACE(network_pid);
        BroadcastSpec mux = SampleBroadcast(4000);
        mux.network_pid = network_pid;
        ASSERT_TRUE(WriteFile(dir.File("mux.ts"), Flatten(Generate(mux).packets)));
        ASSERT_EQ(TS_ProgramSplitFile(dir.File("mux.ts").c_str()), 0);
        for (const char *name : {"mux_1024_0_0.ts", "mux_1025_0_0.ts", "mux_1032_0_0.ts"}) {
            SCOPED_TRACE(name);
            // The PMT changes half-way: two segments, covering the whole file less what came
            // before the first PMT.
            ASSERT_EQ(TS_CheckPMTSplit(list.get(), dir.File(name).c_str()), 0);
            ASSERT_EQ(list->u16Count, 2);
            EXPECT_NE(list->ltSplit[0].u32CRC, list->ltSplit[1].u32CRC);
            EXPECT_GT(list->ltSplit[0].u64Bytes + list->ltSplit[1].u64Bytes, ReadBytes(dir.File(name)).size() * 9 / 10);
            unlink(dir.File(name).c_str());
        }
    }
}

// A PMT section spread over 40 packets (three payload bytes each behind a long adaptation
// field) is a valid section: it starts its segment and reaches the file whole.
TEST_F(PMTSplit, SectionSpreadOverFortyPackets)
{
    SingleProgram program;
    Period(&program, PMTA(), false, 1);
    const Bytes pmt = PMTB();
    ASSERT_GT(pmt.size(), 200u);
    std::vector<Packet> spread;
    for (size_t at = 0; at < pmt.size(); at += 6) {
        const size_t take = std::min<size_t>(6, pmt.size() - at);
        const bool first = at == 0;
        Packet packet;
        packet.fill(0xFF);
        packet[0] = 0x47;
        packet[1] = u8((first ? 0x40 : 0x00) | 0x01);
        packet[2] = 0xF0;
        packet[3] = u8(0x30 | program.builder().NextCounter(0x01F0));
        const size_t payload = 188 - take - (first ? 1 : 0);
        packet[4] = u8(payload - 5);  // adaptation_field_length
        packet[5] = 0x00;
        if (first)
            packet[payload] = 0x00;  // pointer_field
        std::copy(pmt.begin() + long(at), pmt.begin() + long(at + take), packet.begin() + long(188 - take));
        spread.push_back(packet);
    }
    ASSERT_GT(spread.size(), 32u);
    program.PAT(kPAT);
    program.PMTPackets(spread, SectionCRC(pmt));
    program.Member(program.builder().Payload(0x0114, 0x14));
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    const u32 b = SectionCRC(pmt);
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", b))) == program.files.at(b));
}

// A PMT whose CRC_32 fails after good ones is no new PMT: no segment, no file; its packets stay
// with the program in the file of the PMT in force.
TEST_F(PMTSplit, DamagedPMTStartsNoSegment)
{
    SingleProgram program;
    Period(&program, PMTA(), false, 2);
    std::vector<Packet> damaged = program.builder().Section(0x01F0, PMTB());
    // Flip a bit of the CRC_32: the section's last byte.
    const size_t last = PMTB().size() - 1;  // offset in the section
    const size_t packet_index = (last + 1) / 184;  // the first packet holds 183 section bytes
    const size_t offset = packet_index == 0 ? 5 + last : 4 + (last - 183 - 184 * (packet_index - 1));
    damaged[packet_index][offset] ^= 0x01;
    for (const Packet &packet : damaged)
        program.Member(packet);
    Period(&program, PMTA(), false, 1);
    ASSERT_EQ(program.segments.size(), 1u);
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    const u32 a = SectionCRC(PMTA());
    EXPECT_EQ(Files(), (std::set<std::string>{"rec.ts", CRCName("rec", a)}));
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", a))) == program.files.at(a));
}

// On a PMT PID of its own, the program's packets between a section's packets go out as they
// come and the section goes on; a section that breaks off (its second packet skips a
// continuity_counter value) leaves nothing, and the next one, whole, starts its segment with the
// last PAT packet and its own packets only.
TEST_F(PMTSplit, SectionBrokenOnItsOwnPIDLeavesNothing)
{
    SingleProgram program;
    Period(&program, PMTA(), false, 1);
    PacketBuilder &b = program.builder();
    const Packet video = b.Payload(0x0111, 0x30);
    program.PMTPackets(b.Section(0x01F0, PMTB()), SectionCRC(PMTB()), {}, &video);
    program.Member(b.Payload(0x0114, 0x14));
    program.PAT(kPAT);
    program.PMT(0x01F0, PMTA());
    std::vector<Packet> broken = b.Section(0x01F0, PMTB());
    ASSERT_EQ(broken.size(), 2u);
    broken[1][3] = u8(0x10 | ((broken[1][3] + 1) & 0x0F));
    b.NextCounter(0x01F0);
    program.Other(broken[0]);
    program.Other(broken[1]);
    program.PMT(0x01F0, PMTB());
    program.Member(b.Payload(0x0114, 0x15));
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(list->u16Count, 4);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    for (const u32 crc : {SectionCRC(PMTA()), SectionCRC(PMTB())})
        EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", crc))) == program.files.at(crc));
}

// The PMT PID is also the PCR PID: a PCR packet without payload between the two packets of a PMT
// section does not break it. It waits behind the section and goes to the file of the PMT in
// force before the section, whole, starts its segment.
TEST_F(PMTSplit, PCROnThePMTPIDBetweenTheSectionsPackets)
{
    const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x0100}});
    const Bytes a = PMTSection(0x0400, 0, 0x0100, {}, {{0x02, 0x0111, {}}});
    std::vector<PMTStreamSpec> streams = {{0x02, 0x0111, {}}};
    streams.push_back({0x06, 0x0114, Descriptor(0x05, Bytes(200, 0x42))});
    const Bytes b = PMTSection(0x0400, 1, 0x0100, {}, streams);
    SingleProgram program;
    PacketBuilder &builder = program.builder();
    program.PAT(pat);
    program.PMT(0x0100, a);
    program.Member(builder.PCR(0x0100, 1000, 0, false));
    program.Member(builder.Payload(0x0111, 0x11));
    const Packet pcr = builder.PCR(0x0100, 2000, 0, false);
    program.PMTPackets(builder.Section(0x0100, b), SectionCRC(b), {}, &pcr);
    program.Member(builder.PCR(0x0100, 3000, 0, false));
    program.Member(builder.Payload(0x0114, 0x14));
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    for (const u32 crc : {SectionCRC(a), SectionCRC(b)})
        EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", crc))) == program.files.at(crc));
}

// Both entries of the PAT are programs whose PMTs share a PID; the second is followed. Its new
// PMT starts in the last two bytes of a packet, whose owner the next packet tells: the packet
// waits for it, with the program's video that came between, and the section starts its segment
// whole.
TEST_F(PMTSplit, SharedPMTPIDWithACutSectionHeader)
{
    const Bytes pat = PATSection(0x7FE0, 0, {{1, 0x01F0}, {2, 0x01F0}});
    const Bytes a = PMTSection(2, 0, 0x0121, {}, {{0x02, 0x0121, {}}});
    const Bytes b = PMTSection(2, 1, 0x0121, {}, {{0x02, 0x0121, {}}, {0x0F, 0x0122, {}}});
    SingleProgram program;
    PacketBuilder &builder = program.builder();
    program.PAT(pat);
    program.PMT(0x01F0, a);
    program.Member(builder.Payload(0x0121, 0x21, true));
    program.Other(builder.Section(0x01F0, PMTSection(1, 0, 0x0111, {}, {{0x02, 0x0111, {}}})));
    const Packet video = builder.Payload(0x0121, 0x22);
    program.PMTPackets(builder.SectionAtPacketEnd(0x01F0, b, 2), SectionCRC(b), {}, &video);
    program.Member(builder.Payload(0x0122, 0x23, true));
    const std::string input = Write(program.recording);
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, program.segments);
    ASSERT_EQ(list->u16Count, 2);
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    for (const u32 crc : {SectionCRC(a), SectionCRC(b)})
        EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", crc))) == program.files.at(crc));
}

// A packet of PID 0x0100 that carries a PCR in its adaptation field and, as the last two bytes
// of its payload, pointer_field 0 and the table_id of a PMT section: the section header is cut by
// the packet end.
Packet PCRWithCutPMTHeader(PacketBuilder *builder)
{
    Packet packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = 0x41;  // payload_unit_start_indicator, PID 0x0100
    packet[2] = 0x00;
    packet[3] = u8(0x30 | builder->NextCounter(0x0100));
    packet[4] = 181;   // adaptation_field_length: two payload bytes are left
    packet[5] = 0x10;  // PCR_flag
    const u64 base = 900000;
    packet[6] = u8(base >> 25);
    packet[7] = u8(base >> 17);
    packet[8] = u8(base >> 9);
    packet[9] = u8(base >> 1);
    packet[10] = u8(((base & 1) << 7) | 0x7E);
    packet[11] = 0x00;
    packet[186] = 0x00;  // pointer_field
    packet[187] = 0x02;  // table_id
    return packet;
}

// The PMT PID is also the PCR PID, and a PMT section started on it breaks off (the next packet
// of the PID skips a continuity_counter value): its packet is the program's PCR packet all the
// same, and goes to the file of the PMT in force, in its place, as the list counts it.
TEST_F(PMTSplit, PacketsOfASectionThatNeverCompletesStayWithTheProgram)
{
    const Bytes pat = PATSection(0x7FE0, 0, {{0x0400, 0x0100}});
    const Bytes pmt = PMTSection(0x0400, 0, 0x0100, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}});
    PacketBuilder b;
    std::vector<Packet> packets;
    packets.push_back(b.Section(0x0000, pat)[0]);
    packets.push_back(b.Section(0x0100, pmt)[0]);
    packets.push_back(b.Payload(0x0111, 0x11, true));
    packets.push_back(PCRWithCutPMTHeader(&b));
    b.NextCounter(0x0100);  // the next packet skips a value
    packets.push_back(b.PCR(0x0100, 903600, 0, true, 0x20));
    packets.push_back(b.Payload(0x0111, 0x12));
    const Bytes bytes = Flatten(packets);
    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, bytes));

    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, {{SectionCRC(pmt), 0, 6 * 188}});
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", SectionCRC(pmt)))) == bytes);
}

// A 201-byte PMT sent six times end to end, each repetition's start ending the one before, with
// the program's streams and another program's packet between. Each repetition is a PMT section
// of the segment: its file gets the last PAT packet and the packets that carried it, a packet
// that ended one repetition and started the next going with the first; the streams go in their
// place once the first repetition has completed.
TEST_F(PMTSplit, PMTRepeatedEndToEnd)
{
    const Bytes pmt = PMTSection(0x0400, 0, 0x0111, Descriptor(0x52, Bytes(170, 0x01)),
                                 {{0x02, 0x0111, Descriptor(0x52, {0x00})}, {0x0F, 0x0112, {}}});
    ASSERT_EQ(pmt.size(), 201u);
    PacketBuilder b;
    std::vector<Packet> packets = {b.Section(0x0000, kPAT)[0]};
    const std::vector<Packet> repeated = b.Packed(0x01F0, std::vector<Bytes>(6, pmt));
    ASSERT_EQ(repeated.size(), 7u);
    std::vector<Packet> file = {};
    for (size_t i = 0; i < repeated.size(); ++i) {
        packets.push_back(repeated[i]);
        if (i > 0)
            file.push_back(packets[0]);
        if (i == 1)
            file.push_back(repeated[0]);
        if (i > 0)
            file.push_back(repeated[i]);
        const Packet pcr = b.PCR(0x0111, 3000 * i, 0, true);
        const Packet audio = b.Payload(0x0112, 0x12);
        packets.push_back(pcr);
        packets.push_back(audio);
        packets.push_back(b.Payload(0x0300, 0x30));
        if (i > 0) {
            file.push_back(pcr);
            file.push_back(audio);
        }
    }
    const std::string input = Write(Recording{packets, std::vector<u16>(packets.size(), 0)});

    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ExpectList(*list, {{SectionCRC(pmt), 0, 188 * file.size()}});
    ASSERT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), 0);
    EXPECT_TRUE(ReadBytes(dir.File(CRCName("rec", SectionCRC(pmt)))) == Flatten(file));
    // The tool's pmt-list and pmt make the same of it.
    const CommandResult listed = RunCommand(Quote(ToolBinary("pidsift-split")) + " pmt-list " + Quote(input));
    EXPECT_EQ(listed.status, 0);
    char line[64];
    snprintf(line, sizeof line, "%8u  0x%08X  %5u  %zu\n", 0u, SectionCRC(pmt), 0u, 188 * file.size());
    EXPECT_EQ(listed.out, std::string("Position  CRC_32      Index  Bytes\n") + line);
    const std::string single = dir.File("single.ts");
    char crc[16];
    snprintf(crc, sizeof crc, "%08X", SectionCRC(pmt));
    const CommandResult cut = RunCommand(Quote(ToolBinary("pidsift-split")) + " pmt " + Quote(input) + " --crc " + crc +
                                         " -o " + Quote(single));
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_TRUE(ReadBytes(single) == Flatten(file));
}

}  // namespace
