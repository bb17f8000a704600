// What the front ends give a recorder user beyond the library: a playable one-program file,
// standard input and output folders, an interrupted split that cleans up after itself, the
// dump of table changes, pidsift's help and version, and a progress line that stays calm.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

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

    result = Tool("pidsift-split", "programs rec.ts -d missing");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot use folder missing: No such file or directory\n");
    result = Tool("pidsift-split", "pmt-list - < /dev/null");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: no PMT found: standard input has no PAT that lists a program, or its PMT "
                          "never comes\n");
}

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

    const std::string fifo = dir.File("live.ts");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const std::string errors = dir.File("errors.txt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int in = open(fifo.c_str(), O_RDONLY);
        const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, STDIN_FILENO);
        dup2(err, STDERR_FILENO);
        if (chdir(dir.path().c_str()) != 0)
            _exit(99);
        const std::string tool = ToolBinary("pidsift-split");
        execl(tool.c_str(), tool.c_str(), "programs", "-", static_cast<char *>(nullptr));
        _exit(98);
    }
    const int out = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(out, 0);
    const Bytes bytes = recording.bytes();
    ASSERT_EQ(write(out, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    // Wait until the split has taken everything in: program 1's file is closed, program 2's open.
    const std::string first = dir.File("stdin_1_0_0.ts");
    bool ready = false;
    for (int tries = 0; tries < 500 && !ready; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        bool first_open = false, second_open = false;
        const std::string fds = "/proc/" + std::to_string(child) + "/fd";
        DIR *listing = opendir(fds.c_str());
        for (dirent *entry; listing != nullptr && (entry = readdir(listing)) != nullptr;) {
            char target[4096];
            const ssize_t n = readlink((fds + "/" + entry->d_name).c_str(), target, sizeof target - 1);
            if (n <= 0)
                continue;
            target[n] = '\0';
            first_open = first_open || std::string(target) == first;
            second_open = second_open || std::string(target) == dir.File("stdin_2_0_0.ts");
        }
        if (listing != nullptr)
            closedir(listing);
        ready = second_open && !first_open && access(first.c_str(), F_OK) == 0;
    }
    ASSERT_TRUE(ready) << "the split never reached the second PAT";
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    close(out);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(Files(dir.path()), (std::set<std::string>{"errors.txt", "live.ts", "stdin_1_0_0.ts"}));
    EXPECT_TRUE(WithoutPID0(ReadBytes(first)) == recording.ProgramBytes(1));
    std::string said;
    ASSERT_TRUE(ReadFile(errors, &said));
    EXPECT_EQ(said, "\r\033[Kpidsift-split: interrupted: removed the unfinished stdin_2_0_0.ts\n");
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
