// What the front ends give a recorder user beyond the library: a playable one-program file,
// standard input and output folders, an interrupted split that cleans up after itself, the
// dump of table changes, pidsift's help and version, and a progress line that stays calm.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "background.h"
#include "capture.h"
#include "front_end.h"
#include "recording.h"

namespace {

using namespace testsupport;

class FrontEndFeatures : public ::testing::Test {
protected:
    CommandResult Tool(const std::string &tool, const std::string &arguments)
    {
        // Braces, so that the arguments' own redirections win over RunCommand's.
        return RunCommand("cd " + Quote(dir.path()) + " && { " + Quote(ToolBinary(tool)) + " " + arguments + "; }");
    }
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    std::set<std::string> Files(const std::string &folder)
    {
        std::set<std::string> names;
        DIR *listing = opendir(folder.c_str());
        for (dirent *entry; listing != nullptr && (entry = readdir(listing)) != nullptr;)
            if (entry->d_name[0] != '.')
                names.insert(entry->d_name);
        if (listing != nullptr)
            closedir(listing);
        return names;
    }

    TempDir dir;
};

// The PAT sections of a file's PID 0 packets (each carried whole by one packet, as the tools
// write them).
std::vector<Bytes> PATSections(const Bytes &file)
{
    std::vector<Bytes> sections;
    for (const Packet &packet : Packets(file)) {
        if (PacketPID(packet) != 0)
            continue;
        const size_t start = 5 + packet[4];
        const size_t length = 3 + (((packet[start + 1] & 0x0F) << 8) | packet[start + 2]);
        sections.emplace_back(packet.begin() + long(start), packet.begin() + long(start + length));
    }
    return sections;
}

Bytes WithoutPID0(const Bytes &file)
{
    Bytes out;
    for (const Packet &packet : Packets(file))
        if (PacketPID(packet) != 0)
            Append(&out, packet);
    return out;
}

// A program copied by `pidsift-split program` plays on its own: a PAT that lists only that
// program (behind the network entry) opens the file and follows every PAT of the input, each
// with a valid CRC_32; the rest is exactly what pidsift copies.
TEST_F(FrontEndFeatures, SplitProgramWritesAPlayableFile)
{
    const Recording recording = Generate(SampleBroadcast(3000));
    const std::string input = Write("rec.ts", recording.bytes());
    size_t input_pats = 0;
    for (const Packet &packet : recording.packets)
        input_pats += PacketPID(packet) == 0;

    CommandResult result = Tool("pidsift-split", "program rec.ts 0x1f1");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string name = dir.File("rec_1025_0_0.ts");
    EXPECT_EQ(result.out, "Wrote 1 file:\n" + std::string(14 - std::to_string(ReadBytes(name).size()).size(), ' ') +
                              std::to_string(ReadBytes(name).size()) + "  rec_1025_0_0.ts\n");
    const Bytes file = ReadBytes(name);
    ASSERT_GE(file.size(), 188u);
    EXPECT_EQ(PacketPID(Packets(file)[0]), 0) << "the file opens with its PAT";
    const std::vector<Bytes> pats = PATSections(file);
    EXPECT_EQ(pats.size(), input_pats);
    for (const Bytes &section : pats) {
        EXPECT_EQ(Crc32Mpeg2(section.data(), section.size()), 0u) << "CRC_32 of the reduced PAT";
        ASSERT_EQ(section.size(), 8u + 2 * 4 + 4);  // the network entry and the program
        EXPECT_EQ((section[8] << 8) | section[9], 0);
        EXPECT_EQ((section[12] << 8) | section[13], 1025);
        EXPECT_EQ(((section[14] & 0x1F) << 8) | section[15], 0x01F1);
    }
    EXPECT_TRUE(WithoutPID0(file) == recording.ProgramBytes(0x0401));

    // By program number, to standard output: the same bytes.
    result = Tool("pidsift-split", "program rec.ts --program 1025 -o - > piped.ts");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadBytes(dir.File("piped.ts")) == file);

    // A program that no PAT lists: nothing written, a failure that says why.
    result = Tool("pidsift-split", "program rec.ts --program 7 -o none.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: no file written: no PAT of rec.ts lists program 7\n");
    EXPECT_EQ(Files(dir.path()).count("none.ts"), 0u);
    EXPECT_EQ(Tool("pidsift-split", "program rec.ts").status, 2);
    EXPECT_EQ(Tool("pidsift-split", "program rec.ts 0x2000").status, 2);
}

