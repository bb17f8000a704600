// The EIT: present/following and schedule sections of both families laid out byte by byte as
// EN 300 468 5.2.4 and ARIB STD-B10 give them, their events and descriptors, the extended event
// descriptors joined, times that do not decode, descriptor loops that overrun, and the text and
// JSON forms.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include <pidsift/si_tables.h>

#include "capture.h"
#include "psi/si.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;
using Json = nlohmann::ordered_json;

// A DVB present/following section of the actual transport stream: service 0x1044 of transport
// stream 0x1004 on network 0x233A, version 5, section 0 of 1.
const Bytes kDvbPresentFollowing = {
    0x4E, 0xF0, 0xB4,                    // table_id, flags, section_length 180
    0x10, 0x44, 0xCB, 0x00, 0x01,        // service_id, version 5 current, section 0, last 1
    0x10, 0x04, 0x23, 0x3A, 0x01, 0x4E,  // transport_stream_id, original_network_id, SLSN 1, last_table_id
    // Present: event 0x1A2B, 2024-03-11 (MJD 0xEBDC) 20:00:00 UTC for 00:30:00, running, clear,
    // descriptors_loop_length 58.
    0x1A, 0x2B, 0xEB, 0xDC, 0x20, 0x00, 0x00, 0x00, 0x30, 0x00, 0x80, 0x3A,
    // Short event: "eng", "BBC News", "Headlines" CR/LF "and weather".
    0x4D, 0x22, 0x65, 0x6E, 0x67, 0x08, 0x42, 0x42, 0x43, 0x20, 0x4E, 0x65, 0x77, 0x73, 0x15, 0x48, 0x65, 0x61, 0x64,
    0x6C, 0x69, 0x6E, 0x65, 0x73, 0x8A, 0x61, 0x6E, 0x64, 0x20, 0x77, 0x65, 0x61, 0x74, 0x68, 0x65, 0x72,
    // Content: news (general), news/weather report; user bytes 0.
    0x54, 0x04, 0x20, 0x00, 0x21, 0x00,
    // Component: stream_content 5, component_type 0x0B, tag 1, "eng", "HD".
    0x50, 0x08, 0x05, 0x0B, 0x01, 0x65, 0x6E, 0x67, 0x48, 0x44,
    // Parental rating: "GBR", 0x09 (minimum age 12).
    0x55, 0x04, 0x47, 0x42, 0x52, 0x09,
    // Following: event 0x1A2C at 20:30:00 for 01:00:00, not running, loop of 83.
    0x1A, 0x2C, 0xEB, 0xDC, 0x20, 0x30, 0x00, 0x01, 0x00, 0x00, 0x20, 0x53,
    // Short event: "eng", "Caf" + ISO 6937 acute before "e" + " Society", no text.
    0x4D, 0x12, 0x65, 0x6E, 0x67, 0x0D, 0x43, 0x61, 0x66, 0xC2, 0x65, 0x20, 0x53, 0x6F, 0x63, 0x69, 0x65, 0x74, 0x79,
    0x00,
    // Extended event 1 of 1 (coming first): item "Cast" / "A. Smith", text "of two".
    0x4E, 0x1A, 0x11, 0x65, 0x6E, 0x67, 0x0E, 0x04, 0x43, 0x61, 0x73, 0x74, 0x08, 0x41, 0x2E, 0x20, 0x53, 0x6D, 0x69,
    0x74, 0x68, 0x06, 0x6F, 0x66, 0x20, 0x74, 0x77, 0x6F,
    // Extended event 0 of 1: item "Director" / "Jane Doe", text "Part one ".
    0x4E, 0x21, 0x01, 0x65, 0x6E, 0x67, 0x12, 0x08, 0x44, 0x69, 0x72, 0x65, 0x63, 0x74, 0x6F, 0x72, 0x08, 0x4A, 0x61,
    0x6E, 0x65, 0x20, 0x44, 0x6F, 0x65, 0x09, 0x50, 0x61, 0x72, 0x74, 0x20, 0x6F, 0x6E, 0x65, 0x20, 0x10, 0x17, 0xCB,
    0x83,  // CRC_32
};

