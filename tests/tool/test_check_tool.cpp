// pidsift-check end to end: the text a person reads, the JSON a script reads, the SVG picture,
// --quiet, exit statuses and messages, several files, standard input and the install.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <regex>
#include <set>
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

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The lines from the one that is heading up to the first empty line.
std::vector<std::string> Block(const std::string &text, const std::string &heading)
{
    std::vector<std::string> block;
    bool in = false;
    for (const std::string &line : Lines(text)) {
        if (line.rfind(heading, 0) == 0)
            in = true;
        else if (in && line.empty())
            break;
        if (in)
            block.push_back(line);
    }
    return block;
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

class CheckTool : public ToolTest {
protected:
    CommandResult Run(const std::string &arguments) { return RunTool("pidsift-check", arguments); }
    std::unique_ptr<TS_CheckReport> Library(const std::string &path)
    {
        auto report = std::make_unique<TS_CheckReport>();
        EXPECT_EQ(TS_CheckFile(report.get(), path.c_str()), 0);
        return report;
    }
    // The sample multiplex, clean.
    std::string Clean(const std::string &name = "clean.ts") { return Write(name, Generate(SampleBroadcast(2400)).bytes()); }
    // The same with known faults: 0x0121 loses two packets, two audio packets of 0x0112 come
    // damaged, and 0x0122 is scrambled for a while.
    std::string Damaged(const std::string &name = "damaged.ts")
    {
        std::vector<Packet> packets = Generate(SampleBroadcast(2400)).packets;
        std::vector<size_t> of_0121;
        for (size_t i = 0; i < packets.size(); ++i)
            if (PacketPID(packets[i]) == 0x0121)
                of_0121.push_back(i);
        size_t audio = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            if (PacketPID(packets[i]) == 0x0112 && (++audio == 20 || audio == 40))
                packets[i][1] |= 0x80;
            if (PacketPID(packets[i]) == 0x0122 && i > 1000 && i < 1400)
                packets[i][3] = u8((packets[i][3] & 0x3F) | 0xC0);
        }
        packets.erase(packets.begin() + long(of_0121[300]));
        packets.erase(packets.begin() + long(of_0121[100]));
        first_break = of_0121[101] - 1;  // the packet after the first removed one, one packet earlier
        return Write(name, Flatten(packets));
    }

    size_t first_break = 0;
};

TEST_F(CheckTool, HelpAndVersion)
{
    for (const char *option : {"--help", "-h"}) {
        const CommandResult help = Run(option);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.rfind("Usage: pidsift-check [--json] [--quiet] [--strict] [--summary] [-j N] [--charset "
                                 "auto|dvb|arib]\n"
                                 "                     [--svg FILE.svg] FILE...\n",
                                 0),
                  0u);
        EXPECT_NE(help.out.find("Exit status"), std::string::npos);
        EXPECT_EQ(help.err, "");
    }
    const CommandResult version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("pidsift-check [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << version.out;
}

TEST_F(CheckTool, UsageErrorsExitWithTwo)
{
    const std::string file = Quote(Clean());
    const struct {
        std::string arguments;
        const char *message;
    } cases[] = {
        {"", "no FILE given"},
        {"--json --quiet", "no FILE given"},
        {"--bogus " + file, "unknown option '--bogus'"},
        {file + " --svg", "--svg needs the name of the picture to write"},
        {"--svg= " + file, "--svg needs the name of the picture to write"},
        {"--svg x.svg " + file + " " + file, "--svg draws one FILE; 2 were given"},
        {"--svg " + file + " " + file, "will not write the picture over the recording"},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.arguments);
        const CommandResult result = Run(each.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(each.message), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos);
    }
    // After --, a word that looks like an option is a FILE.
    EXPECT_EQ(Run("-- --json").status, 3);
}

