// I/O faults: the tools and drivers run with a preloaded shim that makes reads and writes fail,
// fall short, be interrupted or find the device full. Every failure must be reported with its
// message and result code (exit status 1 for the front ends); nothing may be reported as success,
// and no output may be left in place as if it were complete. Short and interrupted calls are
// completed, and the result is then the same as without them.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "background.h"
#include "io/io.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;

using Faults = std::map<std::string, std::string>;

std::string ShimPath() { return ToolBinary("libio_fault_shim.so"); }

// The environment that preloads the shim with the given settings (PIDSIFT_FAULT_ names less
// their prefix). A sanitizer runtime must be told that it does not come first.
std::string WithFaults(const Faults &faults)
{
    std::string prefix = "env LD_PRELOAD=" + Quote(ShimPath()) + " ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0";
    for (const auto &[name, value] : faults)
        prefix += " PIDSIFT_FAULT_" + name + "=" + Quote(value);
    return prefix + " ";
}

class IOFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(access(ShimPath().c_str(), R_OK), 0) << "the fault shim is not built";
        Bytes bytes;
        GenerateBroadcast(SampleBroadcast(6000), [&](const Packet &packet, u16) { Append(&bytes, packet); });
        input = dir.File("in.ts");
        ASSERT_TRUE(WriteFile(input, bytes));
        // One program behind a network entry whose PMT changes: what the PMT split takes.
        BroadcastSpec single;
        single.programs = {{0x0400, 0x01F0, 0x0111, 0x0112, 0x0130, 0, 6, 1}};
        single.packet_count = 6000;
        single.psi_interval = 100;
        single.pmt_change_at = 3000;
        Bytes one;
        GenerateBroadcast(single, [&](const Packet &packet, u16) { Append(&one, packet); });
        channel = dir.File("channel.ts");
        ASSERT_TRUE(WriteFile(channel, one));
    }

    CommandResult Pidsift(const Faults &faults, const std::string &arguments)
    {
        return RunCommand(WithFaults(faults) + Quote(PidsiftBinary()) + " " + arguments);
    }
    CommandResult Probe(const Faults &faults, const std::string &arguments)
    {
        return RunCommand(WithFaults(faults) + Quote(ToolBinary("fault_probe")) + " " + arguments + " >/dev/null");
    }
    CommandResult Tool(const std::string &tool, const Faults &faults, const std::string &arguments)
    {
        return RunCommand("cd " + Quote(dir.path()) + " && " + WithFaults(faults) + Quote(ToolBinary(tool)) + " " + arguments);
    }

    // Names in the scratch folder, so that a test can see that nothing was left behind.
    std::vector<std::string> Files()
    {
        std::vector<std::string> names;
        DIR *folder = opendir(dir.path().c_str());
        while (const dirent *entry = folder != nullptr ? readdir(folder) : nullptr)
            if (entry->d_name[0] != '.' || std::string(entry->d_name).find("pidsift") != std::string::npos)
                if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                    names.push_back(entry->d_name);
        if (folder != nullptr)
            closedir(folder);
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir dir;
    std::string input;
    std::string channel;
};

// Settings that each make a write of the output fail part-way: the first write, the third call
// once writes have been cut short, a device full after 50,000 bytes, a write that moves nothing,
// and a close that reports a delayed error.
const std::vector<Faults> kWriteFailures = {
    {{"WRITE_FAIL_AT", "1"}},
    {{"WRITE_SHORT", "1000"}, {"WRITE_FAIL_AT", "3"}, {"ERRNO", "EIO"}},
    {{"WRITE_LIMIT", "50000"}},
    {{"WRITE_ZERO_AT", "2"}, {"WRITE_SHORT", "4096"}},
    {{"CLOSE_FAIL", "1"}},
};

