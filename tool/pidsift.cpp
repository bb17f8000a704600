// pidsift: lists the programs of an MPEG-2 transport stream file, or copies one program's
// packets, byte for byte, into a new file.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <pidsift/demux.h>

#include "front_end.h"

namespace {

constexpr int kExitInvalidPID = -1;  // the shell sees 255
constexpr int kExitFailure = front_end::kExitFailure;

const char kUsage[] = "=== Pidsift === v1.00\n"
                      "Filt to one program from multi-program MPEG-2 TS file and output file.\n"
                      "Usage: pidsift <input TS filename> [<PID> <output TS filename>]\n"
                      "To check PID, <input TS filename> only to parameter.\n";

void PrintUsage(FILE *stream) { fwrite(kUsage, 1, sizeof kUsage - 1, stream); }

void PrintInvalidPID() { fwrite("Error: invalid PID.\n", 1, 20, stderr); }

// Parses a PID in hexadecimal with an optional 0x or 0X; only the last four digits count.
bool ParsePID(const char *text, u16 *pid)
{
    u16 value = 0;
    for (text = front_end::SkipHexPrefix(text); *text != '\0'; ++text) {
        const int digit = front_end::DigitValue(*text, 16);
        if (digit < 0)
            return false;
        value = u16(value * 16 + digit);
    }
    *pid = value;
    return true;
}

bool IsListedPMTPID(const std::vector<pidsift::PatEntry> &programs, u16 pid)
{
    for (const pidsift::PatEntry &program : programs)
        if (program.pid == pid)
            return true;
    return false;
}

// ---- Single pass -------------------------------------------------------------------------------
// The listing and the extraction run in one read of the input. The program is written to a
// temporary file beside the output, renamed into place only once the listing has confirmed the
// PID, so that an invalid PID leaves no new file and an existing output untouched, exactly as
// when the PID is checked before the extraction starts.

struct Staging {
    std::string strOutput;
    std::string strTemporary;
    mode_t uMode;
};

// The temporary file, for the signal handler: an interrupted run leaves nothing behind.
char g_strStagingPath[4096];

void RemoveStagingOnSignal(int signal_number)
{
    if (g_strStagingPath[0] != '\0')
        unlink(g_strStagingPath);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

std::string DirectoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A single pass needs an output that does not exist yet, in a folder where a temporary file
// can be made. An existing output of any kind (a file, a link, a pipe, a device, /dev/stdout)
// is written in place after a listing pass, as the two-pass extraction does: renaming a new
// file over it would replace a file that opening it would refuse (a read-only one) and give
// it a new inode (hard links, owner and mode lost).
bool CanStage(const char *output, Staging *staging)
{
    struct stat status;
    if (lstat(output, &status) == 0 || errno != ENOENT)
        return false;
    const mode_t mask = umask(0);
    umask(mask);
    staging->uMode = 0666 & ~mask;
    staging->strOutput = output;
    const std::string directory = DirectoryOf(staging->strOutput);
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        return false;
    const size_t slash = staging->strOutput.rfind('/');
    const std::string name = slash == std::string::npos ? staging->strOutput : staging->strOutput.substr(slash + 1);
    staging->strTemporary = directory + "/." + name + ".pidsift-XXXXXX";
    return staging->strTemporary.size() < sizeof g_strStagingPath;
}

int OpenStaging(void *context)
{
    Staging *staging = static_cast<Staging *>(context);
    std::strcpy(g_strStagingPath, staging->strTemporary.c_str());
    const int fd = mkostemp(g_strStagingPath, O_CLOEXEC);
    if (fd < 0) {
        g_strStagingPath[0] = '\0';
        return -1;
    }
    staging->strTemporary = g_strStagingPath;
    fchmod(fd, staging->uMode);
    return fd;
}

void RemoveStaging()
{
    if (g_strStagingPath[0] != '\0')
        unlink(g_strStagingPath);
    g_strStagingPath[0] = '\0';
}

int FilterInOnePass(const char *input, u16 pid, Staging *staging)
{
    std::signal(SIGINT, RemoveStagingOnSignal);
    std::signal(SIGTERM, RemoveStagingOnSignal);
    std::signal(SIGHUP, RemoveStagingOnSignal);
    std::vector<pidsift::PatEntry> programs;
    int split = 1;
    front_end::Progress progress(true);
    const int listed = pidsift::ListProgramsAndExtract(input, pid, OpenStaging, staging, &split, &programs);
    progress.Finish();
    const char *output = staging->strOutput.c_str();
    if (listed == -5) {
        RemoveStaging();
        return kExitFailure;
    }
    if (!IsListedPMTPID(programs, pid)) {
        RemoveStaging();
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    if (split == -3) {
        fprintf(stderr, "error - failed on _open(%s) [dest]\n", output);
        return kExitFailure;
    }
    if (split == 1) {
        // Only a PAT that never completed could list the PID without the pass seeing it; the
        // extraction would have made an empty output.
        RemoveStaging();
        const int fd = open(output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            fprintf(stderr, "error - failed on _open(%s) [dest]\n", output);
            return kExitFailure;
        }
        close(fd);
        return 0;
    }
    if (split == -6) {
        RemoveStaging();
        fprintf(stderr, "Error: Failed write %s.\n", output);
        return kExitFailure;
    }
    if (rename(staging->strTemporary.c_str(), output) != 0) {
        RemoveStaging();
        fprintf(stderr, "Error: Failed write %s.\n", output);
        return kExitFailure;
    }
    g_strStagingPath[0] = '\0';
    return 0;
}

// ---- Two passes: the listing, then the extraction ------------------------------------------

int FilterInTwoPasses(const char *input, u16 pid, const char *output)
{
    std::vector<pidsift::PatEntry> programs;
    front_end::Progress listing_progress(true);
    const int listed = pidsift::ListPrograms(input, &programs);
    listing_progress.Finish();
    if (listed == -5)
        return kExitFailure;
    if (!IsListedPMTPID(programs, pid)) {
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    if (front_end::IsSameFile(input, output)) {
        fprintf(stderr, "Error: %s is the input file.\n", output);
        return kExitFailure;
    }
    front_end::Progress progress(true);
    return TS_ProgramSplitStream(output, input, pid) == 0 ? 0 : kExitFailure;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        PrintUsage(stderr);
        return 0;
    }
    const char *input = argv[1];
    if (argc == 2 && std::strcmp(input, "--help") == 0) {
        PrintUsage(stdout);
        return front_end::FinishStandardOutput() ? 0 : kExitFailure;
    }
    if (argc == 2 && std::strcmp(input, "--version") == 0) {
        fputs("pidsift " PIDSIFT_VERSION "\n", stdout);
        return front_end::FinishStandardOutput() ? 0 : kExitFailure;
    }
    // The library's messages keep their text; a progress line on screen is erased first.
    TS_SetMessageHook(front_end::PrintLibraryFailure, nullptr);

    if (argc == 2) {
        std::vector<pidsift::PatEntry> programs;
        const int listed = pidsift::ListPrograms(input, &programs);
        for (const pidsift::PatEntry &program : programs)
            fprintf(stderr, "ProgramNumber:%d PID:0x%04X\n", program.program_number, program.pid);
        return listed == 0 ? 0 : kExitFailure;
    }

    const char *output = argv[3];
    u16 pid = 0;
    if (!ParsePID(argv[2], &pid)) {
        // The PID is reported after the input has been read, as for a PID that is not listed.
        std::vector<pidsift::PatEntry> programs;
        if (pidsift::ListPrograms(input, &programs) == -5)
            return kExitFailure;
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    Staging staging;
    if (!front_end::IsSameFile(input, output) && CanStage(output, &staging))
        return FilterInOnePass(input, pid, &staging);
    return FilterInTwoPasses(input, pid, output);
}
