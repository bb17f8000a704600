// Hostile and damaged recordings: cut files, noise, malformed lengths and tables larger than the
// records hold. Every driver must end, stay inside its capacities and give its documented result;
// what the filter writes must be packets of the input, copied whole.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <pidsift/demux.h>

#include "capture.h"
#include "io/io.h"
#include "recording.h"

namespace {

using namespace testsupport;

// A recording under construction, with the program each packet belongs to (0: none).
struct Mux {
    PacketBuilder builder;
    std::vector<Packet> packets;
    std::vector<u16> owners;

    void Add(const Packet &packet, u16 owner = 0)
    {
        packets.push_back(packet);
        owners.push_back(owner);
    }
    void Add(const std::vector<Packet> &more, u16 owner = 0)
    {
        for (const Packet &packet : more)
            Add(packet, owner);
    }
    Bytes bytes() const { return Flatten(packets); }
    // The packets of a program among the first count packets.
    Bytes ProgramBytes(u16 program, size_t count) const
    {
        Bytes out;
        for (size_t i = 0; i < count && i < packets.size(); ++i)
            if (owners[i] == program)
                Append(&out, packets[i]);
        return out;
    }
};

// Two programs behind a network entry: program 0x0400 (PMT 0x01F0, spanning two packets,
// scrambled with ECM 0x0130, PCR on its video 0x0111, audio 0x0112) and program 0x0401
// (PMT 0x01F1), with CAT, EMM, SDT and null packets in between, as a broadcast carries them.
Mux SmallBroadcast()
{
    Mux mux;
    const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});
    // Enough descriptors (stream identifiers, video decode control) to need a second packet.
    Bytes video_descriptors = Descriptor(0x52, {0x00});
    for (u8 i = 0; i < 24; ++i)
        video_descriptors = Concat({video_descriptors, Descriptor(0xC8, {0x01, i, 0x00, 0x00, 0x00, 0x00})});
    const Bytes pmt = PMTSection(0x0400, 0, 0x0111, Concat({CADescriptor(0x0005, 0x0130, {1, 2}), Descriptor(0xC1, {0x84, 0xFF})}),
                                 {{0x02, 0x0111, video_descriptors}, {0x0F, 0x0112, Descriptor(0x0A, {'j', 'p', 'n', 0})}});
    const Bytes other_pmt = PMTSection(0x0401, 0, 0x0121, {}, {{0x02, 0x0121, {}}, {0x0F, 0x0122, {}}});
    mux.Add(mux.builder.Section(0x0000, pat));
    mux.Add(mux.builder.Section(0x0001, CATSection(0, CADescriptor(0x0005, 0x0901))));
    mux.Add(mux.builder.Section(0x01F0, pmt), 0x0400);
    mux.Add(mux.builder.Section(0x01F1, other_pmt), 0x0401);
    mux.Add(mux.builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(90, 0x5A))));
    for (int cycle = 0; cycle < 2; ++cycle) {
        mux.Add(mux.builder.PCR(0x0111, 90000u * (cycle + 1), 0, true, 0x11), 0x0400);
        mux.Add(mux.builder.Payload(0x0111, 0x12), 0x0400);
        mux.Add(mux.builder.Payload(0x0112, 0x13, true), 0x0400);
        mux.Add(mux.builder.Section(0x0130, PrivateSection(0x82, 0x0400, 0, Bytes(60, u8(cycle)))), 0x0400);
        mux.Add(mux.builder.Payload(0x0121, 0x21, true), 0x0401);
        mux.Add(PacketBuilder::Null());
        mux.Add(mux.builder.Section(0x0901, PrivateSection(0x84, 1, 0, {0, 0, 0, 0, 1, 0x23, 0xEE})));
    }
    return mux;
}

// What the dump and split drivers made of one input.
struct Analysis {
    int s32Check = 99;        // TS_CheckPMTSplit
    u16 u16Segments = 0;
    size_t uProgramFiles = 0;  // files of TS_ProgramSplitFile
    size_t uPMTFiles = 0;      // files of TS_PMTSplitFile in all mode
};

class BadInput : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    // The listing, which must read any file to its end.
    TS_ProgramList List(const std::string &input)
    {
        TS_ProgramList list = {};
        EXPECT_EQ(TS_GetProgramList(&list, input.c_str()), 0);
        EXPECT_LE(list.u16Count, 16);
        return list;
    }

    // The two-pass and single-pass extractions of pid; they must agree. Returns the output, or
    // nothing when no output was created.
    Bytes Extract(const std::string &input, u16 pid, bool *created = nullptr)
    {
        const std::string two_pass = dir.File("two-pass.ts");
        const std::string one_pass = dir.File("one-pass.ts");
        unlink(two_pass.c_str());
        unlink(one_pass.c_str());
        EXPECT_EQ(TS_ProgramSplitStream(two_pass.c_str(), input.c_str(), pid), 0);
        const bool exists = access(two_pass.c_str(), F_OK) == 0;
        TS_ProgramList list = {};
        int split = 99;
        auto open_output = [](void *path) { return ::open(static_cast<std::string *>(path)->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644); };
        std::string one_pass_path = one_pass;
        EXPECT_EQ(TS_GetProgramListAndSplit(&list, input.c_str(), pid, open_output, &one_pass_path, &split), 0);
        EXPECT_EQ(split, exists ? 0 : 1);
        const Bytes written = ReadBytes(two_pass);
        if (exists) {
            EXPECT_TRUE(ReadBytes(one_pass) == written) << "the single pass writes what two passes write";
        }
        // The same bytes handed to a caller's function in place of a file, in blocks.
        Bytes taken;
        std::vector<pidsift::PatEntry> programs;
        const pidsift::BlockTaker taker{[](void *context, const u8 *block, size_t count) {
                                            Bytes *into = static_cast<Bytes *>(context);
                                            into->insert(into->end(), block, block + count);
                                            return 0;
                                        },
                                        &taken};
        split = 99;
        EXPECT_EQ(pidsift::ListProgramsAndExtract(input.c_str(), pid, taker, &split, &programs), 0);
        EXPECT_EQ(split, exists ? 0 : 1);
        EXPECT_TRUE(taken == written) << "a caller takes what the extraction writes";
        if (created != nullptr)
            *created = exists;
        return written;
    }

    // The dump with every selection and the three split drivers, on a copy of input in a folder
    // of its own. Each must read the input to its end (the PMT split stops with -3 at a PAT of
    // more than one program), stay within its tables, and write only whole packets: input
    // packets, and PAT packets that the program split rebuilds.
    Analysis Analyse(const Bytes &bytes)
    {
        Analysis analysis;
        const std::string folder = dir.File("analysis");
        mkdir(folder.c_str(), 0755);
        const std::string input = folder + "/rec.ts";
        EXPECT_TRUE(WriteFile(input, bytes));
        fflush(stdout);
        const int saved = dup(STDOUT_FILENO);
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, STDOUT_FILENO);
        close(null_fd);
        EXPECT_EQ(TS_Print(input.c_str(), 0x1FF), 0);
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        EXPECT_LE(g_tData.u16PIDCount, 256);

        EXPECT_EQ(TS_ProgramSplitFile(input.c_str()), 0);
        EXPECT_LE(g_tPNSplitData.u16Count, 16);
        analysis.uProgramFiles = CheckOutputs(folder, bytes);

        static TS_PMTSplitList segments;
        analysis.s32Check = TS_CheckPMTSplit(&segments, input.c_str());
        EXPECT_TRUE(analysis.s32Check == 0 || analysis.s32Check == -3) << analysis.s32Check;
        EXPECT_LE(segments.u16Count, 256);
        analysis.u16Segments = segments.u16Count;
        EXPECT_EQ(TS_PMTSplitFile(input.c_str(), 1, 0, nullptr), analysis.s32Check);
        analysis.uPMTFiles = CheckOutputs(folder, bytes);
        EXPECT_LE(analysis.uPMTFiles, 256u);
        return analysis;
    }

    // Checks and removes the outputs beside rec.ts; returns how many there were.
    static size_t CheckOutputs(const std::string &folder, const Bytes &input)
    {
        std::set<std::string> packets;
        for (size_t at = 0; at + 188 <= input.size(); ++at)
            if (input[at] == 0x47)
                packets.insert(std::string(input.begin() + long(at), input.begin() + long(at + 188)));
        size_t count = 0;
        DIR *listing = opendir(folder.c_str());
        while (const dirent *entry = listing != nullptr ? readdir(listing) : nullptr) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name == "rec.ts")
                continue;
            ++count;
            const Bytes output = ReadBytes(folder + "/" + name);
            EXPECT_EQ(output.size() % 188, 0u) << name;
            for (size_t at = 0; at + 188 <= output.size(); at += 188) {
                const bool pat = output[at] == 0x47 && (output[at + 1] & 0x1F) == 0 && output[at + 2] == 0;
                if (!pat) {
                    EXPECT_EQ(packets.count(std::string(output.begin() + long(at), output.begin() + long(at + 188))), 1u)
                        << name << " packet " << at / 188;
                }
            }
            unlink((folder + "/" + name).c_str());
        }
        if (listing != nullptr)
            closedir(listing);
        return count;
    }

    TempDir dir;
};

