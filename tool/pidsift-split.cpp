// pidsift-split: cuts an MPEG-2 transport stream file into one file per program, or a
// single-program file at the changes of its PMT.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "front_end.h"

namespace {

const char kHelp[] =
    "Usage: pidsift-split programs FILE\n"
    "       pidsift-split pmt-list FILE\n"
    "       pidsift-split pmt FILE [--crc CRC] [-o OUT]\n"
    "\n"
    "Cuts an MPEG-2 transport stream recording into smaller recordings, copying packets as they\n"
    "are. The new files go next to FILE and are named after it: BASE below is FILE without its\n"
    "extension (recording.ts gives recording). Files of the same names are replaced.\n"
    "\n"
    "Commands:\n"
    "  programs   One file per program that the PAT (the table of programs) lists, named\n"
    "             BASE_<program number>_<n>_<k>.ts. Each holds a PAT that lists only its\n"
    "             program, then the program's PMT, clock (PCR), ECM and stream packets.\n"
    "             <n> is 0, or 1, 2... when the PAT lists one program number several times;\n"
    "             <k> is 0, and grows when a program leaves the PAT and later comes back into\n"
    "             a new file.\n"
    "  pmt-list   For a recording of one program whose PMT (its list of streams) changes, lists\n"
    "             the segments: each run of one PMT, with its position in the list, the CRC_32\n"
    "             that tells that PMT apart, its index (0 the first time a PMT occurs, 1 when\n"
    "             it comes back, ...) and the bytes 'pmt' writes for it.\n"
    "  pmt        For such a recording, one file per distinct PMT, BASE_<CRC_32>.ts; a PMT\n"
    "             that comes back continues its file. With --crc, one file only, with every\n"
    "             part of the recording under that PMT.\n"
    "\n"
    "Options of pmt:\n"
    "  --crc CRC          the PMT to keep, its CRC_32 as pmt-list shows it (0x optional)\n"
    "  -o, --output OUT   with --crc, write to OUT instead of BASE_<CRC_32>.ts\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "programs and pmt list the files written, with their sizes, on standard output. pmt-list\n"
    "and pmt accept only recordings whose PAT lists a single program (and the network PID).\n"
    "\n"
    "Examples:\n"
    "  pidsift-split programs recording.ts\n"
    "  pidsift-split pmt-list channel.ts\n"
    "  pidsift-split pmt channel.ts --crc 1A2B3C4D -o main-part.ts\n"
    "\n"
    "Exit status: 0 on success; 1 when the input cannot be opened or read, an output cannot be\n"
    "created or written, the recording has more than one program (pmt-list, pmt) or the PMT\n"
    "given with --crc never occurs; 2 for a usage error.\n";

int UsageError(const std::string &message)
{
    fprintf(stderr, "pidsift-split: %s\nTry 'pidsift-split --help' for more information.\n", message.c_str());
    return front_end::kExitUsage;
}

// A CRC_32 of one to eight hexadecimal digits, with an optional 0x or 0X.
bool ParseCRC(const char *text, u32 *crc)
{
    const char *digits = front_end::SkipHexPrefix(text);
    u64 value = 0;
    if (std::strlen(digits) > 8 || !front_end::ParseNumber(digits, 16, 0xFFFFFFFF, &value))
        return false;
    *crc = u32(value);
    return true;
}

void RecordOutput(const char *path, void *files) { static_cast<std::vector<std::string> *>(files)->push_back(path); }

// The files the library created, with their sizes as they stand now.
void PrintFiles(const std::vector<std::string> &files)
{
    printf("Wrote %zu file%s:\n", files.size(), files.size() == 1 ? "" : "s");
    for (const std::string &file : files) {
        struct stat status;
        const unsigned long long size = stat(file.c_str(), &status) == 0 ? (unsigned long long)status.st_size : 0;
        printf("%14llu  %s\n", size, file.c_str());
    }
}

int MoreThanOneProgram(const char *file)
{
    fprintf(stderr, "Error: the PAT of %s lists more than one program; split it with 'pidsift-split programs' first.\n",
            file);
    return front_end::kExitFailure;
}

int RunPrograms(const char *file)
{
    std::vector<std::string> files;
    TS_SetOutputHook(RecordOutput, &files);
    front_end::Progress progress(true);
    const int result = TS_ProgramSplitFile(file);
    progress.Finish();
    TS_SetOutputHook(nullptr, nullptr);
    if (!files.empty())
        PrintFiles(files);
    else if (result == 0)
        printf("No file written: %s has no PAT that lists a program.\n", file);
    const bool written = front_end::FinishStandardOutput();
    return result == 0 && written ? front_end::kExitSuccess : front_end::kExitFailure;
}

int RunPMTList(const char *file)
{
    static TS_PMTSplitList list;
    front_end::Progress progress(true);
    const int result = TS_CheckPMTSplit(&list, file);
    progress.Finish();
    if (result == -3)
        return MoreThanOneProgram(file);
    if (result != 0)
        return front_end::kExitFailure;
    if (list.u16Count == 0) {
        printf("No PMT found: %s has no PAT that lists a program, or its PMT never comes.\n", file);
    } else {
        printf("Position  CRC_32      Index  Bytes\n");
        for (u16 i = 0; i < list.u16Count; ++i)
            printf("%8u  0x%08X  %5u  %llu\n", unsigned(i), list.ltSplit[i].u32CRC, unsigned(list.ltSplit[i].u16Index),
                   (unsigned long long)list.ltSplit[i].u64Bytes);
    }
    return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
}

int RunPMT(const char *file, bool single, u32 crc, const char *output)
{
    if (output != nullptr && front_end::IsSameFile(file, output)) {
        fprintf(stderr, "Error: %s is the input file.\n", output);
        return front_end::kExitFailure;
    }
    std::vector<std::string> files;
    TS_SetOutputHook(RecordOutput, &files);
    front_end::Progress progress(true);
    const int result = TS_PMTSplitFile(file, single ? 0 : 1, crc, output);
    progress.Finish();
    TS_SetOutputHook(nullptr, nullptr);
    if (result == -3)
        return MoreThanOneProgram(file);
    if (!files.empty()) {
        PrintFiles(files);
    } else if (result == 0 && single) {
        fprintf(stderr, "Error: no PMT with CRC_32 0x%08X in %s.\n", crc, file);
        return front_end::kExitFailure;
    } else if (result == 0) {
        printf("No file written: %s has no PAT that lists a program, or its PMT never comes.\n", file);
    }
    const bool written = front_end::FinishStandardOutput();
    return result == 0 && written ? front_end::kExitSuccess : front_end::kExitFailure;
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            fputs(kHelp, stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        }
        if (std::strcmp(argv[i], "-V") == 0 || std::strcmp(argv[i], "--version") == 0) {
            fputs("pidsift-split " PIDSIFT_VERSION "\n", stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        }
    }
    if (argc < 2)
        return UsageError("no command given: programs, pmt-list or pmt");
    const std::string command = argv[1];
    if (command != "programs" && command != "pmt-list" && command != "pmt")
        return UsageError("unknown command '" + command + "': programs, pmt-list or pmt");

    const char *file = nullptr;
    const char *crc_text = nullptr;
    const char *output = nullptr;
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        const char *arg = argv[i];
        const bool option = !options_done && arg[0] == '-' && arg[1] != '\0';
        if (option && std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (option && command == "pmt" && std::strcmp(arg, "--crc") == 0) {
            if (i + 1 >= argc)
                return UsageError("--crc needs the CRC_32 of a PMT");
            crc_text = argv[++i];
        } else if (option && command == "pmt" && (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--output") == 0)) {
            if (i + 1 >= argc)
                return UsageError(std::string(arg) + " needs a file name");
            output = argv[++i];
        } else if (option) {
            return UsageError("unknown option '" + std::string(arg) + "' for " + command);
        } else if (file != nullptr) {
            return UsageError("one FILE only; '" + std::string(arg) + "' is a second one");
        } else {
            file = arg;
        }
    }
    if (file == nullptr)
        return UsageError(command + " needs a FILE");

    if (command == "programs")
        return RunPrograms(file);
    if (command == "pmt-list")
        return RunPMTList(file);
    u32 crc = 0;
    if (crc_text != nullptr && !ParseCRC(crc_text, &crc))
        return UsageError("invalid CRC_32 '" + std::string(crc_text) + "': up to eight hexadecimal digits");
    if (output != nullptr && crc_text == nullptr)
        return UsageError("-o needs --crc: without it every PMT gets a file named after its CRC_32");
    return RunPMT(file, crc_text != nullptr, crc, output);
}
