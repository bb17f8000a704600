// The demux through its public C++ interface and through the drivers built on it: every program
// of the PAT, PMT sections packed back to back, two programs' PMTs on one PID, bytes pushed in
// pieces, the CRC gate, and the README's program reading a pipe.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <pidsift/demux.h>

#include "recording.h"

namespace {

using namespace testsupport;

// A PAT of 40 programs (with the network entry first) over two packets, each program's PMT on
// its own PID with one video stream carrying the PCR, then a cycle of their packets.
Recording FortyPrograms()
{
    Recording recording;
    PacketBuilder builder;
    std::vector<PATEntry> entries = {{0, 0x0010}};
    for (u16 i = 1; i <= 40; ++i)
        entries.push_back({u16(0x0100 + i), u16(0x0200 + i)});
    // The PAT starts behind 40 bytes of adaptation field, so that its 176 bytes take two packets.
    const Bytes pat = PATSection(0x7FE0, 3, entries);
    Packet first;
    first.fill(0xFF);
    const u8 header[] = {0x47, 0x40, 0x00, u8(0x30 | builder.NextCounter(0x0000)), 39, 0x00};
    std::copy(std::begin(header), std::end(header), first.begin());
    first[44] = 0x00;  // pointer_field
    std::copy(pat.begin(), pat.begin() + 143, first.begin() + 45);
    Packet second;
    second.fill(0xFF);
    const u8 continuation[] = {0x47, 0x00, 0x00, u8(0x10 | builder.NextCounter(0x0000))};
    std::copy(std::begin(continuation), std::end(continuation), second.begin());
    std::copy(pat.begin() + 143, pat.end(), second.begin() + 4);
    recording.Add(first);
    recording.Add(second);
    for (u16 i = 1; i <= 40; ++i)
        recording.Add(
            builder.Section(u16(0x0200 + i), PMTSection(u16(0x0100 + i), 0, u16(0x0400 + i), {},
                                                        {{0x02, u16(0x0400 + i), {}}, {0x0F, u16(0x0600 + i), {}}})),
            u16(0x0100 + i));
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (u16 i = 1; i <= 40; ++i) {
            recording.Add(builder.PCR(u16(0x0400 + i), 9000u * cycle, 0, true, u8(i)), u16(0x0100 + i));
            recording.Add(builder.Payload(u16(0x0600 + i), u8(i)), u16(0x0100 + i));
        }
        recording.Add(PacketBuilder::Null());
        recording.Add(builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(40, 0x5A))));
    }
    return recording;
}

class DemuxTest : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // What pidsift's filter writes for pid.
    Bytes Filter(const std::string &input, u16 pid)
    {
        const std::string output = dir.File("out.ts");
        unlink(output.c_str());
        EXPECT_EQ(TS_ProgramSplitStream(output.c_str(), input.c_str(), pid), 0);
        return ReadBytes(output);
    }

    TempDir dir;
};

