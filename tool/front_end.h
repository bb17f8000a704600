// What the command-line front ends share: exit statuses, the progress line and file checks.
#ifndef PIDSIFT_TOOL_FRONT_END_H
#define PIDSIFT_TOOL_FRONT_END_H

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

#include <pidsift/demux.h>
#include <pidsift/ts.h>

#ifndef PIDSIFT_VERSION
#define PIDSIFT_VERSION "unknown"
#endif

namespace front_end {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The path that the library opens for a FILE argument: "-" is standard input.
inline const char *InputPath(const char *argument) { return std::strcmp(argument, "-") == 0 ? "/dev/stdin" : argument; }

// How a path is named in messages.
inline const char *DisplayName(const char *path)
{
    return std::strcmp(path, "/dev/stdin") == 0    ? "standard input"
           : std::strcmp(path, "/dev/stdout") == 0 ? "standard output"
                                                   : path;
}

struct ProgressState;
void EraseProgressLine();

// The library's messages about failed system calls, as "TOOL: cannot read FILE: reason".
inline void PrintFailure(int failure, const char *path, int error_number, const char *name)
{
    EraseProgressLine();
    if (failure == TS_FAILED_CREATE && error_number == 0) {
        fprintf(stderr, "%s: will not write %s: it is the input file\n", name, DisplayName(path));
        return;
    }
    const char *verb = failure == TS_FAILED_READ    ? "read"
                       : failure == TS_FAILED_WRITE ? "write"
                       : failure == TS_FAILED_OPEN  ? "open"
                                                    : "create";
    fprintf(stderr, "%s: cannot %s %s: %s\n", name, verb, DisplayName(path), strerror(error_number));
}

// A run's failure messages (its settings' message hook) through PrintFailure for the tool named.
inline std::function<void(int, const char *, int)> FailureMessagesOf(const char *tool)
{
    return [tool](int failure, const char *path, int error_number) { PrintFailure(failure, path, error_number, tool); };
}

// The library's own messages for one run, printed after the progress line has been erased.
inline std::function<void(int, const char *, int)> LibraryFailureMessages()
{
    return [](int failure, const char *path, int) {
        EraseProgressLine();
        TS_PrintFailure(failure, path);
    };
}

// A redraw at most every tenth of a second: the library reports every 128 KiB it reads.
class ProgressThrottle {
public:
    static constexpr u64 kInterval = 100'000'000;  // nanoseconds
    // Whether to draw at time now (nanoseconds): the first time, the last time (done), and then
    // once the interval has passed since the last drawing.
    bool Due(u64 now, bool done)
    {
        if (m_drawn && !done && now - m_last < kInterval)
            return false;
        m_drawn = true;
        m_last = now;
        return true;
    }

private:
    bool m_drawn = false;
    u64 m_last = 0;
};

inline u64 MonotonicNanoseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return u64(now.tv_sec) * 1'000'000'000u + u64(now.tv_nsec);
}

struct ProgressState {
    bool bShown = false;
    ProgressThrottle tThrottle;
};

// The progress line on screen, if any: a message erases it first.
inline ProgressState *g_pShownProgress = nullptr;

inline void EraseProgressLine()
{
    if (g_pShownProgress != nullptr && g_pShownProgress->bShown)
        fputs("\r\033[K", stderr);
    if (g_pShownProgress != nullptr)
        g_pShownProgress->bShown = false;
}

// The progress line: bytes read of the file's size, redrawn at most ten times a second. The
// cursor is left at the start of the line, so that a message printed meanwhile covers it.
inline void ShowProgress(u64 bytes_read, u64 total, void *context)
{
    ProgressState *state = static_cast<ProgressState *>(context);
    if (!state->tThrottle.Due(MonotonicNanoseconds(), total > 0 && bytes_read >= total))
        return;
    constexpr u64 kMiB = 1024 * 1024;
    if (total > 0) {
        const unsigned percent = unsigned(bytes_read >= total ? 100 : bytes_read * 100 / total);
        if (total >= kMiB)
            fprintf(stderr, "\033[K%3u%% %llu of %llu MiB\r", percent, (unsigned long long)(bytes_read / kMiB),
                    (unsigned long long)(total / kMiB));
        else
            fprintf(stderr, "\033[K%3u%% %llu of %llu bytes\r", percent, (unsigned long long)bytes_read,
                    (unsigned long long)total);
    } else {
        fprintf(stderr, "\033[K%llu MiB read\r", (unsigned long long)(bytes_read / kMiB));
    }
    state->bShown = true;
    g_pShownProgress = state;
}

// Turns the progress line on, for the runs made with settings, when standard error is a terminal
// that nothing else writes to.
class Progress {
public:
    Progress(bool wanted, pidsift::RunSettings *settings) : m_pSettings(settings)
    {
        if (wanted && isatty(STDERR_FILENO))
            settings->progress = [this](u64 bytes_read, u64 total) { ShowProgress(bytes_read, total, &m_state); };
    }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    // Erases the line, before the front end prints its own report.
    void Finish()
    {
        m_pSettings->progress = nullptr;
        if (m_state.bShown)
            fputs("\r\033[K", stderr);
        m_state.bShown = false;
        if (g_pShownProgress == &m_state)
            g_pShownProgress = nullptr;
    }
    ~Progress() { Finish(); }

private:
    ProgressState m_state;
    pidsift::RunSettings *m_pSettings;
};

// The value of c as a digit of base 10 or 16 (either case), or -1.
inline int DigitValue(char c, unsigned base)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < int(base) ? value : -1;
}

// text past a leading 0x or 0X, if it has one.
inline const char *SkipHexPrefix(const char *text)
{
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? text + 2 : text;
}

// A number of at least one digit of base, no larger than limit.
inline bool ParseNumber(const char *text, unsigned base, u64 limit, u64 *value)
{
    if (*text == '\0')
        return false;
    u64 number = 0;
    for (; *text != '\0'; ++text) {
        const int digit = DigitValue(*text, base);
        if (digit < 0 || number > (limit - u64(digit)) / base)
            return false;
        number = number * base + u64(digit);
    }
    *value = number;
    return true;
}

// The value of --charset: auto, dvb or arib, as TS_SetTextFamily takes it.
inline bool ParseTextFamily(const char *text, int *family)
{
    if (std::strcmp(text, "auto") == 0)
        *family = TS_TEXT_AUTO;
    else if (std::strcmp(text, "dvb") == 0)
        *family = TS_TEXT_DVB;
    else if (std::strcmp(text, "arib") == 0)
        *family = TS_TEXT_ARIB;
    else
        return false;
    return true;
}

// The value of an option given as "--name value" or "--name=value" at argv[*i] (whose name is
// known to match, of length length), stepping over the value; null when it is missing.
inline const char *OptionValue(int argc, char **argv, int *i, size_t length)
{
    const char *arg = argv[*i];
    if (arg[length] == '=')
        return arg + length + 1;
    return *i + 1 < argc ? argv[++*i] : nullptr;
}

// True when both paths name one existing file.
inline bool IsSameFile(const char *a, const char *b)
{
    struct stat a_status, b_status;
    return stat(a, &a_status) == 0 && stat(b, &b_status) == 0 && a_status.st_dev == b_status.st_dev &&
           a_status.st_ino == b_status.st_ino;
}

// Ends the output to standard output; false (with a message) when it could not all be written.
inline bool FinishStandardOutput()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    fputs("Error: Failed write standard output.\n", stderr);
    return false;
}

}  // namespace front_end

#endif  // PIDSIFT_TOOL_FRONT_END_H