// Every packet of output is one of the input's packets, byte for byte.
void ExpectPacketsOf(const Bytes &input, const Bytes &output)
{
    ASSERT_EQ(output.size() % 188, 0u);
    std::set<std::string> packets;
    for (size_t at = 0; at + 188 <= input.size(); ++at)
        if (input[at] == 0x47)
            packets.insert(std::string(input.begin() + long(at), input.begin() + long(at + 188)));
    for (size_t at = 0; at < output.size(); at += 188)
        EXPECT_EQ(packets.count(std::string(output.begin() + long(at), output.begin() + long(at + 188))), 1u) << "packet " << at / 188;
}

// A caller that fails on a block ends the copy as a failed write: no block is handed over after
// it, and the listing still reads the whole input.
TEST_F(BadInput, ACallerThatFailsOnABlockGetsNoMore)
{
    BroadcastSpec mux = SampleBroadcast(80000);
    Bytes bytes;
    GenerateBroadcast(mux, [&](const Packet &packet, u16) { Append(&bytes, packet); });
    const std::string input = Write("long.ts", bytes);
    struct Calls {
        int count = 0;
        size_t bytes = 0;
    } calls;
    const pidsift::BlockTaker taker{[](void *context, const u8 *, size_t count) {
                                        Calls *seen = static_cast<Calls *>(context);
                                        seen->bytes += count;
                                        return ++seen->count == 2 ? ENOSPC : 0;
                                    },
                                    &calls};
    std::vector<pidsift::PatEntry> programs;
    int split = 99;
    int told = 0;
    pidsift::RunSettings settings;
    settings.message = [&](int, const char *, int) { ++told; };
    EXPECT_EQ(pidsift::ListProgramsAndExtract(input.c_str(), 0x01F0, taker, &split, &programs, settings), 0);
    EXPECT_EQ(split, -6);
    EXPECT_EQ(calls.count, 2);
    EXPECT_EQ(calls.bytes, 2u * TS_WRITER_BLOCK);
    EXPECT_EQ(told, 0) << "a caller's failure is its own to tell";
    EXPECT_EQ(programs.size(), 3u);
}

TEST_F(BadInput, TruncatedAtEveryByteOffset)
{
    const Mux mux = SmallBroadcast();
    const Bytes whole = mux.bytes();
    // The PMT of program 0x0400 spans packets 2 and 3: a cut between them leaves half a section.
    ASSERT_EQ(mux.packets[3][1] & 0x5F, 0x01);
    ASSERT_EQ(mux.packets[3][2], 0xF0);
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const Bytes bytes(whole.begin(), whole.begin() + long(cut));
        const std::string input = Write("cut.ts", bytes);
        const TS_ProgramList list = List(input);
        const Analysis analysis = Analyse(bytes);
        // A program file for each listed program whose PMT came whole (0x0400's ends in packet 3,
        // 0x0401's in packet 4); the PMT split refuses a PAT of two programs.
        EXPECT_EQ(analysis.uProgramFiles, size_t(cut >= 4 * 188) + size_t(cut >= 5 * 188));
        EXPECT_EQ(analysis.s32Check, cut >= 188 ? -3 : 0);
        // The PAT is the first packet: listed once it is whole.
        ASSERT_EQ(list.u16Count, cut >= 188 ? 2 : 0);
        if (list.u16Count == 0)
            continue;
        EXPECT_EQ(list.lu16PID[0], 0x01F0);
        EXPECT_EQ(list.lu16PID[1], 0x01F1);
        // Whole packets before the cut are copied as from the whole file; the partial one is not.
        ASSERT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, cut / 188));
    }
}

