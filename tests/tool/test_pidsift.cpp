// pidsift end to end: the binary run on generated broadcast-like recordings.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "recording.h"

namespace {

using namespace testsupport;

const char kUsage[] =
    "=== Pidsift === v1.00\n"
    "Filt to one program from multi-program MPEG-2 TS file and output file.\n"
    "Usage: pidsift <input TS filename> [<PID> <output TS filename>]\n"
    "To check PID, <input TS filename> only to parameter.\n";

class Pidsift : public ::testing::Test {
protected:
    CommandResult List(const std::string &input) { return RunCommand(Quote(PidsiftBinary()) + " " + Quote(input)); }
    CommandResult Filter(const std::string &input, const std::string &pid, const std::string &output)
    {
        return RunCommand(Quote(PidsiftBinary()) + " " + Quote(input) + " " + Quote(pid) + " " + Quote(output));
    }
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    TempDir dir;
};

TEST_F(Pidsift, WrongArgumentCountPrintsUsage)
{
    for (const char *arguments : {"", " a b", " a b c d"}) {
        const CommandResult result = RunCommand(Quote(PidsiftBinary()) + std::string(arguments));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, kUsage);
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(Pidsift, ListsTheProgramsOfTheLastPAT)
{
    const std::string input = Write("in.ts", Generate(SampleBroadcast(3000)).bytes());
    const CommandResult result = List(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "ProgramNumber:1024 PID:0x01F0\n"
              "ProgramNumber:1025 PID:0x01F1\n"
              "ProgramNumber:1032 PID:0x01F8\n");

    // The PAT changes mid-file: only the last one counts, and an earlier PMT PID is refused.
    PacketBuilder builder;
    Recording changing;
    changing.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x100}, {2, 0x200}})), 0);
    changing.Add(builder.Section(0, PATSection(1, 1, {{3, 0x300}})), 0);
    const std::string second = Write("changing.ts", changing.bytes());
    EXPECT_EQ(List(second).err, "ProgramNumber:3 PID:0x0300\n");
    const CommandResult refused = Filter(second, "100", dir.File("out.ts"));
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.err, "Error: invalid PID.\n");
    struct stat status;
    EXPECT_NE(stat(dir.File("out.ts").c_str(), &status), 0);
}

TEST_F(Pidsift, ExtractsEachProgramByteForByte)
{
    const Recording recording = Generate(SampleBroadcast(6000));
    const std::string input = Write("in.ts", recording.bytes());
    const struct {
        const char *pid;
        u16 program_number;
    } programs[] = {{"1f0", 0x0400}, {"0x01F1", 0x0401}, {"0X1f8", 0x0408}};
    for (const auto &program : programs) {
        SCOPED_TRACE(program.pid);
        const std::string output = dir.File(std::string("out_") + program.pid + ".ts");
        const CommandResult result = Filter(input, program.pid, output);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        const Bytes expected = recording.ProgramBytes(program.program_number);
        const Bytes written = ReadBytes(output);
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
    }
}

TEST_F(Pidsift, PIDArgumentForms)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}, {0x0496, 0x0496}})), 0);
    const std::string input = Write("in.ts", recording.bytes());
    for (const char *pid : {"0x01F0", "0X1f0", "1F0", "1f0", "101f0", "496"}) {
        const CommandResult result = Filter(input, pid, dir.File("out.ts"));
        EXPECT_EQ(result.status, 0) << pid;
        EXPECT_EQ(result.err, "") << pid;
    }
    for (const char *pid : {"x1f0", "+1f0", "1g0", " 1f0", "1f0 ", "", "0x", "0x0x1f0", "10", "1F1"}) {
        const CommandResult result = Filter(input, pid, dir.File("bad.ts"));
        EXPECT_EQ(result.status, 255) << pid;
        EXPECT_EQ(result.err, "Error: invalid PID.\n") << pid;
    }
    struct stat status;
    EXPECT_NE(stat(dir.File("bad.ts").c_str(), &status), 0);
}

