// The README's first command: scripts/demo.sh, run here against stand-in tools so that the
// timing of their output is the test's to choose. pidsift writes its listing to standard error a
// line at a time; the demo must read it whole and go on with the first program.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "stream_builder.h"

namespace {

using testsupport::Quote;
using testsupport::RunCommand;
using testsupport::TempDir;

void WriteScript(const std::string &path, const std::string &body)
{
    std::ofstream(path) << "#!/usr/bin/env bash\n" << body;
    chmod(path.c_str(), 0755);
}

}  // namespace

TEST(Demo, TakesTheFirstProgramOfAListingWrittenALineAtATime)
{
    TempDir tools;
    // The listing as pidsift writes it, with a pause after each line; given an output, a copy.
    WriteScript(tools.File("pidsift"), "if [ $# -eq 1 ]; then\n"
                                       "    for pid in 01F0 01F1 01F8; do\n"
                                       "        echo \"ProgramNumber:1024 PID:0x$pid\" >&2; sleep 0.2\n"
                                       "    done\n"
                                       "else\n"
                                       "    cp \"$1\" \"$3\"\n"
                                       "fi\n");
    WriteScript(tools.File("pidsift-dump"), "echo PAT\n");
    TempDir out;
    const std::string sample = std::string(PIDSIFT_SOURCE_DIR) + "/samples/sample.ts";
    const testsupport::CommandResult demo =
        RunCommand("bash " + Quote(std::string(PIDSIFT_SOURCE_DIR) + "/scripts/demo.sh") + " " + Quote(tools.path()) +
                   " " + Quote(sample) + " " + Quote(out.path()));
    EXPECT_EQ(demo.status, 0) << demo.err;
    EXPECT_NE(demo.out.find("== pidsift " + sample + " 0x01F0 " + out.path() + "/program.ts\n"), std::string::npos)
        << demo.out;
}
