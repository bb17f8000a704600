// Reading the input: opening it, page-aligned reads behind the carried tail, progress reports.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pidsift/demux.h>

#include "io/io.h"

namespace {

constexpr u64 kPageSize = 4096;

}  // namespace

void TS_PrintFailure(int failure, const char *path)
{
    if (failure == TS_FAILED_DESTINATION) {
        fprintf(stderr, "error - failed on _open(%s) [dest]\n", path);
        return;
    }
    const char *verb = failure == TS_FAILED_READ ? "read" : failure == TS_FAILED_WRITE ? "write" : "open";
    fprintf(stderr, "Error: Failed %s %s.\n", verb, path);
}

void TS_Reporter::Fail(int failure, const char *path, int error_number) const
{
    if (pSettings != nullptr && pSettings->message)
        pSettings->message(failure, path, error_number);
    else
        TS_PrintFailure(failure, path);
}

void TS_Reporter::Progress(u64 bytes_read, u64 total) const
{
    if (pSettings != nullptr && pSettings->progress)
        pSettings->progress(bytes_read, total);
}

int TS_Input_Open(const char *path, const TS_Reporter &reporter)
{
    int fd;
    do
        fd = open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reporter.Fail(TS_FAILED_OPEN, path, errno);
        return -2;
    }
    return fd;
}

void TS_Input_Close(int fd)
{
    if (fd >= 0)
        close(fd);
}

u64 TS_Input_Size(int fd)
{
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return 0;
    return u64(status.st_size);
}

long long TS_Input_Read(int fd, const char *path, u8 *stream, u64 *size, u64 *pos, u64 capacity,
                        const TS_Reporter &reporter)
{
    // The carried tail moves to just below a page boundary and the read lands on the boundary:
    // the kernel copies fastest into page-aligned memory.
    const u64 tail = *size - *pos;
    const u64 address = u64(reinterpret_cast<uintptr_t>(stream));
    const u64 start = ((address + tail + kPageSize - 1) & ~(kPageSize - 1)) - address;
    std::memmove(stream + start - tail, stream + *pos, tail);
    *pos = start - tail;
    *size = start;
    u64 room = capacity - start;
    if (room > TS_READ_BLOCK)
        room = TS_READ_BLOCK;
    ssize_t got;
    do
        got = read(fd, stream + start, room);
    while (got < 0 && errno == EINTR);
    if (got < 0) {
        reporter.Fail(TS_FAILED_READ, path, errno);
        return -5;
    }
    *size = start + u64(got);
    return got;
}
