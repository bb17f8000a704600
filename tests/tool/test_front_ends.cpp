// pidsift-dump and pidsift-split end to end: options, exit statuses, messages, the progress line,
// and the installed library with its CMake package.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <regex>
#include <string>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;

std::string Size(const std::string &path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? std::to_string(status.st_size) : "-";
}

// The line pidsift-split prints for a file it wrote: the size right-aligned in 14 columns.
std::string FileLine(const std::string &path)
{
    char line[64];
    snprintf(line, sizeof line, "%14s  ", Size(path).c_str());
    return line + path + "\n";
}

class FrontEnds : public ::testing::Test {
protected:
    CommandResult Dump(const std::string &arguments) { return RunCommand(Quote(ToolBinary("pidsift-dump")) + " " + arguments); }
    CommandResult Split(const std::string &arguments) { return RunCommand(Quote(ToolBinary("pidsift-split")) + " " + arguments); }
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    // A single-program recording with a PMT change half-way.
    std::string SingleProgram(const std::string &name)
    {
        BroadcastSpec mux = SampleBroadcast(3000);
        mux.programs.resize(2);
        mux.programs.erase(mux.programs.begin());  // the scrambled one, 0x0401
        return Write(name, Generate(mux).bytes());
    }

    TempDir dir;
};

TEST_F(FrontEnds, HelpAndVersion)
{
    for (const char *tool : {"pidsift-dump", "pidsift-split"}) {
        SCOPED_TRACE(tool);
        const std::string binary = Quote(ToolBinary(tool));
        for (const char *option : {" --help", " -h"}) {
            const CommandResult help = RunCommand(binary + option);
            EXPECT_EQ(help.status, 0);
            EXPECT_EQ(help.out.rfind(std::string("Usage: ") + tool, 0), 0u);
            EXPECT_NE(help.out.find("Exit status"), std::string::npos);
            EXPECT_EQ(help.err, "");
        }
        const CommandResult version = RunCommand(binary + " --version");
        EXPECT_EQ(version.status, 0);
        EXPECT_TRUE(std::regex_match(version.out, std::regex(std::string(tool) + " [0-9]+\\.[0-9]+\\.[0-9]+\n")))
            << version.out;
    }
}

TEST_F(FrontEnds, UsageErrorsExitWithTwo)
{
    const std::string input = Write("in.ts", Generate(SampleBroadcast(500)).bytes());
    const std::string file = Quote(input);
    const struct {
        bool dump;
        std::string arguments;
        const char *message;
    } cases[] = {
        {true, "", "no FILE given"},
        {true, "--pat", "no FILE given"},
        {true, "--bogus " + file, "unknown option '--bogus'"},
        {true, "--mask 0x200 " + file, "invalid mask '0x200'"},
        {true, "--mask 12a " + file, "invalid mask '12a'"},
        {true, "--mask 0x " + file, "invalid mask '0x'"},
        {true, file + " --mask", "--mask needs a number"},
        {true, file + " " + file, "one FILE only"},
        {false, "", "no command given"},
        {false, "cut " + file, "unknown command 'cut'"},
        {false, "programs", "programs needs a FILE"},
        {false, "programs --crc 1 " + file, "unknown option '--crc' for programs"},
        {false, "pmt " + file + " --crc", "--crc needs the CRC_32 of a PMT"},
        {false, "pmt " + file + " --crc 123456789", "invalid CRC_32 '123456789'"},
        {false, "pmt " + file + " --crc 0xG1", "invalid CRC_32 '0xG1'"},
        {false, "pmt " + file + " -o out.ts", "-o needs --crc"},
        {false, "pmt-list " + file + " " + file, "one FILE only"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.arguments);
        const CommandResult result = each.dump ? Dump(each.arguments) : Split(each.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(each.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
}

TEST_F(FrontEnds, DumpSelectionsGiveTheLibrarysText)
{
    const std::string input = Write("in.ts", Generate(SampleBroadcast(1200)).bytes());
    const auto library = [&](int mask) { return CaptureStdout([&] { EXPECT_EQ(TS_Print(input.c_str(), mask), 0); }); };

    const CommandResult plain = Dump(Quote(input));
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out, library(TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PIDS));

    const std::string pat_pmt = library(TS_PRINT_PAT | TS_PRINT_PMT);
    for (const char *selection : {"--pat --pmt", "--pmt --pat --pat", "--mask 0xA", "--mask 10", "--mask=0x0a", "--pat --mask 8"}) {
        SCOPED_TRACE(selection);
        const CommandResult result = Dump(std::string(selection) + " " + Quote(input));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, pat_pmt);
    }
    const CommandResult everything = Dump("-- " + Quote(input) + " --all");  // after --, a FILE
    EXPECT_EQ(everything.status, 2);
    const CommandResult all = Dump(Quote(input) + " --all");
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.out, library(0x1FF));
    EXPECT_EQ(Dump("--mask 0 " + Quote(input)).out, "");
}