// An ISDB present/following section: service 0x0400 of transport stream and network 0x7FE0,
// version 2. Texts in ARIB STD-B24 8-unit code, starting with the Kanji set in GL (JIS codes).
const Bytes kIsdbPresentFollowing = {
    0x4E, 0xF0, 0xC9, 0x04, 0x00, 0xC5, 0x00, 0x01, 0x7F, 0xE0, 0x7F, 0xE0, 0x01, 0x4E,
    // Present: event 0x0101, 2019-06-12 (MJD 0xE516) 21:00:00 JST for 01:00:00, running, loop of 91.
    0x01, 0x01, 0xE5, 0x16, 0x21, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80, 0x5B,
    // Short event: "jpn", 夜のニュース; text 全国の天気, APR (line break), MSZ LS1 "NHK" NSZ LS0,
    // 明日は晴れ.
    0x4D, 0x2D, 0x6A, 0x70, 0x6E, 0x0C, 0x4C, 0x6B, 0x24, 0x4E, 0x25, 0x4B, 0x25, 0x65, 0x21, 0x3C, 0x25, 0x39, 0x1C,
    0x41, 0x34, 0x39, 0x71, 0x24, 0x4E, 0x45, 0x37, 0x35, 0x24, 0x0D, 0x89, 0x0E, 0x4E, 0x48, 0x4B, 0x8A, 0x0F, 0x4C,
    0x40, 0x46, 0x7C, 0x24, 0x4F, 0x40, 0x32, 0x24, 0x6C,
    // Content: news/weather and news/special report, user nibbles all ones.
    0x54, 0x04, 0x01, 0xFF, 0x08, 0xFF,
    // Component: reserved 0xF, stream_content 1, component_type 0xB3, tag 0, "jpn", 見本.
    0x50, 0x0A, 0xF1, 0xB3, 0x00, 0x6A, 0x70, 0x6E, 0x38, 0x2B, 0x4B, 0x5C,
    // Audio component: stream_content 2, type 3, tag 0x10, stream_type 0x0F, simulcast group
    // 0xFF; not multilingual, main, quality 3, sampling rate 7; "jpn", ステレオ.
    0xC4, 0x11, 0xF2, 0x03, 0x10, 0x0F, 0xFF, 0x7F, 0x6A, 0x70, 0x6E, 0x25, 0x39, 0x25, 0x46, 0x25, 0x6C, 0x25, 0x2A,
    // Event group: type 1 (shared), one event: service 0x0401, event 0x0101.
    0xD6, 0x05, 0x11, 0x04, 0x01, 0x01, 0x01,
    // Following: event 0x0102, start and duration undefined (all ones), not running, loop of 71.
    0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x20, 0x47,
    // Short event: "jpn", 映画, no text.
    0x4D, 0x09, 0x6A, 0x70, 0x6E, 0x04, 0x31, 0x47, 0x32, 0x68, 0x00,
    // Extended event 0 of 1: item 番組内容 / 前半の文 and the first byte of 後 (0x38 0x65).
    0x4E, 0x19, 0x01, 0x6A, 0x70, 0x6E, 0x13, 0x08, 0x48, 0x56, 0x41, 0x48, 0x46, 0x62, 0x4D, 0x46, 0x09, 0x41, 0x30,
    0x48, 0x3E, 0x24, 0x4E, 0x4A, 0x38, 0x38, 0x00,
    // Extended event 1 of 1: the item continued (description length 0) with the second byte of 後
    // and 半の文; item 出演者 / 山田太郎.
    0x4E, 0x1F, 0x11, 0x6A, 0x70, 0x6E, 0x19, 0x00, 0x07, 0x65, 0x48, 0x3E, 0x24, 0x4E, 0x4A, 0x38, 0x06, 0x3D, 0x50,
    0x31, 0x69, 0x3C, 0x54, 0x08, 0x3B, 0x33, 0x45, 0x44, 0x42, 0x40, 0x4F, 0x3A, 0x00, 0x09, 0x76, 0x2F,
    0x41,  // CRC_32
};

