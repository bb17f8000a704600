// Calls one library driver and exits with its result negated (0, 1, ... 6), so that a test can
// read the result code of a run made under the I/O fault shim. Standard output is the dump's.
//   fault_probe list IN | filter IN PID OUT | onepass IN PID OUT | print IN MASK
//             | programs IN | pmt-check IN | pmt-split IN ALL CRC [OUT]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pidsift/ts.h>

namespace {

int OpenOutput(void *path)
{
    return open(static_cast<const char *>(path), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

TS_PMTSplitList g_tSegments;

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: fault_probe OPERATION IN ...\n");
        return 100;
    }
    const char *operation = argv[1];
    const char *input = argv[2];
    int result = 100;
    if (std::strcmp(operation, "list") == 0) {
        TS_ProgramList list = {};
        result = TS_GetProgramList(&list, input);
    } else if (std::strcmp(operation, "filter") == 0 && argc == 5) {
        result = TS_ProgramSplitStream(argv[4], input, u16(std::strtoul(argv[3], nullptr, 16)));
    } else if (std::strcmp(operation, "onepass") == 0 && argc == 5) {
        TS_ProgramList list = {};
        int split = 99;
        result = TS_GetProgramListAndSplit(&list, input, u16(std::strtoul(argv[3], nullptr, 16)), OpenOutput, argv[4], &split);
        // A listing that went through but an extraction that failed: the extraction's code.
        if (result == 0 && split < 0)
            result = split;
    } else if (std::strcmp(operation, "print") == 0 && argc == 4) {
        const TS_DumpOptions options = {int(std::strtol(argv[3], nullptr, 16))};
        result = TS_Dump(input, &options);
    } else if (std::strcmp(operation, "programs") == 0) {
        result = TS_ProgramSplitFile(input);
    } else if (std::strcmp(operation, "pmt-check") == 0) {
        result = TS_CheckPMTSplit(&g_tSegments, input);
    } else if (std::strcmp(operation, "pmt-split") == 0 && argc >= 5) {
        result = TS_PMTSplitFile(input, u8(std::atoi(argv[3])), u32(std::strtoul(argv[4], nullptr, 16)), argc > 5 ? argv[5] : nullptr);
    } else {
        fprintf(stderr, "fault_probe: unknown operation %s\n", operation);
    }
    fflush(stdout);
    return result <= 0 ? -result : 100;
}