TEST_F(IOFaults, PidsiftReportsFailedWrites)
{
    const std::string output = dir.File("out.ts");
    const CommandResult clean = Pidsift({}, Quote(input) + " 1f0 " + Quote(output));
    ASSERT_EQ(clean.status, 0) << clean.err;
    const Bytes expected = ReadBytes(output);
    ASSERT_GT(expected.size(), 100000u);
    unlink(output.c_str());
    const std::vector<std::string> before = Files();

    for (Faults faults : kWriteFailures) {
        faults["PATH"] = "out.ts";
        SCOPED_TRACE(faults.begin()->first);
        // No output before: none after.
        CommandResult result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(output));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: Failed write " + output + ".\n");
        EXPECT_EQ(Files(), before);
        // An earlier output is written in place, as opening it for writing would: truncated,
        // then what was written before the failure, never more than the good run writes.
        ASSERT_TRUE(WriteFile(output, {1, 2, 3}));
        result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(output));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: Failed write " + output + ".\n");
        const Bytes partial = ReadBytes(output);
        EXPECT_LE(partial.size(), expected.size());
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), expected.begin()));
        unlink(output.c_str());
    }

    // An output reached through a link is written in place: the failure is reported all the same.
    const std::string target = dir.File("target.ts");
    const std::string link = dir.File("link.ts");
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    for (Faults faults : kWriteFailures) {
        faults["PATH"] = "target.ts";
        SCOPED_TRACE(faults.begin()->first);
        const CommandResult result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(link));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: Failed write " + link + ".\n");
    }

    // A full device, the real one.
    const CommandResult full = Pidsift({}, Quote(input) + " 1f0 /dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "Error: Failed write /dev/full.\n");
}

// An output of many blocks on a slow device whose writes come short: while the write thread is
// still on the third block the run has handed over the next ones. One write fails there, and
// nothing after it reaches the file: it holds the first two blocks and the part of the third
// written before the failure, the start of the clean output and no byte more.
TEST_F(IOFaults, NothingIsWrittenAfterAFailedWrite)
{
    BroadcastSpec mux = SampleBroadcast(100000);
    mux.psi_interval = 1000;
    Bytes bytes;
    GenerateBroadcast(mux, [&](const Packet &packet, u16) { Append(&bytes, packet); });
    ASSERT_TRUE(WriteFile(dir.File("long.ts"), bytes));
    const CommandResult clean = Tool("pidsift-split", {}, "program long.ts 1f0 -o out.ts");
    ASSERT_EQ(clean.status, 0) << clean.err;
    const Bytes expected = ReadBytes(dir.File("out.ts"));
    ASSERT_GT(expected.size(), 6u * TS_WRITER_BLOCK);

    constexpr u64 kWrite = 65536;  // 16 writes a block: the 40th is the 8th of the third block
    const Faults slow = {{"PATH", "out.ts"},
                         {"WRITE_SHORT", std::to_string(kWrite)},
                         {"WRITE_DELAY_US", "10000"},
                         {"WRITE_FAIL_AT", "40"}};
    const CommandResult failed = Tool("pidsift-split", slow, "program long.ts 1f0 -o out.ts");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "pidsift-split: cannot write out.ts: Input/output error\n");
    const std::string written = std::to_string(2 * TS_WRITER_BLOCK + 7 * kWrite);
    EXPECT_EQ(failed.out, "Wrote 1 file:\n" + std::string(14 - written.size(), ' ') + written + "  out.ts\n");
    const Bytes partial = ReadBytes(dir.File("out.ts"));
    ASSERT_EQ(std::to_string(partial.size()), written);
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), expected.begin()));
}

