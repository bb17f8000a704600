// pidsift-check on what a recording says of itself: the broadcast's clock from its TDT and TOT,
// the events on air from its EIT present/following, the first errors placed on that clock, and a
// recording without any of them, which is no worse for it. Text and JSON against golden files.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

constexpr u16 kTsid = 0x0401;
constexpr u16 kProgram = 0x008D;

Bytes PresentFollowing(u8 version, u8 section, const std::vector<EventSpec> &events)
{
    EITSpec table;
    table.service_id = kProgram;
    table.transport_stream_id = kTsid;
    table.original_network_id = 0x233A;
    table.version = version;
    table.section_number = section;
    table.last_section_number = 1;
    table.segment_last_section_number = 1;
    return EITSection(table, events);
}

Bytes Event(const std::string &name, const std::string &text, u8 genre)
{
    return Concat({ShortEventDescriptor("eng", Text(name), Text(text)), ContentDescriptor({{genre, 0x00}})});
}

// A DVB recording of one program (PMT 0x01F0, PCR on its video PID 0x0111, a PCR, PAT and PMT
// every third of a second): its
// EIT present/following packed back to back on 0x0012, a TDT and, later, a TOT whose offset for
// GBR changed before it; a damaged packet before the clock came and a lost one after it; the
// events change to the film with nothing announced after it.
Recording GuideRecording(bool with_guide)
{
    PacketBuilder builder;
    Recording recording;
    const Bytes pat = PATSection(kTsid, 0, {{0, 0x0010}, {kProgram, 0x01F0}});
    const Bytes pmt = PMTSection(kProgram, 0, 0x0111, {}, {{0x02, 0x0111, {}}, {0x03, 0x0112, {}}});
    const u64 eight = SiTimeField(2024, 3, 11, 20, 0, 0);
    const u64 nine = SiTimeField(2024, 3, 11, 21, 0, 0);
    const Bytes news =
        PresentFollowing(7, 0, {{0x1A2B, eight, SiDurationField(1, 0, 0), Event("Evening News", "Headlines", 0x20)}});
    const Bytes film = PresentFollowing(7, 1, {{0x1A2C, nine, SiDurationField(1, 45, 0), Event("Film", "", 0x10), 1}});
    const Bytes film_on_air =
        PresentFollowing(8, 0, {{0x1A2C, nine, SiDurationField(1, 45, 0), Event("Film", "", 0x10)}});
    const Bytes nothing_next = PresentFollowing(8, 1, {});
    const Bytes tdt = TDTSection(SiTimeField(2024, 3, 11, 20, 59, 58));
    const Bytes tot = TOTSection(
        SiTimeField(2024, 3, 11, 21, 0, 1),
        Descriptor(0x58, LocalTimeOffsetEntry("GBR", 0, false, 0x0000, SiTimeField(2024, 3, 11, 21, 0, 0), 0x0100)));
    // The tables and the clock up to the whole second given.
    auto second = [&](u64 seconds) {
        for (u64 third = seconds == 0 ? 0 : seconds * 3 - 2; third <= seconds * 3; ++third) {
            recording.Add(builder.Section(0x0000, pat));
            recording.Add(builder.Section(0x01F0, pmt), kProgram);
            recording.Add(builder.PCR(0x0111, third * 30000, 0, true), kProgram);
        }
    };

    second(0);
    Packet damaged = builder.Payload(0x0112, 0x11, true);
    damaged[1] |= 0x80;  // transport_error_indicator
    recording.Add(damaged, kProgram);
    if (with_guide)
        recording.Add(builder.Packed(0x0012, {news, film}));
    second(1);
    if (with_guide)
        recording.Add(builder.Section(0x0014, tdt));
    recording.Add(builder.Payload(0x0112, 0x22), kProgram);
    second(2);
    builder.NextCounter(0x0112);  // a packet lost
    recording.Add(builder.Payload(0x0112, 0x33), kProgram);
    second(3);
    if (with_guide) {
        recording.Add(builder.Packed(0x0012, {news, film}));  // a repeat
        recording.Add(builder.Section(0x0014, tot));
        recording.Add(builder.Packed(0x0012, {film_on_air, nothing_next}));
    }
    recording.Add(PacketBuilder::Null());
    second(4);
    return recording;
}

class CheckGuide : public ::testing::Test {
protected:
    CommandResult Check(const Recording &recording, const std::string &options = "")
    {
        EXPECT_TRUE(WriteFile(dir.File("guide.ts"), recording.bytes()));
        return RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary("pidsift-check")) + " " + options +
                          " guide.ts");
    }

    TempDir dir;
};