// An ISDB schedule section of extended descriptions (table_id 0x58): version 3, section 8 of
// 0x18, the segment's last section 8. One event of 2019-06-13 06:00:00 for 00:15:00.
const Bytes kIsdbSchedule = {
    0x58, 0xF0, 0x33, 0x04, 0x00, 0xC7, 0x08, 0x18, 0x7F, 0xE0, 0x7F, 0xE0, 0x08,
    0x58, 0x01, 0x10, 0xE5, 0x17, 0x06, 0x00, 0x00, 0x00, 0x15, 0x00, 0x00, 0x18,  // running_status 0
    0x4E, 0x16, 0x00, 0x6A, 0x70, 0x6E, 0x10, 0x06, 0x3D, 0x50, 0x31, 0x69, 0x3C,
    0x54, 0x08, 0x3B, 0x33, 0x45, 0x44, 0x42, 0x40, 0x4F, 0x3A, 0x00,  // extended event 0 of 0: 出演者 / 山田太郎
    0xD5, 0xD2, 0xF0, 0xCA,
};

// A DVB schedule section (0x50), section 8 of 0x10, segment's last 0x0F, last_table_id 0x51: one
// scrambled event of 2024-03-12 06:00:00 for 00:45:00.
const Bytes kDvbSchedule = {
    0x50, 0xF0, 0x2F, 0x10, 0x44, 0xC3, 0x08, 0x10, 0x10, 0x04, 0x23, 0x3A, 0x0F,
    0x51, 0x1B, 0x00, 0xEB, 0xDD, 0x06, 0x00, 0x00, 0x00, 0x45, 0x00, 0x10, 0x14,  // free_CA_mode 1
    0x4D, 0x0E, 0x65, 0x6E, 0x67, 0x09, 0x42, 0x72, 0x65, 0x61, 0x6B, 0x66, 0x61,
    0x73, 0x74, 0x00, 0x54, 0x02, 0x20, 0x00,  // news/current affairs (general)
    0x21, 0x0D, 0x4A, 0xFB,
};

pidsift::Eit Decode(const Bytes &section)
{
    pidsift::Eit eit;
    EXPECT_EQ(pidsift::DecodeEit(&eit, section.data(), section.size()), 0);
    return eit;
}

std::string Utf8(const std::vector<u8> &bytes, int family) { return pidsift::SiText(bytes, family); }

Json AsJson(const std::function<void(TS_Json *)> &members) { return Json::parse(CaptureJsonObject(members)); }

// The text and the JSON form of a section against golden files "<name>" and "<name>_json" (the
// JSON indented, keys in the order written).
void ExpectGolden(const std::string &name, const pidsift::Eit &eit, bool crc_ok, int family)
{
    EXPECT_EQ(CompareWithGolden(name, CaptureStdout([&] { pidsift::PrintEit(eit, family); })), "");
    const Json json = AsJson([&](TS_Json *writer) { pidsift::PrintEitJSON(writer, eit, crc_ok, family); });
    EXPECT_EQ(CompareWithGolden(name + "_json", json.dump(2) + "\n"), "");
}

TEST(EIT, SectionsOfTheTestsCarryTheirCRC)
{
    for (const Bytes *section : {&kDvbPresentFollowing, &kIsdbPresentFollowing, &kIsdbSchedule, &kDvbSchedule})
        EXPECT_EQ(Crc32Mpeg2(section->data(), section->size()), 0u);
}

