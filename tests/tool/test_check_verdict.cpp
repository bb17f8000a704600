// pidsift-check's verdict on the recordings a person meets first: files with no packet, cut and
// padded recordings, damaged packets that look scrambled, programs a recorder left out,
// scrambled programs, and where each check failed; each with its exact text and JSON.
#include <gtest/gtest.h>

#include <unistd.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "recording.h"
#include "tool_test.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

// Three programs: PMTs on 0x01F0.., the PCR on each video PID, one program with an ECM.
BroadcastSpec ThreePrograms(u64 packets)
{
    return DvbBroadcast({{0x008D, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1},
                         {0x008E, 0x01F1, 0x0121, 0x0122, 0x0130, 0, 6, 1},
                         {0x008F, 0x01F2, 0x0131, 0x0132, 0, 0, 4, 1}},
                        packets);
}

class CheckVerdict : public ToolTest {
protected:
    CommandResult Run(const std::string &arguments) { return RunTool("pidsift-check", arguments); }
    // The lines of the report from the one that starts with heading to the end.
    static std::string From(const std::string &text, const std::string &heading)
    {
        const size_t at = text.find(heading);
        return at == std::string::npos ? "" : text.substr(at);
    }
};

// The facts of a file with no packet, as the report gives them before its verdict.
std::string NoPacketReport(const std::string &path, size_t bytes, size_t skipped)
{
    return "File " + path + "\n  Bytes      " + std::to_string(bytes) +
           "\n"
           "  Unit size  none: no packet found\n"
           "  Packets    0\n"
           "  Skipped    " +
           std::to_string(skipped) +
           " bytes in no packet\n"
           "  Sync lost  0 times\n"
           "  Duration   unknown: no PCR\n"
           "  Bitrate    unknown: no PCR\n"
           "  Network    unknown: no NIT with a network name\n"
           "\n"
           "Result: no transport stream packets found\n"
           "\n";
}

TEST_F(CheckVerdict, AFileWithoutPacketsIsAnError)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    png.resize(3000, 0x00);
    Bytes garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = u8((i * 37 + 11) % 251 == 0x47 ? 0x48 : (i * 37 + 11) % 251);
    const struct {
        const char *name;
        Bytes bytes;
    } files[] = {{"empty.ts", {}}, {"picture.ts", png}, {"garbage.ts", garbage}};
    for (const auto &file : files) {
        SCOPED_TRACE(file.name);
        const std::string path = Write(file.name, file.bytes);
        const CommandResult text = Run(Quote(path));
        EXPECT_EQ(text.status, 1);
        EXPECT_EQ(text.err, "");
        const std::string report = NoPacketReport(path, file.bytes.size(), file.bytes.size());
        EXPECT_EQ(text.out.substr(0, report.size()), report);
        // --quiet reports it: it has an error.
        EXPECT_EQ(Run("--quiet " + Quote(path)).out.substr(0, report.size()), report);
        const CommandResult json = Run("--json " + Quote(path));
        EXPECT_EQ(json.status, 1);
        const Json parsed = Json::parse(json.out);
        EXPECT_EQ(parsed["packets"], 0);
        EXPECT_EQ(parsed["skipped_bytes"], file.bytes.size());
        EXPECT_EQ(parsed["trailing_bytes"], 0);
        EXPECT_TRUE(parsed["unit_size"].is_null());
        EXPECT_EQ(parsed["ok"], false);
    }
}

