// pidsift-split program --streams end to end: the arguments, the streams a selection keeps, and
// two media readers that take the result for a recording of those streams alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <regex>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "dvb_streams.h"

namespace {

using namespace testsupport;

class SplitStreams : public ::testing::Test {
protected:
    CommandResult Split(const std::string &arguments)
    {
        return RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary("pidsift-split")) + " program " +
                          arguments);
    }
    bool Exists(const std::string &name)
    {
        struct stat status;
        return stat(dir.File(name).c_str(), &status) == 0;
    }

    TempDir dir;
};

TEST_F(SplitStreams, SelectionErrorsAreUsageErrors)
{
    ASSERT_TRUE(WriteFile(dir.File("dvb.ts"), DvbStreamsRecording().bytes()));
    const struct {
        const char *arguments;
        const char *message;
    } cases[] = {
        {"dvb.ts 1f0 --streams", "pidsift-split: --streams needs a list of streams, such as video,audio:fra\n"},
        {"dvb.ts 1f0 --streams sound", "pidsift-split: invalid --streams 'sound': unknown kind 'sound' (video, audio, "
                                       "subtitles, teletext, captions, data, cue, or a PID)\n"},
        {"dvb.ts 1f0 --streams audio:french -o out.ts",
         "pidsift-split: invalid --streams 'audio:french': 'french' in 'audio:french' is no language: three letters, "
         "as 'fra'\n"},
        {"dvb.ts 1f0 --streams subtitles:deu,0x0300 -o out.ts",
         "pidsift-split: --streams 'subtitles:deu,0x0300' selects no stream of the program's PMT\n"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.arguments);
        const CommandResult result = Split(each.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, std::string(each.message) + "Try 'pidsift-split --help' for more information.\n");
        EXPECT_FALSE(Exists("out.ts"));
    }

    const CommandResult kept = Split("dvb.ts 0x1F0 --streams audio:fra,0x0106 -o out.ts");
    EXPECT_EQ(kept.status, 0) << kept.err;
    EXPECT_TRUE(std::regex_search(kept.out, std::regex("Wrote 1 file:\n +[0-9]+  out.ts\n"))) << kept.out;
    std::set<u16> pids;
    for (const Packet &packet : Packets(ReadBytes(dir.File("out.ts"))))
        pids.insert(PacketPID(packet));
    EXPECT_EQ(pids, (std::set<u16>{0x0000, 0x0101, 0x0102, 0x0103, 0x0106, kDvbPmtPid}));
}

// ---- Readers ------------------------------------------------------------------------------------

// PES packets of MPEG-1 Layer II audio, one silent frame each (48 kHz, 128 kbit/s, mono: 384
// bytes, every allocation 0), cut into packets with adaptation-field stuffing before the end.
std::vector<Packet> AudioFrame(PacketBuilder *builder, u16 pid, u64 pts)
{
    Bytes pes = {0x00, 0x00, 0x01, 0xC0, 0x00, 0x00, 0x80, 0x80, 0x05};
    pes.push_back(u8(0x21 | ((pts >> 29) & 0x0E)));
    pes.push_back(u8(pts >> 22));
    pes.push_back(u8(0x01 | ((pts >> 14) & 0xFE)));
    pes.push_back(u8(pts >> 7));
    pes.push_back(u8(0x01 | ((pts << 1) & 0xFE)));
    Bytes frame(384, 0x00);
    frame[0] = 0xFF;
    frame[1] = 0xFD;
    frame[2] = 0x84;
    frame[3] = 0xC0;
    pes.insert(pes.end(), frame.begin(), frame.end());
    const size_t pes_length = pes.size() - 6;
    pes[4] = u8(pes_length >> 8);
    pes[5] = u8(pes_length);

    std::vector<Packet> packets;
    for (size_t at = 0; at < pes.size();) {
        Packet packet;
        const size_t left = pes.size() - at;
        packet[0] = 0x47;
        packet[1] = u8((at == 0 ? 0x40 : 0x00) | (pid >> 8));
        packet[2] = u8(pid);
        const u8 counter = builder->NextCounter(pid);
        size_t payload_at = 4;
        if (left < 184) {
            // Adaptation field of stuffing: its length byte, then flags and 0xFF.
            const size_t field = 184 - left - 1;
            packet[3] = u8(0x30 | counter);
            packet[4] = u8(field);
            if (field > 0) {
                packet[5] = 0x00;
                std::fill(packet.begin() + 6, packet.begin() + 5 + long(field), 0xFF);
            }
            payload_at = 5 + field;
        } else {
            packet[3] = u8(0x10 | counter);
        }
        const size_t count = 188 - payload_at;
        std::copy(pes.begin() + long(at), pes.begin() + long(at + count), packet.begin() + long(payload_at));
        at += count;
        packets.push_back(packet);
    }
    return packets;
}