TEST(EIT, DvbPresentFollowing)
{
    // Every field as the golden files show it; here what the drivers read.
    const pidsift::Eit eit = Decode(kDvbPresentFollowing);
    EXPECT_EQ(eit.CRC_32, 0x1017CB83u);
    ASSERT_EQ(eit.events.size(), 2u);
    const pidsift::EitEvent &present = eit.events[0];
    const pidsift::ShortEventDescriptor *short_event = pidsift::FindShortEvent(present);
    ASSERT_NE(short_event, nullptr);
    EXPECT_EQ(Utf8(short_event->text, TS_TEXT_DVB), "Headlines\nand weather");
    const std::vector<pidsift::ContentEntry> genres = pidsift::EventGenres(present);
    ASSERT_EQ(genres.size(), 2u);
    EXPECT_EQ(genres[1].content_nibble_level_1, 2);
    EXPECT_EQ(genres[1].content_nibble_level_2, 1);

    // The extended event descriptors came 1 before 0: joined in descriptor_number order.
    const pidsift::EitEvent &following = eit.events[1];
    const pidsift::ExtendedEventText extended = pidsift::JoinExtendedEvents(following.descriptors);
    EXPECT_TRUE(extended.present);
    EXPECT_TRUE(extended.complete);
    ASSERT_EQ(extended.items.size(), 2u);
    EXPECT_EQ(Utf8(extended.items[0].description, TS_TEXT_DVB), "Director");
    EXPECT_EQ(Utf8(extended.items[1].item, TS_TEXT_DVB), "A. Smith");
    EXPECT_EQ(Utf8(extended.text, TS_TEXT_DVB), "Part one of two");
    EXPECT_FALSE(pidsift::JoinExtendedEvents(present.descriptors).present);

    ExpectGolden("eit_dvb_pf", eit, true, TS_TEXT_DVB);
}

TEST(EIT, IsdbPresentFollowing)
{
    // Every field as the golden files show it (the start on Japan's clock, the text's line break
    // kept and its size controls giving the letters their width, the audio component and event
    // group decoded); here what they cannot show.
    const pidsift::Eit eit = Decode(kIsdbPresentFollowing);
    ASSERT_EQ(eit.events.size(), 2u);

    // Undefined start and duration: nothing made up.
    const pidsift::EitEvent &following = eit.events[1];
    EXPECT_FALSE(following.start_time.defined);
    EXPECT_FALSE(following.duration.defined);
    EXPECT_EQ(pidsift::FormatTime(following.start_time, TS_TEXT_ARIB), "");

    // The item cut between the two bytes of 後 comes back whole once joined; read alone, the first
    // part ends in a broken character.
    const pidsift::ExtendedEventText extended = pidsift::JoinExtendedEvents(following.descriptors);
    EXPECT_TRUE(extended.complete);
    ASSERT_EQ(extended.items.size(), 2u);
    EXPECT_EQ(Utf8(extended.items[0].description, TS_TEXT_ARIB), "番組内容");
    EXPECT_EQ(Utf8(extended.items[0].item, TS_TEXT_ARIB), "前半の文後半の文");
    EXPECT_EQ(Utf8(extended.items[1].description, TS_TEXT_ARIB), "出演者");
    EXPECT_EQ(Utf8(extended.items[1].item, TS_TEXT_ARIB), "山田太郎");
    const auto &first = std::get<pidsift::ExtendedEventDescriptor>(following.descriptors[1].decoded);
    EXPECT_EQ(Utf8(first.items[0].item, TS_TEXT_ARIB), "前半の文\xEF\xBF\xBD");

    ExpectGolden("eit_isdb_pf", eit, false, TS_TEXT_ARIB);
}

