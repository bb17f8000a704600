// I/O fault injection for tests, loaded with LD_PRELOAD: read, write, open and close fail or fall
// short on the files whose path contains PIDSIFT_FAULT_PATH, as the environment asks.
//
//   PIDSIFT_FAULT_PATH=text            only descriptors whose path contains text are touched
//   PIDSIFT_FAULT_ERRNO=EIO|ENOSPC|... errno of the injected failures (default EIO)
//   PIDSIFT_FAULT_OPEN_FAIL=1          open fails
//   PIDSIFT_FAULT_WRITE_FAIL_AT=n      the nth write (counted from 1) fails
//   PIDSIFT_FAULT_WRITE_SHORT=k        every write moves at most k bytes
//   PIDSIFT_FAULT_WRITE_LIMIT=b        a full device: writes fail with ENOSPC once b bytes are in
//   PIDSIFT_FAULT_WRITE_ZERO_AT=n      the nth write returns 0 (nothing written, no error)
//   PIDSIFT_FAULT_WRITE_DELAY_US=t     every write first waits t microseconds (a slow device)
//   PIDSIFT_FAULT_READ_FAIL_AFTER=b    reads fail once b bytes have been read
//   PIDSIFT_FAULT_READ_SHORT=k         every read returns at most k bytes
//   PIDSIFT_FAULT_EINTR=n              every read and write is interrupted n times first
//   PIDSIFT_FAULT_CLOSE_FAIL=1         close closes, then reports EIO (a delayed write error)
//   PIDSIFT_FAULT_COPY_UNSUPPORTED=1   copy_file_range to a file fails with EXDEV (no copy between
//                                      two files on this file system)
//   PIDSIFT_FAULT_ROOM=b               statvfs of a matching path finds b bytes free
//
// With any of the read faults asked for, a matching file cannot be mapped (as on a file system
// that does not map files): the library then reads it, and the faults are met.
// A copy_file_range to a matching descriptor is a write there: the write settings apply to it.
//
// Only the descriptors' paths are looked at (through /proc/self/fd), so descriptors made by
// mkstemp and friends are covered too. Everything here is static: no allocation.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

using ReadFn = ssize_t (*)(int, void *, size_t);
using WriteFn = ssize_t (*)(int, const void *, size_t);
using OpenFn = int (*)(const char *, int, ...);
using CloseFn = int (*)(int);
using CopyFn = ssize_t (*)(int, off64_t *, int, off64_t *, size_t, unsigned);
using StatvfsFn = int (*)(const char *, struct statvfs *);
using MmapFn = void *(*)(void *, size_t, int, int, int, off_t);

struct Settings {
    bool bLoaded;
    const char *strPath;
    int s32Errno;
    bool bOpenFail;
    long long s64WriteFailAt;
    long long s64WriteShort;
    long long s64WriteLimit;
    long long s64WriteZeroAt;
    long long s64WriteDelay;
    long long s64ReadFailAfter;
    long long s64ReadShort;
    long long s64Interrupts;
    bool bCloseFail;
    bool bCopyUnsupported;
    long long s64Room;
};

Settings g_tSettings;
long long g_s64Writes;        // write calls on matching descriptors
long long g_s64BytesWritten;  // bytes those calls moved
long long g_s64BytesRead;

// Per descriptor: 0 not looked at yet, 1 matches, 2 does not.
constexpr int kDescriptors = 4096;
unsigned char g_lu8Match[kDescriptors];

long long Number(const char *name, long long fallback)
{
    const char *text = getenv(name);
    return text != nullptr && *text != '\0' ? strtoll(text, nullptr, 10) : fallback;
}

int ErrnoByName(const char *text)
{
    if (text == nullptr)
        return EIO;
    if (strcmp(text, "ENOSPC") == 0)
        return ENOSPC;
    if (strcmp(text, "EDQUOT") == 0)
        return EDQUOT;
    if (strcmp(text, "EFBIG") == 0)
        return EFBIG;
    if (strcmp(text, "EACCES") == 0)
        return EACCES;
    return EIO;
}

