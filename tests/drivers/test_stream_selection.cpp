// Keeping some streams of a program: the selection's syntax, the PMT that lists the kept streams
// alone, and the extraction that writes only their packets with that PMT in the PMT packets.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include <pidsift/stream_selection.h>

#include "drivers/stream_keeper.h"
#include "dvb_streams.h"

namespace {

using namespace testsupport;

pidsift::StreamSelection Selection(const char *text)
{
    pidsift::StreamSelection selection;
    std::string error;
    EXPECT_TRUE(pidsift::ParseStreamSelection(text, &selection, &error)) << text << ": " << error;
    return selection;
}

// The DVB multiplex's streams of a program whose PIDs are in pids, in PMT order.
std::vector<PMTStreamSpec> StreamsOn(u16 program_number, const std::set<u16> &pids)
{
    std::vector<PMTStreamSpec> kept;
    for (const PMTStreamSpec &stream : DvbStreams(program_number))
        if (pids.count(stream.pid) != 0)
            kept.push_back(stream);
    return kept;
}

TEST(StreamSelection, ParsesKindsLanguagesAndPids)
{
    using pidsift::StreamKind;
    const pidsift::StreamSelection selection = Selection("video,audio:FRA,subtitles:deu,0x0101,257,0X1fff,cue");
    const std::vector<pidsift::StreamChoice> expected = {
        {false, 0, StreamKind::Video, ""},        {false, 0, StreamKind::Audio, "fra"},
        {false, 0, StreamKind::Subtitles, "deu"}, {true, 0x0101, StreamKind::Data, ""},
        {true, 257, StreamKind::Data, ""},        {true, 0x1FFF, StreamKind::Data, ""},
        {false, 0, StreamKind::Cue, ""},
    };
    EXPECT_EQ(selection.choices, expected);

    const struct {
        const char *text;
        const char *error;
    } wrong[] = {
        {"", "an empty item"},
        {"video,", "an empty item"},
        {",audio", "an empty item"},
        {"sound", "unknown kind 'sound' (video, audio, subtitles, teletext, captions, data, cue, or a PID)"},
        {"audio:fr", "'fr' in 'audio:fr' is no language: three letters, as 'fra'"},
        {"audio:fr1", "'fr1' in 'audio:fr1' is no language: three letters, as 'fra'"},
        {"audio:", "'' in 'audio:' is no language: three letters, as 'fra'"},
        {"0x2000", "'0x2000' is no PID (0 to 0x1FFF, 0x for hexadecimal)"},
        {"8192", "'8192' is no PID (0 to 0x1FFF, 0x for hexadecimal)"},
        {"0x", "'0x' is no PID (0 to 0x1FFF, 0x for hexadecimal)"},
        {"25a", "'25a' is no PID (0 to 0x1FFF, 0x for hexadecimal)"},
    };
    for (const auto &each : wrong) {
        pidsift::StreamSelection ignored;
        std::string error;
        EXPECT_FALSE(pidsift::ParseStreamSelection(each.text, &ignored, &error)) << each.text;
        EXPECT_EQ(error, each.error) << each.text;
    }
}

TEST(StreamSelection, PmtListsTheKeptStreamsAlone)
{
    const Bytes broadcast = DvbPmt(kDvbProgram, DvbStreams(kDvbProgram));
    const struct {
        const char *selection;
        std::set<u16> kept;
    } cases[] = {
        {"audio:fra", {0x0102, 0x0103}},
        {"audio", {0x0102, 0x0103, 0x0104}},
        {"video,subtitles:fra,teletext", {0x0101, 0x0105, 0x0106}},
        {"data", {0x0107}},
        {"0x0104,261", {0x0104, 0x0105}},
        {"audio:eng,0x0104", {0x0104}},  // selected twice, listed once
        {"captions,subtitles:deu", {}},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.selection);
        std::vector<u16> kept;
        const std::vector<u8> rewritten =
            pidsift::SelectPmtStreams(broadcast.data(), broadcast.size(), Selection(each.selection), &kept);
        // The same header, version and program loop; the CRC_32 by the test's own computation.
        EXPECT_EQ(rewritten, DvbPmt(kDvbProgram, StreamsOn(kDvbProgram, each.kept)));
        EXPECT_EQ(std::set<u16>(kept.begin(), kept.end()), each.kept);
        ASSERT_GE(rewritten.size(), 4u);
        const size_t body = rewritten.size() - 4;
        EXPECT_EQ(Crc32Mpeg2(rewritten.data(), body), u32(rewritten[body] << 24 | rewritten[body + 1] << 16 |
                                                          rewritten[body + 2] << 8 | rewritten[body + 3]));
    }

    // What is not a PMT, or does not hold together, is not rewritten.
    Bytes cut = broadcast;
    cut[2] = u8(cut[2] + 1);  // section_length past the end
    Bytes entry_over = broadcast;
    entry_over[12 + 62 + 4] = 0xFF;  // the first ES_info_length past the loop
    Bytes not_pmt = broadcast;
    not_pmt[0] = 0x42;
    for (const Bytes &bad : {cut, entry_over, not_pmt, Bytes(broadcast.begin(), broadcast.begin() + 15)})
        EXPECT_TRUE(pidsift::SelectPmtStreams(bad.data(), bad.size(), Selection("audio")).empty());
}