TEST(EIT, ScheduleSections)
{
    const pidsift::Eit isdb = Decode(kIsdbSchedule);
    EXPECT_EQ(isdb.table_id, 0x58);
    EXPECT_EQ(isdb.version_number, 3);
    EXPECT_EQ(isdb.section_number, 0x08);
    EXPECT_EQ(isdb.last_section_number, 0x18);
    EXPECT_EQ(isdb.segment_last_section_number, 0x08);
    EXPECT_EQ(isdb.last_table_id, 0x58);
    ASSERT_EQ(isdb.events.size(), 1u);

    const pidsift::Eit dvb = Decode(kDvbSchedule);
    EXPECT_EQ(dvb.table_id, 0x50);
    EXPECT_EQ(dvb.segment_last_section_number, 0x0F);
    EXPECT_EQ(dvb.last_table_id, 0x51);
    ASSERT_EQ(dvb.events.size(), 1u);

    // The event form the check reports: no short event, no name.
    const Json isdb_event = AsJson([&](TS_Json *json) {
        TS_Json_Key(json, "event");
        pidsift::PrintEventJSON(json, isdb.events[0], TS_TEXT_ARIB);
    })["event"];
    EXPECT_EQ(isdb_event.dump(), R"({"event_id":272,"start":"2019-06-13T06:00:00+09:00","duration_s":900,)"
                                 R"("name":null,"text":null,"genre":[],"running_status":0,"free_ca_mode":0})");
    const Json dvb_event = AsJson([&](TS_Json *json) {
        TS_Json_Key(json, "event");
        pidsift::PrintEventJSON(json, dvb.events[0], TS_TEXT_DVB);
    })["event"];
    EXPECT_EQ(dvb_event.dump(), R"j({"event_id":6912,"start":"2024-03-12T06:00:00Z","duration_s":2700,)j"
                                R"j("name":"Breakfast","text":"","genre":[{"content_nibble_level_1":2,)j"
                                R"j("content_nibble_level_2":0,"user_nibble_1":0,"user_nibble_2":0,)j"
                                R"j("level_1_name":"News/Current affairs",)j"
                                R"j("level_2_name":"news/current affairs (general)"}],"running_status":0,)j"
                                R"j("free_ca_mode":1})j");
}

// Digits that are no decimal digits, and hours, minutes or seconds out of range: undefined times,
// printed as their bytes, never as a made-up time.
TEST(EIT, BadBcdGivesUndefinedTimes)
{
    const EITSpec table = {0x4E, 1, 2, 3};
    const Bytes section =
        EITSection(table, {{1, 0xEBDC245900, SiDurationField(0, 30, 0), {}},         // hour 24
                           {2, 0xEBDC20A000, 0x006000, {}},                          // a nibble past 9; minute 60
                           {3, SiTimeField(2024, 3, 11, 23, 59, 59), 0x0A0000, {}},  // a good start; a bad hour digit
                           {4, kUndefinedSiTime, 0xFFFFFF, {}}});
    const pidsift::Eit eit = Decode(section);
    ASSERT_EQ(eit.events.size(), 4u);
    EXPECT_FALSE(eit.events[0].start_time.defined);
    EXPECT_TRUE(eit.events[0].duration.defined);
    EXPECT_FALSE(eit.events[1].start_time.defined);
    EXPECT_FALSE(eit.events[1].duration.defined);
    EXPECT_TRUE(eit.events[2].start_time.defined);
    EXPECT_FALSE(eit.events[2].duration.defined);
    const std::string text = CaptureStdout([&] { pidsift::PrintEit(eit, TS_TEXT_DVB); });
    EXPECT_NE(text.find("  EID:1 Start:undefined(0xEBDC245900) Duration:00:30:00 RS:4 FCA:0 DLL:0 DSC:0\n"
                        "  EID:2 Start:undefined(0xEBDC20A000) Duration:undefined(0x006000) RS:4 FCA:0 DLL:0 DSC:0\n"
                        "  EID:3 Start:2024-03-11T23:59:59Z Duration:undefined(0x0A0000) RS:4 FCA:0 DLL:0 DSC:0\n"
                        "  EID:4 Start:undefined(0xFFFFFFFFFF) Duration:undefined(0xFFFFFF) RS:4 FCA:0 DLL:0 "
                        "DSC:0\n"),
              std::string::npos)
        << text;
    const Json json = AsJson([&](TS_Json *writer) { pidsift::PrintEitJSON(writer, eit, true, TS_TEXT_DVB); });
    EXPECT_TRUE(json["events"][0]["start"].is_null());
    EXPECT_EQ(json["events"][0]["start_time_bytes"], "ebdc245900");
    EXPECT_EQ(json["events"][0]["duration_s"], 1800);
    EXPECT_TRUE(json["events"][1]["duration_s"].is_null());
    EXPECT_EQ(json["events"][1]["duration_bytes"], "006000");
}

