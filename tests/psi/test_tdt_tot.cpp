// The TDT and TOT: the clock of EN 300 468's worked example in both families, the local time
// offset around a change of offset, where the TOT's CRC_32 stands, and their text and JSON forms.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

#include <pidsift/si_tables.h>

#include "capture.h"
#include "psi/si.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;
using Json = nlohmann::ordered_json;

// EN 300 468 Annex C's example time, 93/10/13 12:45:00, in a TDT: section_syntax_indicator 0,
// reserved bits set, section_length 5.
const Bytes kTdt = {0x70, 0x70, 0x05, 0xC0, 0x79, 0x12, 0x45, 0x00};

// A DVB TOT two seconds before the United Kingdom's clocks go forward: 2024-03-31 (MJD 0xEBF0)
// 00:59:58 UTC; one local time offset entry: "GBR", region 0, polarity 0, +00:00 until
// 2024-03-31 01:00:00, +01:00 from then on.
const Bytes kDvbTot = {
    0x73, 0x70, 0x1A,              // table_id, flags, section_length 26
    0xEB, 0xF0, 0x00, 0x59, 0x58,  // UTC_time
    0xF0, 0x0F,                    // reserved, descriptors_loop_length 15
    0x58, 0x0D, 0x47, 0x42, 0x52, 0x02, 0x00, 0x00, 0xEB, 0xF0,
    0x01, 0x00, 0x00, 0x01, 0x00, 0xEA, 0x12, 0x16, 0xF0,  // CRC_32
};

// An ISDB TOT at 2019-06-12 21:00:00 JST: "JPN", offset +00:00, no change announced (time of
// change all ones).
const Bytes kIsdbTot = {
    0x73, 0x70, 0x1A, 0xE5, 0x16, 0x21, 0x00, 0x00, 0xF0, 0x0F, 0x58, 0x0D, 0x4A, 0x50, 0x4E,
    0x02, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0xD6, 0xE1, 0xAE, 0x93,
};

pidsift::Tot DecodeTot(const Bytes &section)
{
    pidsift::Tot tot;
    EXPECT_EQ(pidsift::DecodeTot(&tot, section.data(), section.size()), 0);
    return tot;
}

Json AsJson(const std::function<void(TS_Json *)> &members) { return Json::parse(CaptureJsonObject(members)); }

const pidsift::LocalTimeOffsetEntry &OnlyEntry(const pidsift::Tot &tot)
{
    return std::get<pidsift::LocalTimeOffsetDescriptor>(tot.descriptors.at(0).decoded).entries.at(0);
}

TEST(TDT, TheWorkedExampleInBothFamilies)
{
    pidsift::Tdt tdt;
    ASSERT_EQ(pidsift::DecodeTdt(&tdt, kTdt.data(), kTdt.size()), 0);
    EXPECT_EQ(tdt.table_id, 0x70);
    EXPECT_EQ(tdt.section_syntax_indicator, 0);
    EXPECT_EQ(tdt.reserved1, 3);
    EXPECT_EQ(tdt.section_length, 5);
    EXPECT_EQ(tdt.UTC_time.mjd, 0xC079);
    EXPECT_EQ(CaptureStdout([&] { pidsift::PrintTdt(tdt, TS_TEXT_DVB); }),
              "[TDT] TI:0x70(TDT) SSI:0 R1:3 SL:5 Time:1993-10-13T12:45:00Z\n");
    EXPECT_EQ(CaptureStdout([&] { pidsift::PrintTdt(tdt, TS_TEXT_ARIB); }),
              "[TDT] TI:0x70(TDT) SSI:0 R1:3 SL:5 Time:1993-10-13T12:45:00+09:00\n");
    EXPECT_EQ(AsJson([&](TS_Json *json) { pidsift::PrintTdtJSON(json, tdt, TS_TEXT_DVB); }).dump(),
              R"({"table_id":112,"section_syntax_indicator":0,"section_length":5,)"
              R"("utc_time":"1993-10-13T12:45:00Z","utc_time_bytes":"c079124500","crc_ok":null})");

    // A bad digit: no time.
    Bytes bad = kTdt;
    bad[6] = 0x4A;
    ASSERT_EQ(pidsift::DecodeTdt(&tdt, bad.data(), bad.size()), 0);
    EXPECT_FALSE(tdt.UTC_time.defined);
    EXPECT_EQ(CaptureStdout([&] { pidsift::PrintTdt(tdt, TS_TEXT_DVB); }),
              "[TDT] TI:0x70(TDT) SSI:0 R1:3 SL:5 Time:undefined(0xC079124A00)\n");
    EXPECT_TRUE(AsJson([&](TS_Json *json) { pidsift::PrintTdtJSON(json, tdt, TS_TEXT_DVB); })["utc_time"].is_null());
}