// An existing plain file takes the program in the same single read of the input as a new one:
// staged beside it, then copied over it, where there is room for both. The copy is made by the
// file system or, where it cannot copy between files, through memory; a write that fails there
// leaves the output cut where the failure came, the start of the program, and no temporary file.
TEST_F(IOFaults, PidsiftCopiesIntoAnExistingOutput)
{
    const std::string output = dir.File("out.ts");
    ASSERT_EQ(Pidsift({}, Quote(input) + " 1f0 " + Quote(output)).status, 0);
    const Bytes expected = ReadBytes(output);
    ASSERT_GT(expected.size(), 100000u);
    const Bytes before(expected.size() + 300000, 0xEE);

    // A second read of the input fails: the run reads it once.
    const std::string once = std::to_string(ReadBytes(input).size() + 1);
    // PATH /out.ts: the output, not the temporary file beside it (/.out.ts.pidsift-...).
    const std::vector<Faults> completed = {
        {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", once}},
        {{"PATH", "/out.ts"}, {"WRITE_SHORT", "70000"}, {"EINTR", "2"}},
        {{"PATH", "/out.ts"}, {"COPY_UNSUPPORTED", "1"}, {"WRITE_SHORT", "70000"}, {"EINTR", "2"}},
    };
    for (const Faults &faults : completed) {
        SCOPED_TRACE(faults.rbegin()->first);
        ASSERT_TRUE(WriteFile(output, before));
        const CommandResult result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(output));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(ReadBytes(output) == expected);
    }

    // A device with room for the program once but not twice: no temporary file beside the output,
    // which is written in place after a listing pass.
    ASSERT_TRUE(WriteFile(output, Bytes(expected.size(), 0xEE)));
    const std::string room = std::to_string(expected.size() + 10000);
    CommandResult result =
        Pidsift({{"PATH", dir.path()}, {"ROOM", room}, {"WRITE_LIMIT", room}}, Quote(input) + " 1f0 " + Quote(output));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(ReadBytes(output) == expected);

    for (const std::string copy : {"0", "1"}) {
        SCOPED_TRACE(copy);
        ASSERT_TRUE(WriteFile(output, before));
        const std::vector<std::string> files = Files();
        result = Pidsift({{"PATH", "/out.ts"}, {"COPY_UNSUPPORTED", copy}, {"WRITE_LIMIT", "50000"}},
                         Quote(input) + " 1f0 " + Quote(output));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "Error: Failed write " + output + ".\n");
        EXPECT_TRUE(ReadBytes(output) == Bytes(expected.begin(), expected.begin() + 50000));
        EXPECT_EQ(Files(), files);
    }
}