// As the SDT and NIT decoders do: a descriptor that reaches past its loop is decoded and ends the
// loop, and the next event starts where descriptors_loop_length says; one that reaches past the
// section is not decoded. Texts whose lengths reach past their descriptor are cut there.
TEST(EIT, DescriptorsOverrunningTheirLoopOrSection)
{
    // Event 7's loop: a content descriptor and a short event whose descriptor_length (22) takes in
    // the twelve fixed bytes of event 8 behind the loop's 16 declared bytes.
    Bytes loop =
        Concat({Descriptor(0x54, {0x20, 0x00}), Descriptor(0x4D, {'e', 'n', 'g', 0, 5, 'T', 'o', 'd', 'a', 'y'})});
    loop[5] = 22;
    const EITSpec table = {0x4E, 0x0010, 1, 2};
    Bytes section = EITSection(table, {{7, SiTimeField(2024, 3, 11, 20, 0, 0), SiDurationField(1, 0, 0), loop},
                                       {8, SiTimeField(2024, 3, 11, 21, 0, 0), SiDurationField(1, 0, 0), {}}});
    pidsift::Eit eit = Decode(section);
    ASSERT_EQ(eit.events.size(), 2u);
    EXPECT_EQ(eit.events[0].descriptors_loop_length, 16);
    ASSERT_EQ(eit.events[0].descriptors.size(), 2u);
    EXPECT_EQ(eit.events[0].descriptors[1].descriptor_length, 22);
    EXPECT_EQ(Utf8(pidsift::FindShortEvent(eit.events[0])->text, TS_TEXT_DVB), "Today");
    EXPECT_EQ(eit.events[1].event_id, 8);
    EXPECT_EQ(pidsift::FormatTime(eit.events[1].start_time, TS_TEXT_DVB), "2024-03-11T21:00:00Z");

    // A text length past its descriptor, and a descriptor past the section's end.
    const Bytes cut_text = Descriptor(0x4D, {'e', 'n', 'g', 2, 'N', 'o', 40, 'T', 'e', 'x'});
    section = EITSection(table, {{9, SiTimeField(2024, 3, 11, 22, 0, 0), SiDurationField(0, 5, 0),
                                  Concat({cut_text, Descriptor(0x55, {'G', 'B', 'R', 0x04})})}});
    // descriptor_length of the parental rating: 30, past the section.
    section[section.size() - 4 - 6 + 1] = 30;
    section.resize(section.size() - 4);
    eit = Decode(Sealed(section));
    ASSERT_EQ(eit.events.size(), 1u);
    ASSERT_EQ(eit.events[0].descriptors.size(), 1u);
    const pidsift::ShortEventDescriptor &cut = *pidsift::FindShortEvent(eit.events[0]);
    EXPECT_EQ(cut.text_length, 40);
    EXPECT_EQ(Utf8(cut.text, TS_TEXT_DVB), "Tex");
    const std::string text = CaptureStdout([&] { pidsift::PrintEit(eit, TS_TEXT_DVB); });
    EXPECT_NE(text.find("  EID:9 Start:2024-03-11T22:00:00Z Duration:00:05:00 RS:4 FCA:0 DLL:18 DSC:1 TAGS:0x4D\n"
                        "    ShortEvent Lang:eng ENL:2 TL:40 Name:\"No\" Text:\"Tex\"\n"),
              std::string::npos)
        << text;
}