TEST(TDT, RefusedSections)
{
    pidsift::Tdt tdt;
    tdt.section_length = 77;
    EXPECT_EQ(pidsift::DecodeTdt(nullptr, kTdt.data(), kTdt.size()), -1);
    EXPECT_EQ(pidsift::DecodeTdt(&tdt, nullptr, 8), -1);
    EXPECT_EQ(pidsift::DecodeTdt(&tdt, kDvbTot.data(), kDvbTot.size()), -2);
    EXPECT_EQ(pidsift::DecodeTdt(&tdt, kTdt.data(), 7), -4);
    Bytes declared_short = kTdt;
    declared_short[2] = 4;
    EXPECT_EQ(pidsift::DecodeTdt(&tdt, declared_short.data(), declared_short.size()), -4);
    EXPECT_EQ(tdt.section_length, 77);  // untouched
    pidsift::Tot tot;
    EXPECT_EQ(pidsift::DecodeTot(&tot, kTdt.data(), kTdt.size()), -2);
    EXPECT_EQ(pidsift::DecodeTot(&tot, kDvbTot.data(), 13), -4);
}

TEST(TOT, TheOffsetAroundAChange)
{
    EXPECT_EQ(Crc32Mpeg2(kDvbTot.data(), kDvbTot.size()), 0u);
    const pidsift::Tot tot = DecodeTot(kDvbTot);
    EXPECT_EQ(tot.CRC_32, 0xEA1216F0u);
    const pidsift::LocalTimeOffsetEntry &entry = OnlyEntry(tot);
    EXPECT_EQ(entry.reserved, 1);

    // The offset in force: +00:00 up to the second before the change, +01:00 from it.
    int minutes = -1;
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(entry, tot.UTC_time, &minutes));
    EXPECT_EQ(minutes, 0);
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(entry, pidsift::DecodeSiTime(0xEBF0, 0x005959), &minutes));
    EXPECT_EQ(minutes, 0);
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(entry, pidsift::DecodeSiTime(0xEBF0, 0x010000), &minutes));
    EXPECT_EQ(minutes, 60);
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(entry, pidsift::DecodeSiTime(0xEBF1, 0x000000), &minutes));
    EXPECT_EQ(minutes, 60);
    EXPECT_FALSE(pidsift::LocalTimeOffsetAt(entry, pidsift::DecodeSiTime(0xFFFF, 0xFFFFFF), &minutes));

    EXPECT_EQ(CompareWithGolden("tot_dvb", CaptureStdout([&] { pidsift::PrintTot(tot, TS_TEXT_DVB); })), "");
    const Json json = AsJson([&](TS_Json *writer) { pidsift::PrintTotJSON(writer, tot, true, TS_TEXT_DVB); });
    EXPECT_EQ(CompareWithGolden("tot_dvb_json", json.dump(2) + "\n"), "");
}

// The CRC_32 stands at the end of the section as section_length gives it, whatever follows in
// the buffer; a TOT cut before it has none.
TEST(TOT, WhereTheCRCStands)
{
    Bytes padded = kDvbTot;
    padded.insert(padded.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x12});
    EXPECT_EQ(DecodeTot(padded).CRC_32, 0xEA1216F0u);
    const pidsift::Tot cut = DecodeTot(Bytes(kDvbTot.begin(), kDvbTot.end() - 2));
    EXPECT_EQ(cut.CRC_32, 0u);
    EXPECT_EQ(cut.descriptors.size(), 1u);  // the descriptor ends before the cut
}

