// pidsift-check over several files at once: -j N gives the bytes of one file after the other,
// and --summary one line per file.
#include <gtest/gtest.h>

#include <string>

#include "dvb_streams.h"

namespace {

using namespace testsupport;

class CheckJobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A clean recording, one with a continuity break on the AC-3 audio and two damaged
        // packets, one cut in the middle of a packet, and one with no packet at all.
        const Recording clean = DvbStreamsRecording();
        ASSERT_TRUE(WriteFile(dir.File("clean.ts"), clean.bytes()));
        std::vector<Packet> damaged = clean.packets;
        size_t audio = 0;
        for (size_t i = 0; i < damaged.size(); ++i)
            if (PacketPID(damaged[i]) == 0x0102 && ++audio == 10)
                damaged.erase(damaged.begin() + long(i));
        damaged[100][1] |= 0x80;
        damaged[200][1] |= 0x80;
        ASSERT_TRUE(WriteFile(dir.File("damaged.ts"), Flatten(damaged)));
        Bytes cut = clean.bytes();
        cut.resize(cut.size() / 2 + 94);
        ASSERT_TRUE(WriteFile(dir.File("cut.ts"), cut));
        ASSERT_TRUE(WriteFile(dir.File("empty.ts"), Bytes(1000, 0x00)));
    }
    CommandResult Run(const std::string &arguments)
    {
        return RunCommand("cd " + Quote(dir.path()) + " && " + Quote(ToolBinary("pidsift-check")) + " " + arguments);
    }

    TempDir dir;
    const std::string files = "clean.ts damaged.ts cut.ts empty.ts clean.ts damaged.ts";
};

TEST_F(CheckJobs, ParallelReportsAreTheSequentialOnesInOrder)
{
    for (const char *form : {"", "--json", "--summary", "--summary --json", "--quiet"}) {
        SCOPED_TRACE(form);
        const CommandResult one = Run(std::string(form) + " -j 1 " + files);
        EXPECT_EQ(one.status, 1);  // the worst of ok and errors
        EXPECT_NE(one.out, "");
        for (const char *jobs : {"-j 2", "-j4", "--jobs=3"}) {
            const CommandResult many = Run(std::string(form) + " " + jobs + " " + files);
            EXPECT_EQ(many.status, one.status) << jobs;
            EXPECT_EQ(many.out, one.out) << jobs;
        }
    }
}

TEST_F(CheckJobs, SummaryOneLinePerFile)
{
    const CommandResult text = Run("--summary -j 2 clean.ts damaged.ts empty.ts");
    EXPECT_EQ(text.status, 1);
    EXPECT_EQ(text.out, "00:00:02.360  ok             2 services  clear      -  clean.ts\n"
                        "00:00:02.360  errors         2 services  clear      cc_error=1,transport_error=2  damaged.ts\n"
                        "-             errors         0 services  clear      -  empty.ts\n");
    const CommandResult json = Run("--summary --json --quiet clean.ts damaged.ts");
    EXPECT_EQ(json.out, "{\"file\":\"damaged.ts\",\"duration_s\":2.36,\"services\":2,\"verdict\":\"errors\","
                        "\"failed\":{\"cc_error\":1,\"transport_error\":2},\"scrambled\":false}\n");
    // A file that cannot be opened is the worst, whatever comes after it.
    EXPECT_EQ(Run("--summary -j 2 missing.ts clean.ts").status, 3);
}

TEST_F(CheckJobs, UsageErrors)
{
    for (const char *arguments : {"-j 0 clean.ts", "-j clean.ts", "--jobs=x clean.ts", "-j"}) {
        SCOPED_TRACE(arguments);
        const CommandResult result = Run(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_NE(result.err.find("-j needs a number of files at a time, 1 to 1024"), std::string::npos) << result.err;
    }
}

}  // namespace
