// The dump of the programme guide and the broadcast clock (--eit, --eit-pf, --tdt): an ISDB-like
// recording whose EIT sections come packed back to back across packets on PID 0x0012, one of them
// damaged in transit, a schedule section, the medium-rate EIT on 0x0026, and a TDT and TOT on
// 0x0014; text and JSON against golden files, the repeats --changes leaves out, and the event on
// air in the program list.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include <pidsift/demux.h>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;

constexpr u16 kTsid = 0x7FE0;
const u64 kNine = SiTimeField(2019, 6, 12, 21, 0, 0);
const u64 kTen = SiTimeField(2019, 6, 12, 22, 0, 0);
const u64 kEleven = SiTimeField(2019, 6, 12, 23, 0, 0);

Bytes Event(const std::string &name, const std::string &text, u8 genre)
{
    return Concat({ShortEventDescriptor("jpn", Arib(name), Arib(text)), ContentDescriptor({{genre, 0xFF}})});
}

Bytes PresentFollowing(u16 service, u8 version, u8 section, const EventSpec &event)
{
    EITSpec table;
    table.service_id = service;
    table.transport_stream_id = kTsid;
    table.original_network_id = kTsid;
    table.version = version;
    table.section_number = section;
    table.last_section_number = 1;
    table.segment_last_section_number = 1;
    return EITSection(table, {event});
}

struct GuideBroadcast {
    // Program 0x0400 (PMT 0x01F0, video 0x0111 with the PCR) has its guide; 0x0401 (PMT 0x01F1)
    // has only a damaged present section.
    Bytes pat = PATSection(kTsid, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});
    Bytes pmt_a = PMTSection(0x0400, 0, 0x0111, Descriptor(0xC1, {0x84, 0xFF}), {{0x02, 0x0111, {}}});
    Bytes pmt_b = PMTSection(0x0401, 0, 0x0121, Descriptor(0xC1, {0x84, 0xFF}), {{0x02, 0x0121, {}}});
    Bytes news_present = PresentFollowing(
        0x0400, 3, 0, {0x0101, kNine, SiDurationField(1, 0, 0), Event("夜のニュース", "全国の天気", 0x01)});
    Bytes news_following =
        PresentFollowing(0x0400, 3, 1, {0x0102, kTen, SiDurationField(1, 0, 0), Event("映画", "", 0x60), 1});
    Bytes damaged = PresentFollowing(0x0401, 0, 0, {0x0201, kNine, SiDurationField(0, 30, 0), Event("天気", "", 0x01)});
    Bytes schedule = [] {
        EITSpec table;
        table.table_id = 0x50;
        table.service_id = 0x0400;
        table.transport_stream_id = kTsid;
        table.original_network_id = kTsid;
        table.last_table_id = 0x50;
        return EITSection(table, {{0x0103, kEleven, SiDurationField(0, 15, 0), Event("深夜便", "", 0x00), 1}});
    }();
    // The next version: the film on air, nothing announced after it.
    Bytes film_present =
        PresentFollowing(0x0400, 4, 0, {0x0102, kTen, SiDurationField(1, 0, 0), Event("映画", "", 0x60)});
    Bytes film_following = [] {
        EITSpec table;
        table.service_id = 0x0400;
        table.transport_stream_id = kTsid;
        table.original_network_id = kTsid;
        table.version = 4;
        table.section_number = 1;
        table.last_section_number = 1;
        table.segment_last_section_number = 1;
        return EITSection(table, {});
    }();
    Bytes tdt = TDTSection(SiTimeField(2019, 6, 12, 21, 10, 5));
    Bytes tot = TOTSection(SiTimeField(2019, 6, 12, 21, 10, 10),
                           Descriptor(0x58, LocalTimeOffsetEntry("JPN", 0, false, 0x0000, kUndefinedSiTime, 0x0000)));

    Recording Build() const
    {
        PacketBuilder builder;
        Recording recording;
        Bytes broken = damaged;
        broken[20] ^= 0x01;  // an event byte, so that the CRC_32 fails
        recording.Add(builder.Section(0x0000, pat));
        recording.Add(builder.Section(0x01F0, pmt_a), 0x0400);
        recording.Add(builder.Section(0x01F1, pmt_b), 0x0401);
        // Five sections back to back: the damaged one between the good ones.
        recording.Add(builder.Packed(0x0012, {news_present, broken, news_following, schedule}));
        recording.Add(builder.PCR(0x0111, 2700000, 0, true), 0x0400);
        recording.Add(builder.Section(0x0014, tdt));
        recording.Add(PacketBuilder::Null());
        recording.Add(builder.Section(0x0026, news_present));
        // The repeats of a broadcast, then the next version.
        recording.Add(builder.Packed(0x0012, {news_present, news_following}));
        recording.Add(builder.Section(0x0014, tot));
        recording.Add(builder.Packed(0x0012, {film_present, film_following}));
        return recording;
    }
};