TEST_F(DemuxTest, EveryProgramOfAFortyProgramPAT)
{
    const Recording recording = FortyPrograms();
    const std::string input = Write("forty.ts", recording.bytes());

    pidsift::Demux demux;
    demux.KeepPmts();
    ASSERT_EQ(demux.Run(input.c_str()), 0);
    ASSERT_NE(demux.pat(), nullptr);
    EXPECT_EQ(demux.pat()->transport_stream_id(), 0x7FE0);
    EXPECT_EQ(demux.pat()->header.version_number, 3);
    EXPECT_EQ(demux.pat()->entries.size(), 41u);
    const std::vector<pidsift::Program> programs = demux.Programs();
    ASSERT_EQ(programs.size(), 40u);
    for (u16 i = 1; i <= 40; ++i) {
        const pidsift::Program &program = programs[i - 1];
        EXPECT_EQ(program.program_number, 0x0100 + i);
        EXPECT_EQ(program.pmt_pid, 0x0200 + i);
        ASSERT_NE(program.pmt, nullptr) << i;
        EXPECT_EQ(program.pmt->pcr_pid, 0x0400 + i);
        ASSERT_EQ(program.pmt->streams.size(), 2u);
        EXPECT_EQ(program.pmt->streams[1].elementary_pid, 0x0600 + i);
    }
    EXPECT_EQ(demux.Packets(), recording.packets.size());

    // The listing, pidsift and its filter: every program, the last one copied whole.
    std::vector<pidsift::PatEntry> listed;
    EXPECT_EQ(pidsift::ListPrograms(input.c_str(), &listed), 0);
    ASSERT_EQ(listed.size(), 40u);
    EXPECT_EQ(listed[39].program_number, 0x0128);
    EXPECT_EQ(listed[39].pid, 0x0228);
    EXPECT_TRUE(Filter(input, 0x0228) == recording.ProgramBytes(0x0128));
    const CommandResult tool = RunCommand(Quote(PidsiftBinary()) + " " + Quote(input));
    EXPECT_EQ(tool.status, 0);
    EXPECT_EQ(std::count(tool.err.begin(), tool.err.end(), '\n'), 40);
    EXPECT_NE(tool.err.find("ProgramNumber:296 PID:0x0228\n"), std::string::npos);

    // pidsift-split program --program 296: a reduced PAT (network entry and program 40), then
    // the program's packets.
    const std::string split = dir.File("forty-296.ts");
    const CommandResult cut = RunCommand(Quote(ToolBinary("pidsift-split")) + " program " + Quote(input) +
                                         " --program 296 -o " + Quote(split));
    EXPECT_EQ(cut.status, 0) << cut.err;
    const Bytes written = ReadBytes(split);
    ASSERT_GE(written.size(), 188u);
    const Bytes reduced(written.begin(), written.begin() + 188);
    const Bytes expected_pat = PATSection(0x7FE0, 3, {{0, 0x0010}, {0x0128, 0x0228}});
    EXPECT_TRUE(std::equal(expected_pat.begin(), expected_pat.end(), reduced.begin() + 5));
    EXPECT_TRUE(Bytes(written.begin() + 188, written.end()) == recording.ProgramBytes(0x0128));
}

TEST_F(DemuxTest, FortyProgramsSplitIntoFortyFiles)
{
    const Recording recording = FortyPrograms();
    const std::string input = Write("forty.ts", recording.bytes());
    std::vector<std::string> opened;
    std::vector<std::string> done;
    pidsift::RunSettings settings;
    settings.output_opened = [&](const char *path, bool created) {
        opened.push_back(path);
        EXPECT_TRUE(created) << path;
    };
    settings.output_done = [&](const char *path) { done.push_back(path); };
    settings.split_base = dir.File("parts");
    ASSERT_EQ(pidsift::SplitPrograms(input.c_str(), settings), 0);

    ASSERT_EQ(opened.size(), 40u);
    for (u16 i = 1; i <= 40; ++i)
        EXPECT_EQ(opened[i - 1], dir.File("parts_" + std::to_string(0x0100 + i) + "_0_0.ts"));
    EXPECT_TRUE(done == opened);
    // Program 40 (296): the PAT reduced to the network entry and the program under the header of
    // the packet that completed the PAT, then its PMT, PCR and audio packets.
    Packet reduced;
    reduced.fill(0xFF);
    const u8 header[] = {0x47, 0x40, 0x00, recording.packets[1][3]};
    std::copy(std::begin(header), std::end(header), reduced.begin());
    reduced[4] = 0x00;  // pointer_field
    const Bytes section = PATSection(0x7FE0, 3, {{0, 0x0010}, {0x0128, 0x0228}});
    std::copy(section.begin(), section.end(), reduced.begin() + 5);
    Bytes expected(reduced.begin(), reduced.end());
    const Bytes program = recording.ProgramBytes(0x0128);
    expected.insert(expected.end(), program.begin(), program.end());
    EXPECT_TRUE(ReadBytes(dir.File("parts_296_0_0.ts")) == expected);
    EXPECT_EQ(ReadBytes(dir.File("parts_257_0_0.ts")).size(), (1 + 1 + 2 * 3) * 188u);

    // The function of the public header: the same files, and its table keeps the first sixteen.
    ASSERT_EQ(TS_ProgramSplitFile(input.c_str()), 0);
    EXPECT_TRUE(ReadBytes(dir.File("forty_296_0_0.ts")) == expected);
    EXPECT_EQ(g_tPNSplitData.u16Count, 16);
    EXPECT_EQ(g_tPNSplitData.ltSplit[15].u16ProgramNumber, 0x0110);
    EXPECT_EQ(g_tPNSplitData.ltSplit[15].u16PMTPID, 0x0210);
}