// An existing output that holds the program, or a start of it, takes only the bytes it lacks: the
// run compares the program with it as it goes and stages from the first byte that differs, or
// from where it ends. Any write into the output fails here, or the room is exactly what the
// missing bytes need, so a run that wrote one byte more than that fails.
TEST_F(IOFaults, PidsiftWritesOnlyWhatAnExistingOutputLacks)
{
    BroadcastSpec mux = SampleBroadcast(40000);
    mux.psi_interval = 1000;
    Bytes bytes;
    GenerateBroadcast(mux, [&](const Packet &packet, u16) { Append(&bytes, packet); });
    const std::string long_input = dir.File("long.ts");
    ASSERT_TRUE(WriteFile(long_input, bytes));
    const std::string output = dir.File("out.ts");
    const std::string arguments = Quote(long_input) + " 1f0 " + Quote(output);
    ASSERT_EQ(Pidsift({}, arguments).status, 0);
    const Bytes expected = ReadBytes(output);
    ASSERT_GT(expected.size(), 2u * TS_WRITER_BLOCK);
    const std::string failure = "Error: Failed write " + output + ".\n";

    struct stat before = {};
    ASSERT_EQ(stat(output.c_str(), &before), 0);
    // An old modification time, which a write moves on.
    const timespec long_ago[2] = {{1000000000, 0}, {1000000000, 0}};
    auto age = [&] { ASSERT_EQ(utimensat(AT_FDCWD, output.c_str(), long_ago, 0), 0); };
    auto expect_written = [&](const Bytes &content) {
        struct stat after = {};
        ASSERT_EQ(stat(output.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_GT(after.st_mtim.tv_sec, long_ago[1].tv_sec);
        EXPECT_TRUE(ReadBytes(output) == content);
    };
    // PATH /out.ts: the output, not the temporary file beside it (/.out.ts.pidsift-...).
    const Faults no_write = {{"PATH", "/out.ts"}, {"WRITE_FAIL_AT", "1"}};

    // The same program, and the program followed by more bytes: nothing to write but the cut.
    Bytes longer = expected;
    longer.insert(longer.end(), 5000, 0x47);
    for (const Bytes &existing : {expected, longer}) {
        ASSERT_TRUE(WriteFile(output, existing));
        age();
        const CommandResult result = Pidsift(no_write, arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        expect_written(expected);
    }

    // A start of the program, cut inside the second block, and the program with one byte changed
    // there: exactly the bytes from there on are written; one byte less of room fails the run,
    // which leaves the output one byte short of the program.
    const size_t place = TS_WRITER_BLOCK + TS_WRITER_BLOCK / 2 + 5;
    Bytes changed = expected;
    changed[place] ^= 0x01;
    const Bytes start(expected.begin(), expected.begin() + long(place));
    for (const Bytes &existing : {start, changed}) {
        const std::string missing = std::to_string(expected.size() - place);
        const std::string one_less = std::to_string(expected.size() - place - 1);
        ASSERT_TRUE(WriteFile(output, existing));
        age();
        CommandResult result = Pidsift({{"PATH", "/out.ts"}, {"WRITE_LIMIT", missing}}, arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        expect_written(expected);

        ASSERT_TRUE(WriteFile(output, existing));
        result = Pidsift({{"PATH", "/out.ts"}, {"WRITE_LIMIT", one_less}}, arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, failure);
        EXPECT_TRUE(ReadBytes(output) == Bytes(expected.begin(), expected.end() - 1));
    }

    // A PID no PAT lists: the output keeps its bytes and its time, and no temporary file stays.
    ASSERT_TRUE(WriteFile(output, changed));
    age();
    const std::vector<std::string> files = Files();
    const CommandResult refused = Pidsift(no_write, Quote(long_input) + " 1234 " + Quote(output));
    EXPECT_EQ(refused.status, 255);
    EXPECT_EQ(refused.err, "Error: invalid PID.\n");
    struct stat untouched = {};
    ASSERT_EQ(stat(output.c_str(), &untouched), 0);
    EXPECT_EQ(untouched.st_mtim.tv_sec, long_ago[1].tv_sec);
    EXPECT_TRUE(ReadBytes(output) == changed);
    EXPECT_EQ(Files(), files);
}

// An interruption while the staged program is copied over an existing output stops the copy
// and cuts the output there: it holds the start of the program and nothing of what it held
// before, and no temporary file is left.
TEST_F(IOFaults, PidsiftInterruptedWhileCopyingLeavesTheStartOfTheProgram)
{
    const std::string output = dir.File("out.ts");
    ASSERT_EQ(Pidsift({}, Quote(input) + " 1f0 " + Quote(output)).status, 0);
    const Bytes expected = ReadBytes(output);
    ASSERT_TRUE(WriteFile(output, Bytes(expected.size() + 300000, 0xEE)));
    const std::vector<std::string> files = Files();

    // Slow short writes to the output alone: the copy lasts long enough to be caught at it.
    const Faults slow = {{"PATH", "/out.ts"}, {"WRITE_SHORT", "4096"}, {"WRITE_DELAY_US", "5000"}};
    Background run("exec " + WithFaults(slow) + Quote(PidsiftBinary()) + " " + Quote(input) + " 1f0 " + Quote(output) +
                   " 2>" + Quote(dir.File("errors.txt")));
    // The copy has begun once the temporary file's name is gone and its bytes are still open.
    ASSERT_TRUE(run.WaitUntil([](const std::multiset<std::string> &open) {
        for (const std::string &path : open)
            if (path.find("/.out.ts.pidsift-") != std::string::npos && path.find(" (deleted)") != std::string::npos)
                return true;
        return false;
    })) << "the run never copied its program into the output";
    EXPECT_TRUE(run.EndedBy(SIGINT));
    const Bytes cut = ReadBytes(output);
    EXPECT_LT(cut.size(), expected.size());
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), expected.begin()));
    EXPECT_EQ(ReadBytes(dir.File("errors.txt")).size(), 0u);
    unlink(dir.File("errors.txt").c_str());
    EXPECT_EQ(Files(), files);
}

TEST_F(IOFaults, PidsiftReportsReadErrorsInTheMiddleOfTheInput)
{
    const std::string output = dir.File("out.ts");
    const Faults faults = {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "300000"}};
    const std::string message = "Error: Failed read " + input + ".\n";

    CommandResult result = Pidsift(faults, Quote(input));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;

    const std::vector<std::string> before = Files();
    result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(output));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message);
    EXPECT_EQ(Files(), before);

    ASSERT_TRUE(WriteFile(output, {7}));
    result = Pidsift(faults, Quote(input) + " 1f0 " + Quote(output));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(ReadBytes(output) == Bytes({7}));

    // Through the two-pass path (an output that cannot be staged), a read error is reported too:
    // in the listing pass, and in the extraction pass after a listing that read the whole file.
    result = Pidsift({{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "0"}, {"ERRNO", "EIO"}}, Quote(input) + " 1f0 /dev/null");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message);
    const std::string link = dir.File("link.ts");
    ASSERT_EQ(symlink(dir.File("target.ts").c_str(), link.c_str()), 0);
    const std::string second_pass = std::to_string(ReadBytes(input).size() + 100000);
    result = Pidsift({{"PATH", "in.ts"}, {"READ_FAIL_AFTER", second_pass}}, Quote(input) + " 1f0 " + Quote(link));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, message);
}

