// pidsift: lists the programs of an MPEG-2 transport stream file, or copies one program's
// packets, byte for byte, into a new file.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
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
// temporary file beside the output, and reaches the output only once the listing has confirmed
// the PID, so that an invalid PID leaves no new file and an existing output untouched, exactly
// as when the PID is checked before the extraction starts. A new output is the temporary file
// renamed into place. An existing plain file is written in place: the temporary file's bytes
// are copied over its own and it is cut to their length, so that it keeps its inode, links,
// owner and mode, as when it is opened and written again.

struct Staging {
    std::string strOutput;
    std::string strTemporary;
    mode_t uMode;
    int s32Existing = -1;  // the existing output, opened for writing before the pass; -1: a new one
    int s32Staged = -1;    // the temporary file, kept open to copy it into the existing output
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

void CloseIfOpen(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// An existing output named as a plain file (not a link: /dev/stdout is one, and its folder is no
// place for a temporary file) is opened for writing now, as the extraction would open it, but
// neither truncated nor otherwise changed. O_NONBLOCK: a pipe put in its place meanwhile must not
// hold the open up (fstat then turns it away); it does nothing to a plain file.
bool OpenExisting(const char *output, const struct stat &status, Staging *staging)
{
    if (!S_ISREG(status.st_mode))
        return false;
    const int fd = open(output, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat opened;
    if (fd >= 0 && fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)) {
        staging->s32Existing = fd;
        return true;
    }
    if (fd >= 0)
        close(fd);
    return false;
}

// Beside an existing output, the temporary file takes up to the input's size while the output
// still stands: a file system with less room than that could hold the program in place but not
// twice. An input of unknown size (a pipe) is not judged.
bool HasRoomBeside(const char *input, const std::string &directory)
{
    struct stat status;
    struct statvfs room;
    if (stat(input, &status) != 0 || !S_ISREG(status.st_mode) || statvfs(directory.c_str(), &room) != 0)
        return true;
    return u64(room.f_bavail) * room.f_frsize >= u64(status.st_size);
}

// A single pass needs a folder where a temporary file can be made beside the output, and an
// output that does not exist yet or is a plain file that opens for writing, with room beside
// it. Any other output (a link, a pipe, a device, /dev/stdout) and one that does not open (a
// read-only file, a directory) is written after a listing pass, as the two-pass extraction
// does, which refuses it at the same point with the same message. A new file renamed over an
// existing one would replace a file that opening it refuses and give it a new inode (hard
// links, owner and mode lost).
bool CanStage(const char *input, const char *output, Staging *staging)
{
    struct stat status;
    if (lstat(output, &status) == 0 ? !OpenExisting(output, status, staging) : errno != ENOENT)
        return false;
    const mode_t mask = umask(0);
    umask(mask);
    staging->uMode = 0666 & ~mask;
    staging->strOutput = output;
    const std::string directory = DirectoryOf(staging->strOutput);
    const size_t slash = staging->strOutput.rfind('/');
    const std::string name = slash == std::string::npos ? staging->strOutput : staging->strOutput.substr(slash + 1);
    staging->strTemporary = directory + "/." + name + ".pidsift-XXXXXX";
    if (access(directory.c_str(), W_OK | X_OK) != 0 || staging->strTemporary.size() >= sizeof g_strStagingPath ||
        (staging->s32Existing >= 0 && !HasRoomBeside(input, directory))) {
        CloseIfOpen(&staging->s32Existing);
        return false;
    }
    return true;
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
    // A copy for an existing output stays private (mode 0600): the output may be.
    if (staging->s32Existing < 0)
        fchmod(fd, staging->uMode);
    else if ((staging->s32Staged = fcntl(fd, F_DUPFD_CLOEXEC, 0)) < 0) {
        close(fd);
        unlink(g_strStagingPath);
        g_strStagingPath[0] = '\0';
        return -1;
    }
    return fd;
}

void RemoveStaging()
{
    if (g_strStagingPath[0] != '\0')
        unlink(g_strStagingPath);
    g_strStagingPath[0] = '\0';
}

// ---- Copying the staged program into an existing output ---------------------------------------

constexpr size_t kCopyStep = 16 * 1024 * 1024;  // bytes a copy call moves: an interruption waits at most that

// Whether one of the signals that end a run waits to be delivered.
bool InterruptionPending()
{
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return false;
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        if (sigismember(&pending, signal_number) == 1)
            return true;
    return false;
}

// The copy from the bytes of *copied on, through memory, for file systems that cannot copy from
// one file to the other themselves. *copied: the bytes in place so far, from at in the output.
bool CopyThroughMemory(int staged, int output, off_t at, off_t length, off_t *copied)
{
    static u8 buffer[1024 * 1024];
    if (lseek(staged, *copied, SEEK_SET) < 0 || lseek(output, at + *copied, SEEK_SET) < 0)
        return false;
    while (*copied < length && !InterruptionPending()) {
        const ssize_t got = read(staged, buffer, size_t(std::min<off_t>(length - *copied, sizeof buffer)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(output, buffer + done, size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += put;
            *copied += put;
        }
    }
    return true;
}

// Copies the staged bytes (none: staged -1) over the output from its byte at on and cuts the
// output behind them. The signals that end a run wait meanwhile: one that comes stops the copy,
// and the output is cut to what was copied before the signal ends the run, a start of the
// program as an interrupted extraction leaves it. false when a write failed; the output then
// holds what was copied before the failure. The output's modification time is set as a write
// sets it, also when no byte had to be copied.
bool CopyInPlace(int staged, int output, off_t at)
{
    struct stat status;
    const off_t length = staged < 0 ? 0 : fstat(staged, &status) == 0 ? status.st_size : -1;
    sigset_t interruptions, before;
    sigemptyset(&interruptions);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&interruptions, signal_number);
    pthread_sigmask(SIG_BLOCK, &interruptions, &before);
    off_t copied = 0;
    bool copying = length >= 0;
    while (copying && copied < length && !InterruptionPending()) {
        loff_t from = copied, to = at + copied;
        const ssize_t moved =
            copy_file_range(staged, &from, output, &to, size_t(std::min<off_t>(length - copied, kCopyStep)), 0);
        if (moved > 0)
            copied += moved;
        else if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP))
            copying = CopyThroughMemory(staged, output, at, length, &copied);
        else
            copying = moved < 0 && errno == EINTR;  // 0: the staged file ended early
    }
    const bool cut = ftruncate(output, at + copied) == 0;
    const timespec modified[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    futimens(output, modified);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return cut && copied == length;
}

// ---- An existing output compared as the program comes -----------------------------------------
// An extraction run again into its own output (a script run twice) finds most or all of the
// program there already. The write thread compares each block of the program with the output's
// bytes at its place and stages only from the first byte that differs, or from where the output
// ends; at the end only the staged bytes are copied into place, behind the bytes that were
// alike, and the output is cut behind the program. Until then the output is only read, so a run
// that ends early (an invalid PID, a failed read) leaves it as it was.

constexpr size_t kCompareBlock = 1024 * 1024;

struct Comparison {
    int s32Output = -1;        // the existing output, opened for reading
    int s32Staged = -1;        // the temporary file: the program from s64DiffersAt on
    off_t s64Taken = 0;        // bytes of the program taken so far, compared or staged
    off_t s64DiffersAt = -1;   // the first byte staged; -1 while the output holds every byte alike
    std::unique_ptr<u8[]> pu8Output;  // the output's bytes beside the block compared
};

// How many of bytes the output holds alike at their place.
size_t AlikeInOutput(Comparison *comparison, const u8 *bytes, size_t count)
{
    size_t alike = 0;
    while (alike < count) {
        const size_t want = std::min(count - alike, kCompareBlock);
        const ssize_t got = pread(comparison->s32Output, comparison->pu8Output.get(), want,
                                  comparison->s64Taken + off_t(alike));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;  // the output ends here, or cannot be read on: the rest is staged
        const u8 *from = bytes + alike;
        const u8 *theirs = comparison->pu8Output.get();
        if (std::memcmp(from, theirs, size_t(got)) != 0)
            return alike + size_t(std::mismatch(from, from + got, theirs).first - from);
        alike += size_t(got);
    }
    return alike;
}

// The write thread's taker of the program's blocks: 0, or the errno of a failed staging write.
int CompareOrStage(void *context, const u8 *bytes, size_t count)
{
    Comparison *comparison = static_cast<Comparison *>(context);
    if (comparison->s64DiffersAt < 0) {
        const size_t alike = AlikeInOutput(comparison, bytes, count);
        comparison->s64Taken += off_t(alike);
        if (alike == count)
            return 0;
        comparison->s64DiffersAt = comparison->s64Taken;
        bytes += alike;
        count -= alike;
    }
    while (count > 0) {
        const ssize_t put = write(comparison->s32Staged, bytes, count);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put == 0 ? ENOSPC : errno;
        bytes += put;
        count -= size_t(put);
        comparison->s64Taken += put;
    }
    return 0;
}

// Makes the temporary file and opens the output for reading (it must be the file opened for
// writing). false when either cannot be done: the program is then staged whole.
bool StartComparison(Staging *staging, Comparison *comparison)
{
    const int output = open(staging->strOutput.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat read_side, write_side;
    if (output < 0 || fstat(output, &read_side) != 0 || fstat(staging->s32Existing, &write_side) != 0 ||
        read_side.st_dev != write_side.st_dev || read_side.st_ino != write_side.st_ino) {
        if (output >= 0)
            close(output);
        return false;
    }
    const int staged = OpenStaging(staging);
    if (staged < 0) {
        close(output);
        return false;
    }
    close(staged);  // the staging keeps its own descriptor of it
    comparison->pu8Output.reset(new u8[kCompareBlock]);
    comparison->s32Output = output;
    comparison->s32Staged = staging->s32Staged;
    return true;
}

// ---- The two passes' extraction, and the single pass ------------------------------------------

// The extraction pass, into the output as it stands, once the PID has been confirmed.
int Extract(const char *input, u16 pid, const char *output, pidsift::RunSettings *settings)
{
    if (front_end::IsSameFile(input, output)) {
        fprintf(stderr, "Error: %s is the input file.\n", output);
        return kExitFailure;
    }
    front_end::Progress progress(true, settings);
    return pidsift::CopyProgram(input, pid, output, *settings) == 0 ? 0 : kExitFailure;
}

// The existing output, once the single pass has confirmed the PID, gets the staged program in
// place: what was staged before a failed write too, as writing it directly would have left it,
// and nothing when the pass never opened an output (it is emptied, as opening it does).
// compared_to: where the staged bytes go in the output after a comparison (the bytes before it
// were alike); 0 when the program was staged whole.
int FinishInPlace(const char *input, u16 pid, int split, Staging *staging, pidsift::RunSettings *settings,
                  off_t compared_to = 0)
{
    const char *output = staging->strOutput.c_str();
    if (split == -3) {
        // No temporary file could be made: the extraction writes the output itself.
        CloseIfOpen(&staging->s32Existing);
        return Extract(input, pid, output, settings);
    }
    RemoveStaging();  // the name; the bytes stay with the descriptor until the copy is done
    const bool copied = CopyInPlace(staging->s32Staged, staging->s32Existing, compared_to);
    CloseIfOpen(&staging->s32Staged);
    // close can report a delayed write error (NFS, quota): a failed write too.
    const bool closed = close(staging->s32Existing) == 0 || errno == EINTR;
    staging->s32Existing = -1;
    if (split == -6 || !copied || !closed) {
        fprintf(stderr, "Error: Failed write %s.\n", output);
        return kExitFailure;
    }
    return 0;
}

// A run that ends before its output is written: the output as it was, no temporary file.
void Abandon(Staging *staging)
{
    RemoveStaging();
    CloseIfOpen(&staging->s32Staged);
    CloseIfOpen(&staging->s32Existing);
}

int FilterInOnePass(const char *input, u16 pid, Staging *staging, pidsift::RunSettings *settings)
{
    std::signal(SIGINT, RemoveStagingOnSignal);
    std::signal(SIGTERM, RemoveStagingOnSignal);
    std::signal(SIGHUP, RemoveStagingOnSignal);
    std::vector<pidsift::PatEntry> programs;
    int split = 1;
    Comparison comparison;
    const bool comparing = staging->s32Existing >= 0 && StartComparison(staging, &comparison);
    front_end::Progress progress(true, settings);
    const int listed =
        comparing ? pidsift::ListProgramsAndExtract(input, pid, pidsift::BlockTaker{CompareOrStage, &comparison},
                                                    &split, &programs, *settings)
                  : pidsift::ListProgramsAndExtract(input, pid, OpenStaging, staging, &split, &programs, *settings);
    progress.Finish();
    CloseIfOpen(&comparison.s32Output);
    const char *output = staging->strOutput.c_str();
    if (listed == -5) {
        Abandon(staging);
        return kExitFailure;
    }
    if (!IsListedPMTPID(programs, pid)) {
        Abandon(staging);
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    // The staged bytes go behind those that were alike. A copy that never began (no PAT listed the
    // PID as it passed) took nothing: the output is emptied, as opening it does.
    if (comparing)
        return FinishInPlace(input, pid, split, staging, settings,
                             comparison.s64DiffersAt < 0 ? comparison.s64Taken : comparison.s64DiffersAt);
    if (staging->s32Existing >= 0)
        return FinishInPlace(input, pid, split, staging, settings);
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

int FilterInTwoPasses(const char *input, u16 pid, const char *output, pidsift::RunSettings *settings)
{
    std::vector<pidsift::PatEntry> programs;
    front_end::Progress listing_progress(true, settings);
    const int listed = pidsift::ListPrograms(input, &programs, *settings);
    listing_progress.Finish();
    if (listed == -5)
        return kExitFailure;
    if (!IsListedPMTPID(programs, pid)) {
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    return Extract(input, pid, output, settings);
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
    pidsift::RunSettings settings;
    settings.message = front_end::LibraryFailureMessages();

    if (argc == 2) {
        std::vector<pidsift::PatEntry> programs;
        const int listed = pidsift::ListPrograms(input, &programs, settings);
        for (const pidsift::PatEntry &program : programs)
            fprintf(stderr, "ProgramNumber:%d PID:0x%04X\n", program.program_number, program.pid);
        return listed == 0 ? 0 : kExitFailure;
    }

    const char *output = argv[3];
    u16 pid = 0;
    if (!ParsePID(argv[2], &pid)) {
        // The PID is reported after the input has been read, as for a PID that is not listed.
        std::vector<pidsift::PatEntry> programs;
        if (pidsift::ListPrograms(input, &programs, settings) == -5)
            return kExitFailure;
        PrintInvalidPID();
        return kExitInvalidPID;
    }
    Staging staging;
    if (!front_end::IsSameFile(input, output) && CanStage(input, output, &staging))
        return FilterInOnePass(input, pid, &staging, &settings);
    return FilterInTwoPasses(input, pid, output, &settings);
}