TEST_F(DemuxTest, PMTRepeatedEndToEndWithoutStuffing)
{
    // A 201-byte PMT sent six times end to end, each repetition's start ending the one before,
    // with the program's streams between the packets: the filter follows it and writes every
    // packet of the PMT PID and the streams.
    const Bytes pmt = PMTSection(0x0400, 0, 0x0111, Descriptor(0x52, Bytes(170, 0x01)),
                                 {{0x02, 0x0111, Descriptor(0x52, {0x00})}, {0x0F, 0x0112, {}}});
    ASSERT_EQ(pmt.size(), 201u);
    Recording recording;
    PacketBuilder builder;
    recording.Add(builder.Section(0x0000, PATSection(1, 0, {{0, 0x0010}, {0x0400, 0x01F0}})));
    const std::vector<Packet> repeated = builder.Packed(0x01F0, std::vector<Bytes>(6, pmt));
    ASSERT_EQ(repeated.size(), 7u);
    for (size_t i = 0; i < repeated.size(); ++i) {
        // The streams are the program's once its first PMT has completed, in the second packet.
        const u16 owner = i == 0 ? 0 : 0x0400;
        recording.Add(repeated[i], 0x0400);
        recording.Add(builder.PCR(0x0111, 3000, 0, true), owner);
        recording.Add(builder.Payload(0x0112, 0x12), owner);
        recording.Add(builder.Payload(0x0300, 0x30));  // another program's
    }
    const std::string input = Write("packed.ts", recording.bytes());
    EXPECT_TRUE(Filter(input, 0x01F0) == recording.ProgramBytes(0x0400));

    int sections = 0;
    pidsift::Demux demux;
    demux.OnPmt([&](const pidsift::Pmt &received) {
        ++sections;
        EXPECT_TRUE(received.section == pmt);
    });
    EXPECT_EQ(demux.Run(input.c_str()), 0);
    EXPECT_EQ(sections, 6);
}

TEST_F(DemuxTest, TwoProgramsPMTsOnOnePIDWithACutHeader)
{
    // Programs 1 and 2 announce their PMTs on 0x0100. Program 2's section starts in the last
    // two bytes of a packet, so the packet is held until the next tells whose section it is; a
    // packet of program 1's video comes between.
    const Bytes pmt1 = PMTSection(1, 0, 0x0111, {}, {{0x02, 0x0111, Bytes(181 - 21, 0)}});
    const Bytes pmt2 = PMTSection(2, 0, 0x0121, {}, {{0x02, 0x0121, {}}});
    Recording recording;
    PacketBuilder builder;
    recording.Add(builder.Section(0x0000, PATSection(1, 0, {{1, 0x0100}, {2, 0x0100}})));
    PacketBuilder pmt_builder;
    const std::vector<Packet> packed = pmt_builder.Packed(0x0100, {pmt1, pmt2});
    ASSERT_EQ(pmt1.size(), 181u);
    ASSERT_EQ(packed.size(), 2u);
    recording.Add(packed[0]);
    recording.Add(builder.Payload(0x0111, 0x11));
    recording.Add(packed[1]);
    recording.Add(builder.Payload(0x0121, 0x21));
    recording.Add(builder.Payload(0x0111, 0x11));

    pidsift::Demux demux;
    std::vector<Bytes> one, two;
    demux.OnProgramPackets(1, [&](const u8 *packet) { one.push_back(Bytes(packet, packet + 188)); });
    demux.OnProgramPackets(2, [&](const u8 *packet) { two.push_back(Bytes(packet, packet + 188)); });
    const Bytes bytes = recording.bytes();
    demux.Feed(bytes.data(), bytes.size());
    demux.Finish();
    auto bytes_of = [&](size_t index) {
        return Bytes(recording.packets[index].begin(), recording.packets[index].end());
    };
    // Program 1: its PMT packet (which it reaches as its own section's), its video after its PMT.
    ASSERT_EQ(one.size(), 3u);
    EXPECT_TRUE(one[0] == bytes_of(1));
    EXPECT_TRUE(one[1] == bytes_of(2));
    EXPECT_TRUE(one[2] == bytes_of(5));
    // Program 2: the held packet comes out before the packet that told its owner, then its
    // stream.
    ASSERT_EQ(two.size(), 3u);
    EXPECT_TRUE(two[0] == bytes_of(1));
    EXPECT_TRUE(two[1] == bytes_of(3));
    EXPECT_TRUE(two[2] == bytes_of(4));
    ASSERT_NE(demux.PmtOf(2), nullptr);
    EXPECT_TRUE(demux.PmtOf(2)->section == pmt2);
}