// Every byte is accounted for: stray bytes after the last packet are skipped, and a packet that
// the end of the recording cut is an error of its own.
TEST_F(CheckVerdict, CutAndPaddedRecordings)
{
    const Bytes whole = Generate(ThreePrograms(1200)).bytes();
    Bytes cut(whole.begin(), whole.end() - 188 + 34);
    Bytes padded = whole;
    padded.insert(padded.end(), 100, 0x00);
    const std::string cut_path = Write("cut.ts", cut);
    const std::string padded_path = Write("padded.ts", padded);

    const CommandResult cut_text = Run(Quote(cut_path));
    EXPECT_EQ(cut_text.status, 1);
    EXPECT_NE(cut_text.out.find("  Packets    1199\n"
                                "  Skipped    0 bytes in no packet\n"
                                "  Cut short  34 bytes of a packet at the end\n"
                                "  Sync lost  0 times\n"),
              std::string::npos)
        << cut_text.out;
    EXPECT_NE(
        cut_text.out.find("  CRC error                   0                -  a table section whose CRC_32 failed\n"
                          "The recording ends inside a packet: its last 34 bytes are the start of one\n"
                          "Result: errors found\n\n"),
        std::string::npos)
        << cut_text.out;
    const Json cut_json = Json::parse(Run("--json " + Quote(cut_path)).out);
    EXPECT_EQ(cut_json["skipped_bytes"], 0);
    EXPECT_EQ(cut_json["trailing_bytes"], 34);
    EXPECT_EQ(cut_json["ok"], false);

    const CommandResult padded_text = Run(Quote(padded_path));
    EXPECT_EQ(padded_text.status, 0);
    EXPECT_NE(padded_text.out.find("  Packets    1200\n"
                                   "  Skipped    100 bytes in no packet\n"
                                   "  Sync lost  0 times\n"),
              std::string::npos)
        << padded_text.out;
    const Json padded_json = Json::parse(Run("--json " + Quote(padded_path)).out);
    EXPECT_EQ(padded_json["skipped_bytes"], 100);
    EXPECT_EQ(padded_json["trailing_bytes"], 0);
    EXPECT_EQ(padded_json["ok"], true);
}

// Packets that the demodulator marked damaged carry scrambling bits and counters that are noise:
// they are transport errors, and neither scrambled nor continuity breaks.
TEST_F(CheckVerdict, ADamagedPacketIsNotAScrambledOne)
{
    std::vector<Packet> packets = Generate(ThreePrograms(1200)).packets;
    size_t damaged = 0;
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == 0x0112 && damaged++ < 40) {
            packets[i][1] |= 0x80;
            packets[i][3] = u8(0xC0 | (packets[i][3] & 0x30) | ((packets[i][3] + 7) & 0x0F));
        }
    const std::string path = Write("weak.ts", Flatten(packets));
    const CommandResult text = Run(Quote(path));
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(
        text.out.find(
            "      141  0x01F0   0x0111   none     no         0x0111      0x02  mpeg2video  video  -         -\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  0x0112       45     0     40          0    0         0  audio of 141\n"),
              std::string::npos)
        << text.out;
    EXPECT_EQ(text.out.find("Scrambled:"), std::string::npos);
    const Json json = Json::parse(Run("--json " + Quote(path)).out);
    EXPECT_EQ(json["checks"]["transport_error"], 40);
    EXPECT_EQ(json["checks"]["cc_error"], 0);
    EXPECT_EQ(json["programs"][0]["scrambled"], false);
    EXPECT_EQ(json["scrambled_programs"], Json::array());
}

