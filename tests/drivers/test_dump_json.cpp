// The stream dump as JSON Lines (TS_PRINT_JSON): every line read back by a JSON parser and its
// values checked against the stream that was built, where each block's packet stands in files of
// 188-, 192- and 204-byte units, and the same blocks as the text dump of the same selection.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include <pidsift/demux.h>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;
using nlohmann::json;

constexpr int kTables =
    TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_ECM | TS_PRINT_EMM | TS_PRINT_PCR | TS_PRINT_PIDS;

// The CRC_32 as the section carries it: its last four bytes.
u64 StoredCRC(const Bytes &section)
{
    const size_t n = section.size();
    return (u64(section[n - 4]) << 24) | (u64(section[n - 3]) << 16) | (u64(section[n - 2]) << 8) | section[n - 1];
}

std::string Hex(const Bytes &bytes)
{
    std::string text;
    for (u8 byte : bytes) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 0x0F];
    }
    return text;
}

// Two programs in broadcast order: the CAT first, then the PAT (network PID 0x0010), the PMT of
// 0x0400 on 0x01F0 (PCR on its video PID), the PMT of the scrambled 0x0401 on 0x01F1 spanning two
// packets with SI and null packets between them (ECM 0x0130, PCR on 0x01FF), a PCR on the video
// PID, a long and a short ECM section, an EMM on the CAT's EMM PID 0x0901, a PAT whose CRC_32 was
// damaged in transit, a PCR-only packet and a video packet.
struct Broadcast {
    Bytes pat = PATSection(0x7FE0, 3, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}});
    Bytes cat = CATSection(1, CADescriptor(0x0005, 0x0901));
    Bytes pmt_a = PMTSection(0x0400, 0, 0x0111, {},
                             {{0x02, 0x0111, Descriptor(0x02, {0x5A, 0x48, 0x5F})},
                              {0x0F, 0x0112, Descriptor(0x0A, {'j', 'p', 'n', 0, 'd', 0xFC, 't', 1})}});
    Bytes long_info = Counting(170);
    Bytes pmt_b = PMTSection(0x0401, 2, 0x01FF,
                             Concat({CADescriptor(0x0005, 0x0130, {0x01, 0x02}),
                                     Descriptor(0x05, Concat({{'A', 'R', 'I', 'B'}, long_info}))}),
                             {{0x02, 0x0121, {}}, {0x0F, 0x0122, {}}});
    Bytes ecm = PrivateSection(0x82, 0x0401, 0, {0x11, 0x22, 0x33, 0x44});
    // private_indicator 1, no CRC_32; a section shorter than 9 bytes after its length is refused.
    Bytes short_ecm = {0x82, 0x70, 0x0A, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00, 0x11, 0x22, 0x33};
    Bytes emm = PrivateSection(0x84, 0x0001, 0, {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0xEE, 0xEE});
    Bytes damaged_pat = pat;
    Recording recording;

    static Bytes Counting(size_t count)
    {
        Bytes bytes(count);
        for (size_t i = 0; i < count; ++i)
            bytes[i] = u8(i);
        return bytes;
    }

    Broadcast()
    {
        damaged_pat.back() ^= 0x01;
        PacketBuilder builder;
        recording.Add(builder.Section(0x0001, cat));    // 0
        recording.Add(builder.Section(0x0000, pat));    // 1
        recording.Add(builder.Section(0x01F0, pmt_a));  // 2
        const std::vector<Packet> halves = builder.Section(0x01F1, pmt_b);
        EXPECT_EQ(halves.size(), 2u);
        recording.Add(halves[0]);                                                               // 3
        recording.Add(builder.Section(0x0011, LongSection(0x42, 0x7FE0, 0, Bytes(20, 0x5A))));  // 4
        recording.Add(PacketBuilder::Null());                                                   // 5
        recording.Add(halves[1]);                                     // 6: completes the PMT of 0x0401
        recording.Add(builder.PCR(0x0111, 2700000, 12, true, 0x66));  // 7
        recording.Add(builder.Section(0x0130, ecm));                  // 8
        recording.Add(builder.Section(0x0901, emm));                  // 9
        recording.Add(builder.Section(0x0130, short_ecm));            // 10
        recording.Add(builder.Section(0x0000, damaged_pat));          // 11
        recording.Add(builder.PCR(0x01FF, 324000000, 299, false));    // 12
        recording.Add(builder.Payload(0x0111, 0x67));                 // 13
    }
};