TEST_F(BadInput, NoiseAndSyncBytesEverywhere)
{
    std::mt19937 random(7);
    std::vector<Bytes> inputs;
    for (int i = 0; i < 4; ++i) {
        Bytes noise(100000 + i);
        for (u8 &b : noise)
            b = u8(random());
        inputs.push_back(noise);
    }
    // Packets with good sync bytes and random contents on the PIDs a program would use, among
    // well-formed PATs and PMTs whose loops hold random bytes, so that the filter has programs
    // to follow through the noise.
    const u16 pids[] = {0x0000, 0x0001, 0x01F0, 0x01F1, 0x0111, 0x0130, 0x1FFF};
    for (int i = 0; i < 3; ++i) {
        Mux mux;
        const u16 programs[] = {u16(random() | 1), u16(random() | 1)};
        for (int p = 0; p < 2000; ++p) {
            if (p % 50 == 0) {
                mux.Add(mux.builder.Section(0, PATSection(1, 0, {{0, 0x10}, {programs[0], 0x01F0}, {programs[1], 0x01F1}})));
                continue;
            }
            if (p % 50 == 1) {
                Bytes loop(random() % 120);
                for (u8 &b : loop)
                    b = u8(random());
                Bytes program_loop = CADescriptor(5, pids[random() % 7]);
                const u16 which = random() % 2;
                mux.Add(mux.builder.Section(pids[2 + which],
                                            PMTSection(programs[which], 0, pids[random() % 7], program_loop, {{0x02, pids[random() % 7], loop}})));
                continue;
            }
            Packet packet;
            for (u8 &b : packet)
                b = u8(random());
            const u16 pid = pids[random() % 7];
            packet[0] = 0x47;
            packet[1] = u8((packet[1] & 0xE0) | (pid >> 8));
            packet[2] = u8(pid);
            if (random() % 4 == 0)
                packet[4] = 0;  // pointer_field 0: a section starts right away
            mux.Add(packet);
        }
        inputs.push_back(mux.bytes());
    }
    inputs.emplace_back(65536 + 5, 0x47);

    size_t extracted = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string input = Write("noise.ts", inputs[i]);
        const TS_ProgramList list = List(input);
        Analyse(inputs[i]);
        for (u16 p = 0; p < list.u16Count; ++p) {
            const Bytes output = Extract(input, list.lu16PID[p]);
            ExpectPacketsOf(inputs[i], output);
            extracted += output.size();
        }
        if (i + 1 == inputs.size()) {
            // All 0x47: every packet is on PID 0x0747, there is no PAT and so no output.
            EXPECT_EQ(list.u16Count, 0);
            bool created = true;
            EXPECT_TRUE(Extract(input, 0x01F0, &created).empty());
            EXPECT_FALSE(created);
        }
    }
    // Random PATs list programs, and random PMTs name streams that get copied.
    EXPECT_GT(extracted, 0u);
}

TEST_F(BadInput, CorruptedBroadcastsCopyOnlyInputPackets)
{
    // Bit errors that spare the sync bytes, as a weak signal leaves them.
    const Bytes clean = [] {
        Bytes bytes;
        GenerateBroadcast(SampleBroadcast(3000), [&](const Packet &packet, u16) { Append(&bytes, packet); });
        return bytes;
    }();
    std::mt19937 random(3);
    for (int rate : {1000, 100, 10}) {
        SCOPED_TRACE(rate);
        Bytes damaged = clean;
        for (size_t at = 0; at < damaged.size(); ++at)
            if (at % 188 != 0 && random() % rate == 0)
                damaged[at] ^= u8(1u << (random() % 8));
        const std::string input = Write("damaged.ts", damaged);
        const TS_ProgramList list = List(input);
        Analyse(damaged);
        for (u16 p = 0; p < list.u16Count; ++p)
            ExpectPacketsOf(damaged, Extract(input, list.lu16PID[p]));
    }
}

// A packet on pid starting a section with the given bytes after a pointer_field.
Packet SectionStart(u16 pid, u8 pointer_field, const Bytes &section, u8 counter = 0)
{
    Packet packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = u8(0x40 | (pid >> 8));
    packet[2] = u8(pid);
    packet[3] = u8(0x10 | counter);
    packet[4] = pointer_field;
    const size_t at = 5 + size_t(pointer_field);
    for (size_t i = 0; i < section.size() && at + i < 188; ++i)
        packet[at + i] = section[i];
    return packet;
}

TEST_F(BadInput, SectionsAnnouncing4093Bytes)
{
    // section_length 0xFFD: more than the 2928 bytes a reassembly buffer holds.
    const Bytes header = {0x02, 0xBF, 0xFD, 0x04, 0x00, 0xC1, 0x00, 0x00};
    const Packet packet = SectionStart(0x01F0, 0, header);
    using Importer = int (*)(TS_PreSection *, const u8 *);
    for (Importer import : {Importer(TS_PAT_ImportPreSection), Importer(TS_CAT_ImportPreSection),
                            Importer(TS_PMT_ImportPreSection), Importer(TS_Section_ImportPreSection)}) {
        TS_PreSection section;
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(import(&section, packet.data()), -4);
        EXPECT_EQ(section.u8Complete, 1);
        EXPECT_EQ(section.u16Collected, 0);
        // Its continuation finds no section in progress.
        Packet next = packet;
        next[1] = 0x01;
        next[3] = 0x11;
        EXPECT_EQ(import(&section, next.data()), -5);
    }

    // In a recording: an oversized PAT and PMT, each with 22 continuation packets, arrive while
    // the program is being filtered. The demux collects sections of every length section_length
    // can declare, so both are whole sections; their CRC_32 fails after good ones, so the tables
    // in force stay, and the PMT's packets, which carried a section of the program, are copied.
    const Mux before = SmallBroadcast();
    const Mux after = SmallBroadcast();
    Mux bad;
    Bytes oversized_pat = {0x00, 0xBF, 0xFD, 0x7F, 0xE0, 0xC1, 0x00, 0x00, 0x04, 0x00, 0xE1, 0xF0};
    oversized_pat.resize(4096, 0x00);
    Bytes oversized_pmt = header;
    oversized_pmt.resize(4096, 0xE1);
    bad.Add(bad.builder.Section(0x0000, oversized_pat));
    bad.Add(bad.builder.Section(0x01F0, oversized_pmt), 0x0400);
    EXPECT_EQ(bad.packets.size(), 46u);
    const Bytes bytes = Concat({before.bytes(), bad.bytes(), after.bytes()});
    const std::string input = Write("oversized.ts", bytes);
    EXPECT_EQ(Analyse(bytes).uProgramFiles, 2u);
    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, 2);
    EXPECT_TRUE(Extract(input, 0x01F0) == Concat({before.ProgramBytes(0x0400, before.packets.size()),
                                                  bad.ProgramBytes(0x0400, bad.packets.size()),
                                                  after.ProgramBytes(0x0400, after.packets.size())}));
}