TEST_F(CheckGuide, ClockEventsAndTheFirstErrorsOnTheClock)
{
    const Recording recording = GuideRecording(true);
    const CommandResult text = Check(recording);
    EXPECT_EQ(text.status, 1);  // the damaged and the lost packet
    EXPECT_EQ(CompareWithGolden("check_guide", text.out), "");

    const CommandResult json_line = Check(recording, "--json");
    const Json json = Json::parse(json_line.out);
    EXPECT_EQ(CompareWithGolden("check_guide_json", json.dump(2) + "\n"), "");
    // The TDT at 1 s and 20:59:58: the lost packet at 2 s is at 20:59:59 on the broadcast's clock,
    // the damaged one at 0 s, before the TDT, at 20:59:57.
    EXPECT_EQ(json["broadcast_time"], Json::parse(R"({"first":"2024-03-11T20:59:58Z","last":"2024-03-11T21:00:01Z",
                                                      "local_time_offset":"+01:00"})"));
    EXPECT_EQ(json["first_errors"]["cc_error"]["broadcast_time"], "2024-03-11T20:59:59Z");
    EXPECT_EQ(json["first_errors"]["transport_error"]["broadcast_time"], "2024-03-11T20:59:57Z");
    const Json &program = json["programs"][0];
    EXPECT_EQ(program["events"]["present"]["name"], "Evening News");
    EXPECT_EQ(program["events"]["following"]["event_id"], 0x1A2C);
    EXPECT_EQ(program["events_at_end"]["present"]["name"], "Film");
    EXPECT_TRUE(program["events_at_end"]["following"].is_null());
}

TEST_F(CheckGuide, WithoutGuideOrClockNothingIsSaidAndNothingIsWrong)
{
    const CommandResult with = Check(GuideRecording(true));
    const CommandResult without = Check(GuideRecording(false));
    // The same errors; no line of the clock, no table of the events.
    EXPECT_EQ(without.status, with.status);
    EXPECT_EQ(without.out.find("Broadcast time"), std::string::npos);
    EXPECT_EQ(without.out.find("What is on"), std::string::npos);
    const Json json = Json::parse(Check(GuideRecording(false), "--json").out);
    EXPECT_TRUE(json["broadcast_time"].is_null());
    EXPECT_TRUE(json["programs"][0]["events"].is_null());
    EXPECT_TRUE(json["programs"][0]["events_at_end"].is_null());
    EXPECT_TRUE(json["first_errors"]["cc_error"]["broadcast_time"].is_null());
    EXPECT_EQ(json["ok"], false);
}

TEST_F(CheckGuide, ThePairTakesOnlyGoodSectionsOfTheActualStream)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(kTsid, 0, {{kProgram, 0x01F0}})));
    recording.Add(builder.Section(0x01F0, PMTSection(kProgram, 0, 0x0111, {}, {{0x02, 0x0111, {}}})), kProgram);
    const u64 start = SiTimeField(2024, 3, 11, 20, 0, 0);
    Bytes damaged = PresentFollowing(1, 0, {{0x0001, start, SiDurationField(0, 30, 0), Event("Damaged", "", 0x20)}});
    damaged[damaged.size() - 1] ^= 0xFF;
    Bytes other_stream =
        PresentFollowing(1, 1, {{0x0002, start, SiDurationField(0, 30, 0), Event("Elsewhere", "", 0x20)}});
    other_stream[8] ^= 0x01;  // transport_stream_id 0x0400
    other_stream = Sealed(Bytes(other_stream.begin(), other_stream.end() - 4));
    const Bytes present =
        PresentFollowing(2, 0, {{0x0003, start, SiDurationField(0, 30, 0), Event("Right", "", 0x20)}});
    const Bytes following = PresentFollowing(2, 1, {});
    // Sections 0 and 1 of different versions make no pair either.
    recording.Add(builder.Packed(0x0012, {damaged, other_stream, present, PresentFollowing(1, 1, {}), following}));
    const Json json = Json::parse(Check(recording, "--json").out);
    const Json &events = json["programs"][0]["events"];
    EXPECT_EQ(events["present"]["name"], "Right");
    EXPECT_EQ(events["present"]["event_id"], 3);
    EXPECT_TRUE(events["following"].is_null());
    EXPECT_TRUE(json["programs"][0]["events_at_end"].is_null());
}

}  // namespace