TEST_F(CheckTool, CleanRecordingText)
{
    const std::string path = Clean();
    const auto report = Library(path);
    const CommandResult result = Run(Quote(path));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> facts = Block(result.out, "File ");
    ASSERT_GE(facts.size(), 10u);
    EXPECT_EQ(facts[0], "File " + path);
    EXPECT_EQ(facts[1], "  Bytes           " + std::to_string(2400 * 188));
    EXPECT_EQ(facts[2], "  Unit size       188 bytes (plain packets)");
    EXPECT_EQ(facts[3], "  Packets         2400");
    EXPECT_EQ(facts[4], "  Skipped         0 bytes in no packet");
    EXPECT_EQ(facts[5], "  Sync lost       0 times");
    // The sample's TOTs: its clock from the first to the last, in Japan time.
    EXPECT_EQ(facts[9].rfind("  Broadcast time  2019-06-12T20:59:35+09:00 to 2019-06-12T20:59:53+09:00", 0), 0u) << facts[9];
    char seconds[32];
    snprintf(seconds, sizeof seconds, "%.3f s", double(report->u64Duration) / 27e6);
    EXPECT_NE(facts[6].find(seconds), std::string::npos) << facts[6];
    EXPECT_NE(facts[6].find("from the PCRs of program 1024 on PID 0x0111"), std::string::npos) << facts[6];
    EXPECT_NE(facts[7].find("(" + std::to_string(report->u64BitRate) + " bit/s)"), std::string::npos) << facts[7];

    // Programs, each stream on a line of its own under the program.
    const std::vector<std::string> programs = Block(result.out, "Programs of the last PAT");
    ASSERT_EQ(programs.size(), 2u + 3 * 3);
    EXPECT_EQ(programs[1], "  Program  PMT PID  PCR PID  ECM PID  Scrambled  Stream PID  Type  Codec         Kind      "
                           "Language  Details");
    EXPECT_EQ(programs[5], "     1025  0x01F1   0x0121   0x0130   no         0x0121      0x02  mpeg2video    video     "
                           "-         -");
    EXPECT_EQ(programs[6], "                                                 0x0122      0x0F  aac           audio     "
                           "jpn       -");

    // One line per PID in PID order, the columns aligned under their headings.
    const std::vector<std::string> pids = Block(result.out, "PIDs");
    ASSERT_GE(pids.size(), 3u);
    const std::string &header = pids[1];
    EXPECT_EQ(header, "  PID     Packets  Drop  Error  Scrambled  PCR  CRC fail  Role");
    const size_t role_column = header.find("Role");
    std::vector<unsigned> listed;
    for (size_t i = 2; i < pids.size(); ++i) {
        listed.push_back(unsigned(std::stoul(pids[i].substr(2, 6), nullptr, 16)));
        EXPECT_EQ(pids[i].size() > role_column && pids[i][role_column - 1] == ' ' && pids[i][role_column] != ' ', true)
            << pids[i];
        // Counts end where their heading ends.
        EXPECT_NE(pids[i][header.find("Packets") + 6], ' ') << pids[i];
    }
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end()));
    EXPECT_NE(std::find(pids.begin(), pids.end(),
                        "  0x0111  " + std::string(7 - std::to_string(report->ltPID[0x0111].u64Packets).size(), ' ') +
                            std::to_string(report->ltPID[0x0111].u64Packets) + "     0      0          0  " +
                            std::string(3 - std::to_string(report->ltPID[0x0111].u64PCRs).size(), ' ') +
                            std::to_string(report->ltPID[0x0111].u64PCRs) + "         0  video of 1024"),
              pids.end());

    const std::vector<std::string> checks = Block(result.out, "First-priority checks");
    ASSERT_EQ(checks.size(), 2u + TS_CHECK_COUNT + 1);
    EXPECT_EQ(checks[1], "  Check                   Count  First at packet  What it counts");
    EXPECT_EQ(checks[5], "  Continuity count error      0                -  a packet lost, repeated twice or out of order");
    EXPECT_EQ(checks.back(), "Result: no errors found");
}