TEST(EIT, RefusedSectionsAndWhereTheCRCStands)
{
    pidsift::Eit eit;
    eit.service_id = 0x1234;
    EXPECT_EQ(pidsift::DecodeEit(nullptr, kDvbSchedule.data(), kDvbSchedule.size()), -1);
    EXPECT_EQ(pidsift::DecodeEit(&eit, nullptr, 10), -1);
    // Not an EIT: an SDT, a TDT, the table_ids on either side of 0x4E-0x6F.
    for (u8 table_id : {0x42, 0x4D, 0x70}) {
        Bytes other = kDvbSchedule;
        other[0] = table_id;
        EXPECT_EQ(pidsift::DecodeEit(&eit, other.data(), other.size()), -2) << int(table_id);
    }
    EXPECT_EQ(pidsift::DecodeEit(&eit, kDvbSchedule.data(), 0), -2);
    // Seventeen bytes: one short of the header, the fixed fields and the CRC_32.
    EXPECT_EQ(pidsift::DecodeEit(&eit, kDvbSchedule.data(), 17), -4);
    Bytes short_declared = EITSection({0x4F, 0x1234}, {});
    short_declared[2] = 14;  // 17 bytes as declared
    EXPECT_EQ(pidsift::DecodeEit(&eit, short_declared.data(), short_declared.size()), -4);
    EXPECT_EQ(eit.service_id, 0x1234);  // untouched
    EXPECT_TRUE(eit.events.empty());

    // Bytes past section_length (the rest of a packet): the section ends where it says.
    Bytes padded = kDvbSchedule;
    padded.insert(padded.end(), 20, 0xFF);
    eit = Decode(padded);
    EXPECT_EQ(eit.CRC_32, 0x210D4AFBu);
    ASSERT_EQ(eit.events.size(), 1u);

    // A section cut short: the events that are there; no CRC_32.
    eit = Decode(Bytes(kDvbSchedule.begin(), kDvbSchedule.end() - 6));
    EXPECT_EQ(eit.section_length, 47);
    EXPECT_EQ(eit.CRC_32, 0u);
    ASSERT_EQ(eit.events.size(), 1u);
    EXPECT_EQ(eit.events[0].descriptors.size(), 1u);  // the content descriptor is cut away
}

TEST(ExtendedEvents, WhichDescriptorsAreJoined)
{
    const auto join = [](const std::vector<Bytes> &descriptors) {
        const Bytes loop = Concat(descriptors);
        return pidsift::JoinExtendedEvents(
            pidsift::DecodeSiDescriptors(loop.data(), loop.size(), loop.data() + loop.size()));
    };
    // Another language's run is left out; a number sent twice is taken once; 1 of 0..2 missing.
    const pidsift::ExtendedEventText joined =
        join({ExtendedEventDescriptor(0, 2, "deu", {{Text("Regie"), Text("X")}}, Text("a")),
              ExtendedEventDescriptor(2, 2, "deu", {{Text("Musik"), Text("Y")}}, Text("c")),
              ExtendedEventDescriptor(0, 0, "eng", {{Text("Director"), Text("X")}}, Text("z")),
              ExtendedEventDescriptor(0, 2, "deu", {{Text("Regie"), Text("Z")}}, Text("b"))});
    EXPECT_EQ(joined.ISO_639_language_code, 0x646575u);
    EXPECT_FALSE(joined.complete);
    ASSERT_EQ(joined.items.size(), 2u);
    EXPECT_EQ(Utf8(joined.items[0].item, TS_TEXT_DVB), "X");
    EXPECT_EQ(Utf8(joined.items[1].description, TS_TEXT_DVB), "Musik");
    EXPECT_EQ(Utf8(joined.text, TS_TEXT_DVB), "ac");

    // An empty description with nothing before it to continue is an item of its own.
    const pidsift::ExtendedEventText lone = join({ExtendedEventDescriptor(0, 0, "jpn", {{{}, Text("A")}}, {})});
    EXPECT_TRUE(lone.complete);
    ASSERT_EQ(lone.items.size(), 1u);
    EXPECT_TRUE(lone.items[0].description.empty());
    EXPECT_TRUE(join({Descriptor(0x4D, {})}).items.empty());
    EXPECT_FALSE(join({}).present);
}