// A recorder kept one service of the multiplex; the PAT still lists the other two, whose PMT
// never comes: they are absent, not late, unless --strict reads them as TR 101 290 does.
TEST_F(CheckVerdict, ProgramsAbsentFromTheRecordingAreNoErrors)
{
    const Recording all = Generate(ThreePrograms(1200));
    Recording kept;
    for (size_t i = 0; i < all.packets.size(); ++i)
        if (all.owners[i] != 0x008E && all.owners[i] != 0x008F)
            kept.Add(all.packets[i], all.owners[i]);
    const std::string path = Write("one-service.ts", kept.bytes());
    const CommandResult text = Run(Quote(path));
    EXPECT_EQ(text.status, 0);
    const std::string programs =
        "Programs of the last PAT\n"
        "  Program  PMT PID  PCR PID  ECM PID  Scrambled  Stream PID  Type  Codec       Kind   Language  Details\n"
        "      141  0x01F0   0x0111   none     no         0x0111      0x02  mpeg2video  video  -         -\n"
        "                                                 0x0112      0x0F  aac         audio  eng       -\n"
        "\n"
        "Programs listed by the PAT but absent from the recording (no PMT came)\n"
        "  Program  PMT PID\n"
        "      142  0x01F1\n"
        "      143  0x01F2\n"
        "  Not errors: with --strict their missing PMTs would count as 2 PMT errors\n"
        "\n"
        "Services of the SDT";
    EXPECT_EQ(From(text.out, "Programs of the last PAT").substr(0, programs.size()), programs);
    EXPECT_NE(text.out.find("  PMT error                   0                -  no PMT"), std::string::npos);
    EXPECT_NE(text.out.find("\nResult: no errors found\n"), std::string::npos);
    const CommandResult strict = Run("--strict " + Quote(path));
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.out.find("      143  0x01F2\n"
                              "  --strict: their missing PMTs count as 2 PMT errors\n"),
              std::string::npos)
        << strict.out;
    // The first missing PMT is found 0.5 s after the first PAT named it.
    EXPECT_TRUE(std::regex_search(strict.out, std::regex("\n  PMT error +2 +[0-9]+ at 0\\.[56][0-9]{2} s  no PMT")))
        << strict.out;
    EXPECT_NE(strict.out.find("\nResult: errors found\n"), std::string::npos);
    const Json json = Json::parse(Run("--json " + Quote(path)).out);
    EXPECT_EQ(json["programs"][0]["present"], true);
    EXPECT_EQ(json["programs"][1]["present"], false);
    EXPECT_EQ(json["programs"][2]["present"], false);
    EXPECT_EQ(json["checks"]["pmt_error"], 0);
    EXPECT_EQ(json["ok"], true);
    const Json strict_json = Json::parse(Run("--json --strict " + Quote(path)).out);
    EXPECT_EQ(strict_json["checks"]["pmt_error"], 2);
    EXPECT_EQ(strict_json["strict"], true);
    EXPECT_EQ(strict_json["ok"], false);
}

// A program whose packets are scrambled and whose ECM never came: no error (scrambling is no
// damage), but the report ends saying it cannot be played.
TEST_F(CheckVerdict, ScrambledProgramsAreSaid)
{
    std::vector<Packet> packets = Generate(ThreePrograms(1200)).packets;
    u64 scrambled = 0;
    for (Packet &packet : packets) {
        const u16 pid = PacketPID(packet);
        if (pid == 0x0130)
            packet[1] = 0x1F, packet[2] = 0xFF;  // no ECM: the recorder could not take it in
        else if (pid == 0x0121 || pid == 0x0122)
            packet[3] |= 0x80, ++scrambled;
    }
    const std::string path = Write("pay.ts", Flatten(packets));
    const CommandResult text = Run(Quote(path));
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(From(text.out, "Result:").substr(0, 108), "Result: no errors found\n"
                                                        "Scrambled: program 142 (" +
                                                            std::to_string(scrambled) +
                                                            " packets); it cannot be played without descrambling\n"
                                                            "\n"
                                                            "Key\n");
    EXPECT_NE(text.out.find("      142  0x01F1   0x0121   0x0130   yes "), std::string::npos) << text.out;
    const Json json = Json::parse(Run("--json " + Quote(path)).out);
    EXPECT_EQ(json["scrambled_programs"],
              Json::parse("[{\"program_number\":142,\"packets\":" + std::to_string(scrambled) + "}]"));
    EXPECT_EQ(json["ok"], true);
}

