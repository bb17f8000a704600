// The front ends' options for names: pidsift-dump --sdt, --nit, --programs and --charset give the
// library's text; pidsift-check shows the services and the network in its report and JSON, and
// says so when the recording has no SDT or NIT.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;
using Json = nlohmann::json;

class NameOptions : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    CommandResult Dump(const std::string &arguments)
    {
        return RunCommand(Quote(ToolBinary("pidsift-dump")) + " " + arguments);
    }
    CommandResult Check(const std::string &arguments)
    {
        return RunCommand(Quote(ToolBinary("pidsift-check")) + " " + arguments);
    }
    std::string Library(const std::string &path, int mask)
    {
        const TS_DumpOptions options = {mask};
        return CaptureStdout([&] { EXPECT_EQ(TS_Dump(path.c_str(), &options), 0); });
    }
    // The lines of a report from the one that starts with heading up to the next empty line.
    static std::string Block(const std::string &text, const std::string &heading)
    {
        const size_t start = text.find("\n" + heading);
        if (start == std::string::npos)
            return "";
        return text.substr(start + 1, text.find("\n\n", start + 1) - start);
    }

    TempDir dir;
};

TEST_F(NameOptions, DumpSelectionsAndCharset)
{
    const std::string input = Write("in.ts", Generate(SampleBroadcast(1200)).bytes());
    const struct {
        const char *arguments;
        int mask;
    } cases[] = {
        {"--sdt", TS_PRINT_SDT},
        {"--nit --changes", TS_PRINT_NIT | TS_PRINT_CHANGES},
        {"--programs", TS_PRINT_PROGRAMS},
        {"--mask 0x4C00", TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PROGRAMS},
        {"--sdt --nit --programs --pids", TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PROGRAMS | TS_PRINT_PIDS},
        {"--programs --json", TS_PRINT_PROGRAMS | TS_PRINT_JSON},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.arguments);
        const CommandResult result = Dump(std::string(each.arguments) + " " + Quote(input));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out, Library(input, each.mask));
    }
    // --all keeps its selection: the SI blocks are asked for by name.
    EXPECT_EQ(Dump("--all " + Quote(input)).out.find("[SDT]"), std::string::npos);

    const std::string arib = Dump("--programs " + Quote(input)).out;
    EXPECT_NE(arib.find("ServiceName:\"見本テレビ１\""), std::string::npos) << arib;
    for (const char *chosen : {"--charset dvb", "--charset=dvb"}) {
        const CommandResult dvb = Dump(std::string(chosen) + " --programs " + Quote(input));
        EXPECT_EQ(dvb.status, 0);
        EXPECT_NE(dvb.out.find("  ProgramNumber:1024 PID:0x01F0 ServiceName:\"8+K\\\\%F%l%S#1\" PresentEvent:"),
                  std::string::npos)
            << dvb.out;
    }
    EXPECT_EQ(Dump("--charset arib --programs " + Quote(input)).out, arib);

    const struct {
        std::string arguments;
        const char *message;
    } errors[] = {
        {"--programs " + Quote(input) + " --charset", "pidsift-dump: --charset needs auto, dvb or arib\n"},
        {"--charset latin1 " + Quote(input), "pidsift-dump: invalid --charset 'latin1': auto, dvb or arib\n"},
        {"--mask 0x40000 " + Quote(input), "pidsift-dump: invalid mask '0x40000'"},
    };
    for (const auto &each : errors) {
        SCOPED_TRACE(each.arguments);
        const CommandResult result = Dump(each.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(each.message, 0), 0u) << result.err;
    }
}

TEST_F(NameOptions, CheckReportsServicesAndNetwork)
{
    const std::string input = Write("isdb.ts", Generate(SampleBroadcast(1200)).bytes());
    const CommandResult text = Check(Quote(input));
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\n  Network         見本ネットワーク (network_id 32736)\n"), std::string::npos)
        << text.out;
    EXPECT_EQ(Block(text.out, "Services"), "Services of the SDT (transport stream 32736, ARIB text)\n"
                                           "  Program  Service       Provider  Service type\n"
                                           "     1024  見本テレビ１  見本放送  0x01 digital television\n"
                                           "     1025  見本テレビ２  見本放送  0x01 digital television\n"
                                           "     1032  見本HD        見本放送  0x01 digital television\n");
    EXPECT_NE(text.out.find("\n  ARIB  Association of Radio Industries and Businesses"), std::string::npos);

    // Read as DVB, the same bytes give ASCII: the columns follow their width.
    const CommandResult dvb = Check("--charset dvb " + Quote(input));
    EXPECT_EQ(Block(dvb.out, "Services"), "Services of the SDT (transport stream 32736, DVB text)\n"
                                          "  Program  Service       Provider  Service type\n"
                                          "     1024  8+K\\%F%l%S#1  8+K\\J|Aw  0x01 digital television\n"
                                          "     1025  8+K\\%F%l%S#2  8+K\\J|Aw  0x01 digital television\n"
                                          "     1032  8+K\\HD        8+K\\J|Aw  0x01 digital television\n");

    const Json json = Json::parse(Check("--json " + Quote(input)).out);
    EXPECT_EQ(json["network_name"], kSampleNetworkName);
    EXPECT_EQ(json["programs"][2]["service_name"], "見本HD");
    EXPECT_EQ(json["programs"][2]["provider_name"], kSampleProvider);
    EXPECT_EQ(json["programs"][2]["service_type"], 1);

    const CommandResult refused = Check("--charset " + Quote(input));
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err.rfind("pidsift-check: invalid --charset '" + input + "': auto, dvb or arib\n", 0), 0u);
}