// A radio programme of three audio tracks, French, German and English, PCR on a PID of its own.
Bytes RadioRecording()
{
    PacketBuilder builder;
    auto language = [](const char *code) { return Descriptor(0x0A, {u8(code[0]), u8(code[1]), u8(code[2]), 0x00}); };
    const Bytes pat = PATSection(0x0001, 0, {{1, 0x01F0}});
    const Bytes pmt =
        PMTSection(1, 0, 0x0300, {},
                   {{0x03, 0x0301, language("fra")}, {0x03, 0x0302, language("deu")}, {0x03, 0x0303, language("eng")}});
    Bytes bytes;
    const u64 start = 90000;
    for (unsigned frame = 0; frame < 150; ++frame) {
        const u64 pts = start + frame * 2160;  // 1152 samples at 48 kHz
        if (frame % 10 == 0) {
            Append(&bytes, builder.Section(0x0000, pat));
            Append(&bytes, builder.Section(0x01F0, pmt));
        }
        const u64 pcr = (pts - 9000) * 300;
        Append(&bytes, builder.PCR(0x0300, pcr / 300, 0, false));
        for (u16 pid = 0x0301; pid <= 0x0303; ++pid)
            Append(&bytes, AudioFrame(&builder, pid, pts));
    }
    return bytes;
}

bool Installed(const char *command) { return RunCommand(std::string("command -v ") + command).status == 0; }

TEST_F(SplitStreams, MediaReadersSeeTheKeptStreamsAlone)
{
    if (!Installed("ffprobe") || !Installed("gst-discoverer-1.0"))
        GTEST_SKIP() << "ffprobe (Debian package ffmpeg) or gst-discoverer-1.0 (gstreamer1.0-tools, "
                        "gstreamer1.0-plugins-base-apps, gstreamer1.0-plugins-bad) is not installed";
    // What each reader lists: the PID and codec of every stream ffprobe finds, and the PID and
    // language of every audio stream GStreamer's discoverer finds.
    auto probed = [](const std::string &file) {
        const CommandResult result =
            RunCommand("ffprobe -v error -show_entries stream=id,codec_name -of json " + Quote(file));
        EXPECT_EQ(result.status, 0) << result.err;
        std::string listed;
        const nlohmann::json report = nlohmann::json::parse(result.out);
        for (const auto &stream : report["streams"])
            listed += stream["id"].get<std::string>() + " " + stream["codec_name"].get<std::string>() + "\n";
        return listed;
    };
    auto discovered = [](const std::string &file) {
        const CommandResult result = RunCommand("gst-discoverer-1.0 " + Quote(file));
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        std::string listed;
        const std::regex stream("audio #[0-9]+: ([^\n]*)\n +Stream ID: [^\n]*/0000([0-9a-f]{4})\n +Language: ([a-z]+)");
        for (std::sregex_iterator match(result.out.begin(), result.out.end(), stream), end; match != end; ++match)
            listed += (*match)[2].str() + " " + (*match)[1].str() + " " + (*match)[3].str() + "\n";
        return listed;
    };
    // The whole recording first: the readers see the three tracks.
    ASSERT_TRUE(WriteFile(dir.File("radio.ts"), RadioRecording()));
    EXPECT_EQ(probed(dir.File("radio.ts")), "0x301 mp2\n0x302 mp2\n0x303 mp2\n");
    EXPECT_EQ(discovered(dir.File("radio.ts")), "0301 MPEG-1 Layer 2 (MP2) fr\n0302 MPEG-1 Layer 2 (MP2) de\n"
                                                "0303 MPEG-1 Layer 2 (MP2) en\n");

    const CommandResult split = Split("radio.ts 1f0 --streams audio:fra,audio:eng -o kept.ts");
    ASSERT_EQ(split.status, 0) << split.err;
    EXPECT_EQ(probed(dir.File("kept.ts")), "0x301 mp2\n0x303 mp2\n");
    EXPECT_EQ(discovered(dir.File("kept.ts")), "0301 MPEG-1 Layer 2 (MP2) fr\n0303 MPEG-1 Layer 2 (MP2) en\n");
}

}  // namespace
