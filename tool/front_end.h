// What the command-line front ends share: exit statuses, the progress line and file checks.
#ifndef PIDSIFT_TOOL_FRONT_END_H
#define PIDSIFT_TOOL_FRONT_END_H

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include <pidsift/ts.h>

#ifndef PIDSIFT_VERSION
#define PIDSIFT_VERSION "unknown"
#endif

namespace front_end {

constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The progress line: bytes read of the file's size, redrawn after every chunk the library reads.
// The cursor is left at the start of the line, so that a message printed meanwhile covers it.
inline void ShowProgress(u64 bytes_read, u64 total, void *shown)
{
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
    *static_cast<bool *>(shown) = true;
}

// Turns the progress line on when standard error is a terminal that nothing else writes to.
class Progress {
public:
    explicit Progress(bool wanted)
    {
        if (wanted && isatty(STDERR_FILENO))
            TS_SetProgressHook(ShowProgress, &m_shown);
    }
    // Erases the line, before the front end prints its own report.
    void Finish()
    {
        TS_SetProgressHook(nullptr, nullptr);
        if (m_shown)
            fputs("\r\033[K", stderr);
        m_shown = false;
    }
    ~Progress() { Finish(); }

private:
    bool m_shown = false;
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