const Settings &Load()
{
    Settings &s = g_tSettings;
    if (!s.bLoaded) {
        s.strPath = getenv("PIDSIFT_FAULT_PATH");
        s.s32Errno = ErrnoByName(getenv("PIDSIFT_FAULT_ERRNO"));
        s.bOpenFail = Number("PIDSIFT_FAULT_OPEN_FAIL", 0) != 0;
        s.s64WriteFailAt = Number("PIDSIFT_FAULT_WRITE_FAIL_AT", -1);
        s.s64WriteShort = Number("PIDSIFT_FAULT_WRITE_SHORT", -1);
        s.s64WriteLimit = Number("PIDSIFT_FAULT_WRITE_LIMIT", -1);
        s.s64WriteZeroAt = Number("PIDSIFT_FAULT_WRITE_ZERO_AT", -1);
        s.s64WriteDelay = Number("PIDSIFT_FAULT_WRITE_DELAY_US", 0);
        s.s64ReadFailAfter = Number("PIDSIFT_FAULT_READ_FAIL_AFTER", -1);
        s.s64ReadShort = Number("PIDSIFT_FAULT_READ_SHORT", -1);
        s.s64Interrupts = Number("PIDSIFT_FAULT_EINTR", 0);
        s.bCloseFail = Number("PIDSIFT_FAULT_CLOSE_FAIL", 0) != 0;
        s.bCopyUnsupported = Number("PIDSIFT_FAULT_COPY_UNSUPPORTED", 0) != 0;
        s.s64Room = Number("PIDSIFT_FAULT_ROOM", -1);
        s.bLoaded = true;
    }
    return s;
}