TEST_F(Pidsift, PacketsOfSeveralRulesAreWrittenOnce)
{
    // PCR on the video PID, and the PMT PID also listed as a stream PID.
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}})), 0);
    recording.Add(builder.Section(0x100, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}, {0x05, 0x100, {}}})), 1);
    for (int i = 0; i < 20; ++i) {
        recording.Add(builder.PCR(0x101, u64(i) * 3000, 0, true, u8(i)), 1);
        recording.Add(builder.Payload(0x101, u8(i)), 1);
        recording.Add(PacketBuilder::Null(), 0);
    }
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "100", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(1));
}

// PCR_PID 0x1FFF says a program has no PCR: the multiplex's null packets are not its packets.
TEST_F(Pidsift, ProgramWithoutPCRGetsNoNullPackets)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {0x0440, 0x01F4}})), 0);
    recording.Add(builder.Section(0x01F4, PMTSection(0x0440, 0, 0x1FFF, {}, {{0x0D, 0x0441, {}}})), 0x0440);
    for (int i = 0; i < 10; ++i) {
        recording.Add(builder.Payload(0x0441, u8(i)), 0x0440);
        recording.Add(PacketBuilder::Null(), 0);
    }
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "1f4", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(0x0440));
}

TEST_F(Pidsift, PMTSpanningPacketsIsWrittenWhole)
{
    std::vector<PMTStreamSpec> streams;
    for (u16 i = 0; i < 14; ++i)
        streams.push_back({0x06, u16(0x110 + i), Concat({Descriptor(0x52, {u8(i)}), Descriptor(0xFD, {0x00, 0x08, 0x3D})})});
    const Bytes pmt = PMTSection(0x0400, 0, 0x1FF, Concat({CADescriptor(5, 0x130), Descriptor(0xC1, {0x84, 0xFF})}), streams);
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}, {0x0401, 0x01F1}})), 0);
    for (int round = 0; round < 3; ++round) {
        const std::vector<Packet> pmt_packets = builder.Section(0x01F0, pmt);
        ASSERT_EQ(pmt_packets.size(), 2u);
        recording.Add(pmt_packets[0], 0x0400);
        recording.Add(builder.Payload(0x0121, 0x22), 0);  // another program between the halves
        recording.Add(builder.Section(0x0011, LongSection(0x42, 1, 0, Bytes(30, 0x11))), 0);
        recording.Add(pmt_packets[1], 0x0400);
        recording.Add(builder.PCR(0x1FF, 900 * u64(round), 0, false), 0x0400);
        recording.Add(builder.Section(0x130, PrivateSection(0x82, 1, 0, Bytes(40, 0x99))), 0x0400);
        for (u16 i = 0; i < 14; ++i)
            recording.Add(builder.Payload(u16(0x110 + i), u8(i)), 0x0400);
        recording.Add(PacketBuilder::Null(), 0);
    }
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "1f0", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(0x0400));
}

// A section header cut over three packets (one section byte in each of the first two, behind a
// pointer_field and a long adaptation field), with a packet of adaptation field only in the
// middle of the section: every packet that carried part of the section reaches the output.
TEST_F(Pidsift, PMTSectionHeaderCutOverSeveralPackets)
{
    const Bytes pmt = PMTSection(7, 0, 0x701, {}, {{0x02, 0x701, {}}, {0x0F, 0x702, {}}});
    auto packet = [](u8 flags, u8 control_and_counter) {
        Packet bytes = PacketBuilder::Null();
        bytes[1] = u8(flags | 0x07);
        bytes[2] = 0x00;  // PID 0x0700
        bytes[3] = control_and_counter;
        return bytes;
    };
    Packet first = packet(0x40, 0x10);
    first[4] = 182;  // pointer_field: the section starts at the last byte
    first[187] = pmt[0];
    Packet second = packet(0x00, 0x31);
    second[4] = 182;  // adaptation field leaves one payload byte
    second[5] = 0x00;
    second[187] = pmt[1];
    Packet no_payload = packet(0x00, 0x21);
    no_payload[4] = 183;
    no_payload[5] = 0x00;
    Packet rest = packet(0x00, 0x12);
    std::memcpy(rest.data() + 4, pmt.data() + 2, pmt.size() - 2);

    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {7, 0x700}})), 0);
    recording.Add(first, 7);
    recording.Add(builder.Payload(0x701, 0x01), 0);  // before the PMT: not yet selected
    recording.Add(second, 7);
    recording.Add(no_payload, 0);
    recording.Add(rest, 7);
    recording.Add(builder.Payload(0x701, 0x02), 7);
    recording.Add(builder.Payload(0x702, 0x03), 7);
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "700", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(7));
}