TEST_F(BadInput, PointerFieldPointingPastThePacket)
{
    const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}});
    TS_PreSection section;
    TS_PreSection_Initialise(&section);
    // The section would start at byte 5 + 183 = 188 or later: there is no such byte.
    for (u8 pointer_field : {u8(183), u8(184), u8(255)}) {
        EXPECT_EQ(TS_PAT_ImportPreSection(&section, SectionStart(0, pointer_field, pat).data()), -4) << int(pointer_field);
        EXPECT_EQ(section.u8Complete, 1);
    }
    // 182 leaves one byte of section: taken in, incomplete.
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, SectionStart(0, 182, pat).data()), 0);
    EXPECT_EQ(section.u8Complete, 0);
    EXPECT_EQ(section.u16Collected, 1);
    // Behind an adaptation field the payload is shorter: pointer_field 83 after 100 bytes of field.
    Packet behind_field = SectionStart(0, 0, {});
    behind_field[3] = 0x30;
    behind_field[4] = 99;
    behind_field[104] = 83;
    EXPECT_EQ(TS_PAT_ImportPreSection(&section, behind_field.data()), -4);

    // In a recording the hostile PAT packets leave the listing to the good PAT after them.
    Mux mux;
    mux.Add(SectionStart(0, 183, pat, 0));
    mux.Add(SectionStart(0, 255, pat, 1));
    mux.Add(SectionStart(0, 182, pat, 2));
    const Mux broadcast = SmallBroadcast();
    Bytes bytes = mux.bytes();
    const Bytes good = broadcast.bytes();
    bytes.insert(bytes.end(), good.begin(), good.end());
    const TS_ProgramList list = List(Write("pointer.ts", bytes));
    EXPECT_EQ(list.u16Count, 2);
    EXPECT_EQ(Analyse(bytes).uProgramFiles, 2u);
}

TEST_F(BadInput, AdaptationFieldOf183BytesWithEveryFlag)
{
    // Every flag set, a private data length of 255 and an extension announcing 255 bytes: each
    // part is cut at the end of the packet.
    Packet packet;
    packet.fill(0x00);
    const u8 head[] = {0x47, 0x01, 0x11, 0x20, 183, 0xFF,
                       0x12, 0x34, 0x56, 0x78, 0xFF, 0xFF,   // PCR
                       0x00, 0x00, 0x00, 0x01, 0x7E, 0x00,   // OPCR
                       0x80,                                 // splice_countdown -128
                       255};                                 // transport_private_data_length
    std::memcpy(packet.data(), head, sizeof head);
    TS_Packet decoded;
    ASSERT_EQ(TS_Packet_Get(&decoded, packet.data()), 0);
    const TS_AdaptationField &field = decoded.adaptation_field;
    EXPECT_EQ(field.adaptation_field_length, 183);
    EXPECT_EQ(field.PCR_flag, 1);
    EXPECT_EQ(field.program_clock_reference_base, 0x2468ACF1ULL);
    EXPECT_EQ(field.program_clock_reference_extension, 0x1FF);
    EXPECT_EQ(field.OPCR_flag, 1);
    EXPECT_EQ(field.original_program_clock_reference_base, 2u);
    EXPECT_EQ(field.splice_countdown, -128);
    EXPECT_EQ(field.transport_private_data_length, 168);  // 188 - 20: what is left of the packet
    EXPECT_EQ(field.adaptation_field_extension_flag, 0);  // no byte left for it
    EXPECT_EQ(field.stuffing_length, 0);

    // No private data: the extension announces 255 bytes and is cut at the packet's end.
    packet[19] = 0;
    packet[20] = 255;
    packet[21] = 0xE0;
    ASSERT_EQ(TS_Packet_Get(&decoded, packet.data()), 0);
    EXPECT_EQ(field.transport_private_data_length, 0);
    EXPECT_EQ(field.adaptation_field_extension_flag, 1);
    EXPECT_EQ(field.ltw_flag, 1);
    EXPECT_EQ(field.piecewise_rate_flag, 1);
    EXPECT_EQ(field.seamless_splice_flag, 1);
    EXPECT_EQ(field.extension_reserved_length, 188 - 32);
    EXPECT_EQ(field.stuffing_length, 0);

    // Lengths beyond the packet (184 to 255) are held at the packet's end as well.
    for (int length : {184, 200, 255}) {
        packet[4] = u8(length);
        packet[5] = 0x00;
        ASSERT_EQ(TS_Packet_Get(&decoded, packet.data()), 0);
        EXPECT_EQ(field.stuffing_length, 182);
    }

    // A PSI packet whose adaptation field fills it has no payload for the importer.
    Packet psi = SectionStart(0x01F0, 0, {});
    psi[3] = 0x30;
    for (int length : {183, 184, 255}) {
        psi[4] = u8(length);
        TS_PreSection section;
        TS_PreSection_Initialise(&section);
        EXPECT_EQ(TS_PMT_ImportPreSection(&section, psi.data()), -5);
    }

    // On the program's video PID such a packet is still the program's: the filter copies it.
    Mux mux = SmallBroadcast();
    packet[4] = 183;
    packet[5] = 0xFF;
    mux.Add(packet, 0x0400);
    mux.Add(psi);  // on the PMT PID, with nothing in it: not written
    const std::string input = Write("af.ts", mux.bytes());
    Analyse(mux.bytes());
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
}

TEST_F(BadInput, DescriptorsOverrunningTheirLoops)
{
    // The CA descriptor announces 40 bytes but the section ends first: it is not decoded, so the
    // program has no ECM PID; the streams after the program loop are still found.
    Bytes pmt = PMTSection(0x0400, 0, 0x0111, CADescriptor(0x0005, 0x0130, {1, 2}), {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}});
    pmt[13] = 40;  // descriptor_length of the CA descriptor
    // A stream whose descriptor loop claims 0x3FF bytes: its descriptors stop at the section's
    // end, and no stream can follow it.
    Bytes pmt2 = PMTSection(0x0401, 0, 0x0121, {}, {{0x02, 0x0121, Descriptor(0x52, {1})}, {0x0F, 0x0122, {}}});
    pmt2[15] = 0xF3;
    pmt2[16] = 0xFF;

    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}, {0x0401, 0x01F1}})));
    mux.Add(mux.builder.Section(0x01F0, pmt), 0x0400);
    mux.Add(mux.builder.Section(0x01F1, pmt2), 0x0401);
    for (int i = 0; i < 3; ++i) {
        mux.Add(mux.builder.Payload(0x0111, 0x11), 0x0400);
        mux.Add(mux.builder.Payload(0x0112, 0x12), 0x0400);
        mux.Add(mux.builder.Section(0x0130, PrivateSection(0x82, 1, 0, Bytes(20, 0x30))));  // not followed
        mux.Add(mux.builder.Payload(0x0121, 0x21), 0x0401);
        mux.Add(mux.builder.Payload(0x0122, 0x22));  // behind the overrun: not a stream
    }
    const std::string input = Write("overrun.ts", mux.bytes());
    EXPECT_EQ(Analyse(mux.bytes()).uProgramFiles, 2u);
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
    EXPECT_EQ(g_tSimpleData.tPMT.u16DescriptorCount, 0);
    EXPECT_EQ(g_tSimpleData.tPMT.u16StreamCount, 2);
    EXPECT_TRUE(Extract(input, 0x01F1) == mux.ProgramBytes(0x0401, mux.packets.size()));
    EXPECT_EQ(g_tSimpleData.tPMT.u16StreamCount, 1);
}