class DumpGuide : public ::testing::Test {
protected:
    std::string Dump(const Recording &recording, int mask)
    {
        const std::string path = dir.File("guide.ts");
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        int result = -1;
        const std::string text = DumpedText(path, mask, &result);
        EXPECT_EQ(result, 0);
        return text;
    }

    GuideBroadcast broadcast;
    TempDir dir;
};

TEST_F(DumpGuide, GoldenTextAndJson)
{
    const Recording recording = broadcast.Build();
    EXPECT_EQ(CompareWithGolden("dump_guide", Dump(recording, TS_PRINT_EIT | TS_PRINT_TDT | TS_PRINT_PROGRAMS)), "");
    EXPECT_EQ(CompareWithGolden("dump_guide_json",
                                Dump(recording, TS_PRINT_EIT_PF | TS_PRINT_TDT | TS_PRINT_PROGRAMS | TS_PRINT_JSON)),
              "");
}

TEST_F(DumpGuide, WhatEachSelectionPrints)
{
    const Recording recording = broadcast.Build();
    // Every EIT section, the damaged one included, on 0x0012 and 0x0026: 4 + 1 + 2 + 2.
    const std::string all = Dump(recording, TS_PRINT_EIT);
    EXPECT_EQ(Occurrences(all, "[EIT]"), 9u);
    EXPECT_EQ(Occurrences(all, "PID:0x0026"), 1u);
    EXPECT_EQ(Occurrences(all, "[EIT] TI:0x50"), 1u);
    EXPECT_EQ(Occurrences(all, "[TDT]") + Occurrences(all, "[TOT]"), 0u);
    // The present/following alone leave the schedule out.
    const std::string pf = Dump(recording, TS_PRINT_EIT_PF);
    EXPECT_EQ(Occurrences(pf, "[EIT]"), 8u);
    EXPECT_EQ(Occurrences(pf, "[EIT] TI:0x50"), 0u);
    const std::string clock = Dump(recording, TS_PRINT_TDT);
    EXPECT_EQ(Occurrences(clock, "[TDT]"), 1u);
    EXPECT_EQ(Occurrences(clock, "[TOT]"), 1u);
    EXPECT_NE(clock.find("Time:2019-06-12T21:10:05+09:00"), std::string::npos);
    EXPECT_EQ(Occurrences(clock, "[EIT]"), 0u);
}

TEST_F(DumpGuide, ChangesLeaveTheRepeatsOfEachSectionOut)
{
    const Recording recording = broadcast.Build();
    // The repeats of sections 0 and 1 of version 3 on 0x0012 are left out; the copy on 0x0026 is
    // another PID's first.
    const std::string text = Dump(recording, TS_PRINT_EIT_PF | TS_PRINT_CHANGES);
    EXPECT_EQ(Occurrences(text, "[EIT]"), 6u);
    EXPECT_NE(text.find("Repeated tables left out: 2\n"), std::string::npos);
}

TEST_F(DumpGuide, ProgramListNamesTheEventOnAirAtTheEnd)
{
    const Recording recording = broadcast.Build();
    const std::string text = Dump(recording, TS_PRINT_PROGRAMS);
    // The film of version 4 for 0x0400; nothing for 0x0401, whose only section is damaged.
    EXPECT_NE(text.find("ProgramNumber:1024 PID:0x01F0 ServiceName:- PresentEvent:\"映画\"\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("ProgramNumber:1025 PID:0x01F1 ServiceName:- PresentEvent:-\n"), std::string::npos) << text;

    // A present section with an empty event loop: nothing on air.
    Recording idle;
    PacketBuilder builder;
    EITSpec empty;
    empty.service_id = 0x0400;
    empty.transport_stream_id = kTsid;
    idle.Add(builder.Section(0x0000, broadcast.pat));
    idle.Add(builder.Packed(0x0012, {broadcast.news_present, EITSection(empty, {})}));
    const std::string json = Dump(idle, TS_PRINT_PROGRAMS | TS_PRINT_JSON);
    const nlohmann::json programs = nlohmann::json::parse(json.substr(0, json.find('\n')));
    EXPECT_TRUE(programs["programs"][0]["present_event"].is_null()) << json;
}

}  // namespace