// Every word of capitals in a report stands in its key.
TEST_F(CheckTool, NoAbbreviationLeftUnexplained)
{
    const std::string damaged = Damaged();
    const std::string clean = Clean();
    const CommandResult result = Run(Quote(damaged) + " " + Quote(clean));
    const size_t key_at = result.out.find("\nKey\n");
    ASSERT_NE(key_at, std::string::npos);
    // The names of the services and the network are the broadcaster's words, not the report's,
    // and the files' paths are the test's (a scratch folder's random name may be all capitals).
    std::string report = result.out.substr(0, key_at);
    std::vector<std::string> names = {kSampleProvider, kSampleNetworkName, damaged, clean};
    names.insert(names.end(), std::begin(kSampleServiceNames), std::end(kSampleServiceNames));
    for (const std::string &name : names)
        for (size_t at = report.find(name); at != std::string::npos; at = report.find(name, at))
            report.replace(at, name.size(), "name");
    std::set<std::string> explained;
    for (const std::string &line : Lines(result.out.substr(key_at + 5))) {
        std::istringstream words(line);
        std::string abbreviation;
        words >> abbreviation;
        std::istringstream parts(abbreviation);
        for (std::string part; std::getline(parts, part, '/');)
            explained.insert(part);
    }
    static const std::regex capitals("\\b[A-Z][A-Z]+\\b");
    std::set<std::string> used;
    for (auto it = std::sregex_iterator(report.begin(), report.end(), capitals); it != std::sregex_iterator(); ++it)
        used.insert(it->str());
    for (const std::string &word : used)
        EXPECT_TRUE(explained.count(word)) << word << " is not in the key";
    EXPECT_TRUE(used.count("PID") && used.count("PAT") && used.count("PCR") && used.count("ECM") && used.count("ARIB"));
    EXPECT_FALSE(explained.count("HD"));  // in a name only
}

TEST_F(CheckTool, DamagedRecordingCountsAndExitsWithOne)
{
    const std::string path = Damaged();
    const auto report = Library(path);
    const CommandResult result = Run(Quote(path));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 2u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64FirstPacket, first_break);
    EXPECT_EQ(report->ltCheck[TS_CHECK_TRANSPORT].u64Count, 2u);
    const std::vector<std::string> checks = Block(result.out, "First-priority checks");
    ASSERT_EQ(checks.size(), 2u + TS_CHECK_COUNT + 2);
    // The first break's packet, and its time into the recording by the PCR.
    EXPECT_TRUE(
        std::regex_search(checks[5], std::regex("^  Continuity count error +2 +" + std::to_string(first_break) +
                                                " at [0-9]+\\.[0-9]{3} s \\(2019-06-12T2[01]:[0-9:]{5}\\+09:00\\)  a")))
        << checks[5];
    EXPECT_EQ(checks[8].substr(0, 32), "  Transport error             2 ");
    EXPECT_EQ(checks[checks.size() - 2], "Result: errors found");
    EXPECT_EQ(checks.back(), "Scrambled: program 1025 (" + std::to_string(report->ltPID[0x0122].u64Scrambled) +
                                 " packets); it cannot be played without descrambling");
    const std::vector<std::string> programs = Block(result.out, "Programs of the last PAT");
    EXPECT_NE(programs[5].find("0x0130   yes"), std::string::npos) << programs[5];
    // The PID lines say where.
    bool found = false;
    for (const std::string &pid : Block(result.out, "PIDs"))
        found = found || std::regex_match(pid, std::regex("  0x0121 +[0-9]+ +2 +0 +0 +[0-9]+ +0  video of 1025"));
    EXPECT_TRUE(found) << result.out;
}

