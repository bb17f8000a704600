// The whole-stream drivers on the input written to a file: the dump with every selection bit,
// the per-program split, and the PMT-change check and split in both modes. Outputs go to the
// scratch folder beside the input and are removed after each input.
#include <dirent.h>

#include <string>

#include "support.h"

using fuzzsupport::Check;

namespace {

TS_PMTSplitList g_tSegments;

// Output files of the splits in the scratch folder, and the bytes they hold.
void CheckOutputs(int *files)
{
    *files = 0;
    DIR *dir = opendir(fuzzsupport::ScratchDir().c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "rec.ts")
            continue;
        ++*files;
        const long long size = fuzzsupport::FileSize(fuzzsupport::ScratchFile(name));
        Check(size >= 0 && size % TS_PACKET_SIZE == 0, "split outputs hold whole packets");
    }
    closedir(dir);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = fuzzsupport::ScratchFile("rec.ts");
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    Check(TS_Print(input.c_str(), 0x1FF) == 0, "the dump reads the whole file");
    Check(g_tData.u16PIDCount <= 256, "PID list within its capacity");

    const int split = TS_ProgramSplitFile(input.c_str());
    Check(split == 0, "the per-program split reads the whole file");
    Check(g_tPNSplitData.u16Count <= 16, "split table within its capacity");
    int files = 0;
    CheckOutputs(&files);
    Check(files <= 16 * 65536, "split files");
    fuzzsupport::ClearScratch();
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    const int checked = TS_CheckPMTSplit(&g_tSegments, input.c_str());
    Check(checked == 0 || checked == -3, "PMT check result");
    Check(g_tSegments.u16Count <= 256, "segment list within its capacity");
    for (u16 i = 0; i < g_tSegments.u16Count; ++i)
        Check(g_tSegments.ltSplit[i].u64Bytes % TS_PACKET_SIZE == 0, "segments count whole packets");

    const int all = TS_PMTSplitFile(input.c_str(), 1, 0, nullptr);
    Check(all == checked, "the split stops where the check stops");
    CheckOutputs(&files);
    Check(files <= 256, "at most one file per distinct PMT");
    fuzzsupport::ClearScratch();
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    if (checked == 0 && g_tSegments.u16Count > 0 && g_tSegments.u16Count < 256) {
        // The single-mode file of a PMT holds exactly what the check counted for its segments.
        const u32 crc = g_tSegments.ltSplit[g_tSegments.u16Count - 1].u32CRC;
        u64 expected = 0;
        for (u16 i = 0; i < g_tSegments.u16Count; ++i)
            if (g_tSegments.ltSplit[i].u32CRC == crc)
                expected += g_tSegments.ltSplit[i].u64Bytes;
        const std::string single = fuzzsupport::ScratchFile("single.ts");
        Check(TS_PMTSplitFile(input.c_str(), 0, crc, single.c_str()) == 0, "single-mode split");
        Check(fuzzsupport::FileSize(single) == (long long)expected, "single-mode file size is what the check counted");
    }
    fuzzsupport::ClearScratch();
    return 0;
}
