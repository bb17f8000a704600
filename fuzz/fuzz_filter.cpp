// The listing and single-program drivers on the input written to a file: TS_GetProgramList,
// TS_ProgramSplitStream for up to two listed PMT PIDs, and the single-pass
// TS_GetProgramListAndSplit, whose list and output must equal those of the two passes.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support.h"

using fuzzsupport::Check;

namespace {

std::vector<u8> ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int OpenSinglePassOutput(void *context)
{
    const std::string *path = static_cast<const std::string *>(context);
    return open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool SameList(const TS_ProgramList &a, const TS_ProgramList &b)
{
    if (a.u16Count != b.u16Count)
        return false;
    for (u16 i = 0; i < a.u16Count; ++i)
        if (a.lu16ProgramNumber[i] != b.lu16ProgramNumber[i] || a.lu16PID[i] != b.lu16PID[i])
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = fuzzsupport::ScratchFile("in.ts");
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    TS_ProgramList list = {};
    Check(TS_GetProgramList(&list, input.c_str()) == 0, "listing reads the whole file");
    Check(list.u16Count <= 16, "at most 16 programs");
    for (u16 i = 0; i < list.u16Count; ++i)
        Check(list.lu16ProgramNumber[i] != 0 && list.lu16PID[i] < 0x2000, "listed entries are programs");

    // A PID that no program has: nothing is ever written, and no output is created.
    const std::string unlisted = fuzzsupport::ScratchFile("unlisted.ts");
    u16 absent = 0x1FFF;
    for (u16 i = 0; i < list.u16Count; ++i)
        if (list.lu16PID[i] == absent)
            absent = 0x1FFE;
    const int absent_result = TS_ProgramSplitStream(unlisted.c_str(), input.c_str(), absent);
    Check(absent_result == 0, "an unlisted PID scans to the end");

    const u16 tries = list.u16Count < 2 ? list.u16Count : 2;
    for (u16 i = 0; i < tries; ++i) {
        const u16 pid = list.lu16PID[i];
        const std::string two_pass = fuzzsupport::ScratchFile("two-pass.ts");
        const std::string one_pass = fuzzsupport::ScratchFile("one-pass.ts");
        unlink(two_pass.c_str());
        unlink(one_pass.c_str());
        const int split = TS_ProgramSplitStream(two_pass.c_str(), input.c_str(), pid);
        Check(split == 0, "extraction of a listed PID succeeds");
        const long long written = fuzzsupport::FileSize(two_pass);
        Check(written < 0 || written % TS_PACKET_SIZE == 0, "output holds whole packets");
        Check(written < 0 || u64(written) <= u64(size), "each input packet is written at most once");

        TS_ProgramList again = {};
        int split_result = 99;
        std::string path = one_pass;
        const int listed = TS_GetProgramListAndSplit(&again, input.c_str(), pid, OpenSinglePassOutput, &path, &split_result);
        Check(listed == 0, "single pass reads the whole file");
        Check(SameList(list, again), "single pass lists what the listing lists");
        Check(split_result == 0 || split_result == 1, "single pass split result");
        if (split_result == 0) {
            Check(written >= 0, "both passes open the output");
            Check(ReadAll(one_pass) == ReadAll(two_pass), "single pass writes what two passes write");
        } else {
            Check(written < 0, "neither pass opens the output");
        }
        const std::vector<u8> output = ReadAll(two_pass);
        for (size_t at = 0; at < output.size(); at += TS_PACKET_SIZE) {
            Check(output[at] == TS_SYNC_BYTE, "written packets start with the sync byte");
            Check(((output[at + 1] & 0x1F) << 8 | output[at + 2]) != 0, "no PAT packet is written");
        }
    }
    fuzzsupport::ClearScratch();
    return 0;
}
