// A test of a front end: a scratch folder, the recordings written into it, and the tool run on
// them.
#ifndef PIDSIFT_TESTS_SUPPORT_TOOL_TEST_H
#define PIDSIFT_TESTS_SUPPORT_TOOL_TEST_H

#include <gtest/gtest.h>

#include <string>

#include "stream_builder.h"

namespace testsupport {

class ToolTest : public ::testing::Test {
protected:
    // tool (pidsift-check, ...) with the arguments, through the shell.
    static CommandResult RunTool(const std::string &tool, const std::string &arguments)
    {
        return RunCommand(Quote(ToolBinary(tool)) + " " + arguments);
    }
    // bytes as the file name in the scratch folder; its path.
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }

    TempDir dir;
};

}  // namespace testsupport

#endif  // PIDSIFT_TESTS_SUPPORT_TOOL_TEST_H