// A new PMT version starts in the last two bytes of a packet, and a video packet of the program
// comes before the rest of the section: the output keeps the order of the input.
TEST_F(Pidsift, PMTSectionCutByThePacketEndKeepsItsPlace)
{
    const std::vector<PMTStreamSpec> streams = {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}};
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(0x7FE0, 0, {{0, 0x10}, {0x0400, 0x01F0}})), 0);
    recording.Add(builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, {}, streams)), 0x0400);
    recording.Add(builder.PCR(0x0111, 90000, 0, true, 0x11), 0x0400);
    recording.Add(builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(30, 0x5A))), 0);
    const std::vector<Packet> cut = builder.SectionAtPacketEnd(0x01F0, PMTSection(0x0400, 1, 0x0111, {}, streams), 2);
    ASSERT_EQ(cut.size(), 2u);
    recording.Add(cut[0], 0x0400);
    recording.Add(builder.Payload(0x0111, 0x12), 0x0400);
    recording.Add(PacketBuilder::Null(), 0);
    recording.Add(cut[1], 0x0400);
    recording.Add(builder.Payload(0x0112, 0x13, true), 0x0400);
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "1f0", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(0x0400));
}

TEST_F(Pidsift, ProgramThatStartsLaterAndLeaves)
{
    PacketBuilder builder;
    Recording recording;
    const Bytes pmt = PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}});
    // First PAT without the program: its packets before the PAT that lists it are not written.
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}})), 0);
    recording.Add(builder.Section(0x200, pmt), 0);
    recording.Add(builder.Payload(0x201, 1), 0);
    recording.Add(builder.Section(0, PATSection(1, 1, {{1, 0x100}, {2, 0x200}})), 0);
    recording.Add(builder.Payload(0x201, 2), 0);  // before its PMT: not yet known
    recording.Add(builder.Section(0x200, pmt), 2);
    recording.Add(builder.Payload(0x201, 3), 2);
    recording.Add(builder.Section(0, PATSection(1, 1, {{1, 0x100}, {2, 0x200}})), 0);
    recording.Add(builder.Payload(0x201, 4), 2);
    // The program leaves: the scan ends here, even though it comes back.
    recording.Add(builder.Section(0, PATSection(1, 2, {{1, 0x100}})), 0);
    recording.Add(builder.Payload(0x201, 5), 0);
    recording.Add(builder.Section(0, PATSection(1, 3, {{1, 0x100}, {2, 0x200}})), 0);
    recording.Add(builder.Section(0x200, pmt), 0);
    recording.Add(builder.Payload(0x201, 6), 0);
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "200", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(2));
}

TEST_F(Pidsift, ProgramsSharingOnePMTPID)
{
    // Two programs announce their PMTs on one PID; each output holds only its own sections.
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0, PATSection(1, 0, {{0, 0x10}, {1, 0x1F0}, {2, 0x1F0}})), 0);
    for (int round = 0; round < 4; ++round) {
        recording.Add(builder.Section(0x1F0, PMTSection(1, 0, 0x101, {}, {{0x02, 0x101, {}}})), 1);
        recording.Add(builder.Section(0x1F0, PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}})), 2);
        recording.Add(builder.Payload(0x101, u8(round)), 1);
        recording.Add(builder.Payload(0x201, u8(round)), 2);
    }
    const std::string input = Write("in.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "1f0", dir.File("out.ts")).status, 0);
    // The filter follows the first PAT entry on that PID: program 1.
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(1));
}