TEST_F(BadInput, PATOfFiftyPrograms)
{
    // 50 programs in one section of 216 bytes, over two packets. The listing and the extraction
    // take every entry; the specified list holds the first 16 programs.
    std::vector<PATEntry> entries = {{0, 0x0010}};
    for (u16 i = 1; i < 50; ++i)
        entries.push_back({u16(0x0400 + i), u16(0x0100 + i)});
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(0x7FE0, 0, entries)));
    ASSERT_EQ(mux.packets.size(), 2u);
    mux.Add(mux.builder.Section(0x0105, PMTSection(0x0405, 0, 0x0205, {}, {{0x02, 0x0205, {}}})), 0x0405);
    mux.Add(mux.builder.Section(0x0120, PMTSection(0x0420, 0, 0x0220, {}, {{0x02, 0x0220, {}}})), 0x0420);
    for (int i = 0; i < 4; ++i) {
        mux.Add(mux.builder.PCR(0x0205, 1000u * i, 0, true), 0x0405);
        mux.Add(mux.builder.Payload(0x0220, 0x20), 0x0420);
    }
    const std::string input = Write("pat50.ts", mux.bytes());
    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, 16);
    EXPECT_EQ(list.lu16ProgramNumber[15], 0x0410);
    EXPECT_EQ(list.lu16PID[15], 0x0110);
    // The program split makes a file for each of the two programs of the 49 whose PMT comes; the
    // PMT split refuses a PAT of more than one program.
    const Analysis analysis = Analyse(mux.bytes());
    EXPECT_EQ(analysis.uProgramFiles, 2u);
    EXPECT_EQ(analysis.s32Check, -3);
    EXPECT_EQ(analysis.uPMTFiles, 0u);
    EXPECT_TRUE(Extract(input, 0x0105) == mux.ProgramBytes(0x0405, mux.packets.size()));
    EXPECT_TRUE(Extract(input, 0x0120) == mux.ProgramBytes(0x0420, mux.packets.size()));

    // The tool lists all 49 programs and copies the program of entry 32.
    const CommandResult listed = RunCommand(Quote(PidsiftBinary()) + " " + Quote(input));
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(std::count(listed.err.begin(), listed.err.end(), '\n'), 49);
    EXPECT_NE(listed.err.find("ProgramNumber:1073 PID:0x0131\n"), std::string::npos);
    const CommandResult copied = RunCommand(Quote(PidsiftBinary()) + " " + Quote(input) + " 120 " + Quote(dir.File("out.ts")));
    EXPECT_EQ(copied.status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == mux.ProgramBytes(0x0420, mux.packets.size()));
}

TEST_F(BadInput, PMTsBeyondTheRecordsCapacities)
{
    // 40 streams of 40 descriptors each: 3,416 bytes, more than the records' section buffer
    // holds but within what section_length declares. The extraction takes all of it: the PMT
    // packets and the 40 streams.
    std::vector<PMTStreamSpec> streams;
    Bytes forty;
    for (u8 d = 0; d < 40; ++d)
        forty = Concat({forty, Descriptor(0x52, {})});
    for (u16 s = 0; s < 40; ++s)
        streams.push_back({0x06, u16(0x0300 + s), forty});
    const Bytes huge = PMTSection(0x0400, 0, 0x0300, {}, streams);
    ASSERT_GT(huge.size(), TS_SECTION_CAPACITY);

    // 40 streams of 8 descriptors (fits the records): the specified record keeps 16 streams and
    // 32 program descriptors, the extraction every stream and the CA descriptor, the 35th, whose
    // ECM it copies.
    std::vector<PMTStreamSpec> fitting;
    Bytes eight;
    for (u8 d = 0; d < 8; ++d)
        eight = Concat({eight, Descriptor(0x52, {d})});
    for (u16 s = 0; s < 40; ++s)
        fitting.push_back({0x06, u16(0x0400 + s), eight});
    Bytes program_descriptors;
    for (int d = 0; d < 40; ++d)
        program_descriptors = Concat({program_descriptors, d == 34 ? CADescriptor(5, 0x0130) : Descriptor(0xC1, {0x84, 0xFF})});
    const Bytes large = PMTSection(0x0401, 0, 0x0400, program_descriptors, fitting);
    ASSERT_LE(large.size(), TS_SECTION_CAPACITY);

    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}, {0x0401, 0x01F1}})));
    mux.Add(mux.builder.Section(0x01F0, huge), 0x0400);
    mux.Add(mux.builder.Section(0x01F1, large), 0x0401);
    for (u16 s = 0; s < 40; ++s) {
        mux.Add(mux.builder.Payload(u16(0x0300 + s), 0x30), 0x0400);
        mux.Add(mux.builder.Payload(u16(0x0400 + s), 0x40), 0x0401);
    }
    mux.Add(mux.builder.Section(0x0130, PrivateSection(0x82, 1, 0, Bytes(20, 0x30))), 0x0401);
    const std::string input = Write("pmt40.ts", mux.bytes());
    EXPECT_EQ(Analyse(mux.bytes()).uProgramFiles, 2u);

    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
    EXPECT_TRUE(Extract(input, 0x01F1) == mux.ProgramBytes(0x0401, mux.packets.size()));
    const TS_PMT &pmt = g_tSimpleData.tPMT;
    EXPECT_EQ(pmt.u16StreamCount, 16);
    EXPECT_EQ(pmt.u16DescriptorCount, 32);
    for (u16 s = 0; s < 16; ++s)
        EXPECT_EQ(pmt.ltStream[s].u16DescriptorCount, 8);
}

TEST_F(BadInput, ThreeHundredDistinctPIDs)
{
    // The program names 16 streams; 300 other PIDs pass by.
    std::vector<PMTStreamSpec> streams;
    for (u16 s = 0; s < 16; ++s)
        streams.push_back({0x06, u16(0x1000 + s * 7), {}});
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}})));
    mux.Add(mux.builder.Section(0x01F0, PMTSection(0x0400, 0, 0x1000, {}, streams)), 0x0400);
    for (u16 pid = 0x0020; pid < 0x0020 + 300; ++pid) {
        mux.Add(mux.builder.Payload(pid, u8(pid)));
        mux.Add(mux.builder.Payload(u16(0x1000 + (pid % 16) * 7), u8(pid)), 0x0400);
    }
    const std::string input = Write("pids.ts", mux.bytes());
    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, 1);
    // The dump's PID list keeps the first 256 PIDs met.
    const std::string text = CaptureStdout([&] { EXPECT_EQ(TS_Print(input.c_str(), 0x080), 0); });
    EXPECT_EQ(g_tData.u16PIDCount, 256);
    EXPECT_NE(text.find("PID List:\n  0x0000,\n  0x01F0,\n  0x0020,\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 256);
    const Analysis analysis = Analyse(mux.bytes());
    EXPECT_EQ(analysis.uProgramFiles, 1u);
    EXPECT_EQ(analysis.u16Segments, 1);
    EXPECT_EQ(analysis.uPMTFiles, 1u);
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
}

TEST_F(BadInput, PMTChangingThreeHundredTimes)
{
    // Each PMT version names another audio PID: the filter follows each one from the PMT packet
    // that announces it.
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}})));
    for (u16 change = 0; change < 300; ++change) {
        const u16 audio = u16(0x0200 + change);
        mux.Add(mux.builder.Section(0x01F0, PMTSection(0x0400, u8(change % 32), 0x0111, {}, {{0x02, 0x0111, {}}, {0x0F, audio, {}}})),
                0x0400);
        mux.Add(mux.builder.Payload(0x0111, u8(change)), 0x0400);
        mux.Add(mux.builder.Payload(audio, u8(change)), 0x0400);
        mux.Add(mux.builder.Payload(u16(audio - 1), u8(change)));  // the previous version's audio
    }
    const std::string input = Write("pmt300.ts", mux.bytes());
    // The PMT split's segment list and file table hold 256 PMTs; the rest is read, not split.
    const Analysis analysis = Analyse(mux.bytes());
    EXPECT_EQ(analysis.s32Check, 0);
    EXPECT_EQ(analysis.u16Segments, 256);
    EXPECT_EQ(analysis.uPMTFiles, 256u);
    EXPECT_EQ(analysis.uProgramFiles, 1u);
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
}