// The recording in units of the given size: a 4-byte prefix before each packet of a 192-byte
// unit, 16 parity bytes after each of a 204-byte unit; lead bytes of no packet in front.
Bytes InUnits(const Recording &recording, size_t unit, size_t lead = 0)
{
    Bytes bytes(lead, 0xFF);
    for (size_t i = 0; i < recording.packets.size(); ++i) {
        if (unit == 192)
            bytes.insert(bytes.end(), {0x00, u8(i >> 16), u8(i >> 8), u8(i)});
        bytes.insert(bytes.end(), recording.packets[i].begin(), recording.packets[i].end());
        if (unit == 204)
            bytes.insert(bytes.end(), 16, 0x00);
    }
    return bytes;
}

class DumpJson : public ::testing::Test {
protected:
    std::string Dump(const Bytes &bytes, int mask, int expected_result = 0)
    {
        const std::string path = dir.File("in.ts");
        EXPECT_TRUE(WriteFile(path, bytes));
        std::string text;
        pidsift::RunSettings settings;
        settings.printed.text = &text;
        EXPECT_EQ(pidsift::Dump(path.c_str(), mask, settings), expected_result);
        return text;
    }
    // Every line parsed: the text must be whole lines of JSON objects and nothing else.
    std::vector<json> Lines(const Bytes &bytes, int mask)
    {
        const std::string text = Dump(bytes, mask | TS_PRINT_JSON);
        std::vector<json> lines;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find('\n', start);
            EXPECT_NE(end, std::string::npos) << "unterminated line";
            if (end == std::string::npos)
                break;
            lines.push_back(json::parse(text.substr(start, end - start)));
            EXPECT_TRUE(lines.back().is_object());
            start = end + 1;
        }
        return lines;
    }

    TempDir dir;
};