TEST_F(DemuxTest, BytesPushedInPiecesOfAnySizeGiveWhatAFileGives)
{
    const Recording recording = Generate(SampleBroadcast(3000));
    Bytes bytes = recording.bytes();
    // Garbage before the first packet and in the middle: the sync finds the packets again.
    bytes.insert(bytes.begin(), 77, 0x47);
    bytes.insert(bytes.begin() + 188 * 1000 + 77, 13, 0x00);
    const std::string input = Write("sample.ts", bytes);

    auto observe = [](pidsift::Demux &demux, std::vector<u32> *pmt_crcs, u64 *video) {
        demux.KeepServices();
        demux.OnPmt([pmt_crcs](const pidsift::Pmt &pmt) { pmt_crcs->push_back(pmt.crc); });
        demux.OnPackets(0x0111, [video](const u8 *) { ++*video; });
    };
    pidsift::Demux whole;
    std::vector<u32> whole_crcs;
    u64 whole_video = 0;
    observe(whole, &whole_crcs, &whole_video);
    ASSERT_EQ(whole.Run(input.c_str()), 0);
    ASSERT_FALSE(whole_crcs.empty());
    ASSERT_GT(whole_video, 0u);
    const std::vector<pidsift::Service> services = whole.Services();
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[0].name, kSampleServiceNames[0]);
    EXPECT_EQ(services[2].provider_name, kSampleProvider);
    EXPECT_EQ(whole.NetworkName(), kSampleNetworkName);

    for (size_t piece : {1, 7, 188, 189, 4096, 100000}) {
        SCOPED_TRACE(piece);
        pidsift::Demux pushed;
        std::vector<u32> crcs;
        u64 video = 0;
        observe(pushed, &crcs, &video);
        for (size_t at = 0; at < bytes.size(); at += piece)
            pushed.Feed(bytes.data() + at, std::min(piece, bytes.size() - at));
        pushed.Finish();
        EXPECT_EQ(pushed.Packets(), whole.Packets());
        EXPECT_EQ(video, whole_video);
        EXPECT_TRUE(crcs == whole_crcs);
        EXPECT_EQ(pushed.Programs().size(), whole.Programs().size());
    }
}

TEST_F(DemuxTest, ADamagedPATAfterGoodOnesIsNotUsed)
{
    Recording recording;
    PacketBuilder builder;
    const Bytes good = PATSection(1, 0, {{0x0400, 0x01F0}});
    Bytes damaged = PATSection(1, 1, {{0x0400, 0x0333}});
    damaged[damaged.size() - 1] ^= 0xFF;
    // Before any good PAT the damaged one is used; after a good one it is not.
    recording.Add(builder.Section(0x0000, damaged));
    recording.Add(builder.Section(0x0000, good));
    recording.Add(builder.Section(0x0000, damaged));
    std::vector<u16> pmt_pids;
    std::vector<bool> damaged_sections;
    pidsift::Demux demux;
    demux.OnPat([&](const pidsift::Pat &pat) { pmt_pids.push_back(pat.entries[0].pid); });
    demux.OnSections(0x0000, [&](const pidsift::Section &section) { damaged_sections.push_back(!section.crc_ok); });
    const Bytes bytes = recording.bytes();
    demux.Feed(bytes.data(), bytes.size());
    demux.Finish();
    EXPECT_TRUE(pmt_pids == std::vector<u16>({0x0333, 0x01F0}));
    EXPECT_TRUE(damaged_sections == std::vector<bool>({true, false, true}));
    EXPECT_EQ(demux.Programs()[0].pmt_pid, 0x01F0);
}