TEST_F(CheckTool, QuietReportsOnlyFilesWithErrors)
{
    const std::string clean = Clean();
    const std::string damaged = Damaged();
    CommandResult result = Run("--quiet " + Quote(clean));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    result = Run("--quiet " + Quote(clean) + " " + Quote(damaged) + " " + Quote(clean));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Count(result.out, "\nFile "), 0u);
    EXPECT_EQ(result.out.rfind("File " + damaged + "\n", 0), 0u);
    EXPECT_EQ(Count(result.out, "File "), 1u);
    EXPECT_NE(result.out.find("\nKey\n"), std::string::npos);
    // With --json, the same choice of files.
    result = Run("--quiet --json " + Quote(clean) + " " + Quote(damaged));
    EXPECT_EQ(Lines(result.out).size(), 1u);
    EXPECT_EQ(Json::parse(result.out)["file"], damaged);
}

TEST_F(CheckTool, ExitStatusesOfSeveralFilesAndUnreadableOnes)
{
    const std::string clean = Clean();
    const std::string damaged = Damaged();
    const std::string missing = dir.File("missing.ts");
    CommandResult result = Run(Quote(missing));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "pidsift-check: cannot open " + missing + ": No such file or directory\n");
    result = Run(Quote(dir.path()));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "pidsift-check: cannot read " + dir.path() + ": Is a directory\n");

    // The highest status of all, and a report of each file that could be read.
    result = Run(Quote(clean) + " " + Quote(damaged));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(Count(result.out, "File "), 2u);
    result = Run(Quote(missing) + " " + Quote(clean) + " " + Quote(damaged));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(Count(result.out, "File "), 2u);
    EXPECT_EQ(result.err, "pidsift-check: cannot open " + missing + ": No such file or directory\n");
    EXPECT_EQ(Run(Quote(clean) + " " + Quote(clean)).status, 0);

    // The report cannot be written: an output failure.
    result = RunCommand("{ " + Quote(ToolBinary("pidsift-check")) + " " + Quote(clean) + " >/dev/full; }");
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.err, "Error: Failed write standard output.\n");
}

TEST_F(CheckTool, StandardInput)
{
    const std::string damaged = Damaged();
    const CommandResult result = RunCommand("{ " + Quote(ToolBinary("pidsift-check")) + " --json - <" + Quote(damaged) + "; }");
    EXPECT_EQ(result.status, 1);
    const Json json = Json::parse(result.out);
    EXPECT_EQ(json["file"], "standard input");
    EXPECT_EQ(json["checks"]["cc_error"], 2);
}