TEST_F(Pidsift, TimestampedUnitsAndGarbageGiveTheSamePackets)
{
    const Recording recording = Generate(SampleBroadcast(2500));
    // 192-byte units whose timestamp prefix holds sync bytes, and garbage every so often.
    Bytes units;
    std::mt19937 random(3);
    for (size_t i = 0; i < recording.packets.size(); ++i) {
        const u8 prefix[4] = {0x47, u8(i >> 8), 0x47, u8(random())};
        units.insert(units.end(), prefix, prefix + 4);
        Append(&units, recording.packets[i]);
    }
    Bytes noisy;
    for (size_t i = 0; i < recording.packets.size(); ++i) {
        if (i % 97 == 5) {
            const Bytes garbage = {0x00, 0x47, 0x47, 0x13, 0x47};
            noisy.insert(noisy.end(), garbage.begin(), garbage.end());
        }
        Append(&noisy, recording.packets[i]);
    }
    const Bytes expected = recording.ProgramBytes(0x0401);
    for (const auto &[name, bytes] : {std::pair{"units.ts", units}, std::pair{"noisy.ts", noisy}}) {
        SCOPED_TRACE(name);
        const std::string input = Write(name, bytes);
        EXPECT_EQ(List(input).err,
                  "ProgramNumber:1024 PID:0x01F0\nProgramNumber:1025 PID:0x01F1\nProgramNumber:1032 PID:0x01F8\n");
        ASSERT_EQ(Filter(input, "1f1", dir.File("out.ts")).status, 0);
        EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == expected);
    }
}

TEST_F(Pidsift, RecordingLargerThanOneReadChunk)
{
    // More than 32 MiB, so packets straddle the read boundary of the first chunk.
    BroadcastSpec mux = SampleBroadcast(TS_READ_CHUNK / 188 + 2000);
    mux.psi_interval = 2000;
    const Recording recording = Generate(mux);
    const std::string input = Write("big.ts", recording.bytes());
    ASSERT_EQ(Filter(input, "1f8", dir.File("out.ts")).status, 0);
    EXPECT_TRUE(ReadBytes(dir.File("out.ts")) == recording.ProgramBytes(0x0408));
}

// A re-run into the output of an earlier run, of another program and longer: exactly the new
// program is left, in the same file with the same mode.
TEST_F(Pidsift, ExistingLongerOutputIsReplacedWhole)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    const std::string input = Write("in.ts", recording.bytes());
    const std::string output = Write("out.ts", Bytes(2000000, 0xAB));
    ASSERT_EQ(Filter(input, "1f0", output).status, 0);
    EXPECT_TRUE(ReadBytes(output) == recording.ProgramBytes(0x0400));

    ASSERT_GT(recording.ProgramBytes(0x0400).size(), recording.ProgramBytes(0x0408).size());
    ASSERT_EQ(chmod(output.c_str(), 0620), 0);
    struct stat before, after;
    ASSERT_EQ(stat(output.c_str(), &before), 0);
    const CommandResult result = Filter(input, "1f8", output);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(ReadBytes(output) == recording.ProgramBytes(0x0408));
    ASSERT_EQ(stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0620u);
    EXPECT_EQ(RunCommand("ls -A " + Quote(dir.path())).out, "in.ts\nout.ts\n");
}