// The text family is one vote for every driver: the SDTs and NITs of other transport streams and
// networks count as the actual ones do, though only the actual ones name the services and the
// network.
TEST_F(DemuxTest, TheTextFamilyCountsTheSDTsAndNITsOfOthers)
{
    const Bytes actual = SDTSection(0x42, 0x7FE0, 0x7FE0, 0, {{0x0400, ServiceDescriptor(0x01, {}, Arib("総合"))}});
    // Logo transmission (0xCF) in another stream's SDT; system management (0xFE) in another
    // network's NIT.
    const Bytes other_sdt =
        SDTSection(0x46, 0x7FE1, 0x7FE0, 0,
                   {{0x0408, Concat({ServiceDescriptor(0x01, {}, Text("Other")), Descriptor(0xCF, {0x01})})}});
    const Bytes other_nit =
        NITSection(0x41, 0x7FE1, 0, Concat({Descriptor(0x40, Text("Theirs")), Descriptor(0xFE, {0x03, 0x01})}), {});
    const struct {
        const char *what;
        u16 pid;
        Bytes other;
        const char *name;
    } cases[] = {
        {"nothing but kanji bytes", 0, {}, "Am9g"},  // JIS 0x416D 0x3967 read as DVB's ASCII
        {"another stream's SDT", 0x0011, other_sdt, "総合"},
        {"another network's NIT", 0x0010, other_nit, "総合"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.what);
        PacketBuilder builder;
        Recording recording;
        recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}})));
        if (each.pid != 0)
            recording.Add(builder.Section(each.pid, each.other));
        recording.Add(builder.Section(0x0011, actual));
        pidsift::Demux demux;
        demux.KeepServices();
        ASSERT_EQ(demux.Run(Write("family.ts", recording.bytes()).c_str()), 0);
        const std::vector<pidsift::Service> services = demux.Services();
        ASSERT_EQ(services.size(), 1u);
        EXPECT_EQ(services[0].service_id, 0x0400);
        EXPECT_EQ(services[0].name, each.name);
        EXPECT_EQ(demux.NetworkName(), "");
    }
}

TEST_F(DemuxTest, TheReadmeProgramListsTheProgramsOfAPipe)
{
    const std::string sample = std::string(PIDSIFT_SOURCE_DIR) + "/samples/sample.ts";
    // Braces: the pipe, not the /dev/null RunCommand gives, is the program's standard input.
    const CommandResult result = RunCommand("{ cat " + Quote(sample) + " | " +
                                            Quote(std::string(PIDSIFT_BINARY_DIR) + "/example_list_programs") + "; }");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "program 1024: PMT PID 0x01F0, PCR PID 0x0111, 3 streams\n"
                          "program 1025: PMT PID 0x01F1, PCR PID 0x0121, 3 streams\n"
                          "program 1032: PMT PID 0x01F8, PCR PID 0x01FF, 3 streams\n");
}