// ---- Damaged tables and cut section headers ---------------------------------------------------

// The packets of a program split's file less its rebuilt PATs.
Bytes WithoutPATs(const Bytes &file)
{
    Bytes out;
    for (size_t at = 0; at + 188 <= file.size(); at += 188)
        if (((file[at + 1] & 0x1F) << 8 | file[at + 2]) != 0)
            out.insert(out.end(), file.begin() + long(at), file.begin() + long(at + 188));
    return out;
}

// Runs the program split on a copy of bytes in a folder of its own and compares each file named,
// less its rebuilt PATs, with its expected packets.
void ExpectSplitFiles(const Bytes &bytes, const std::vector<std::pair<std::string, Bytes>> &files)
{
    TempDir folder;
    ASSERT_TRUE(WriteFile(folder.File("rec.ts"), bytes));
    ASSERT_EQ(TS_ProgramSplitFile(folder.File("rec.ts").c_str()), 0);
    for (const auto &[name, expected] : files)
        EXPECT_TRUE(WithoutPATs(ReadBytes(folder.File(name))) == expected) << name;
}

// A new PMT version starts in the last one or two bytes of a packet. When the PMT PID doubles as
// the PCR PID or a stream PID, that packet belongs to the program twice over and must be written
// once; whatever the PMT PID carries, it goes out in its place among the program's packets (one
// of the program's stream packets comes between it and the rest of the section), by the filter
// and by the program split alike.
TEST_F(BadInput, PMTSectionCutByThePacketEndIsWrittenOnceInItsPlace)
{
    enum Role { kPCR, kStream, kPMTOnly };
    for (const Role role : {kPCR, kStream, kPMTOnly}) {
        for (const size_t head : {size_t(1), size_t(2)}) {
            SCOPED_TRACE(std::string(role == kPCR      ? "PCR"
                                     : role == kStream ? "stream"
                                                       : "nothing else") +
                         " on the PMT PID, header bytes " + std::to_string(head));
            const u16 pcr_pid = role == kPCR ? 0x01F0 : 0x0111;
            std::vector<PMTStreamSpec> streams = {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}};
            if (role == kStream)
                streams.push_back({0x06, 0x01F0, {}});  // data carousel on the PMT PID
            const Bytes first_pmt = PMTSection(0x0400, 0, pcr_pid, CADescriptor(5, 0x0130), streams);
            streams.push_back({0x0F, 0x0113, {}});
            const Bytes second_pmt = PMTSection(0x0400, 1, pcr_pid, CADescriptor(5, 0x0130), streams);

            Mux mux;
            mux.Add(mux.builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}})));
            mux.Add(mux.builder.Section(0x01F0, first_pmt), 0x0400);
            mux.Add(mux.builder.Payload(0x0111, 0x11, true), 0x0400);
            if (role != kPMTOnly)
                mux.Add(mux.builder.PCR(0x01F0, 900000, 0, false), 0x0400);
            mux.Add(mux.builder.Payload(0x0113, 0x13, true));  // not named yet
            mux.Add(mux.builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(40, 0x5A))));
            const std::vector<Packet> cut = mux.builder.SectionAtPacketEnd(0x01F0, second_pmt, head);
            mux.Add(cut[0], 0x0400);
            mux.Add(mux.builder.Payload(0x0112, 0x12, true), 0x0400);  // between the two halves
            mux.Add(PacketBuilder::Null());
            mux.Add(std::vector<Packet>(cut.begin() + 1, cut.end()), 0x0400);
            mux.Add(mux.builder.Payload(0x0113, 0x13, true), 0x0400);
            if (role != kPMTOnly)
                mux.Add(mux.builder.PCR(0x01F0, 903600, 0, false), 0x0400);
            const Bytes expected = mux.ProgramBytes(0x0400, mux.packets.size());

            const std::string input = Write("rec.ts", mux.bytes());
            EXPECT_TRUE(Extract(input, 0x01F0) == expected);
            ExpectSplitFiles(mux.bytes(), {{"rec_1024_0_0.ts", expected}});
        }
    }
}

// Two programs announce their PMTs on one PID, and new versions of both start in the last bytes
// of a packet: each program's packets come out in input order, the sections of the other
// program left out, through the filter, the playable extraction and the program split.
TEST_F(BadInput, SharedPMTPIDWithCutSectionHeadersKeepsInputOrder)
{
    const Bytes pmt_1 = PMTSection(1, 0, 0x0101, {}, {{0x02, 0x0101, {}}, {0x0F, 0x0102, {}}});
    const Bytes pmt_2 = PMTSection(2, 0, 0x0201, CADescriptor(5, 0x0230), {{0x02, 0x0201, {}}});
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {1, 0x01F0}, {2, 0x01F0}})));
    mux.Add(mux.builder.Section(0x01F0, pmt_1), 1);
    mux.Add(mux.builder.Section(0x01F0, pmt_2), 2);
    mux.Add(mux.builder.Payload(0x0101, 0x11, true), 1);
    mux.Add(mux.builder.Payload(0x0201, 0x21, true), 2);
    // Program 2's section, cut after one byte, with a packet of each program between.
    const std::vector<Packet> cut_2 = mux.builder.SectionAtPacketEnd(
        0x01F0, PMTSection(2, 1, 0x0201, CADescriptor(5, 0x0230), {{0x02, 0x0201, {}}}), 1);
    mux.Add(cut_2[0], 2);
    mux.Add(mux.builder.Payload(0x0101, 0x12), 1);
    mux.Add(mux.builder.Section(0x0230, PrivateSection(0x82, 2, 0, Bytes(20, 0x23))), 2);
    mux.Add(std::vector<Packet>(cut_2.begin() + 1, cut_2.end()), 2);
    // Program 1's section, cut after two bytes.
    const std::vector<Packet> cut_1 = mux.builder.SectionAtPacketEnd(
        0x01F0, PMTSection(1, 1, 0x0101, {}, {{0x02, 0x0101, {}}, {0x0F, 0x0102, {}}}), 2);
    mux.Add(cut_1[0], 1);
    mux.Add(mux.builder.Payload(0x0201, 0x22), 2);
    mux.Add(mux.builder.Payload(0x0102, 0x13, true), 1);
    mux.Add(PacketBuilder::Null());
    mux.Add(mux.builder.Payload(0x0101, 0x14), 1);
    mux.Add(std::vector<Packet>(cut_1.begin() + 1, cut_1.end()), 1);
    mux.Add(mux.builder.Payload(0x0101, 0x15), 1);
    mux.Add(mux.builder.Payload(0x0201, 0x23), 2);
    const Bytes program_1 = mux.ProgramBytes(1, mux.packets.size());
    const Bytes program_2 = mux.ProgramBytes(2, mux.packets.size());

    const std::string input = Write("rec.ts", mux.bytes());
    EXPECT_TRUE(Extract(input, 0x01F0) == program_1);  // the first entry on the PID
    ASSERT_EQ(TS_ProgramExtractFile(dir.File("two.ts").c_str(), input.c_str(), TS_NO_PID, 2), 0);
    EXPECT_TRUE(WithoutPATs(ReadBytes(dir.File("two.ts"))) == program_2);
    ExpectSplitFiles(mux.bytes(), {{"rec_1_0_0.ts", program_1}, {"rec_2_0_0.ts", program_2}});
}