// The JSON of a file, checked key by key against the library's report.
void ExpectJsonMatches(const Json &json, const std::string &path, const TS_CheckReport &report)
{
    const std::set<std::string> keys = {"file",           "bytes",
                                        "unit_size",      "packets",
                                        "skipped_bytes",  "trailing_bytes",
                                        "sync_losses",    "duration_s",
                                        "bitrate_bps",    "network_name",
                                        "broadcast_time", "programs",
                                        "pids",           "checks",
                                        "first_errors",   "scrambled_programs",
                                        "strict",         "ok"};
    std::set<std::string> seen;
    for (const auto &item : json.items())
        seen.insert(item.key());
    EXPECT_EQ(seen, keys);
    EXPECT_EQ(json["file"], path);
    EXPECT_EQ(json["bytes"], report.u64Bytes);
    EXPECT_TRUE(json["packets"].is_number_unsigned());
    EXPECT_EQ(json["packets"], report.u64Packets);
    EXPECT_EQ(json["skipped_bytes"], report.u64SkippedBytes);
    EXPECT_EQ(json["sync_losses"], report.u64SyncLosses);
    if (report.u32UnitSize != 0)
        EXPECT_EQ(json["unit_size"], report.u32UnitSize);
    else
        EXPECT_TRUE(json["unit_size"].is_null());
    if (report.u8Timed) {
        EXPECT_NEAR(json["duration_s"].get<double>(), double(report.u64Duration) / 27e6, 1e-6);
        EXPECT_EQ(json["bitrate_bps"], report.u64BitRate);
    } else {
        EXPECT_TRUE(json["duration_s"].is_null());
        EXPECT_TRUE(json["bitrate_bps"].is_null());
    }
    // The recordings of these tests are the sample multiplex, whose names are known.
    if (report.u8HasNetworkName)
        EXPECT_EQ(json["network_name"], kSampleNetworkName);
    else
        EXPECT_TRUE(json["network_name"].is_null());
    ASSERT_EQ(json["programs"].size(), report.u16ProgramCount);
    for (u16 i = 0; i < report.u16ProgramCount; ++i) {
        const Json &program = json["programs"][i];
        const TS_CheckProgram &expected = report.ltProgram[i];
        if (expected.u8HasService) {
            ASSERT_LT(i, 3);
            EXPECT_EQ(program["service_name"], kSampleServiceNames[i]);
            EXPECT_EQ(program["provider_name"], kSampleProvider);
            EXPECT_EQ(program["service_type"], 0x01);
        } else {
            EXPECT_TRUE(program["service_name"].is_null() && program["provider_name"].is_null() &&
                        program["service_type"].is_null());
        }
        EXPECT_EQ(program["program_number"], expected.u16ProgramNumber);
        EXPECT_TRUE(program["pmt_pid"].is_number_integer());
        EXPECT_EQ(program["pmt_pid"], expected.u16PMTPID);
        if (expected.u8HasPMT)
            EXPECT_EQ(program["pcr_pid"], expected.u16PCRPID);
        else
            EXPECT_TRUE(program["pcr_pid"].is_null());
        if (expected.u16ECMPID == TS_NO_PID)
            EXPECT_TRUE(program["ecm_pid"].is_null());
        else
            EXPECT_EQ(program["ecm_pid"], expected.u16ECMPID);
        EXPECT_EQ(program["scrambled"], bool(expected.u8Scrambled));
        ASSERT_EQ(program["streams"].size(), expected.u16StreamCount);
        for (u16 s = 0; s < expected.u16StreamCount; ++s) {
            EXPECT_EQ(program["streams"][s]["pid"], expected.ltStream[s].u16PID);
            EXPECT_EQ(program["streams"][s]["stream_type"], expected.ltStream[s].u8StreamType);
        }
    }
    for (const Json &pid : json["pids"]) {
        const TS_CheckPID &expected = report.ltPID[pid["pid"].get<unsigned>()];
        EXPECT_EQ(pid.size(), 8u);
        EXPECT_EQ(pid["packets"], expected.u64Packets);
        EXPECT_EQ(pid["cc_errors"], expected.u64ContinuityErrors);
        EXPECT_EQ(pid["tei"], expected.u64TransportErrors);
        EXPECT_EQ(pid["scrambled"], expected.u64Scrambled);
        EXPECT_EQ(pid["pcr"], expected.u64PCRs);
        EXPECT_EQ(pid["crc_errors"], expected.u64CRCErrors);
        EXPECT_TRUE(pid["role"].is_string());
    }
    const char *const names[TS_CHECK_COUNT] = {"sync_loss", "sync_byte_error", "pat_error",       "cc_error",
                                               "pmt_error", "pid_error",       "transport_error", "crc_error"};
    ASSERT_EQ(json["checks"].size(), size_t(TS_CHECK_COUNT));
    bool ok = report.u64Packets != 0;
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        EXPECT_EQ(json["checks"][names[i]], report.ltCheck[i].u64Count) << names[i];
        ok = ok && report.ltCheck[i].u64Count == 0;
    }
    EXPECT_EQ(json["ok"], ok);
}