TEST_F(DemuxTest, TwoDemuxesOnTwoThreadsGiveWhatEachGivesAlone)
{
    const std::string forty = Write("forty.ts", FortyPrograms().bytes());
    const std::string sample = Write("sample.ts", Generate(SampleBroadcast(4000)).bytes());
    struct Seen {
        std::vector<u32> pmt_crcs;
        u64 packets = 0;
        std::vector<std::string> names;
    };
    auto run = [](const std::string &path, Seen *seen) {
        pidsift::Demux demux;
        demux.KeepServices();
        demux.OnPmt([seen](const pidsift::Pmt &pmt) { seen->pmt_crcs.push_back(pmt.crc); });
        EXPECT_EQ(demux.Run(path.c_str()), 0);
        seen->packets = demux.Packets();
        for (const pidsift::Service &service : demux.Services())
            seen->names.push_back(service.name);
    };
    Seen alone_forty, alone_sample, together_forty, together_sample;
    run(forty, &alone_forty);
    run(sample, &alone_sample);
    std::thread first(run, forty, &together_forty);
    std::thread second(run, sample, &together_sample);
    first.join();
    second.join();
    EXPECT_TRUE(together_forty.pmt_crcs == alone_forty.pmt_crcs);
    EXPECT_EQ(together_forty.packets, alone_forty.packets);
    EXPECT_TRUE(together_sample.pmt_crcs == alone_sample.pmt_crcs);
    EXPECT_EQ(together_sample.packets, alone_sample.packets);
    EXPECT_TRUE(together_sample.names == alone_sample.names);
    EXPECT_EQ(alone_sample.names.size(), 3u);
}

// The splits and the extraction, each on a thread of its own beside the others, write what each
// writes alone, and each run hears of its own files and progress only.
TEST_F(DemuxTest, SplitsAndAnExtractionOnThreeThreadsGiveWhatEachGivesAlone)
{
    const std::string forty = Write("forty.ts", FortyPrograms().bytes());
    const std::string sample = Write("sample.ts", Generate(SampleBroadcast(6000)).bytes());
    ASSERT_EQ(pidsift::SplitPrograms(sample.c_str()), 0);
    const std::string single = dir.File("sample_1025_0_0.ts");  // its PMT changes half-way

    // What a run wrote and heard, each file by its bytes.
    struct Run {
        int result = 99;
        std::vector<Bytes> files;
        std::vector<std::string> done;
        u64 read = 0;
        std::vector<int> failures;
    };
    enum Job { kSplitPrograms, kSplitPmt, kExtract };
    auto run = [&](Job job, const std::string &base, Run *seen) {
        pidsift::RunSettings settings;
        settings.split_base = base;
        std::vector<std::string> opened;
        settings.output_opened = [&opened](const char *path, bool) { opened.push_back(path); };
        settings.output_done = [seen](const char *path) { seen->done.push_back(path); };
        settings.progress = [seen](u64 read, u64) { seen->read = read; };
        settings.message = [seen](int failure, const char *, int) { seen->failures.push_back(failure); };
        switch (job) {
        case kSplitPrograms:
            seen->result = pidsift::SplitPrograms(forty.c_str(), settings);
            break;
        case kSplitPmt:
            seen->result = pidsift::SplitPmt(single.c_str(), settings);
            break;
        case kExtract:
            seen->result = pidsift::ExtractProgram(sample.c_str(), TS_NO_PID, 1032, nullptr, settings);
            break;
        }
        for (const std::string &path : opened)
            seen->files.push_back(ReadBytes(path));
        for (std::string &path : seen->done)
            path = path.substr(base.size());
    };
    Run alone[3], together[3];
    for (int job = 0; job < 3; ++job)
        run(Job(job), dir.File("alone" + std::to_string(job)), &alone[job]);
    std::vector<std::thread> threads;
    for (int job = 0; job < 3; ++job)
        threads.emplace_back(run, Job(job), dir.File("together" + std::to_string(job)), &together[job]);
    for (std::thread &thread : threads)
        thread.join();

    const size_t files[3] = {40, 2, 1};
    for (int job = 0; job < 3; ++job) {
        SCOPED_TRACE(job);
        EXPECT_EQ(alone[job].result, 0);
        EXPECT_EQ(alone[job].files.size(), files[job]);
        EXPECT_TRUE(alone[job].failures.empty());
        EXPECT_EQ(together[job].result, 0);
        EXPECT_TRUE(together[job].files == alone[job].files);
        EXPECT_TRUE(together[job].done == alone[job].done);
        EXPECT_EQ(together[job].read, alone[job].read);
        EXPECT_TRUE(together[job].failures.empty());
    }
    EXPECT_EQ(alone[kSplitPrograms].read, ReadBytes(forty).size());
    EXPECT_EQ(alone[kExtract].done, std::vector<std::string>({"_1032_0_0.ts"}));
}

}  // namespace