// A program waits behind the first byte of a PMT section on a PID that two programs share: 127
// of its packets may wait with that packet and all go out in input order once the next packet
// tells the section is its; a 128th gives the section up, and so does a PAT: the packets that
// waited go out, the section's own are dropped and its new stream is never the program's.
TEST_F(BadInput, SharedPMTPIDWaitEndsPast128PacketsOrAtAPAT)
{
    enum Case { kWithin, kPast, kPAT };
    for (const Case what : {kWithin, kPast, kPAT}) {
        SCOPED_TRACE(what);
        const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {1, 0x01F0}, {2, 0x01F0}});
        Mux mux;
        mux.Add(mux.builder.Section(0x0000, pat));
        mux.Add(mux.builder.Section(0x01F0, PMTSection(1, 0, 0x0101, {}, {{0x02, 0x0101, {}}})), 1);
        mux.Add(mux.builder.Section(0x01F0, PMTSection(2, 0, 0x0201, {}, {{0x02, 0x0201, {}}})), 2);
        mux.Add(mux.builder.Payload(0x0201, 0x21, true), 2);
        // Version 1 adds a stream on 0x0202.
        const std::vector<Packet> cut = mux.builder.SectionAtPacketEnd(
            0x01F0, PMTSection(2, 1, 0x0201, {}, {{0x02, 0x0201, {}}, {0x0F, 0x0202, {}}}), 1);
        const bool kept = what == kWithin;
        mux.Add(cut[0], kept ? 2 : 0);
        const int waiting = what == kWithin ? 127 : what == kPast ? 128 : 3;
        for (int i = 0; i < waiting; ++i)
            mux.Add(mux.builder.Payload(0x0201, u8(i)), 2);
        if (what == kPAT)
            mux.Add(mux.builder.Section(0x0000, pat));
        mux.Add(std::vector<Packet>(cut.begin() + 1, cut.end()), kept ? 2 : 0);
        mux.Add(mux.builder.Payload(0x0202, 0x22, true), kept ? 2 : 0);
        mux.Add(mux.builder.Payload(0x0201, 0x23), 2);
        const Bytes program_2 = mux.ProgramBytes(2, mux.packets.size());

        const std::string input = Write("rec.ts", mux.bytes());
        ASSERT_EQ(TS_ProgramExtractFile(dir.File("two.ts").c_str(), input.c_str(), TS_NO_PID, 2), 0);
        EXPECT_TRUE(WithoutPATs(ReadBytes(dir.File("two.ts"))) == program_2);
        ExpectSplitFiles(mux.bytes(), {{"rec_2_0_0.ts", program_2}});
    }
}

// A PMT section whose first packet carries exactly its five bytes up to program_number, on a
// PID that two programs share: the program is known at once, so the packet goes out as it
// comes, also when the section breaks off right after it (its next packet skips a
// continuity_counter value); the other program's section of the same layout is not written.
TEST_F(BadInput, SectionHeaderWholeInFiveBytesIsNotHeld)
{
    const Bytes pmt_1 = PMTSection(1, 0, 0x0101, {}, {{0x02, 0x0101, {}}});
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(0x7FE0, 0, {{1, 0x01F0}, {2, 0x01F0}})));
    mux.Add(mux.builder.Section(0x01F0, pmt_1), 1);
    mux.Add(mux.builder.Payload(0x0101, 0x11, true), 1);
    std::vector<Packet> broken =
        mux.builder.SectionAtPacketEnd(0x01F0, PMTSection(1, 1, 0x0101, {}, {{0x02, 0x0101, {}}}), 5);
    broken[1][3] = u8(0x10 | ((broken[1][3] + 1) & 0x0F));
    mux.Add(broken[0], 1);
    mux.Add(mux.builder.Payload(0x0101, 0x12), 1);
    mux.Add(broken[1]);  // continues nothing
    const std::vector<Packet> other =
        mux.builder.SectionAtPacketEnd(0x01F0, PMTSection(2, 0, 0x0201, {}, {{0x02, 0x0201, {}}}), 5);
    mux.Add(other[0], 2);
    mux.Add(mux.builder.Payload(0x0101, 0x13), 1);
    mux.Add(other[1], 2);
    const std::vector<Packet> whole = mux.builder.SectionAtPacketEnd(0x01F0, pmt_1, 5);
    mux.Add(whole[0], 1);
    mux.Add(mux.builder.Payload(0x0101, 0x14), 1);
    mux.Add(whole[1], 1);
    const std::string input = Write("rec.ts", mux.bytes());
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(1, mux.packets.size()));
}

// Flips a bit of the CRC_32 of the section that a packet carries whole from its first payload
// byte. Returns false when the packet carries no such section.
bool DamageCRC(Packet *packet)
{
    Packet &p = *packet;
    if ((p[1] & 0x40) == 0 || (p[3] & 0x30) != 0x10 || p[4] != 0)
        return false;
    const size_t end = 5 + 3 + size_t(((p[6] & 0x0F) << 8) | p[7]);
    if (end > 188)
        return false;
    p[end - 1] ^= 0x01;
    return true;
}

Bytes RunDump(const std::string &input, int mask)
{
    int result = 99;
    const std::string text = CaptureStdout([&] { result = TS_Print(input.c_str(), mask); });
    EXPECT_EQ(result, 0);
    return Bytes(text.begin(), text.end());
}