// An existing output is opened for writing as it stands: truncated and written in place (its
// inode, links and mode kept), or refused when it cannot be opened, and then left untouched.
TEST_F(Pidsift, ExistingOutputIsWrittenInPlace)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    const std::string input = Write("in.ts", recording.bytes());
    const std::string output = Write("out.ts", Bytes(3000, 0xAB));
    ASSERT_EQ(chmod(output.c_str(), 0604), 0);
    ASSERT_EQ(link(output.c_str(), dir.File("link.ts").c_str()), 0);
    struct stat before, after;
    ASSERT_EQ(stat(output.c_str(), &before), 0);
    ASSERT_EQ(Filter(input, "1f1", output).status, 0);
    ASSERT_EQ(stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 0777, 0604u);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_TRUE(ReadBytes(dir.File("link.ts")) == recording.ProgramBytes(0x0401));

    // A read-only output is refused as its open refuses it. Root may write any file, so the
    // tool then runs as nobody, in a folder and on files that nobody may use.
    const std::string read_only = Write("kept.ts", Bytes(3000, 0xCD));
    ASSERT_EQ(chmod(read_only.c_str(), 0444), 0);
    ASSERT_EQ(chmod(input.c_str(), 0644), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
    const std::string as_user = getuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    if (RunCommand(as_user + "test -x " + Quote(PidsiftBinary()) + " -a -r " + Quote(input)).status != 0)
        GTEST_SKIP() << "the build folder cannot be reached by an unprivileged user";
    const CommandResult result =
        RunCommand(as_user + Quote(PidsiftBinary()) + " " + Quote(input) + " 1f1 " + Quote(read_only));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "error - failed on _open(" + read_only + ") [dest]\n");
    EXPECT_TRUE(ReadBytes(read_only) == Bytes(3000, 0xCD));
    EXPECT_EQ(RunCommand("ls -A " + Quote(dir.path())).out, "in.ts\nkept.ts\nlink.ts\nout.ts\n");

    // A writable output in a folder that takes no new file: no temporary file beside it, the
    // output written in place all the same.
    const std::string locked = dir.File("locked");
    ASSERT_EQ(mkdir(locked.c_str(), 0755), 0);
    const std::string inside = Write("locked/out.ts", Bytes(3000, 0xEF));
    ASSERT_EQ(chmod(inside.c_str(), 0666), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    ASSERT_EQ(stat(inside.c_str(), &before), 0);
    const CommandResult in_place =
        RunCommand(as_user + Quote(PidsiftBinary()) + " " + Quote(input) + " 1f1 " + Quote(inside));
    EXPECT_EQ(in_place.status, 0) << in_place.err;
    EXPECT_EQ(in_place.err, "");
    EXPECT_TRUE(ReadBytes(inside) == recording.ProgramBytes(0x0401));
    ASSERT_EQ(stat(inside.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(RunCommand("ls -A " + Quote(locked)).out, "out.ts\n");
    ASSERT_EQ(chmod(locked.c_str(), 0755), 0);
}

// The listing and the extraction share one read of the input; what the user sees stays that of
// checking the PID first and extracting afterwards.
TEST_F(Pidsift, OnePassLeavesNoTraceOfARefusedPID)
{
    PacketBuilder builder;
    Recording recording;
    // The program is listed by the first PAT only: the extraction starts, the last PAT refuses it.
    recording.Add(builder.Section(0, PATSection(1, 0, {{1, 0x100}, {2, 0x200}})), 0);
    recording.Add(builder.Section(0x200, PMTSection(2, 0, 0x201, {}, {{0x02, 0x201, {}}})), 0);
    recording.Add(builder.Payload(0x201, 7), 0);
    recording.Add(builder.Section(0, PATSection(1, 1, {{1, 0x100}})), 0);
    const std::string input = Write("in.ts", recording.bytes());
    const Bytes previous(5000, 0x5A);
    const std::string output = Write("out.ts", previous);
    const CommandResult result = Filter(input, "200", output);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Error: invalid PID.\n");
    EXPECT_TRUE(ReadBytes(output) == previous);
    // Nothing but the two files is left in the folder.
    const CommandResult listing = RunCommand("ls -A " + Quote(dir.path()));
    EXPECT_EQ(listing.out, "in.ts\nout.ts\n");

    // A listed PID: the output appears whole, with the mode of the file it replaces.
    ASSERT_EQ(chmod(output.c_str(), 0640), 0);
    ASSERT_EQ(Filter(input, "100", output).status, 0);
    struct stat status;
    ASSERT_EQ(stat(output.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(status.st_size, 0);  // program 1 has no PMT in this recording
    EXPECT_EQ(RunCommand("ls -A " + Quote(dir.path())).out, "in.ts\nout.ts\n");
}

TEST_F(Pidsift, OutputsThatAreNotPlainFilesAreWrittenInPlace)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    const std::string input = Write("in.ts", recording.bytes());
    const Bytes expected = recording.ProgramBytes(0x0401);

    // Standard output redirected to a file, and a pipe.
    CommandResult result = RunCommand(Quote(PidsiftBinary()) + " " + Quote(input) + " 1f1 /dev/stdout");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Bytes(result.out.begin(), result.out.end()) == expected);
    result = RunCommand("(" + Quote(PidsiftBinary()) + " " + Quote(input) + " 1f1 /dev/stdout | cat)");
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(Bytes(result.out.begin(), result.out.end()) == expected);

    // A symbolic link: the file it points to receives the program, the link stays.
    const std::string target = Write("target.ts", Bytes(10, 1));
    ASSERT_EQ(symlink(target.c_str(), dir.File("link.ts").c_str()), 0);
    ASSERT_EQ(Filter(input, "1f1", dir.File("link.ts")).status, 0);
    struct stat status;
    ASSERT_EQ(lstat(dir.File("link.ts").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_TRUE(ReadBytes(target) == expected);
}

TEST_F(Pidsift, Failures)
{
    const Recording recording = Generate(SampleBroadcast(1500));
    const std::string input = Write("in.ts", recording.bytes());
    const std::string missing = dir.File("missing.ts");

    CommandResult result = List(missing);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Failed open " + missing + ".\n");

    result = Filter(missing, "1f0", dir.File("out.ts"));
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.err, "Error: Failed open " + missing + ".\n" + "Error: invalid PID.\n");

    const std::string unreachable = dir.File("no/such/dir/out.ts");
    result = Filter(input, "1f0", unreachable);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "error - failed on _open(" + unreachable + ") [dest]\n");

    // The output names the input file (here through another path): refused, input untouched.
    result = Filter(input, "1f0", dir.path() + "/./in.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: " + dir.path() + "/./in.ts is the input file.\n");
    EXPECT_TRUE(ReadBytes(input) == recording.bytes());

    // A device that is full: the write error is reported, not success.
    result = Filter(input, "1f0", "/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Failed write /dev/full.\n");

    // A directory as input cannot be read.
    result = List(dir.path());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Failed read " + dir.path() + ".\n");
}

TEST_F(Pidsift, MalformedRecordingsNeverCrash)
{
    const Bytes clean = Generate(SampleBroadcast(400)).bytes();
    std::mt19937 random(11);
    std::vector<Bytes> inputs;
    for (size_t cut : {size_t(0), size_t(1), size_t(187), size_t(188), size_t(189), clean.size() / 3, clean.size() - 1})
        inputs.emplace_back(clean.begin(), clean.begin() + long(cut));
    Bytes corrupted = clean;
    for (size_t i = 0; i < corrupted.size(); ++i)
        if (i % 188 != 0 && random() % 50 == 0)
            corrupted[i] = u8(random());  // bit errors, sync bytes spared
    inputs.push_back(corrupted);
    Bytes noise(100000);
    for (u8 &b : noise)
        b = u8(random());
    inputs.push_back(noise);
    inputs.emplace_back(188 * 100, 0x47);
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string input = Write("bad.ts", inputs[i]);
        const CommandResult listed = List(input);
        EXPECT_EQ(listed.status, 0);
        const CommandResult filtered = Filter(input, "1f0", dir.File("out.ts"));
        EXPECT_TRUE(filtered.status == 0 || filtered.status == 255) << filtered.err;
    }
}

}  // namespace