TEST_F(FrontEnds, DumpFailures)
{
    const std::string missing = dir.File("missing.ts");
    CommandResult result = Dump(Quote(missing));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-dump: cannot open " + missing + ": No such file or directory\n");
    result = Dump(Quote(dir.path()));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-dump: cannot read " + dir.path() + ": Is a directory\n");
    // The text cannot be written: a failure, not success.
    const std::string input = Write("in.ts", Generate(SampleBroadcast(500)).bytes());
    result = RunCommand("{ " + Quote(ToolBinary("pidsift-dump")) + " --all " + Quote(input) + " >/dev/full; }");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "Error: Failed write standard output.\n");
}

TEST_F(FrontEnds, SplitProgramsListsTheFilesWritten)
{
    const std::string input = Write("rec.ts", Generate(SampleBroadcast(2000)).bytes());
    const CommandResult result = Split("programs " + Quote(input));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "Wrote 3 files:\n" + FileLine(dir.File("rec_1024_0_0.ts")) + FileLine(dir.File("rec_1025_0_0.ts")) +
                              FileLine(dir.File("rec_1032_0_0.ts")));
    EXPECT_NE(Size(dir.File("rec_1025_0_0.ts")), "0");

    // Nothing to split: a failure that a script notices, said on standard error.
    const std::string empty = Write("empty.ts", {});
    const CommandResult nothing = Split("programs " + Quote(empty));
    EXPECT_EQ(nothing.status, 1);
    EXPECT_EQ(nothing.out, "");
    EXPECT_EQ(nothing.err, "pidsift-split: no file written: no PAT of " + empty + " lists a program\n");
}

TEST_F(FrontEnds, SplitPMTListAndPMT)
{
    const std::string input = SingleProgram("one.ts");
    auto list = std::make_unique<TS_PMTSplitList>();
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), input.c_str()), 0);
    ASSERT_EQ(list->u16Count, 2);

    CommandResult result = Split("pmt-list " + Quote(input));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::string expected = "Position  CRC_32      Index  Bytes\n";
    for (u16 i = 0; i < list->u16Count; ++i) {
        char line[96];
        snprintf(line, sizeof line, "%8u  0x%08X  %5u  %llu\n", unsigned(i), list->ltSplit[i].u32CRC,
                 unsigned(list->ltSplit[i].u16Index), (unsigned long long)list->ltSplit[i].u64Bytes);
        expected += line;
    }
    EXPECT_EQ(result.out, expected);

    char first[16], second[16];
    snprintf(first, sizeof first, "%08X", list->ltSplit[0].u32CRC);
    snprintf(second, sizeof second, "%08X", list->ltSplit[1].u32CRC);
    result = Split("pmt " + Quote(input));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Wrote 2 files:\n" + FileLine(dir.File(std::string("one_") + first + ".ts")) +
                              FileLine(dir.File(std::string("one_") + second + ".ts")));
    EXPECT_EQ(Size(dir.File(std::string("one_") + second + ".ts")), std::to_string(list->ltSplit[1].u64Bytes));

    const std::string output = dir.File("part.ts");
    result = Split("pmt " + Quote(input) + " --crc 0x" + std::string(first) + " -o " + Quote(output));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Wrote 1 file:\n" + FileLine(output));
    EXPECT_EQ(Size(output), std::to_string(list->ltSplit[0].u64Bytes));

    result = Split("pmt " + Quote(input) + " --crc deadbeef");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "pidsift-split: no file written: no PMT with CRC_32 0xDEADBEEF in " + input + "\n");

    // The input named as output is refused before it could be touched.
    const Bytes before = ReadBytes(input);
    result = Split("pmt --crc " + std::string(first) + " " + Quote(input) + " --output " + Quote(dir.path() + "/./one.ts"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: will not write " + dir.path() + "/./one.ts: it is the input file\n");
    EXPECT_TRUE(ReadBytes(input) == before);

    // A multiplex of several programs is refused by both.
    const std::string multi = Write("multi.ts", Generate(SampleBroadcast(500)).bytes());
    for (const char *command : {"pmt-list ", "pmt "}) {
        result = Split(command + Quote(multi));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "pidsift-split: the PAT of " + multi +
                                  " lists more than one program; split it with 'pidsift-split programs' first\n");
    }
}