TEST_F(CheckTool, JsonOneObjectALineWithTheReportsFacts)
{
    const std::string clean = Clean();
    const std::string damaged = Damaged();
    // No PCR: the check's clock is gone, and with it duration and bitrate.
    std::vector<Packet> unclocked;
    for (Packet packet : Generate(SampleBroadcast(800)).packets) {
        if ((packet[3] & 0x20) && packet[4] >= 7)
            packet[5] &= u8(~0x10);
        unclocked.push_back(packet);
    }
    const std::string no_pcr = Write("no-pcr.ts", Flatten(unclocked));
    const std::string empty = Write("empty.ts", {});
    const CommandResult result = Run("--json " + Quote(clean) + " " + Quote(damaged) + " " + Quote(no_pcr) + " " + Quote(empty));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 4u);
    const std::string paths[] = {clean, damaged, no_pcr, empty};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(paths[i]);
        const Json json = Json::parse(lines[i]);
        ExpectJsonMatches(json, paths[i], *Library(paths[i]));
    }
    const Json damaged_json = Json::parse(lines[1]);
    EXPECT_EQ(damaged_json["ok"], false);
    EXPECT_EQ(damaged_json["checks"]["cc_error"], 2);
    EXPECT_EQ(damaged_json["checks"]["transport_error"], 2);
    EXPECT_EQ(damaged_json["programs"][1]["scrambled"], true);
    EXPECT_EQ(damaged_json["programs"][1]["ecm_pid"], 0x0130);
    const Json &pids = damaged_json["pids"];
    const auto video = std::find_if(pids.begin(), pids.end(), [](const Json &p) { return p["pid"] == 0x0121; });
    ASSERT_NE(video, pids.end());
    EXPECT_EQ((*video)["cc_errors"], 2);
    EXPECT_EQ((*video)["role"], "video of 1025");
    EXPECT_EQ(Json::parse(lines[0])["ok"], true);
    EXPECT_TRUE(Json::parse(lines[2])["duration_s"].is_null());
    EXPECT_TRUE(Json::parse(lines[3])["unit_size"].is_null());
}

// A multiplex of 40 programs: the text and the JSON list every one, named from the SDT.
TEST_F(CheckTool, EveryProgramOfALargeMultiplexNamed)
{
    const std::string path = Write("large.ts", Generate(LargeBroadcast(40, 20000)).bytes());
    const CommandResult text = Run(Quote(path));
    EXPECT_EQ(text.status, 0) << text.out;
    const std::vector<std::string> programs = Block(text.out, "Programs of the last PAT");
    ASSERT_EQ(programs.size(), 2u + 40 * 2);
    EXPECT_EQ(programs.back(),
              "                                                 0x02A1      0x0F  aac         audio  eng       -");
    const std::vector<std::string> services = Block(text.out, "Services of the SDT");
    ASSERT_EQ(services.size(), 2u + 40);
    char type[256];
    TS_ServiceTypeToString(type, 0x01, TS_TEXT_DVB);
    EXPECT_EQ(services[2], "      257  Ch 01    Net       0x01 " + std::string(type));
    EXPECT_EQ(services.back(), "      296  Ch 40    Net       0x01 " + std::string(type));

    const CommandResult json = Run("--json " + Quote(path));
    const Json parsed = Json::parse(json.out);
    ASSERT_EQ(parsed["programs"].size(), 40u);
    for (size_t n = 1; n <= 40; ++n) {
        const Json &program = parsed["programs"][n - 1];
        EXPECT_EQ(program["program_number"], 0x0100 + n);
        EXPECT_EQ(program["pmt_pid"], 0x1000 + n);
        EXPECT_EQ(program["service_name"], (n < 10 ? "Ch 0" : "Ch ") + std::to_string(n));
        EXPECT_EQ(program["streams"].size(), 2u);
    }
}