TEST_F(DumpJson, EveryBlockCarriesTheStreamsValues)
{
    const Broadcast b;
    const std::vector<json> lines = Lines(b.recording.bytes(), kTables);
    const std::vector<std::pair<std::string, u64>> order = {{"cat", 0},  {"pat", 1}, {"pmt", 2}, {"pmt", 6},
                                                            {"pcr", 7},  {"ecm", 8}, {"emm", 9}, {"ecm", 10},
                                                            {"pat", 11}, {"pcr", 12}};
    ASSERT_EQ(lines.size(), order.size() + 1);
    for (size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE(lines[i].dump());
        EXPECT_EQ(lines[i]["type"], order[i].first);
        EXPECT_EQ(lines[i]["packet_index"], order[i].second);
        EXPECT_EQ(lines[i]["byte_offset"], 188 * order[i].second);
        EXPECT_EQ(lines[i]["pid"], PacketPID(b.recording.packets[order[i].second]));
        EXPECT_EQ(lines[i]["transport_error_indicator"], 0);
    }

    const json &cat = lines[0];
    EXPECT_EQ(cat["descriptors"], json::parse(R"([{"tag":9,"length":4,"name":"Conditional access",)"
                                              R"("ca_system_id":5,"ca_pid":2305,"private_data_byte":""}])"));
    EXPECT_EQ(cat["crc_32"], StoredCRC(b.cat));

    const json &pat = lines[1];
    EXPECT_EQ(pat["table_id"], 0);
    EXPECT_EQ(pat["transport_stream_id"], 0x7FE0);
    EXPECT_EQ(pat["version_number"], 3);
    EXPECT_EQ(pat["section_length"], b.pat.size() - 3);
    EXPECT_EQ(pat["programs"], json::parse(R"([{"program_number":0,"pid":16},{"program_number":1024,"pid":496},)"
                                           R"({"program_number":1025,"pid":497}])"));
    EXPECT_EQ(pat["crc_32"], StoredCRC(b.pat));
    EXPECT_EQ(pat["crc_ok"], true);
    // The damaged PAT is shown as it came: its own CRC_32, which does not check.
    EXPECT_EQ(lines[8]["crc_32"], StoredCRC(b.damaged_pat));
    EXPECT_EQ(lines[8]["crc_ok"], false);
    EXPECT_EQ(lines[8]["programs"], pat["programs"]);

    const json &pmt_a = lines[2];
    EXPECT_EQ(pmt_a["program_number"], 0x0400);
    EXPECT_EQ(pmt_a["pcr_pid"], 0x0111);
    EXPECT_EQ(pmt_a["crc_32"], StoredCRC(b.pmt_a));
    EXPECT_EQ(pmt_a["crc_ok"], true);
    EXPECT_EQ(pmt_a["descriptors"], json::array());
    ASSERT_EQ(pmt_a["streams"].size(), 2u);
    EXPECT_EQ(pmt_a["streams"][0]["elementary_pid"], 0x0111);
    EXPECT_EQ(pmt_a["streams"][1]["stream_type"], 0x0F);
    EXPECT_EQ(pmt_a["streams"][1]["es_info_length"], 10);
    EXPECT_EQ(pmt_a["streams"][1]["descriptors"][0]["languages"],
              json::parse(R"([{"iso_639_language_code":"jpn","audio_type":0},)"
                          R"({"iso_639_language_code":"d\u00fct","audio_type":1}])"));

    // Completed by the second packet of its section.
    const json &pmt_b = lines[3];
    EXPECT_EQ(pmt_b["payload_unit_start_indicator"], 0);
    EXPECT_EQ(pmt_b["continuity_counter"], 1);
    EXPECT_EQ(pmt_b["program_number"], 0x0401);
    EXPECT_EQ(pmt_b["version_number"], 2);
    EXPECT_EQ(pmt_b["pcr_pid"], 0x01FF);
    EXPECT_EQ(pmt_b["crc_32"], StoredCRC(b.pmt_b));
    EXPECT_EQ(pmt_b["descriptors"][0]["ca_pid"], 0x0130);
    // The registration descriptor's bytes from both packets of the section.
    EXPECT_EQ(pmt_b["descriptors"][1]["additional_identification_info"], Hex(b.long_info));
    EXPECT_EQ(pmt_b["streams"], json::parse(R"([{"stream_type":2,"elementary_pid":289,"es_info_length":0,)"
                                            R"("descriptors":[]},{"stream_type":15,"elementary_pid":290,)"
                                            R"("es_info_length":0,"descriptors":[]}])"));

    EXPECT_EQ(lines[4]["program_clock_reference_base"], 2700000);
    EXPECT_EQ(lines[4]["program_clock_reference_extension"], 12);
    EXPECT_EQ(lines[9]["program_clock_reference_base"], 324000000);
    EXPECT_EQ(lines[9]["program_clock_reference_extension"], 299);
    EXPECT_EQ(lines[9]["adaptation_field_control"], 2);

    const json &ecm = lines[5];
    EXPECT_EQ(ecm["table_id"], 0x82);
    EXPECT_EQ(ecm["table_id_extension"], 0x0401);
    EXPECT_EQ(ecm["private_data_byte"], "11223344");
    EXPECT_EQ(ecm["crc_32"], StoredCRC(b.ecm));
    EXPECT_EQ(ecm["crc_ok"], true);
    // The short form has no CRC_32 to check, nor the long form's fields.
    EXPECT_EQ(lines[7],
              json::parse(R"({"type":"ecm","packet_index":10,"byte_offset":1880,)"
                          R"("transport_error_indicator":0,"payload_unit_start_indicator":1,)"
                          R"("transport_priority":0,"pid":304,"transport_scrambling_control":0,)"
                          R"("adaptation_field_control":1,"continuity_counter":1,"table_id":130,)"
                          R"("section_syntax_indicator":0,"private_indicator":1,)"
                          R"("private_section_length":10,"private_data_byte":"aabbccddeeff00112233","crc_ok":null})"));

    const json &emm = lines[6];
    EXPECT_EQ(emm["card_id"], 0x12345678);
    EXPECT_EQ(emm["private_data_byte"], "000012345678eeee");  // whole, the card ID's bytes included
    EXPECT_EQ(emm["crc_ok"], true);

    EXPECT_EQ(lines.back(), json::parse(R"({"type":"pids","pids":[1,0,496,497,17,8191,273,304,2305,511]})"));
}

TEST_F(DumpJson, OffsetsPointAtTheSyncByteWhateverTheUnit)
{
    const Broadcast b;
    const std::vector<json> plain = Lines(b.recording.bytes(), kTables);
    const struct {
        size_t unit, lead, first;  // first: offset of the first packet's sync byte
    } layouts[] = {{192, 0, 4}, {204, 0, 0}, {188, 100, 100}, {192, 37, 41}};
    for (const auto &layout : layouts) {
        SCOPED_TRACE(std::to_string(layout.unit) + " lead " + std::to_string(layout.lead));
        const std::vector<json> lines = Lines(InUnits(b.recording, layout.unit, layout.lead), kTables);
        ASSERT_EQ(lines.size(), plain.size());
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            const u64 index = lines[i]["packet_index"];
            EXPECT_EQ(lines[i]["byte_offset"], layout.first + layout.unit * index);
            json same = lines[i];
            same["byte_offset"] = plain[i]["byte_offset"];
            EXPECT_EQ(same, plain[i]);
        }
    }

    // Past the first read of 128 KiB, a 192-byte unit straddles the reads: every packet's offset.
    const Recording sample = Generate(SampleBroadcast(3000));
    const std::vector<json> packets = Lines(InUnits(sample, 192), TS_PRINT_PACKETS);
    ASSERT_EQ(packets.size(), sample.packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i]["packet_index"], i);
        ASSERT_EQ(packets[i]["byte_offset"], 192 * i + 4) << i;
        ASSERT_EQ(packets[i]["pid"], PacketPID(sample.packets[i])) << i;
    }
}