// '-' reads standard input everywhere; files made from it go to the current folder (or -d),
// never next to a device.
TEST_F(FrontEndFeatures, StandardInputAndOutputFolders)
{
    const Recording recording = Generate(SampleBroadcast(2000));
    const std::string input = Write("rec.ts", recording.bytes());
    ASSERT_EQ(mkdir(dir.File("parts").c_str(), 0755), 0);

    EXPECT_EQ(Tool("pidsift-dump", "--pat - < rec.ts").out, Tool("pidsift-dump", "--pat rec.ts").out);
    CommandResult result = Tool("pidsift-split", "programs - < rec.ts");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Files(dir.path()), (std::set<std::string>{"parts", "rec.ts", "stdin_1024_0_0.ts", "stdin_1025_0_0.ts",
                                                         "stdin_1032_0_0.ts"}));
    result = Tool("pidsift-split", "programs rec.ts -d parts");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Files(dir.File("parts")), (std::set<std::string>{"rec_1024_0_0.ts", "rec_1025_0_0.ts", "rec_1032_0_0.ts"}));
    EXPECT_TRUE(ReadBytes(dir.File("parts/rec_1025_0_0.ts")) == ReadBytes(dir.File("stdin_1025_0_0.ts")));
    result = Tool("pidsift-split", "pmt-list - < parts/rec_1025_0_0.ts");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, 34), "Position  CRC_32      Index  Bytes");

    // A folder that is missing is made, with the folders above it.
    result = Tool("pidsift-split", "programs - -d made/deeper/parts < rec.ts");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Files(dir.File("made/deeper/parts")),
              (std::set<std::string>{"stdin_1024_0_0.ts", "stdin_1025_0_0.ts", "stdin_1032_0_0.ts"}));
    EXPECT_TRUE(ReadBytes(dir.File("made/deeper/parts/stdin_1025_0_0.ts")) == ReadBytes(dir.File("stdin_1025_0_0.ts")));
    // A name that is taken by a file is no folder, and none is made below it.
    for (const std::string folder : {"rec.ts", "rec.ts/parts"}) {
        result = Tool("pidsift-split", "program rec.ts 1f0 -d " + folder);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "pidsift-split: cannot use folder " + folder + ": Not a directory\n");
    }
    EXPECT_TRUE(ReadBytes(input) == recording.bytes());
    result = Tool("pidsift-split", "pmt-list - < /dev/null");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: no PMT found: standard input has no PAT that lists a program, or its PMT "
                          "never comes\n");
}

// A tool run in folder on a recording fed through a FIFO that stays open: the run waits for more
// input once it has taken in what it was given, to be interrupted there.
class LiveRun {
public:
    // Starts tool with arguments (shell words); the FIFO is its standard input, standard output
    // goes to output and standard error to errors.txt in folder.
    LiveRun(const std::string &folder, const std::string &tool, const std::string &arguments,
            const std::string &output = "/dev/null")
        : m_folder(folder), m_run(Command(folder, tool, arguments, output)),
          m_feed(open((folder + "/live.ts").c_str(), O_WRONLY))
    {
        EXPECT_GE(m_feed, 0);
    }
    ~LiveRun()
    {
        if (m_feed >= 0)
            close(m_feed);
    }

