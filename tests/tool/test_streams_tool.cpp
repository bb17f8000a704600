// What the front ends say of each elementary stream of a DVB-like multiplex whose descriptors
// name AC-3, E-AC-3, subtitles and teletext: pidsift-check's report and pidsift-dump's program
// list, as text and JSON.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "capture.h"
#include "dvb_streams.h"

namespace {

using namespace testsupport;

class StreamsTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(WriteFile(dir.File("dvb.ts"), DvbStreamsRecording().bytes())); }
    // The tool run in the scratch directory on dvb.ts, so that the report names it so.
    CommandResult Run(const std::string &tool, const std::string &arguments)
    {
        return RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary(tool)) + " " + arguments);
    }

    TempDir dir;
};

TEST_F(StreamsTool, CheckReportNamesEachStream)
{
    const CommandResult text = Run("pidsift-check", "dvb.ts");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(CompareWithGolden("check_dvb_streams", text.out), "");
    const CommandResult json = Run("pidsift-check", "--json dvb.ts");
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_EQ(CompareWithGolden("check_dvb_streams_json", json.out), "");
}

TEST_F(StreamsTool, DumpProgramListNamesEachStream)
{
    const CommandResult text = Run("pidsift-dump", "--programs dvb.ts");
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "========================================\n"
                        "Program List:\n"
                        "  ProgramNumber:257 PID:0x01F0 ServiceName:\"France 1\" PresentEvent:-\n"
                        "    StreamPID:0x0101 StreamType:0x24 Codec:hevc Kind:video Language:-\n"
                        "    StreamPID:0x0102 StreamType:0x06 Codec:ac3 Kind:audio Language:fra\n"
                        "    StreamPID:0x0103 StreamType:0x06 Codec:eac3 Kind:audio Language:fra\n"
                        "    StreamPID:0x0104 StreamType:0x06 Codec:eac3 Kind:audio Language:eng\n"
                        "    StreamPID:0x0105 StreamType:0x06 Codec:dvb_subtitle Kind:subtitles Language:fra\n"
                        "    StreamPID:0x0106 StreamType:0x06 Codec:dvb_teletext Kind:teletext Language:fra\n"
                        "    StreamPID:0x0107 StreamType:0x06 Codec:unknown Kind:data Language:-\n"
                        "  ProgramNumber:258 PID:0x01F1 ServiceName:\"Deutsch 2\" PresentEvent:-\n"
                        "    StreamPID:0x0201 StreamType:0x02 Codec:mpeg2video Kind:video Language:-\n"
                        "    StreamPID:0x0202 StreamType:0x03 Codec:mp2 Kind:audio Language:deu\n");

    const CommandResult json = Run("pidsift-dump", "--programs --json dvb.ts");
    EXPECT_EQ(json.status, 0) << json.err;
    const nlohmann::ordered_json list = nlohmann::ordered_json::parse(json.out);
    ASSERT_EQ(list["programs"].size(), 2u);
    const nlohmann::ordered_json &streams = list["programs"][0]["streams"];
    ASSERT_EQ(streams.size(), 7u);
    EXPECT_EQ(streams[2].dump(), R"({"pid":259,"stream_type":6,"codec":"eac3","kind":"audio","language":["fra"]})");
    EXPECT_EQ(streams[6].dump(), R"({"pid":263,"stream_type":6,"codec":null,"kind":"data","language":[]})");
    EXPECT_EQ(list["programs"][1]["streams"][1]["language"], nlohmann::ordered_json::array({"deu"}));
}

}  // namespace