TEST_F(DumpJson, SameBlocksAsTheTextOfTheSameSelection)
{
    const Bytes bytes = Generate(SampleBroadcast(3000)).bytes();
    const struct {
        const char *type;
        const char *text;  // how the text starts the block's lines
    } blocks[] = {{"packet", "\n[TS Packet] "}, {"pat", "\n[PAT] "}, {"cat", "\n[CAT] "}, {"pmt", "\n[PMT] "},
                  {"ecm", "\n[Private] "},      {"emm", "\n[EMM] "}, {"pcr", "\n[PCR] "}, {"pids", "\nPID List:\n"}};
    for (int mask : {0x1FF, TS_PRINT_PAT | TS_PRINT_PMT | TS_PRINT_ECM | TS_PRINT_EMM | TS_PRINT_CHANGES,
                     TS_PRINT_ES | TS_PRINT_PCR}) {
        SCOPED_TRACE(mask);
        const std::string text = Dump(bytes, mask);
        const std::vector<json> lines = Lines(bytes, mask);
        for (const auto &block : blocks) {
            size_t count = 0;
            for (const json &line : lines)
                count += line["type"] == block.type;
            EXPECT_EQ(count, Occurrences(text, block.text)) << block.type;
        }
        if (mask & TS_PRINT_CHANGES) {
            ASSERT_EQ(lines.back()["type"], "summary");
            const std::string left_out = "Repeated tables left out: " + lines.back()["repeats_left_out"].dump() + "\n";
            EXPECT_GT(lines.back()["repeats_left_out"], 0);
            EXPECT_EQ(text.substr(text.size() - left_out.size()), left_out);
        }
    }
}

TEST_F(DumpJson, AReadErrorStillEndsWithThePIDListAndTheSummary)
{
    std::string text;
    pidsift::RunSettings settings;
    settings.printed.text = &text;
    EXPECT_EQ(pidsift::Dump(dir.path().c_str(), TS_PRINT_PIDS | TS_PRINT_CHANGES | TS_PRINT_JSON, settings), -5);
    EXPECT_EQ(text, "{\"type\":\"pids\",\"pids\":[]}\n{\"type\":\"summary\",\"repeats_left_out\":0}\n");
    // The public entry point prints the same on standard output.
    const TS_DumpOptions options = {TS_PRINT_PIDS | TS_PRINT_CHANGES | TS_PRINT_JSON};
    int result = 0;
    EXPECT_EQ(CaptureStdout([&] { result = TS_Dump(dir.path().c_str(), &options); }), text);
    EXPECT_EQ(result, -5);
}