// Items that run past length_of_items keep what is inside it; the text follows length_of_items.
TEST(ExtendedEvents, ItemsCutByTheirLoop)
{
    Bytes descriptor = ExtendedEventDescriptor(0, 0, "eng", {{Text("Cast"), Text("A. Smith")}}, Text("tail"));
    // length_of_items 8: "Cast" with its length, the item's length and two bytes of its text.
    descriptor[6] = 8;
    const auto descriptors =
        pidsift::DecodeSiDescriptors(descriptor.data(), descriptor.size(), descriptor.data() + descriptor.size());
    const auto &extended = std::get<pidsift::ExtendedEventDescriptor>(descriptors.at(0).decoded);
    ASSERT_EQ(extended.items.size(), 1u);
    EXPECT_EQ(extended.items[0].item_length, 8);
    EXPECT_EQ(Utf8(extended.items[0].item, TS_TEXT_DVB), "A.");
    // The text's length is read where length_of_items ends (the space of "A. Smith"), and the
    // text cut where the descriptor ends.
    EXPECT_EQ(extended.text_length, ' ');
    EXPECT_EQ(extended.text, Concat({Text("Smith"), {4}, Text("tail")}));
}

TEST(Genres, NamesOfBothFamilies)
{
    const struct {
        u8 nibbles;
        int family;
        const char *level_1;
        const char *level_2;
    } cases[] = {
        {0x10, TS_TEXT_DVB, "Movie/Drama", "movie/drama (general)"},
        {0x4B, TS_TEXT_DVB, "Sports", "martial sports"},
        {0x4C, TS_TEXT_DVB, "Sports", nullptr},
        {0xC0, TS_TEXT_DVB, nullptr, nullptr},
        {0xF3, TS_TEXT_DVB, "user defined", "user defined"},
        {0x00, TS_TEXT_ARIB, "ニュース／報道", "定時・総合"},
        {0x0B, TS_TEXT_ARIB, "ニュース／報道", nullptr},
        {0x62, TS_TEXT_ARIB, "映画", "アニメ"},
        {0xA6, TS_TEXT_ARIB, "趣味／教育", "コンピュータ・ＴＶゲーム"},
        {0xB5, TS_TEXT_ARIB, "福祉", "文字（字幕）"},
        {0xC0, TS_TEXT_ARIB, nullptr, nullptr},
        {0xFF, TS_TEXT_ARIB, "その他", "その他"},
    };
    for (const auto &c : cases) {
        const u8 level_1 = c.nibbles >> 4;
        const u8 level_2 = c.nibbles & 0x0F;
        const char *name_1 = pidsift::ContentLevel1Name(level_1, c.family);
        const char *name_2 = pidsift::ContentLevel2Name(level_1, level_2, c.family);
        EXPECT_EQ(name_1 == nullptr ? "(none)" : std::string(name_1), c.level_1 == nullptr ? "(none)" : c.level_1)
            << std::hex << int(c.nibbles);
        EXPECT_EQ(name_2 == nullptr ? "(none)" : std::string(name_2), c.level_2 == nullptr ? "(none)" : c.level_2)
            << std::hex << int(c.nibbles);
    }
}

// A description longer than any name (the records' names stop at 255 bytes) comes out whole.
TEST(EIT, LongTextsAreNotCut)
{
    Bytes item;
    for (int i = 0; i < 120; ++i)
        item.insert(item.end(), {0x38, 0x2B});  // 見, 240 bytes in one item
    std::vector<Bytes> descriptors;
    for (u8 n = 0; n < 4; ++n)
        descriptors.push_back(ExtendedEventDescriptor(n, 3, "jpn", {{n == 0 ? Bytes{0x4D, 0x46} : Bytes{}, item}}, {}));
    const Bytes loop = Concat(descriptors);
    const pidsift::ExtendedEventText joined =
        pidsift::JoinExtendedEvents(pidsift::DecodeSiDescriptors(loop.data(), loop.size(), loop.data() + loop.size()));
    ASSERT_EQ(joined.items.size(), 1u);
    std::string expected;
    for (int i = 0; i < 480; ++i)
        expected += "見";
    EXPECT_EQ(Utf8(joined.items[0].item, TS_TEXT_ARIB), expected);
}

}  // namespace