template <class Fn>
Fn Real(const char *name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool PathMatches(const char *path)
{
    const Settings &s = Load();
    return s.strPath != nullptr && path != nullptr && strstr(path, s.strPath) != nullptr;
}

bool Matches(int fd)
{
    if (fd < 0)
        return false;
    if (fd >= kDescriptors)
        return false;
    if (g_lu8Match[fd] == 0) {
        char link[64];
        char path[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(link, path, sizeof path - 1);
        if (length < 0)
            return false;
        path[length] = '\0';
        g_lu8Match[fd] = PathMatches(path) ? 1 : 2;
    }
    return g_lu8Match[fd] == 1;
}

void Forget(int fd)
{
    if (fd >= 0 && fd < kDescriptors)
        g_lu8Match[fd] = 0;
}

// An interrupted call, n times in a row before each real one.
bool Interrupt()
{
    static long long pending = -1;
    const Settings &s = Load();
    if (s.s64Interrupts <= 0)
        return false;
    if (pending < 0)
        pending = s.s64Interrupts;
    if (pending > 0) {
        --pending;
        return true;
    }
    pending = -1;
    return false;
}

// The faults of a write of *count bytes to a matching descriptor, in turn: an interruption, a
// slow device, a failure, a write that moves nothing, a full device, a short write. true when
// the call is to return *result without writing; otherwise *count is what it may move.
bool WriteFault(size_t *count, ssize_t *result)
{
    const Settings &s = Load();
    *result = -1;
    if (Interrupt()) {
        errno = EINTR;
        return true;
    }
    if (s.s64WriteDelay > 0) {
        const timespec delay = {time_t(s.s64WriteDelay / 1000000), long(s.s64WriteDelay % 1000000) * 1000};
        nanosleep(&delay, nullptr);
    }
    ++g_s64Writes;
    if (g_s64Writes == s.s64WriteFailAt) {
        errno = s.s32Errno;
        return true;
    }
    if (g_s64Writes == s.s64WriteZeroAt) {
        *result = 0;
        return true;
    }
    if (s.s64WriteLimit >= 0) {
        if (g_s64BytesWritten >= s.s64WriteLimit) {
            errno = ENOSPC;
            return true;
        }
        if (g_s64BytesWritten + (long long)*count > s.s64WriteLimit)
            *count = size_t(s.s64WriteLimit - g_s64BytesWritten);
    }
    if (s.s64WriteShort > 0 && (long long)*count > s.s64WriteShort)
        *count = size_t(s.s64WriteShort);
    return false;
}

int OpenWith(OpenFn real, const char *path, int flags, mode_t mode)
{
    if (Load().bOpenFail && PathMatches(path)) {
        errno = Load().s32Errno;
        return -1;
    }
    const int fd = real(path, flags, mode);
    Forget(fd);
    return fd;
}

}  // namespace

extern "C" {

ssize_t read(int fd, void *buffer, size_t count)
{
    static ReadFn real = Real<ReadFn>("read");
    if (!Matches(fd))
        return real(fd, buffer, count);
    const Settings &s = Load();
    if (Interrupt()) {
        errno = EINTR;
        return -1;
    }
    if (s.s64ReadFailAfter >= 0 && g_s64BytesRead >= s.s64ReadFailAfter) {
        errno = s.s32Errno;
        return -1;
    }
    if (s.s64ReadFailAfter >= 0 && g_s64BytesRead + (long long)count > s.s64ReadFailAfter)
        count = size_t(s.s64ReadFailAfter - g_s64BytesRead);
    if (s.s64ReadShort > 0 && (long long)count > s.s64ReadShort)
        count = size_t(s.s64ReadShort);
    const ssize_t got = real(fd, buffer, count);
    if (got > 0)
        g_s64BytesRead += got;
    return got;
}

void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset)
{
    static MmapFn real = Real<MmapFn>("mmap");
    // Memory alone is mapped before the environment is there (a sanitizer's runtime maps its
    // own while the program is loaded): the settings are read at the first file's mapping.
    if ((flags & MAP_ANONYMOUS) != 0)
        return real(address, length, protection, flags, fd, offset);
    const Settings &s = Load();
    const bool read_faults = s.s64ReadFailAfter >= 0 || s.s64ReadShort > 0 || s.s64Interrupts > 0;
    if (read_faults && Matches(fd)) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    return real(address, length, protection, flags, fd, offset);
}

ssize_t write(int fd, const void *buffer, size_t count)
{
    static WriteFn real = Real<WriteFn>("write");
    ssize_t refused = 0;
    if (!Matches(fd))
        return real(fd, buffer, count);
    if (WriteFault(&count, &refused))
        return refused;
    const ssize_t written = real(fd, buffer, count);
    if (written > 0)
        g_s64BytesWritten += written;
    return written;
}

// A copy between two files is a write to the file copied to.
ssize_t copy_file_range(int in, off64_t *in_offset, int out, off64_t *out_offset, size_t count, unsigned flags)
{
    static CopyFn real = Real<CopyFn>("copy_file_range");
    ssize_t refused = 0;
    if (!Matches(out))
        return real(in, in_offset, out, out_offset, count, flags);
    if (Load().bCopyUnsupported) {
        errno = EXDEV;
        return -1;
    }
    if (WriteFault(&count, &refused))
        return refused;
    const ssize_t copied = real(in, in_offset, out, out_offset, count, flags);
    if (copied > 0)
        g_s64BytesWritten += copied;
    return copied;
}

// statvfs64 is the same function on 64-bit systems; the tools call statvfs.
int statvfs(const char *path, struct statvfs *room)
{
    static StatvfsFn real = Real<StatvfsFn>("statvfs");
    const int result = real(path, room);
    if (result == 0 && Load().s64Room >= 0 && PathMatches(path)) {
        room->f_bavail = fsblkcnt_t(Load().s64Room) / room->f_frsize;
        room->f_bfree = room->f_bavail;
    }
    return result;
}

int open(const char *path, int flags, ...)
{
    static OpenFn real = Real<OpenFn>("open");
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return OpenWith(real, path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    static OpenFn real = Real<OpenFn>("open64");
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    return OpenWith(real, path, flags, mode);
}

int close(int fd)
{
    static CloseFn real = Real<CloseFn>("close");
    const bool fail = Load().bCloseFail && Matches(fd);
    Forget(fd);
    const int result = real(fd);
    if (fail && result == 0) {
        errno = EIO;
        return -1;
    }
    return result;
}

}  // extern "C"