TEST_F(FrontEnds, ReadOnlyOutputFolder)
{
    const std::string input = Write("rec.ts", Generate(SampleBroadcast(800)).bytes());
    const std::string single = SingleProgram("one.ts");

    // Reached through /proc, the input's folder takes no new file, whoever runs the tool.
    CommandResult result = Split("programs /proc/self/fd/3 3<" + Quote(input));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot create /proc/self/fd/3_1024_0_0.ts: No such file or directory\n");
    EXPECT_EQ(result.out, "");
    auto list = std::make_unique<TS_PMTSplitList>();
    ASSERT_EQ(TS_CheckPMTSplit(list.get(), single.c_str()), 0);
    char name[64];
    snprintf(name, sizeof name, "/proc/self/fd/3_%08X.ts", list->ltSplit[0].u32CRC);
    result = Split("pmt /proc/self/fd/3 3<" + Quote(single));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot create " + std::string(name) + ": No such file or directory\n");

    // A folder without write permission, the tool run by an ordinary user.
    const std::string folder = dir.File("readonly");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    const std::string locked = folder + "/rec.ts";
    ASSERT_TRUE(WriteFile(locked, ReadBytes(input)));
    chmod(locked.c_str(), 0644);
    chmod(folder.c_str(), 0555);
    chmod(dir.path().c_str(), 0755);
    std::string as_user;
    if (geteuid() == 0) {
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root without setpriv";
        as_user = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    result = RunCommand(as_user + Quote(ToolBinary("pidsift-split")) + " programs " + Quote(locked));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot create " + folder + "/rec_1024_0_0.ts: Permission denied\n");
    // Nor does it take a folder for the files: the first one that cannot be made is named.
    result = RunCommand(as_user + Quote(ToolBinary("pidsift-split")) + " programs " + Quote(locked) + " -d " +
                        Quote(folder + "/parts/1"));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot create folder " + folder + "/parts: Permission denied\n");
    chmod(folder.c_str(), 0755);
}

TEST_F(FrontEnds, ProgressLineOnlyOnATerminal)
{
    const std::string input = Write("rec.ts", Generate(SampleBroadcast(800)).bytes());
    // Not a terminal: standard error stays empty.
    EXPECT_EQ(Split("programs " + Quote(input)).err, "");
    if (access("/usr/bin/script", X_OK) != 0)
        GTEST_SKIP() << "no script(1) to run the tool on a terminal";
    // On a terminal: "100% ... bytes", then erased before the report.
    const std::string command = Quote(ToolBinary("pidsift-split")) + " programs " + Quote(input);
    const CommandResult result = RunCommand("/usr/bin/script -qec " + Quote(command) + " /dev/null");
    EXPECT_EQ(result.status, 0);
    const std::string size = Size(input);
    EXPECT_NE(result.out.find("100% " + size + " of " + size + " bytes\r"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\r\033[KWrote 3 files:"), std::string::npos) << result.out;
}

// The program that README.md shows first for listing programs through the library: the one
// that reads a pipe through <pidsift/demux.h>.
std::string ReadmeProgram()
{
    std::string readme;
    EXPECT_TRUE(ReadFile(std::string(PIDSIFT_SOURCE_DIR) + "/README.md", &readme));
    const size_t start = readme.find("```cpp\n");
    if (start == std::string::npos)
        return "";
    const size_t end = readme.find("```", start + 7);
    return readme.substr(start + 7, end - start - 7);
}

TEST(Install, PackageServesTheReadmeProgram)
{
#ifdef PIDSIFT_SANITIZED
    GTEST_SKIP() << "an instrumented library is not installed for other programs";
#endif
    TempDir dir;
    const std::string prefix = dir.File("prefix");
    const std::string cmake = Quote(PIDSIFT_CMAKE_COMMAND);
    CommandResult result = RunCommand(cmake + " --install " + Quote(PIDSIFT_BINARY_DIR) + " --prefix " + Quote(prefix));
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    for (const char *tool : {"pidsift", "pidsift-dump", "pidsift-split"})
        EXPECT_EQ(access((prefix + "/bin/" + tool).c_str(), X_OK), 0) << tool;
    EXPECT_EQ(access((prefix + "/include/pidsift/ts.h").c_str(), R_OK), 0);
    EXPECT_EQ(access((prefix + "/include/pidsift/demux.h").c_str(), R_OK), 0);

    const std::string program = ReadmeProgram();
    ASSERT_NE(program, "");
    ASSERT_LE(std::count(program.begin(), program.end(), '\n'), 24);
    const std::string project = dir.File("consumer");
    ASSERT_EQ(mkdir(project.c_str(), 0755), 0);
    std::ofstream(project + "/main.cpp") << program;
    std::ofstream(project + "/CMakeLists.txt") << "cmake_minimum_required(VERSION 3.20)\n"
                                                  "project(list_programs CXX)\n"
                                                  "set(CMAKE_CXX_STANDARD 20)\n"
                                                  "find_package(pidsift 1 REQUIRED)\n"
                                                  "add_executable(list_programs main.cpp)\n"
                                                  "target_link_libraries(list_programs PRIVATE pidsift::transport_stream)\n";
    result = RunCommand("{ " + cmake + " -S " + Quote(project) + " -B " + Quote(project + "/build") +
                        " -DCMAKE_PREFIX_PATH=" + Quote(prefix) + " -DCMAKE_CXX_COMPILER=" + Quote(PIDSIFT_CXX_COMPILER) +
                        " && " + cmake + " --build " + Quote(project + "/build") + "; }");
    ASSERT_EQ(result.status, 0) << result.out << result.err;

    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, Generate(SampleBroadcast(500)).bytes()));
    result = RunCommand("{ cat " + Quote(input) + " | " + Quote(project + "/build/list_programs") + "; }");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "program 1024: PMT PID 0x01F0, PCR PID 0x0111, 3 streams\n"
                          "program 1025: PMT PID 0x01F1, PCR PID 0x0121, 3 streams\n"
                          "program 1032: PMT PID 0x01F8, PCR PID 0x01FF, 3 streams\n");
}

}  // namespace