TEST(TOT, IsdbClockAndOffsetsBehindUTC)
{
    const pidsift::Tot isdb = DecodeTot(kIsdbTot);
    EXPECT_EQ(Crc32Mpeg2(kIsdbTot.data(), kIsdbTot.size()), 0u);
    EXPECT_EQ(isdb.CRC_32, 0xD6E1AE93u);
    const pidsift::LocalTimeOffsetEntry &japan = OnlyEntry(isdb);
    EXPECT_FALSE(japan.time_of_change.defined);
    int minutes = -1;
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(japan, isdb.UTC_time, &minutes));
    EXPECT_EQ(minutes, 0);
    EXPECT_EQ(CaptureStdout([&] { pidsift::PrintTot(isdb, TS_TEXT_ARIB); }),
              "[TOT] TI:0x73(TOT) SSI:0 R1:3 SL:26 Time:2019-06-12T21:00:00+09:00\n"
              "  R:15 DLL:15 DSC:1 TAGS:0x58\n"
              "    LocalTimeOffset Entries:1\n"
              "      CC:JPN CRI:0 LTOP:0 LTO:+00:00 TOC:undefined(0xFFFFFFFFFF) NTO:+00:00\n"
              "  CRC32:0xD6E1AE93\n");

    // Polarity 1 turns both offsets negative; a digit out of range leaves that offset undefined.
    const Bytes brazil = TOTSection(
        SiTimeField(2024, 1, 1, 12, 0, 0),
        Descriptor(0x58, LocalTimeOffsetEntry("BRA", 0, true, 0x0300, SiTimeField(2024, 2, 1, 0, 0, 0), 0x0A00)));
    const pidsift::Tot tot = DecodeTot(brazil);
    const pidsift::LocalTimeOffsetEntry &entry = OnlyEntry(tot);
    ASSERT_TRUE(pidsift::LocalTimeOffsetAt(entry, tot.UTC_time, &minutes));
    EXPECT_EQ(minutes, -180);
    EXPECT_FALSE(pidsift::LocalTimeOffsetAt(entry, pidsift::DecodeSiTime(entry.time_of_change.mjd, 0), &minutes));
    const std::string text = CaptureStdout([&] { pidsift::PrintTot(tot, TS_TEXT_DVB); });
    EXPECT_NE(text.find("      CC:BRA CRI:0 LTOP:1 LTO:-03:00 TOC:2024-02-01T00:00:00Z NTO:undefined(0x0A00)\n"),
              std::string::npos)
        << text;
    const Json json = AsJson([&](TS_Json *writer) { pidsift::PrintTotJSON(writer, tot, false, TS_TEXT_DVB); });
    const Json &json_entry = json["descriptors"][0]["entries"][0];
    EXPECT_EQ(json_entry["local_time_offset"], "-03:00");
    EXPECT_TRUE(json_entry["next_time_offset"].is_null());
    EXPECT_EQ(json["crc_ok"], false);
}

// Descriptors of the TOT loop other than the local time offset descriptor, kept as their bytes
// (ARIB's event group descriptor too, in a DVB broadcast, where its tag is the broadcaster's),
// and entries cut short.
TEST(TOT, OtherDescriptorsAndCutEntries)
{
    Bytes entry = LocalTimeOffsetEntry("GBR", 0, false, 0x0000, SiTimeField(2024, 3, 31, 1, 0, 0), 0x0100);
    entry.resize(12);  // one byte short of an entry
    const Bytes loop = Concat({Descriptor(0x58, entry), Descriptor(0x5F, {0, 0, 0, 0x29}), Descriptor(0xD6, {0x10})});
    const pidsift::Tot tot = DecodeTot(TOTSection(SiTimeField(2024, 3, 31, 0, 0, 0), loop));
    ASSERT_EQ(tot.descriptors.size(), 3u);
    EXPECT_TRUE(std::get<pidsift::LocalTimeOffsetDescriptor>(tot.descriptors[0].decoded).entries.empty());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(tot.descriptors[1].decoded));
    EXPECT_EQ(std::get<pidsift::EventGroupDescriptor>(tot.descriptors[2].decoded).group_type, 1);
    const std::string text = CaptureStdout([&] { pidsift::PrintTot(tot, TS_TEXT_DVB); });
    EXPECT_NE(text.find("  R:15 DLL:23 DSC:3 TAGS:0x58,0x5F,0xD6\n"
                        "    LocalTimeOffset Entries:0\n"
                        "    Descriptor 0x5F(?) DL:4 Data:00000029\n"
                        "    Descriptor 0xD6(Event Group) DL:1 Data:10\n"
                        "  CRC32:"),
              std::string::npos)
        << text;
    const std::string arib = CaptureStdout([&] { pidsift::PrintTot(tot, TS_TEXT_ARIB); });
    EXPECT_NE(arib.find("    EventGroup GT:1 EC:0\n"), std::string::npos) << arib;
    const Json json = AsJson([&](TS_Json *writer) { pidsift::PrintTotJSON(writer, tot, true, TS_TEXT_DVB); });
    EXPECT_EQ(json["descriptors"][1].dump(), R"({"tag":95,"length":4,"name":null,"bytes":"00000029"})");
    EXPECT_EQ(json["descriptors"][2].dump(), R"({"tag":214,"length":1,"name":"Event Group","bytes":"10"})");
}

}  // namespace