// Where each check failed first: the packet, the offset of its sync byte, and its time into the
// recording by the PCR, in the JSON and beside the packet in the text.
TEST_F(CheckVerdict, WhereItFailedInPacketsBytesAndTime)
{
    std::vector<Packet> packets = Generate(ThreePrograms(1200)).packets;
    size_t video = 0, lost = 0;
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == 0x0121 && ++video == 100)
            lost = i;
    packets.erase(packets.begin() + long(lost));
    packets[700][1] |= 0x80;
    const std::string path = Write("lost.ts", Flatten(packets));
    const CommandResult text = Run(Quote(path));
    const Json json = Json::parse(Run("--json " + Quote(path)).out);
    EXPECT_EQ(json["first_errors"].size(), 2u);
    EXPECT_EQ(json["first_errors"]["cc_error"]["packet"], lost);
    EXPECT_EQ(json["first_errors"]["cc_error"]["byte_offset"], lost * 188);
    EXPECT_EQ(json["first_errors"]["transport_error"]["packet"], 700);
    EXPECT_EQ(json["first_errors"]["transport_error"]["byte_offset"], 700 * 188);
    // The check's clock: the PCRs of 0x0111 from its first, up to the packet.
    const auto time_at = [&](size_t index) {
        u64 first = 0, last = 0;
        bool started = false;
        for (size_t i = 0; i <= index; ++i) {
            const Packet &packet = packets[i];
            if (PacketPID(packet) != 0x0111 || !(packet[3] & 0x20) || packet[4] < 7 || !(packet[5] & 0x10))
                continue;
            const u64 base = (u64(packet[6]) << 25) | (u64(packet[7]) << 17) | (u64(packet[8]) << 9) |
                             (u64(packet[9]) << 1) | (packet[10] >> 7);
            last = base * 300 + (((packet[10] & 1) << 8) | packet[11]);
            first = started ? first : last;
            started = true;
        }
        return double(last - first) / 27e6;
    };
    EXPECT_NEAR(json["first_errors"]["cc_error"]["time_s"].get<double>(), time_at(lost), 1e-6);
    EXPECT_NEAR(json["first_errors"]["transport_error"]["time_s"].get<double>(), time_at(700), 1e-6);
    char line[160];
    snprintf(line, sizeof line, "  Continuity count error      1  %4zu at %.3f s  a packet lost", lost,
             json["first_errors"]["cc_error"]["time_s"].get<double>());
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    snprintf(line, sizeof line, "  Transport error             1   700 at %.3f s  a packet marked",
             json["first_errors"]["transport_error"]["time_s"].get<double>());
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
    // Before the first PCR a failure has no time.
    std::vector<Packet> early = packets;
    early[1][1] |= 0x80;
    const Json untimed = Json::parse(Run("--json " + Quote(Write("early.ts", Flatten(early)))).out);
    EXPECT_EQ(untimed["first_errors"]["transport_error"],
              Json::parse("{\"packet\":1,\"byte_offset\":188,\"time_s\":null,\"broadcast_time\":null}"));
}

