// make_recording --add-guide, which gives the benchmark's encoded recording a programme guide and
// a clock: they go into the null packets and nowhere else, on the multiplex's time, pidsift-check
// reads them back, and an input it cannot guide is refused with no output left behind.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>
#include <vector>

#include <nlohmann/json.hpp>

#include "recording.h"
#include "tool_test.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

constexpr u16 kNullPid = 0x1FFF;
// 600 kbit/s: a packet lasts 1504 / 600000 s, some 399 packets a second.
constexpr u64 kMuxrate = 600000;
// 37.6 s of it: from 20:59:35 past 21:00:00, when the third program's film ends.
constexpr u64 kPackets = 15000;

// A DVB multiplex of three programs (PMT PIDs from 0x01F0, the PCR on the video PID, the second
// scrambled with its ECM on 0x0130), a CAT naming the EMM PID 0x0901, a network entry, an SDT
// naming the services, the PSI every 40 packets, and null packets between the programs; no EIT
// and no TOT, as an encoder writes it.
Recording EncodedBroadcast(unsigned null_weight)
{
    BroadcastSpec mux = DvbBroadcast({{0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1},
                                      {0x0401, 0x01F1, 0x0121, 0x0122, 0x0130, 0, 6, 1},
                                      {0x0408, 0x01F8, 0x0181, 0x0182, 0, 0, 4, 1}},
                                     kPackets);
    mux.emm_pid = 0x0901;
    mux.si_weight = 0;  // the SDT alone: no filler EIT
    mux.null_weight = null_weight;
    mux.services = {{0x0400, ServiceDescriptor(0x01, Text("Net"), Text("One"))},
                    {0x0401, ServiceDescriptor(0x01, Text("Net"), Text("Two"))},
                    {0x0408, ServiceDescriptor(0x01, Text("Net"), Text("Eight"))}};
    return Generate(mux);
}

// The second of the guide's clock at a packet: 20:59:35 plus the packet's time.
int SecondAt(u64 index) { return kGuideStartSeconds + int(index * 188 * 8 / kMuxrate); }

class AddGuide : public ToolTest {
protected:
    CommandResult Add(const Recording &input, const std::string &muxrate = std::to_string(kMuxrate))
    {
        in = Write("in.ts", input.bytes());
        out = dir.File("out.ts");
        return RunTool("make_recording", "--add-guide " + Quote(in) + " " + Quote(out) + " " + muxrate);
    }
    bool OutputExists() const { return access(out.c_str(), F_OK) == 0; }

    std::string in, out;
};

