// pidsift-split on recordings whose PMTs are not where a split expects them: a program's only PMT
// sent before the first PAT, and programs whose PMT never comes, which get no file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "capture.h"
#include "recording.h"
#include "tool_test.h"

namespace {

using namespace testsupport;

// Two programs, PMTs on 0x01F0 and 0x01F1, the PCR on each video PID.
BroadcastSpec TwoPrograms(u64 packets)
{
    return DvbBroadcast({{0x22A3, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1}, {0x22A4, 0x01F1, 0x0121, 0x0122, 0, 0, 6, 1}},
                        packets);
}

class SplitNeedsPMT : public ToolTest {
protected:
    CommandResult Split(const std::string &arguments)
    {
        return RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary("pidsift-split")) + " " + arguments);
    }
    bool Exists(const std::string &name) { return access(dir.File(name).c_str(), F_OK) == 0; }
};

// Program 0x22A3's only PMT comes before the first PAT (the capture started between the two): the
// check counts it once the PAT names its PID, and the split writes it after the reduced PAT, with
// the program's streams.
TEST_F(SplitNeedsPMT, APMTBeforeTheFirstPATCounts)
{
    const Recording all = Generate(TwoPrograms(1200));
    Recording recording;
    size_t first_pat = 0;
    while (PacketPID(all.packets[first_pat]) != 0x0000)
        ++first_pat;
    bool kept = false;
    for (size_t i = 0; i < all.packets.size(); ++i) {
        if (PacketPID(all.packets[i]) != 0x01F0) {
            if (i >= first_pat)
                recording.Add(all.packets[i], all.owners[i]);
            continue;
        }
        if (!kept)  // the first PMT goes before the PAT; the others are lost
            recording.packets.insert(recording.packets.begin(), all.packets[i]),
                recording.owners.insert(recording.owners.begin(), 0);
        kept = true;
    }
    ASSERT_EQ(PacketPID(recording.packets[0]), 0x01F0);
    ASSERT_EQ(PacketPID(recording.packets[1]), 0x0000);
    const std::string input = Write("late.ts", recording.bytes());

    const CommandResult check = RunCommand(Quote(ToolBinary("pidsift-check")) + " " + Quote(input));
    EXPECT_NE(
        check.out.find("     8867  0x01F0   0x0111   none     no         0x0111      0x02  mpeg2video  video  -         -\n"),
        std::string::npos)
        << check.out;
    EXPECT_EQ(check.out.find("absent from the recording"), std::string::npos) << check.out;

    const CommandResult split = Split("program late.ts --program 8867 -o one.ts");
    EXPECT_EQ(split.status, 0) << split.err;
    const std::vector<Packet> written = Packets(ReadBytes(dir.File("one.ts")));
    ASSERT_GE(written.size(), 3u);
    EXPECT_EQ(PacketPID(written[0]), 0x0000);
    EXPECT_EQ(written[1], recording.packets[0]);  // the early PMT, byte for byte
    // Then every packet of the program's streams, as they came.
    std::vector<Packet> streams;
    for (const Packet &packet : recording.packets)
        if (PacketPID(packet) == 0x0111 || PacketPID(packet) == 0x0112)
            streams.push_back(packet);
    std::vector<Packet> written_streams;
    for (const Packet &packet : written)
        if (PacketPID(packet) != 0x0000)
            written_streams.push_back(packet);
    written_streams.erase(written_streams.begin());
    EXPECT_EQ(written_streams, streams);
}

// Programs whose PMT never comes get no file: the split names them, and fails when no file holds
// a PMT.
TEST_F(SplitNeedsPMT, ProgramsWithoutPMTGetNoFile)
{
    const Recording all = Generate(TwoPrograms(1200));
    Recording one_pmt, no_pmt;
    for (size_t i = 0; i < all.packets.size(); ++i) {
        const u16 pid = PacketPID(all.packets[i]);
        if (pid != 0x01F1)
            one_pmt.Add(all.packets[i], all.owners[i]);
        if (pid != 0x01F0 && pid != 0x01F1)
            no_pmt.Add(all.packets[i], all.owners[i]);
    }
    Write("one.ts", one_pmt.bytes());
    Write("none.ts", no_pmt.bytes());

    const CommandResult some = Split("programs one.ts");
    EXPECT_EQ(some.status, 0);
    EXPECT_EQ(some.err, "pidsift-split: no file for program 8868: no PMT came\n");
    EXPECT_EQ(some.out.rfind("Wrote 1 file:\n", 0), 0u) << some.out;
    EXPECT_TRUE(Exists("one_8867_0_0.ts"));
    EXPECT_FALSE(Exists("one_8868_0_0.ts"));

    const CommandResult none = Split("programs none.ts");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.err, "pidsift-split: no file written: no PMT came for programs 8867 and 8868 of none.ts\n");
    EXPECT_FALSE(Exists("none_8867_0_0.ts"));
    EXPECT_FALSE(Exists("none_8868_0_0.ts"));

    for (const char *output : {"-o kept.ts", "-o -", ""}) {
        SCOPED_TRACE(output);
        const CommandResult program = Split(std::string("program none.ts 0x1F1 ") + output);
        EXPECT_EQ(program.status, 1);
        EXPECT_EQ(program.out, "");
        EXPECT_EQ(program.err,
                  "pidsift-split: no file written: no PMT of a program on PMT PID 0x01F1 came in none.ts\n");
    }
    EXPECT_FALSE(Exists("kept.ts"));
    EXPECT_FALSE(Exists("none_8868_0_0.ts"));
    const CommandResult by_number = Split("program none.ts --program 8867");
    EXPECT_EQ(by_number.err, "pidsift-split: no file written: no PMT of program 8867 came in none.ts\n");
}

}  // namespace