    void Feed(const Bytes &bytes) { EXPECT_EQ(write(m_feed, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    bool WaitUntil(const std::function<bool(const std::multiset<std::string> &)> &ready) const
    {
        return m_run.WaitUntil(ready);
    }
    // Sends SIGINT; true when the tool ended by it. *said: what it wrote on standard error.
    bool Interrupt(std::string *said)
    {
        const bool ended = m_run.EndedBy(SIGINT);
        EXPECT_TRUE(ReadFile(m_folder + "/errors.txt", said));
        return ended;
    }

private:
    // Makes the FIFO, which the shell opens as the tool's input once the test opens it to feed it.
    static std::string Command(const std::string &folder, const std::string &tool, const std::string &arguments,
                               const std::string &output)
    {
        EXPECT_EQ(mkfifo((folder + "/live.ts").c_str(), 0644), 0);
        return "cd " + Quote(folder) + " && exec " + Quote(ToolBinary(tool)) + " " + arguments + " <live.ts >" +
               Quote(output) + " 2>errors.txt";
    }

    std::string m_folder;
    Background m_run;
    int m_feed;
};

// An interrupted split removes the file it had not finished and says so; the file of a program
// that had left the PAT before was finished and stays whole.
TEST_F(FrontEndFeatures, InterruptedSplitRemovesOnlyUnfinishedFiles)
{
    PacketBuilder builder;
    Recording recording;
    const Bytes both = PATSection(0x7FE0, 0, {{0, 0x10}, {1, 0x0100}, {2, 0x0200}});
    const Bytes second_only = PATSection(0x7FE0, 1, {{0, 0x10}, {2, 0x0200}});
    recording.Add(builder.Section(0, both));
    recording.Add(builder.Section(0x0100, PMTSection(1, 0, 0x0101, {}, {{0x02, 0x0101, {}}})), 1);
    recording.Add(builder.Section(0x0200, PMTSection(2, 0, 0x0201, {}, {{0x02, 0x0201, {}}})), 2);
    for (int i = 0; i < 20; ++i) {
        recording.Add(builder.Payload(0x0101, u8(i)), 1);
        recording.Add(builder.Payload(0x0201, u8(i)), 2);
    }
    recording.Add(builder.Section(0, second_only));
    recording.Add(builder.Payload(0x0201, 0x77), 2);

    LiveRun run(dir.path(), "pidsift-split", "programs -");
    run.Feed(recording.bytes());
    // Wait until the split has taken everything in: program 1's file is closed, program 2's open.
    const std::string first = dir.File("stdin_1_0_0.ts");
    ASSERT_TRUE(run.WaitUntil([&](const std::multiset<std::string> &open) {
        return open.count(dir.File("stdin_2_0_0.ts")) == 1 && open.count(first) == 0 &&
               access(first.c_str(), F_OK) == 0;
    })) << "the split never reached the second PAT";
    std::string said;
    EXPECT_TRUE(run.Interrupt(&said));
    EXPECT_EQ(Files(dir.path()), (std::set<std::string>{"errors.txt", "live.ts", "stdin_1_0_0.ts"}));
    EXPECT_TRUE(WithoutPID0(ReadBytes(first)) == recording.ProgramBytes(1));
    // Standard error is a file: no progress line to erase, and no escape code in it.
    EXPECT_EQ(said, "pidsift-split: interrupted: removed the unfinished stdin_2_0_0.ts\n");
}

// An interruption removes only a file that the run made. Standard output, whatever it leads
// to, and a file that was there before are left, and the message says so.
TEST_F(FrontEndFeatures, InterruptedSplitRemovesNothingItDidNotCreate)
{
    const Bytes head = Generate(SampleBroadcast(1200)).bytes();
    const struct {
        const char *output;    // -o
        const char *redirect;  // standard output, in the folder
        bool exists;           // the output file was there before the run
        bool kept;             // the file written to is still there afterwards
        const char *message;
    } cases[] = {
        {"-", "saved.ts", false, true,
         "pidsift-split: interrupted: the output written to standard output is incomplete\n"},
        {"old.ts", "/dev/null", true, true,
         "pidsift-split: interrupted: left the unfinished old.ts in place: it existed before the split\n"},
        {"new.ts", "/dev/null", false, false, "pidsift-split: interrupted: removed the unfinished new.ts\n"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.output);
        TempDir folder;
        if (each.exists) {
            ASSERT_TRUE(WriteFile(folder.File(each.output), Bytes(5000, 0xAB)));
        }
        const std::string redirect = each.redirect[0] == '/' ? each.redirect : folder.File(each.redirect);
        LiveRun run(folder.path(), "pidsift-split", std::string("program - 1f0 -o ") + each.output, redirect);
        run.Feed(head);
        // The output is open: beside standard output for '-', as the file named otherwise.
        const std::string written = folder.File(each.output[0] == '-' ? each.redirect : each.output);
        const size_t descriptors = each.output[0] == '-' ? 2 : 1;
        ASSERT_TRUE(run.WaitUntil([&](const std::multiset<std::string> &open) {
            return open.count(written) == descriptors;
        })) << "the split never opened its output";
        std::string said;
        EXPECT_TRUE(run.Interrupt(&said));
        EXPECT_EQ(said, each.message);
        struct stat status;
        EXPECT_EQ(stat(written.c_str(), &status) == 0 && S_ISREG(status.st_mode), each.kept);
        EXPECT_EQ(lstat("/dev/stdout", &status), 0) << "the device link was removed";
    }
}

// --changes prints a table only when its bytes change: the sample's PAT once, each PMT before
// and after its change, and says how many repeats it left out.
TEST_F(FrontEndFeatures, DumpOfChangesLeavesRepeatsOut)
{
    const Recording recording = Generate(SampleBroadcast(3000));
    Write("rec.ts", recording.bytes());
    size_t pats = 0, pmts = 0;
    for (const Packet &packet : recording.packets) {
        const u16 pid = PacketPID(packet);
        pats += pid == 0;
        pmts += (pid == 0x01F0 || pid == 0x01F1 || pid == 0x01F8) && (packet[1] & 0x40);
    }
    const CommandResult all = Tool("pidsift-dump", "--pat --pmt rec.ts");
    const CommandResult changes = Tool("pidsift-dump", "--pat --pmt --changes rec.ts");
    ASSERT_EQ(changes.status, 0) << changes.err;
    auto count = [](const std::string &text, const std::string &what) {
        size_t n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count(all.out, "[PAT]"), pats);
    EXPECT_EQ(count(changes.out, "[PAT]"), 1u);
    EXPECT_EQ(count(changes.out, "[PMT]"), 3u * 2);
    const size_t left_out = pats - 1 + pmts - 6;
    const std::string summary = "========================================\nRepeated tables left out: " +
                                std::to_string(left_out) + "\n";
    ASSERT_GE(changes.out.size(), summary.size());
    EXPECT_EQ(changes.out.substr(changes.out.size() - summary.size()), summary);
}

TEST_F(FrontEndFeatures, PidsiftHelpAndVersion)
{
    const std::string usage = "=== Pidsift === v1.00\n"
                              "Filt to one program from multi-program MPEG-2 TS file and output file.\n"
                              "Usage: pidsift <input TS filename> [<PID> <output TS filename>]\n"
                              "To check PID, <input TS filename> only to parameter.\n";
    CommandResult result = RunCommand(Quote(PidsiftBinary()) + " --help");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, usage);
    EXPECT_EQ(result.err, "");
    result = RunCommand(Quote(PidsiftBinary()) + " --version");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "pidsift " PIDSIFT_TEST_VERSION "\n");
    // Anything else stays as it was: a missing file is still reported as before.
    result = RunCommand(Quote(PidsiftBinary()) + " " + Quote(dir.File("--helpx")));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Failed open " + dir.File("--helpx") + ".\n");
}

// pidsift shows its progress while filtering, on a terminal only, and erases it before it
// prints anything else.
TEST_F(FrontEndFeatures, PidsiftProgressWhileFiltering)
{
    const std::string input = Write("rec.ts", Generate(SampleBroadcast(1500)).bytes());
    CommandResult result = RunCommand(Quote(PidsiftBinary()) + " " + Quote(input) + " 1f0 " + Quote(dir.File("a.ts")));
    EXPECT_EQ(result.err, "");
    if (access("/usr/bin/script", X_OK) != 0)
        GTEST_SKIP() << "no script(1) to run the tool on a terminal";
    const std::string command = Quote(PidsiftBinary()) + " " + Quote(input) + " 1f5 " + Quote(dir.File("b.ts"));
    result = RunCommand("/usr/bin/script -qec " + Quote(command) + " /dev/null");
    EXPECT_NE(result.out.find(" bytes\r"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\r\033[KError: invalid PID.\r\n"), std::string::npos) << result.out;
}

// The progress line is redrawn at most every tenth of a second, and always at the end.
TEST(ProgressThrottle, AtMostTenRedrawsASecond)
{
    front_end::ProgressThrottle throttle;
    const u64 ms = 1'000'000;
    EXPECT_TRUE(throttle.Due(1000 * ms, false));
    EXPECT_FALSE(throttle.Due(1001 * ms, false));
    EXPECT_FALSE(throttle.Due(1099 * ms, false));
    EXPECT_TRUE(throttle.Due(1100 * ms, false));
    EXPECT_TRUE(throttle.Due(1101 * ms, true));
    // A read every millisecond for two seconds: about twenty redraws, not two thousand.
    int drawn = 0;
    for (u64 t = 2000; t < 4000; ++t)
        drawn += throttle.Due(t * ms, false);
    EXPECT_EQ(drawn, 20);
}

}  // namespace