TEST_F(AddGuide, GuideAndClockTakeNullPacketsOnlyAndCheckReadsThem)
{
    const Recording input = EncodedBroadcast(6);
    const CommandResult added = Add(input);
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.err, "");
    const Bytes output = ReadBytes(out);
    ASSERT_EQ(output.size(), kPackets * 188);

    // Every packet but the null ones where it was; the null ones null, EIT or TOT.
    const std::vector<Packet> packets = Packets(output);
    std::vector<u64> tot_at;
    u64 eit = 0, nulls_left = 0;
    for (u64 i = 0; i < kPackets; ++i) {
        if (PacketPID(input.packets[i]) != kNullPid) {
            ASSERT_EQ(packets[i], input.packets[i]) << "packet " << i;
            continue;
        }
        const u16 pid = PacketPID(packets[i]);
        ASSERT_TRUE(pid == kNullPid || pid == 0x0012 || pid == 0x0014) << "packet " << i << " on " << pid;
        if (pid == 0x0014)
            tot_at.push_back(i);
        eit += pid == 0x0012;
        nulls_left += pid == kNullPid && packets[i] == input.packets[i];
    }
    // A TOT in the first null packet of every 5 s of the multiplex's time.
    std::vector<u64> first_nulls;
    for (u64 window = 0; window * 5 * kMuxrate < kPackets * 1504; ++window) {
        u64 i = (window * 5 * kMuxrate + 1503) / 1504;
        while (i < kPackets && PacketPID(input.packets[i]) != kNullPid)
            ++i;
        first_nulls.push_back(i);
    }
    EXPECT_EQ(tot_at, first_nulls);
    ASSERT_EQ(tot_at.size(), 8u);
    // The rounds of three programs (six sections, three packets) ten times a second leave most
    // of the padding as it was.
    EXPECT_GT(eit, 3u * 370);
    EXPECT_GT(nulls_left, eit);

    const CommandResult check = RunTool("pidsift-check", "--json " + Quote(out));
    EXPECT_EQ(check.status, 0) << check.out;
    const Json json = Json::parse(check.out);
    EXPECT_EQ(json["ok"], true);
    // The clock of the first TOT and of the last, at 35 s.
    EXPECT_EQ(json["broadcast_time"], Json::parse(R"({"first":"2019-06-12T20:59:35Z","last":"2019-06-12T21:00:10Z",
                                                      "local_time_offset":"+00:00"})"));
    EXPECT_EQ(SecondAt(tot_at.back()), kGuideStartSeconds + 35);
    // Each program's pair, in DVB's UTF-8 names; the third one's film gives way to the news.
    struct Expected {
        u16 program;
        int present_id, following_id;
        const char *present, *following;
        const char *present_start;
        int present_genre;  // DVB's content nibbles
    };
    const Expected expected[] = {
        {0x0400, 0x1001, 0x1002, "夜のニュース", "ドラマ「見本の町」", "2019-06-12T20:45:00Z", 0x21},
        {0x0401, 0x2001, 0x2002, "映画「見本」", "音楽の時間", "2019-06-12T20:00:00Z", 0x10},
        {0x0408, 0x3001, 0x3002, "アニメ映画", "ニュース", "2019-06-12T19:00:00Z", 0x55},
    };
    ASSERT_EQ(json["programs"].size(), 3u);
    for (size_t p = 0; p < 3; ++p) {
        SCOPED_TRACE(p);
        const Json &program = json["programs"][p];
        EXPECT_EQ(program["program_number"], expected[p].program);
        EXPECT_EQ(program["events"]["present"]["event_id"], expected[p].present_id);
        EXPECT_EQ(program["events"]["present"]["name"], expected[p].present);
        EXPECT_EQ(program["events"]["present"]["start"], expected[p].present_start);
        const Json &genre = program["events"]["present"]["genre"][0];
        EXPECT_EQ(genre["content_nibble_level_1"], expected[p].present_genre >> 4);
        EXPECT_EQ(genre["content_nibble_level_2"], expected[p].present_genre & 0x0F);
        EXPECT_EQ(program["events"]["following"]["event_id"], expected[p].following_id);
        EXPECT_EQ(program["events"]["following"]["name"], expected[p].following);
    }
    EXPECT_TRUE(json["programs"][0]["events_at_end"].is_null());
    EXPECT_TRUE(json["programs"][1]["events_at_end"].is_null());
    EXPECT_EQ(json["programs"][2]["events_at_end"]["present"]["event_id"], 0x3002);
    EXPECT_EQ(json["programs"][2]["events_at_end"]["present"]["start"], "2019-06-12T21:00:00Z");
    EXPECT_EQ(json["programs"][2]["events_at_end"]["following"]["name"], "科学の番組");

    // The rate in thousands, as ffmpeg's -muxrate takes it, is the same rate.
    const Bytes first = output;
    ASSERT_EQ(Add(input, "600k").status, 0);
    EXPECT_TRUE(ReadBytes(out) == first);
}