// Two programs scrambled under ECM PIDs of their own, whose ECM sections take two packets each
// and come interleaved, as a multiplexer sends each ECM PID at its own pace: each PID's section
// is collected apart from the other's, and both print whole.
TEST_F(DumpJson, InterleavedECMSectionsOfTwoProgramsEachPrintWhole)
{
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}, {0x0401, 0x01F1}})));
    recording.Add(
        builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, CADescriptor(0x0005, 0x0130), {{0x02, 0x0111, {}}})));
    recording.Add(
        builder.Section(0x01F1, PMTSection(0x0401, 0, 0x0121, CADescriptor(0x0005, 0x0131), {{0x02, 0x0121, {}}})));
    Bytes first(200), second(200);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = u8(i);
        second[i] = u8(0xFF - i);
    }
    const Bytes ecm_a = PrivateSection(0x80, 0x0400, 0, first);
    const Bytes ecm_b = PrivateSection(0x81, 0x0401, 0, second);
    const std::vector<Packet> a = builder.Section(0x0130, ecm_a);
    const std::vector<Packet> b = builder.Section(0x0131, ecm_b);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 2u);
    recording.Add(a[0]);
    recording.Add(builder.Payload(0x0111, 0x11, true));
    recording.Add(b[0]);
    recording.Add(a[1]);
    recording.Add(PacketBuilder::Null());
    recording.Add(b[1]);
    const Bytes bytes = recording.bytes();

    const std::vector<json> lines = Lines(bytes, TS_PRINT_ECM);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["pid"], 0x0130);
    EXPECT_EQ(lines[0]["packet_index"], 6);  // the packet that ended it
    EXPECT_EQ(lines[0]["table_id_extension"], 0x0400);
    EXPECT_EQ(lines[0]["private_data_byte"], Hex(first));
    EXPECT_EQ(lines[0]["crc_ok"], true);
    EXPECT_EQ(lines[1]["pid"], 0x0131);
    EXPECT_EQ(lines[1]["packet_index"], 8);
    EXPECT_EQ(lines[1]["table_id_extension"], 0x0401);
    EXPECT_EQ(lines[1]["private_data_byte"], Hex(second));
    EXPECT_EQ(lines[1]["crc_ok"], true);

    // The text: each under the header line of the packet that ended it, with its own CRC_32.
    const std::string text = Dump(bytes, TS_PRINT_ECM);
    char crcs[2][32];
    snprintf(crcs[0], sizeof crcs[0], "  CRC32:0x%08X\n", Crc32Mpeg2(ecm_a.data(), ecm_a.size() - 4));
    snprintf(crcs[1], sizeof crcs[1], "  CRC32:0x%08X\n", Crc32Mpeg2(ecm_b.data(), ecm_b.size() - 4));
    const size_t at_a = text.find("PID:0x0130(<assigned>) TSC:0 AFC:1 CN:1\n[Private] TI:0x80");
    const size_t at_b = text.find("PID:0x0131(<assigned>) TSC:0 AFC:1 CN:1\n[Private] TI:0x81");
    ASSERT_NE(at_a, std::string::npos) << text;
    ASSERT_NE(at_b, std::string::npos) << text;
    EXPECT_LT(at_a, text.find(crcs[0]));
    EXPECT_LT(text.find(crcs[0]), at_b);
    EXPECT_LT(at_b, text.find(crcs[1]));
    EXPECT_EQ(Occurrences(text, "[Private]"), 2u);
}

// A PAT of 40 programs over two packets, and a PMT of 20 streams, one with 40 descriptors: the
// dump prints every entry, as text and as JSON; TS_Print keeps the records' 16 entries.
TEST_F(DumpJson, EveryEntryOfALargePATAndPMT)
{
    std::vector<PATEntry> programs = {{0, 0x0010}};
    for (u16 n = 1; n <= 40; ++n)
        programs.push_back({n, u16(0x01F0 + n)});
    Bytes descriptors;
    for (u8 i = 0; i < 40; ++i)
        descriptors.insert(descriptors.end(), {0x52, 0x01, i});  // stream identifiers
    std::vector<PMTStreamSpec> streams;
    for (u16 s = 0; s < 20; ++s)
        streams.push_back({0x06, u16(0x0300 + s), s == 19 ? descriptors : Bytes{0x52, 0x01, u8(s)}});
    PacketBuilder builder;
    Recording recording;
    recording.Add(builder.Section(0x0000, PATSection(0x7FE0, 0, programs)));
    recording.Add(builder.Null());
    recording.Add(builder.Section(0x0218, PMTSection(40, 0, 0x0300, {}, streams)));
    const Bytes bytes = recording.bytes();

    const std::string text = Dump(bytes, TS_PRINT_PAT | TS_PRINT_PMT);
    EXPECT_NE(text.find("  Program:41\n"), std::string::npos);
    EXPECT_NE(text.find("  PN:40 R3:7 PMTPID:0x0218\n"), std::string::npos);
    EXPECT_EQ(Occurrences(text, "  ST:0x06("), 20u);
    EXPECT_NE(text.find("EPID:0x0313 ESIL:120 DSC:40\n  DSC:40\n"), std::string::npos);
    EXPECT_EQ(Occurrences(text, "[D Stream Identifier]"), 19u + 40u);

    const std::vector<json> lines = Lines(bytes, TS_PRINT_PAT | TS_PRINT_PMT);
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0]["programs"].size(), 41u);
    EXPECT_EQ(lines[0]["programs"][40]["pid"], 0x0218);
    ASSERT_EQ(lines[1]["streams"].size(), 20u);
    EXPECT_EQ(lines[1]["streams"][19]["descriptors"].size(), 40u);

    // TS_Print: the records hold the first 16 entries, streams and 32 descriptors.
    const std::string path = dir.File("large.ts");
    ASSERT_TRUE(WriteFile(path, bytes));
    const std::string records = CaptureStdout([&] { EXPECT_EQ(TS_Print(path.c_str(), TS_PRINT_PAT), 0); });
    EXPECT_NE(records.find("  Program:16\n"), std::string::npos);
    EXPECT_EQ(Occurrences(records, "  PN:"), 16u);
}

}  // namespace