TEST_F(IOFaults, ShortAndInterruptedCallsAreCompleted)
{
    const std::string output = dir.File("out.ts");
    ASSERT_EQ(Pidsift({}, Quote(input) + " 1f1 " + Quote(output)).status, 0);
    const Bytes expected = ReadBytes(output);
    const std::vector<Faults> completed = {
        {{"PATH", "out.ts"}, {"WRITE_SHORT", "1"}},
        {{"PATH", "out.ts"}, {"WRITE_SHORT", "1000"}, {"EINTR", "3"}},
        {{"PATH", "in.ts"}, {"READ_SHORT", "999"}},
        {{"PATH", "in.ts"}, {"READ_SHORT", "1"}},
        {{"PATH", "in.ts"}, {"EINTR", "5"}},
        {{"PATH", ".ts"}, {"EINTR", "2"}, {"READ_SHORT", "65536"}, {"WRITE_SHORT", "188"}},
    };
    for (const Faults &faults : completed) {
        SCOPED_TRACE(faults.rbegin()->first);
        unlink(output.c_str());
        const CommandResult result = Pidsift(faults, Quote(input) + " 1f1 " + Quote(output));
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_TRUE(ReadBytes(output) == expected);
    }
}

TEST_F(IOFaults, DriversGiveTheirResultCodes)
{
    const std::string in = Quote(input);
    const std::string out = Quote(dir.File("probe.ts"));
    const Faults read_error = {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "200000"}};
    const Faults channel_read_error = {{"PATH", "channel.ts"}, {"READ_FAIL_AFTER", "200000"}};
    const std::string read_message = "Error: Failed read " + input + ".\n";

    // Read errors: -5, with the message, from every driver.
    for (const std::string &arguments : {"list " + in, "filter " + in + " 1f0 " + out, "onepass " + in + " 1f0 " + out,
                                        "print " + in + " 1ff", "programs " + in}) {
        SCOPED_TRACE(arguments);
        const CommandResult result = Probe(read_error, arguments);
        EXPECT_EQ(result.status, 5);
        EXPECT_NE(result.err.find(read_message), std::string::npos) << result.err;
    }
    for (const std::string operation : {"pmt-check", "pmt-split"}) {
        SCOPED_TRACE(operation);
        const std::string arguments = operation + " " + Quote(channel) + (operation == "pmt-split" ? " 1 0" : "");
        const CommandResult result = Probe(channel_read_error, arguments);
        EXPECT_EQ(result.status, 5);
        EXPECT_NE(result.err.find("Error: Failed read " + channel + ".\n"), std::string::npos) << result.err;
    }

    // Write errors: -6, with the message naming the file.
    const Faults write_error = {{"PATH", "probe.ts"}, {"WRITE_LIMIT", "20000"}};
    for (const std::string operation : {"filter", "onepass"}) {
        SCOPED_TRACE(operation);
        const CommandResult result = Probe(write_error, operation + " " + in + " 1f0 " + out);
        EXPECT_EQ(result.status, 6);
        // The single pass leaves the messages about its output to its caller.
        EXPECT_EQ(result.err, operation == "filter" ? "Error: Failed write " + dir.File("probe.ts") + ".\n" : "");
    }
    const CommandResult programs = Probe({{"PATH", "in_1025_0_0.ts"}, {"WRITE_FAIL_AT", "1"}}, "programs " + in);
    EXPECT_EQ(programs.status, 6);
    EXPECT_NE(programs.err.find("Error: Failed write " + dir.File("in_1025_0_0.ts") + ".\n"), std::string::npos) << programs.err;
    const CommandResult pmt = Probe({{"PATH", "channel_"}, {"WRITE_FAIL_AT", "1"}}, "pmt-split " + Quote(channel) + " 1 0");
    EXPECT_EQ(pmt.status, 6);
    EXPECT_NE(pmt.err.find("Error: Failed write " + dir.File("channel_")), std::string::npos) << pmt.err;

    // Interruptions and short calls everywhere change nothing.
    const Faults storm = {{"PATH", dir.path()}, {"EINTR", "3"}, {"READ_SHORT", "5000"}, {"WRITE_SHORT", "100"}};
    for (const std::string &arguments : {"list " + in, "filter " + in + " 1f0 " + out, "print " + in + " 1ff", "programs " + in,
                                        "pmt-check " + Quote(channel), "pmt-split " + Quote(channel) + " 1 0"}) {
        SCOPED_TRACE(arguments);
        const CommandResult result = Probe(storm, arguments);
        EXPECT_EQ(result.status, 0) << result.err;
    }
}