TEST_F(AddGuide, TheProgramsAreThoseOfTheFirstWholePatAcrossItsPackets)
{
    // 48 programs: the PAT (network entry and 48 programs, 208 bytes) spans two packets. Before
    // it, a PAT of one other program whose CRC_32 fails.
    BroadcastSpec mux = LargeBroadcast(48, 8000);
    mux.null_weight = 100;
    mux.si_weight = 0;
    PacketBuilder damaged_builder;
    for (int i = 0; i < 15; ++i)
        damaged_builder.NextCounter(0x0000);  // the multiplex's PAT goes on from it with counter 0
    Bytes damaged = PATSection(mux.transport_stream_id, 0, {{0x0999, 0x1999}});
    damaged.back() ^= 0x01;
    Recording input;
    input.Add(damaged_builder.Section(0x0000, damaged));
    GenerateBroadcast(mux, [&](const Packet &packet, u16 owner) { input.Add(packet, owner); });
    // 2000 packets a second: a round of 96 sections in the 80 null packets of a tenth.
    const CommandResult added = Add(input, "3008k");
    ASSERT_EQ(added.status, 0) << added.err;

    const Json json = Json::parse(RunTool("pidsift-check", "--json " + Quote(out)).out);
    ASSERT_EQ(json["programs"].size(), 48u);
    for (size_t p = 0; p < 48; ++p) {
        SCOPED_TRACE(p);
        // Each program takes the events of the guide's p % 3, numbered apart by p / 3.
        const int present_ids[] = {0x1001, 0x2001, 0x3001};
        const Json &program = json["programs"][p];
        EXPECT_EQ(program["program_number"], 0x0101 + p);
        EXPECT_EQ(program["events"]["present"]["event_id"], present_ids[p % 3] + 0x10 * int(p / 3));
    }
}

TEST_F(AddGuide, WithoutNullPacketsTheCopyIsTheInput)
{
    const Recording input = EncodedBroadcast(0);
    const CommandResult added = Add(input);
    EXPECT_EQ(added.status, 0);
    EXPECT_EQ(added.err, "make_recording: " + in + " has no null packets after its PAT: copied without a guide\n");
    EXPECT_TRUE(ReadBytes(out) == input.bytes());
}

TEST_F(AddGuide, RefusesWhatItCannotGuideAndLeavesNoOutput)
{
    // SI on the guide's PIDs already: its continuity would break.
    BroadcastSpec with_eit = DvbBroadcast({{0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1}}, 2000);
    with_eit.si_weight = 1;
    const Recording eit_input = Generate(with_eit);
    u64 first_eit = 0;
    while (PacketPID(eit_input.packets[first_eit]) != 0x0012)
        ++first_eit;
    CommandResult added = Add(eit_input);
    EXPECT_EQ(added.status, 1);
    EXPECT_EQ(added.err, "make_recording: " + in + " carries an EIT on PID 0x0012 already (packet " +
                             std::to_string(first_eit) + ")\n");
    EXPECT_FALSE(OutputExists());

    BroadcastSpec with_clock = DvbBroadcast({{0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1}}, 400);
    with_clock.si_weight = 0;
    Recording clock_input = Generate(with_clock);
    PacketBuilder builder;
    clock_input.Add(builder.Section(0x0014, TDTSection(SiTimeField(2024, 3, 11, 21, 0, 0))));
    added = Add(clock_input);
    EXPECT_EQ(added.status, 1);
    EXPECT_EQ(added.err, "make_recording: " + in + " carries a TDT or TOT on PID 0x0014 already (packet 400)\n");
    EXPECT_FALSE(OutputExists());

    // No PAT: no programs to guide.
    const Recording input = EncodedBroadcast(6);
    Recording no_pat;
    for (const Packet &packet : input.packets)
        if (PacketPID(packet) != 0x0000)
            no_pat.Add(packet);
    added = Add(no_pat);
    EXPECT_EQ(added.status, 1);
    EXPECT_EQ(added.err, "make_recording: " + in + " has no PAT: no programs to guide\n");
    EXPECT_FALSE(OutputExists());

    // A rate that is no number of bits a second.
    for (const char *muxrate : {"0", "k", "20400x", "20.4M", "-5", "''"}) {
        SCOPED_TRACE(muxrate);
        added = Add(input, muxrate);
        EXPECT_EQ(added.status, 2);
        EXPECT_EQ(added.err.rfind("usage: make_recording OUTPUT.ts SIZE_IN_MB\n", 0), 0u);
        EXPECT_FALSE(OutputExists());
    }
}

}  // namespace