// The sections a run of packets of one PID carries, read as a decoder reads them: from each
// payload_unit_start_indicator's pointer_field on, up to stuffing.
std::vector<Bytes> SectionsOf(const std::vector<pidsift::PacketBytes> &packets)
{
    std::vector<Bytes> sections;
    Bytes pending;
    bool in_section = false;
    auto take = [&](const u8 *bytes, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            if (!in_section && bytes[i] == 0xFF)
                return;
            in_section = true;
            pending.push_back(bytes[i]);
            if (pending.size() >= 3 && pending.size() == 3 + size_t(((pending[1] & 0x0F) << 8) | pending[2])) {
                sections.push_back(pending);
                pending.clear();
                in_section = false;
            }
        }
    };
    for (const pidsift::PacketBytes &packet : packets) {
        const u8 *payload = packet.data() + 4;
        size_t size = 184;
        if (packet[1] & 0x40) {
            const size_t pointer = payload[0];
            take(payload + 1, pointer);  // ends the section in progress
            pending.clear();
            in_section = false;
            payload += 1 + pointer;
            size -= 1 + pointer;
        }
        take(payload, size);
    }
    return sections;
}

TEST(StreamSelection, RunOfPacketsRewrittenInPlace)
{
    // Another program's PMT, then this one's packed behind it and cut by the packet end, on one
    // PID, then a second PMT section of this program after stuffing.
    const Bytes other = PMTSection(300, 1, 0x0301, {}, {{0x1B, 0x0301, Bytes(150, 0x11)}});
    const Bytes ours = DvbPmt(kDvbProgram, DvbStreams(kDvbProgram));
    PacketBuilder builder;
    std::vector<Packet> packets = builder.Packed(kDvbPmtPid, {other, ours});
    for (const Packet &packet : builder.Section(kDvbPmtPid, ours))
        packets.push_back(packet);
    std::vector<pidsift::PacketBytes> run(packets.begin(), packets.end());
    const std::vector<pidsift::PacketBytes> before = run;
    std::vector<pidsift::PacketBytes *> pointers;
    for (pidsift::PacketBytes &packet : run)
        pointers.push_back(&packet);

    ASSERT_TRUE(pidsift::StreamKeeper::RewriteRun(pointers, kDvbProgram, Selection("audio:fra")));
    const Bytes kept = DvbPmt(kDvbProgram, StreamsOn(kDvbProgram, {0x0102, 0x0103}));
    EXPECT_EQ(SectionsOf(run), (std::vector<Bytes>{other, kept, kept}));
    ASSERT_EQ(run.size(), before.size());
    for (size_t i = 0; i < run.size(); ++i) {
        SCOPED_TRACE(i);
        // Every packet keeps its PID, continuity_counter and adaptation_field_control.
        EXPECT_EQ(run[i][1] & 0x1F, before[i][1] & 0x1F);
        EXPECT_EQ(run[i][2], before[i][2]);
        EXPECT_EQ(run[i][3], before[i][3]);
    }

    // A run that does not start a section, or whose section is cut, stays as it came.
    std::vector<pidsift::PacketBytes *> tail(pointers.begin() + 2, pointers.end());
    const std::vector<pidsift::PacketBytes> untouched = run;
    EXPECT_FALSE(pidsift::StreamKeeper::RewriteRun(tail, kDvbProgram, Selection("audio")));
    std::vector<pidsift::PacketBytes *> cut(pointers.begin(), pointers.begin() + 1);
    EXPECT_FALSE(pidsift::StreamKeeper::RewriteRun(cut, kDvbProgram, Selection("audio")));
    EXPECT_EQ(run, untouched);
}

class ExtractStreams : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteFile(dir.File("dvb.ts"), recording.bytes())); }
    std::vector<Packet> Extract(u16 pmt_pid, const char *selection, int expected_result = 0)
    {
        const std::string output = dir.File("out.ts");
        EXPECT_EQ(pidsift::ExtractProgramStreams(dir.File("dvb.ts").c_str(), pmt_pid, 0, Selection(selection),
                                                 output.c_str()),
                  expected_result);
        return Packets(ReadBytes(output));
    }

    const Recording recording = DvbStreamsRecording();
    TempDir dir;
};