// A capture carried one damaged PAT after eight good ones, listing the first program on a wrong
// PMT PID. It must change nothing: the listing, the extraction, the dump's streams and the
// program split are those of the recording without it; only the PAT dump shows it.
TEST_F(BadInput, DamagedPATAfterGoodOnesChangesNothing)
{
    BroadcastSpec mux = SampleBroadcast(4000);
    mux.psi_interval = 200;
    const Recording clean = Generate(mux);
    Recording damaged;
    PacketBuilder builder;
    int pats = 0;
    for (size_t i = 0; i < clean.packets.size(); ++i) {
        damaged.Add(clean.packets[i], clean.owners[i]);
        if (PacketPID(clean.packets[i]) == 0 && ++pats == 8) {
            Packet bad = builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x10}, {1024, 0x01F5}, {1025, 0x01F1}, {1032, 0x01F8}}))[0];
            ASSERT_TRUE(DamageCRC(&bad));
            damaged.Add(bad);
        }
    }
    ASSERT_GT(pats, 12);
    const std::string clean_input = Write("clean.ts", clean.bytes());
    const std::string input = Write("damaged.ts", damaged.bytes());

    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, 3);
    EXPECT_EQ(list.lu16PID[0], 0x01F0);
    const Bytes extracted = Extract(input, 0x01F0);
    EXPECT_EQ(extracted.size(), clean.ProgramBytes(0x0400).size());
    EXPECT_TRUE(extracted == clean.ProgramBytes(0x0400));
    EXPECT_TRUE(RunDump(input, TS_PRINT_ES | TS_PRINT_PMT | TS_PRINT_PCR) ==
                RunDump(clean_input, TS_PRINT_ES | TS_PRINT_PMT | TS_PRINT_PCR));
    const std::string pat_dump = CaptureStdout([&] { TS_Print(input.c_str(), TS_PRINT_PAT); });
    size_t blocks = 0;
    for (size_t at = pat_dump.find("[PAT]"); at != std::string::npos; at = pat_dump.find("[PAT]", at + 1))
        ++blocks;
    EXPECT_EQ(blocks, size_t(pats) + 1) << "the damaged PAT is printed as it came";
    EXPECT_NE(pat_dump.find("0x01F5"), std::string::npos);

    for (const std::string &name : {std::string("clean"), std::string("damaged")}) {
        const std::string folder = dir.File(name);
        mkdir(folder.c_str(), 0755);
        ASSERT_TRUE(WriteFile(folder + "/rec.ts", name == "clean" ? clean.bytes() : damaged.bytes()));
        ASSERT_EQ(TS_ProgramSplitFile((folder + "/rec.ts").c_str()), 0);
    }
    for (const char *file : {"/rec_1024_0_0.ts", "/rec_1025_0_0.ts", "/rec_1032_0_0.ts"})
        EXPECT_TRUE(ReadBytes(dir.File("damaged") + file) == ReadBytes(dir.File("clean") + file)) << file;
}

// Some multiplexers get every CRC_32 wrong: with no good section to trust, the tables are used
// as they are.
TEST_F(BadInput, TablesThatAllFailTheirCRCAreUsed)
{
    const Recording clean = Generate(SampleBroadcast(3000));
    Recording damaged;
    size_t broken = 0;
    for (size_t i = 0; i < clean.packets.size(); ++i) {
        Packet packet = clean.packets[i];
        const u16 pid = PacketPID(packet);
        if ((pid == 0x0000 || pid == 0x0001 || pid == 0x01F0 || pid == 0x01F1 || pid == 0x01F8) && DamageCRC(&packet))
            ++broken;
        damaged.Add(packet, clean.owners[i]);
    }
    ASSERT_GT(broken, 20u);
    const std::string input = Write("damaged.ts", damaged.bytes());
    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, 3);
    EXPECT_TRUE(Extract(input, 0x01F1) == damaged.ProgramBytes(0x0401));
    EXPECT_EQ(RunDump(input, TS_PRINT_ES).size(), RunDump(Write("clean.ts", clean.bytes()), TS_PRINT_ES).size());
}

// A damaged PMT after a good one names other streams: the filter writes its packets (they are
// the program's PMT packets) but goes on selecting what the good PMT named.
TEST_F(BadInput, DamagedPMTKeepsTheSelection)
{
    Mux mux;
    mux.Add(mux.builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}})));
    mux.Add(mux.builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}})), 0x0400);
    mux.Add(mux.builder.PCR(0x0111, 27000, 0, true, 0x11), 0x0400);
    Packet bad = mux.builder.Section(0x01F0, PMTSection(0x0400, 1, 0x0666, {}, {{0x02, 0x0666, {}}}))[0];
    ASSERT_TRUE(DamageCRC(&bad));
    mux.Add(bad, 0x0400);
    mux.Add(mux.builder.Payload(0x0111, 0x12), 0x0400);
    mux.Add(mux.builder.Payload(0x0112, 0x13, true), 0x0400);
    mux.Add(mux.builder.Payload(0x0666, 0x66, true));
    mux.Add(mux.builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}})), 0x0400);
    const std::string input = Write("rec.ts", mux.bytes());
    EXPECT_TRUE(Extract(input, 0x01F0) == mux.ProgramBytes(0x0400, mux.packets.size()));
    // The dump's stream roles stay those of the good PMT too.
    const std::string es = CaptureStdout([&] { TS_Print(input.c_str(), TS_PRINT_ES); });
    EXPECT_EQ(es.find("PID:0x0666"), std::string::npos) << es;
    EXPECT_NE(es.find("PID:0x0112"), std::string::npos) << es;
}

// Garbage ahead of the first packet with a single 0x47 that no packet spacing confirms: the
// recording reads as if the garbage were not there.
TEST_F(BadInput, LoneSyncByteInLeadingGarbage)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    Bytes garbage(3000);
    std::mt19937 random(11);
    for (u8 &byte : garbage)
        byte = u8(random() % 0x46);  // never 0x47
    garbage[1234] = 0x47;
    Bytes led = garbage;
    const Bytes clean = recording.bytes();
    led.insert(led.end(), clean.begin(), clean.end());
    const std::string clean_input = Write("clean.ts", clean);
    const std::string input = Write("led.ts", led);
    const TS_ProgramList expected = List(clean_input);
    const TS_ProgramList list = List(input);
    ASSERT_EQ(list.u16Count, expected.u16Count);
    for (u16 i = 0; i < list.u16Count; ++i)
        EXPECT_EQ(list.lu16PID[i], expected.lu16PID[i]);
    EXPECT_TRUE(Extract(input, 0x01F1) == recording.ProgramBytes(0x0401));
    EXPECT_TRUE(RunDump(input, TS_PRINT_PACKETS) == RunDump(clean_input, TS_PRINT_PACKETS));
}

}  // namespace