// The picture of a file, parsed and counted.
class Picture {
public:
    explicit Picture(const std::string &path)
    {
        EXPECT_TRUE(ReadFile(path, &text));
        if (access("/usr/bin/xmllint", X_OK) == 0) {
            const CommandResult lint = RunCommand("/usr/bin/xmllint --noout " + Quote(path));
            EXPECT_EQ(lint.status, 0) << lint.err;
            EXPECT_EQ(lint.err, "");
        } else {
            ADD_FAILURE() << "xmllint (libxml2-utils) is needed to parse the SVG";
        }
    }
    size_t Elements(const std::string &klass) const { return Count(text, "class=\"" + klass + "\""); }
    std::string text;
};

TEST_F(CheckTool, SvgParsesAndItsMarksMatchTheReport)
{
    const std::string damaged = Damaged();
    const std::string svg = dir.File("damaged.svg");
    const CommandResult result = Run("--svg " + Quote(svg) + " " + Quote(damaged));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("File " + damaged), std::string::npos);  // the text as well
    const auto report = Library(damaged);
    const Picture picture(svg);
    EXPECT_EQ(picture.text.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1200\"", 0), 0u);
    EXPECT_EQ(picture.Elements("cc-error"), report->ltCheck[TS_CHECK_CONTINUITY].u64Count);
    EXPECT_EQ(picture.Elements("transport-error"), report->ltCheck[TS_CHECK_TRANSPORT].u64Count);
    EXPECT_EQ(picture.Elements("scrambled"), 1u);  // one stretch of 0x0122
    EXPECT_EQ(picture.Elements("program"), size_t(report->u16ProgramCount));
    for (u16 i = 0; i < report->u16ProgramCount; ++i)
        EXPECT_EQ(Count(picture.text, "data-program=\"" + std::to_string(report->ltProgram[i].u16ProgramNumber) + "\""), 1u);
    // The marks stand on their PIDs' rows.
    EXPECT_EQ(Count(picture.text, "class=\"cc-error\" data-pid=\"289\""), 2u);
    EXPECT_EQ(Count(picture.text, "class=\"transport-error\" data-pid=\"274\""), 2u);
    EXPECT_EQ(Count(picture.text, "class=\"scrambled\" data-pid=\"290\""), 1u);
    // A bitrate band for each program, and a legend naming each mark.
    EXPECT_EQ(picture.Elements("bitrate"), size_t(report->u16ProgramCount));
    for (const char *words : {"continuity break", "transport error", "scrambled", "bitrate per second"})
        EXPECT_NE(picture.text.find(words), std::string::npos) << words;

    // --json and --svg together, and a clean file: no mark at all.
    const std::string clean = Clean();
    const CommandResult both = Run("--json --svg " + Quote(svg) + " " + Quote(clean));
    EXPECT_EQ(both.status, 0);
    EXPECT_TRUE(Json::parse(both.out)["ok"]);
    const Picture quiet(svg);
    EXPECT_EQ(quiet.Elements("cc-error") + quiet.Elements("transport-error") + quiet.Elements("scrambled"), 0u);
    EXPECT_EQ(quiet.Elements("program"), 3u);
}

TEST_F(CheckTool, SvgOfHostileNamesAndRecordingsWithoutClock)
{
    // A name that is no text for XML, and a recording without PCR: packets across instead of time.
    std::vector<Packet> packets = Generate(SampleBroadcast(800)).packets;
    for (Packet &packet : packets)
        if ((packet[3] & 0x20) && packet[4] >= 7)
            packet[5] &= u8(~0x10);
    packets[300][1] |= 0x80;
    const std::string input = Write("a&b <\"c'>\xff.ts", Flatten(packets));
    const std::string svg = dir.File("out.svg");
    const CommandResult result = Run("--svg " + Quote(svg) + " " + Quote(input));
    EXPECT_EQ(result.status, 1);
    const Picture picture(svg);
    EXPECT_NE(picture.text.find("a&amp;b &lt;&quot;c&apos;&gt;\xEF\xBF\xBD.ts"), std::string::npos);
    EXPECT_NE(picture.text.find("packet number"), std::string::npos);
    EXPECT_EQ(picture.Elements("transport-error"), 1u);
    EXPECT_EQ(picture.Elements("bitrate"), 0u);

    // A picture that cannot be written is a failure of its own.
    const CommandResult refused = Run("--svg " + Quote(dir.File("no/such/folder.svg")) + " " + Quote(input));
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err, "pidsift-check: cannot create " + dir.File("no/such/folder.svg") + ": No such file or directory\n");
}