TEST_F(ExtractStreams, KeepsTheSelectedStreamsPcrAndEcmByteForByte)
{
    const struct {
        u16 program;
        u16 pmt_pid;
        const char *selection;
        std::set<u16> streams;
        std::set<u16> copied;  // besides the PMT and the PAT
    } cases[] = {
        {kDvbProgram, kDvbPmtPid, "audio:fra,subtitles", {0x0102, 0x0103, 0x0105}, {0x0101, 0x0102, 0x0103, 0x0105}},
        // The PCR stays on the video PID that the PMT no longer lists.
        {kDvbProgram, kDvbPmtPid, "audio:eng", {0x0104}, {0x0101, 0x0104}},
        {kDvbProgram, kDvbPmtPid, "video,teletext,263", {0x0101, 0x0106, 0x0107}, {0x0101, 0x0106, 0x0107}},
        // The PCR PID of its own and the ECM PID.
        {kDvbSecondProgram, kDvbSecondPmtPid, "audio:deu", {0x0202}, {0x0200, 0x0202, 0x0209}},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.selection);
        const std::vector<Packet> output = Extract(each.pmt_pid, each.selection);
        std::vector<Packet> expected_copies;
        std::vector<Packet> input_pmt;
        for (size_t i = 0; i < recording.packets.size(); ++i) {
            const u16 pid = PacketPID(recording.packets[i]);
            if (each.copied.count(pid) != 0)
                expected_copies.push_back(recording.packets[i]);
            if (pid == each.pmt_pid)
                input_pmt.push_back(recording.packets[i]);
        }
        std::vector<Packet> copies, pmt, pat;
        for (const Packet &packet : output) {
            const u16 pid = PacketPID(packet);
            (pid == each.pmt_pid ? pmt : pid == 0 ? pat : copies).push_back(packet);
        }
        EXPECT_EQ(copies, expected_copies);  // byte for byte, in input order, nothing else
        EXPECT_EQ(pat.size(), 6u);

        // The PMT packets: as many as came, each with its header as it came, the rewritten
        // section from the first one's pointer_field on, stuffing after.
        const Bytes section = DvbPmt(each.program, StreamsOn(each.program, each.streams));
        ASSERT_EQ(pmt.size(), input_pmt.size());
        const size_t per_section = each.program == kDvbProgram ? 2 : 1;
        for (size_t i = 0; i < pmt.size(); ++i) {
            Packet expected;
            expected.fill(0xFF);
            std::copy(input_pmt[i].begin(), input_pmt[i].begin() + 4, expected.begin());
            if (i % per_section == 0) {
                expected[4] = 0x00;
                std::copy(section.begin(), section.end(), expected.begin() + 5);
            }
            EXPECT_EQ(pmt[i], expected) << "PMT packet " << i;
        }
    }
}

TEST_F(ExtractStreams, SectionsCutShortOrByTheEnd)
{
    // The second packet of the third PMT of 257 lost: the section never completes, and the
    // program's packets behind it wait with it for the next PMT, whose run is laid out again
    // without the cut section. The recording then ends after the first packet of another PMT:
    // that one, held, goes out as it came.
    std::vector<Packet> packets = recording.packets;
    std::vector<size_t> pmt_starts;
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == kDvbPmtPid && (packets[i][1] & 0x40))
            pmt_starts.push_back(i);
    ASSERT_GE(pmt_starts.size(), 5u);
    const Packet last = packets[pmt_starts[4]];
    packets.resize(pmt_starts[4] + 1);
    packets.erase(packets.begin() + long(pmt_starts[2] + 1));
    ASSERT_TRUE(WriteFile(dir.File("dvb.ts"), Flatten(packets)));
    const std::vector<Packet> output = Extract(kDvbPmtPid, "audio:eng");

    std::vector<Packet> pmt;
    for (const Packet &packet : output)
        if (PacketPID(packet) == kDvbPmtPid)
            pmt.push_back(packet);
    ASSERT_EQ(pmt.size(), 2u * 4 - 1 + 1);
    EXPECT_EQ(pmt.back(), last);
    // The run of the lost packet: its first packet and the next PMT's two carry the next PMT
    // rewritten from the first one's payload on, stuffing after.
    const Bytes section = DvbPmt(kDvbProgram, StreamsOn(kDvbProgram, {0x0104}));
    Packet expected;
    expected.fill(0xFF);
    std::copy(packets[pmt_starts[2]].begin(), packets[pmt_starts[2]].begin() + 4, expected.begin());
    expected[4] = 0x00;
    std::copy(section.begin(), section.end(), expected.begin() + 5);
    EXPECT_EQ(pmt[4], expected);
    for (size_t i = 5; i < 7; ++i) {
        EXPECT_EQ(pmt[i][1] & 0x40, 0) << i;
        EXPECT_EQ(std::count(pmt[i].begin() + 4, pmt[i].end(), 0xFF), 184) << i;
    }
    // The stream packets kept are all there, in input order.
    std::vector<Packet> streams, expected_streams;
    for (const Packet &packet : output)
        if (PacketPID(packet) == 0x0101 || PacketPID(packet) == 0x0104)
            streams.push_back(packet);
    for (const Packet &packet : packets)
        if (PacketPID(packet) == 0x0101 || PacketPID(packet) == 0x0104)
            expected_streams.push_back(packet);
    EXPECT_EQ(streams, expected_streams);
}

TEST_F(ExtractStreams, SelectionOfNoStreamWritesNothingBeyondThePat)
{
    const std::vector<Packet> output = Extract(kDvbPmtPid, "subtitles:deu,captions", -8);
    for (const Packet &packet : output)
        EXPECT_EQ(PacketPID(packet), 0x0000);
}

}  // namespace