TEST_F(IOFaults, FrontEndsExitWithOneOnFaults)
{
    // The dump: a read error half-way. It ends the run as the end of the file would: the PID
    // list is that of the bytes read before it.
    CommandResult result = Tool("pidsift-dump", {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "100000"}}, "--all in.ts >/dev/null");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-dump: cannot read in.ts: Input/output error\n");
    const Bytes whole = ReadBytes(input);
    ASSERT_TRUE(WriteFile(dir.File("head.ts"), Bytes(whole.begin(), whole.begin() + 100000)));
    result = Tool("pidsift-dump", {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "100000"}}, "--pids in.ts");
    EXPECT_EQ(result.status, 1);
    const CommandResult head = Tool("pidsift-dump", {}, "--pids head.ts");
    EXPECT_EQ(head.status, 0);
    EXPECT_NE(head.out.find("PID List:\n  0x0000,\n"), std::string::npos) << head.out;
    EXPECT_EQ(result.out, head.out);

    // The program split: one output that cannot be written, and a read error.
    result = Tool("pidsift-split", {{"PATH", "in_1032_0_0.ts"}, {"WRITE_LIMIT", "4096"}}, "programs in.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot write in_1032_0_0.ts: No space left on device\n");
    result = Tool("pidsift-split", {{"PATH", "in.ts"}, {"READ_FAIL_AFTER", "100000"}}, "programs in.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("pidsift-split: cannot read in.ts: Input/output error\n"), std::string::npos) << result.err;

    // The PMT split and its segment list.
    result = Tool("pidsift-split", {{"PATH", "channel_"}, {"WRITE_FAIL_AT", "2"}, {"WRITE_SHORT", "188"}}, "pmt channel.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("pidsift-split: cannot write channel_"), std::string::npos) << result.err;
    result = Tool("pidsift-split", {{"PATH", "channel.ts"}, {"READ_FAIL_AFTER", "1000"}}, "pmt-list channel.ts");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "pidsift-split: cannot read channel.ts: Input/output error\n");
}

}  // namespace