// What xmllint finds for an XPath expression in the picture (a count, a string).
std::string XPath(const std::string &svg, const std::string &expression)
{
    const CommandResult result = RunCommand("/usr/bin/xmllint --xpath " + Quote(expression) + " " + Quote(svg));
    EXPECT_EQ(result.status, 0) << result.err;
    std::string value = result.out;
    if (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

std::string Element(const std::string &name, const std::string &klass)
{
    return "//*[local-name()='" + name + "'][@class='" + klass + "']";
}

// A multiplex of 17 programs of which the recorder kept 4: the picture has a band for each of the
// 4, named by its service, and one line for the 13 absent ones. A video PID scrambled at the end
// of its life stops before the recording ends; sync is lost once.
class SeventeenProgramPicture : public CheckVerdict {
protected:
    // Checks that recording with --svg, and gives the picture's path.
    std::string Draw()
    {
        const Recording all = Generate(LargeBroadcast(17, 8000));
        std::vector<Packet> packets;
        for (size_t i = 0; i < all.packets.size(); ++i)
            if (all.owners[i] == 0 || all.owners[i] <= 0x0104)
                packets.push_back(all.packets[i]);
        // Program 0x0102's video (0x0208) is scrambled over its last 100 packets before 60% of the
        // recording, and stops there.
        const size_t stop = packets.size() * 6 / 10;
        std::vector<size_t> video;
        for (size_t i = 0; i < stop; ++i)
            if (PacketPID(packets[i]) == 0x0208)
                video.push_back(i);
        for (size_t n = video.size() - 100; n < video.size(); ++n)
            packets[video[n]][3] |= 0x80;
        std::vector<Packet> kept;
        for (size_t i = 0; i < packets.size(); ++i)
            if (i < stop || PacketPID(packets[i]) != 0x0208)
                kept.push_back(packets[i]);
        Bytes bytes = Flatten(kept);
        bytes.insert(bytes.begin() + 188 * 1000 + 17, 50, 0x00);  // inside a packet: sync lost
        const std::string input = Write("seventeen.ts", bytes);
        const std::string svg = dir.File("seventeen.svg");
        const CommandResult result = Run("--svg " + Quote(svg) + " " + Quote(input));
        EXPECT_EQ(result.status, 1);
        return svg;
    }
};

TEST_F(SeventeenProgramPicture, ParsedAndCounted)
{
    if (access("/usr/bin/xmllint", X_OK) != 0)
        GTEST_SKIP() << "xmllint (libxml2-utils) is needed to parse the SVG";
    const std::string svg = Draw();

    EXPECT_EQ(XPath(svg, "count(" + Element("g", "program") + ")"), "4");
    EXPECT_EQ(XPath(svg, "count(//*[local-name()='g'][@class='pid'])"), "12");  // PMT, video, audio each
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(XPath(svg, "string(//*[local-name()='g'][@data-program='" + std::to_string(0x100 + n) +
                                 "']/*[local-name()='text'][1])"),
                  "Ch 0" + std::to_string(n));
    EXPECT_EQ(XPath(svg, "string(" + Element("text", "absent") + ")"),
              "13 programs listed by the PAT but absent from the recording (no PMT came): 261, 262, 263, 264, 265, "
              "266, 267, 268, 269, 270, 271, 272, 273");
    // Each band says its scale.
    EXPECT_EQ(XPath(svg, "count(" + Element("text", "scale") + ")"), "4");
    // A picture of 4 bands, not 17.
    const int height = std::stoi(XPath(svg, "string(/*[local-name()='svg']/@height)"));
    EXPECT_LT(height, 800);
    EXPECT_EQ(XPath(svg, "count(" + Element("line", "sync-loss") + ")"), "1");
    // The scrambled stretch ends where the PID stopped, about 60% across the plot (190 to 1180).
    EXPECT_EQ(XPath(svg, "count(" + Element("rect", "scrambled") + ")"), "1");
    const double x = std::stod(XPath(svg, "string(" + Element("rect", "scrambled") + "/@x)"));
    const double width = std::stod(XPath(svg, "string(" + Element("rect", "scrambled") + "/@width)"));
    EXPECT_GE(width, 2.0);
    EXPECT_NEAR(x + width, 190 + 990 * 0.6, 30);
}

// What a browser makes of the picture: the page that embeds it reports, once it is drawn, the
// boxes the browser laid out for its bands, its line of absent programs and its scrambled stretch.
constexpr char kBrowserPage[] = R"(<!doctype html><html><body>
<object id="picture" type="image/svg+xml" data="seventeen.svg"></object>
<script>
document.getElementById('picture').addEventListener('load', function () {
  var svg = this.contentDocument.documentElement;
  var bands = Array.from(svg.querySelectorAll('g.program')).map(function (g) { return g.getBBox(); });
  var apart = bands.every(function (box, i) { return i == 0 || box.y >= bands[i - 1].y + bands[i - 1].height; });
  var absent = svg.querySelector('text.absent').getBBox();
  var scrambled = svg.querySelector('rect.scrambled').getBBox();
  document.body.setAttribute('data-drawn', [bands.length,
      bands.filter(function (box) { return box.width > 0 && box.height > 0; }).length,
      apart ? 'apart' : 'overlapping', absent.width > 0 ? 'absent-line' : 'no-absent-line',
      scrambled.width >= 2 ? 'scrambled-mark' : 'no-scrambled-mark'].join(' '));
});
</script></body></html>
)";

TEST_F(SeventeenProgramPicture, DrawnByABrowser)
{
    if (access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "chromium is needed to draw the SVG";
    Draw();
    const std::string page = dir.File("picture.html");
    ASSERT_TRUE(WriteFile(page, Bytes(kBrowserPage, kBrowserPage + sizeof kBrowserPage - 1)));
    const CommandResult browser =
        RunCommand("timeout 120 /usr/bin/chromium --headless --no-sandbox --disable-gpu --allow-file-access-from-files "
                   "--virtual-time-budget=5000 --dump-dom " +
                   Quote("file://" + page) + " 2>/dev/null");
    std::smatch drawn;
    ASSERT_TRUE(std::regex_search(browser.out, drawn, std::regex("data-drawn=\"([^\"]*)\""))) << browser.out;
    EXPECT_EQ(drawn[1].str(), "4 4 apart absent-line scrambled-mark");
}

// The README's recording: a recorder kept one service of a three-program multiplex, scrambled,
// without its ECM; the PAT still lists the other two.
Bytes KeptOneScrambledService()
{
    BroadcastSpec mux = ThreePrograms(1200);
    mux.programs[0].ecm_pid = 0x0130;
    mux.programs[1].ecm_pid = 0;
    for (u16 program : {0x008D, 0x008E, 0x008F})
        mux.services.push_back(
            {program, ServiceDescriptor(0x01, Text("Net"), Text("Channel " + std::to_string(program)))});
    const Recording all = Generate(mux);
    std::vector<Packet> kept;
    for (size_t i = 0; i < all.packets.size(); ++i) {
        Packet packet = all.packets[i];
        const u16 pid = PacketPID(packet);
        if (all.owners[i] == 0x008E || all.owners[i] == 0x008F || pid == 0x0130)
            continue;
        if (pid == 0x0111 || pid == 0x0112)
            packet[3] |= 0x80;
        kept.push_back(packet);
    }
    return Flatten(kept);
}

// README.md shows the check of that recording as the tool prints it.
TEST_F(CheckVerdict, ReadmeShowsAnAbsentAndAScrambledProgram)
{
    std::string readme;
    ASSERT_TRUE(ReadFile(std::string(PIDSIFT_SOURCE_DIR) + "/README.md", &readme));
    const std::string prompt = "$ pidsift-check recorded.ts\n";
    const size_t start = readme.find(prompt);
    ASSERT_NE(start, std::string::npos);
    const size_t end = readme.find("```", start);
    ASSERT_NE(end, std::string::npos);
    Write("recorded.ts", KeptOneScrambledService());
    const CommandResult result =
        RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary("pidsift-check")) + " recorded.ts");
    EXPECT_EQ(result.status, 0);
    // Each run of lines shown between the elisions stands in the report, in that order.
    size_t at = 0;
    std::string shown;
    std::istringstream lines(readme.substr(start + prompt.size(), end - start - prompt.size()));
    std::vector<std::string> runs(1);
    for (std::string line; std::getline(lines, line);) {
        if (line == "  ...")
            runs.emplace_back();
        else
            runs.back() += line + "\n";
    }
    for (const std::string &run : runs) {
        const size_t found = result.out.find(run, at);
        EXPECT_NE(found, std::string::npos) << run << "\n" << result.out;
        at = found == std::string::npos ? at : found + run.size();
    }
}

}  // namespace