// A recording without SDT and NIT, and one whose SDT leaves a program out.
TEST_F(NameOptions, CheckWithoutNames)
{
    Bytes bare;
    for (const Packet &packet : Generate(SampleBroadcast(800)).packets)
        if (PacketPID(packet) != 0x0010 && PacketPID(packet) != 0x0011)
            Append(&bare, packet);
    const std::string input = Write("bare.ts", bare);
    const CommandResult text = Check(Quote(input));
    EXPECT_NE(text.out.find("\n  Network         unknown: no NIT with a network name\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("\nServices: unknown (no SDT of transport stream 32736)\n"), std::string::npos);
    const Json json = Json::parse(Check("--json " + Quote(input)).out);
    EXPECT_TRUE(json["network_name"].is_null());
    for (const Json &program : json["programs"])
        EXPECT_TRUE(program["service_name"].is_null() && program["provider_name"].is_null() &&
                    program["service_type"].is_null());

    BroadcastSpec partial = SampleBroadcast(800);
    partial.services.erase(partial.services.begin() + 1);
    partial.services[1].descriptors = Descriptor(0xC1, {0x84, 0xFF});
    const CommandResult some = Check(Quote(Write("partial.ts", Generate(partial).bytes())));
    EXPECT_EQ(Block(some.out, "Services"), "Services of the SDT (transport stream 32736, ARIB text)\n"
                                           "  Program  Service       Provider  Service type\n"
                                           "     1024  見本テレビ１  見本放送  0x01 digital television\n"
                                           "     1025  -             -         not in the SDT\n"
                                           "     1032  -             -         no service descriptor\n");
}

// Recordings written by ffmpeg's muxer (tests/data/README.md says how): the names as they were
// given to it, ASCII in the default table and the others behind 0x15, UTF-8.
std::string DataFile(const std::string &name) { return std::string(PIDSIFT_SOURCE_DIR) + "/tests/data/" + name; }

TEST_F(NameOptions, NamesWrittenByAnotherMuxer)
{
    const std::string input = DataFile("ffmpeg_dvb_names.ts");
    const CommandResult programs = Dump("--programs " + Quote(input));
    EXPECT_EQ(programs.status, 0);
    EXPECT_EQ(programs.out, "========================================\n"
                            "Program List:\n"
                            "  ProgramNumber:4164 PID:0x1000 ServiceName:\"BBC NEWS\" PresentEvent:-\n"
                            "    StreamPID:0x0100 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                            "    StreamPID:0x0101 StreamType:0x03 Codec:mp2 Kind:audio Language:-\n"
                            "  ProgramNumber:513 PID:0x1001 ServiceName:\"France 2\" PresentEvent:-\n"
                            "    StreamPID:0x0102 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                            "    StreamPID:0x0103 StreamType:0x03 Codec:mp2 Kind:audio Language:-\n"
                            "  ProgramNumber:3401 PID:0x1002 ServiceName:\"Rai 1\" PresentEvent:-\n"
                            "    StreamPID:0x0104 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                            "    StreamPID:0x0105 StreamType:0x03 Codec:mp2 Kind:audio Language:-\n");
    // auto is the default, and reads these as DVB: nothing in them is ARIB's.
    EXPECT_EQ(Dump("--charset auto --programs " + Quote(input)).out, programs.out);

    const CommandResult text = Check(Quote(input));
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("\n  Network    FFmpeg (network_id 9018)\n"), std::string::npos) << text.out;
    EXPECT_EQ(Block(text.out, "Services"), "Services of the SDT (transport stream 4100, DVB text)\n"
                                           "  Program  Service   Provider            Service type\n"
                                           "     4164  BBC NEWS  BBC                 0x01 digital television\n"
                                           "      513  France 2  France Télévisions  0x01 digital television\n"
                                           "     3401  Rai 1     Rai                 0x01 digital television\n");

    const Json json = Json::parse(Check("--json " + Quote(input)).out);
    EXPECT_EQ(json["network_name"], "FFmpeg");
    const struct {
        int program;
        const char *service;
        const char *provider;
    } services[] = {{4164, "BBC NEWS", "BBC"}, {513, "France 2", "France Télévisions"}, {3401, "Rai 1", "Rai"}};
    ASSERT_EQ(json["programs"].size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const Json &program = json["programs"][i];
        EXPECT_EQ(program["program_number"], services[i].program);
        EXPECT_EQ(program["service_name"], services[i].service);
        EXPECT_EQ(program["provider_name"], services[i].provider);
        EXPECT_EQ(program["service_type"], 1);
    }

    // The SDT as it came: the bytes ffmpeg wrote and what they read as.
    const CommandResult sdt = Dump("--sdt --json " + Quote(input));
    const Json first = Json::parse(sdt.out.substr(0, sdt.out.find('\n')));
    EXPECT_EQ(first["charset"], "dvb");
    EXPECT_EQ(first["original_network_id"], 0x233A);
    ASSERT_EQ(first["services"].size(), 3u);
    EXPECT_EQ(first["services"][0]["service_name_bytes"], "424243204e455753");
    EXPECT_EQ(first["services"][1]["provider_name_bytes"], "154672616e63652054c3a96cc3a9766973696f6e73");
    EXPECT_EQ(first["services"][1]["provider_name"], "France Télévisions");
    EXPECT_NE(Dump("--sdt " + Quote(input))
                  .out.find("    ST:0x01(digital television) SPNL:21 SNL:8 Provider:\"France Télévisions\" "
                            "Name:\"France 2\"\n"),
              std::string::npos);
}

// Names whose characters take other than one column each: the report's columns count what a
// terminal shows. A radio recording of ffmpeg's with an emoji (two columns), and DVB names of
// our builder in three tables: Thai of ISO 8859-11 with a tone mark (none), half-width katakana
// (one) and full-width letters (two) in UTF-8 with a combining accent, Hangul in UCS-2 (two).
TEST_F(NameOptions, ReportColumnsFollowWhatTerminalsShow)
{
    const std::string radio = DataFile("ffmpeg_dvb_radio.ts");
    EXPECT_EQ(Dump("--programs " + Quote(radio)).out, "========================================\n"
                                                      "Program List:\n"
                                                      "  ProgramNumber:8449 PID:0x1000 ServiceName:\"Rai Radio 1\" PresentEvent:-\n"
                                                      "    StreamPID:0x0100 StreamType:0x03 Codec:mp2 Kind:audio "
                                                      "Language:-\n"
                                                      "  ProgramNumber:8450 PID:0x1001 ServiceName:\"ΕΡΤ Πρώτο 😀\" PresentEvent:-\n"
                                                      "    StreamPID:0x0101 StreamType:0x03 Codec:mp2 Kind:audio "
                                                      "Language:-\n");
    EXPECT_EQ(Block(Check(Quote(radio)).out, "Services"), "Services of the SDT (transport stream 1, DVB text)\n"
                                                          "  Program  Service       Provider  Service type\n"
                                                          "     8449  Rai Radio 1   Rai       0x02 digital radio\n"
                                                          "     8450  ΕΡΤ Πρώτο 😀  ΕΡΤ       0x02 digital radio\n");
    const Json json = Json::parse(Check("--json " + Quote(radio)).out);
    EXPECT_EQ(json["programs"][1]["service_name"], "ΕΡΤ Πρώτο 😀");
    EXPECT_EQ(json["programs"][1]["provider_name"], "ΕΡΤ");
    EXPECT_EQ(json["programs"][1]["service_type"], 2);

    auto mux = SampleBroadcast(800);
    mux.arib_descriptors = false;
    mux.services = {
        {0x0400, ServiceDescriptor(0x01, Text("BEC"), {0x07, 0xAA, 0xE8, 0xCD, 0xA7, ' ', '3'})},
        {0x0401, ServiceDescriptor(0x01,
                                   Text("\x15"
                                        "Cafe\xCC\x81"),
                                   Text("\x15\xEF\xBD\xB1\xEF\xBE\x86\xEF\xBE\x92 \xEF\xBC\xB4\xEF\xBC\xB6"))},
        {0x0408,
         ServiceDescriptor(0x01, Text("KBS"), {0x11, 0xD5, 0x5C, 0xAD, 0x6D, 0x00, ' ', 0x00, 'T', 0x00, 'V'})}};
    mux.network_descriptors = Descriptor(0x40, Text("Bangkok"));
    mux.network_stream_descriptors = {};
    const CommandResult text = Check(Quote(Write("widths.ts", Generate(mux).bytes())));
    EXPECT_EQ(Block(text.out, "Services"), "Services of the SDT (transport stream 32736, DVB text)\n"
                                           "  Program  Service   Provider  Service type\n"
                                           "     1024  ช่อง 3     BEC       0x01 digital television\n"
                                           "     1025  ｱﾆﾒ ＴＶ  Cafe\xCC\x81      0x01 digital television\n"
                                           "     1032  한국 TV   KBS       0x01 digital television\n");
}

}  // namespace