TEST_F(CheckTool, ProgressLineOnlyOnATerminal)
{
    const std::string input = Clean();
    EXPECT_EQ(Run(Quote(input)).err, "");
    if (access("/usr/bin/script", X_OK) != 0)
        GTEST_SKIP() << "no script(1) to run the tool on a terminal";
    const std::string command = Quote(ToolBinary("pidsift-check")) + " " + Quote(input);
    const CommandResult result = RunCommand("/usr/bin/script -qec " + Quote(command) + " /dev/null");
    EXPECT_EQ(result.status, 0);
    const std::string size = std::to_string(2400 * 188);
    EXPECT_NE(result.out.find("100% " + size + " of " + size + " bytes\r"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("\r\033[KFile " + input), std::string::npos) << result.out;
}

// README.md shows the sample's report and JSON as the tool prints them.
TEST(CheckReadme, ShowsTheToolsOwnOutput)
{
    std::string readme;
    ASSERT_TRUE(ReadFile(std::string(PIDSIFT_SOURCE_DIR) + "/README.md", &readme));
    const std::string prompt = "$ pidsift-check samples/sample.ts\n";
    const size_t start = readme.find(prompt);
    ASSERT_NE(start, std::string::npos);
    const size_t end = readme.find("  ...\n", start);
    ASSERT_NE(end, std::string::npos);
    const std::string shown = readme.substr(start + prompt.size(), end - start - prompt.size());
    const std::string tool = Quote(ToolBinary("pidsift-check"));
    const CommandResult text = RunCommand("cd " + Quote(PIDSIFT_SOURCE_DIR) + " && " + tool + " samples/sample.ts");
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.out.substr(0, shown.size()), shown);

    const CommandResult json = RunCommand("cd " + Quote(PIDSIFT_SOURCE_DIR) + " && " + tool + " --json samples/sample.ts");
    const Json parsed = Json::parse(json.out);
    const Json picked = {{"packets", parsed["packets"]},
                         {"duration_s", parsed["duration_s"]},
                         {"bitrate_bps", parsed["bitrate_bps"]},
                         {"checks", parsed["checks"]},
                         {"ok", parsed["ok"]}};
    const std::string line = Json(picked).dump();
    // jq -c keeps the order asked for; the comparison does not depend on it.
    const size_t at = readme.find("{\"packets\":");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(Json::parse(readme.substr(at, readme.find('\n', at) - at)), picked) << line;
}

TEST(CheckInstall, InstalledBesideTheOtherTools)
{
#ifdef PIDSIFT_SANITIZED
    GTEST_SKIP() << "an instrumented build is not installed";
#endif
    TempDir dir;
    const std::string prefix = dir.File("prefix");
    const CommandResult result =
        RunCommand(Quote(PIDSIFT_CMAKE_COMMAND) + " --install " + Quote(PIDSIFT_BINARY_DIR) + " --prefix " + Quote(prefix));
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const std::string installed = prefix + "/bin/pidsift-check";
    ASSERT_EQ(access(installed.c_str(), X_OK), 0);
    EXPECT_EQ(access((prefix + "/include/pidsift/check.h").c_str(), R_OK), 0);
    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, Generate(SampleBroadcast(600)).bytes()));
    const CommandResult run = RunCommand(Quote(installed) + " --json " + Quote(input));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Json::parse(run.out)["packets"], 600);
}

}  // namespace
