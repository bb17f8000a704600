// Block writer: packets are collected and written in large blocks.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "io/io.h"

namespace {

// Writes all count bytes, retrying on EINTR and after short writes. false on failure.
bool TS_WriteAll(int fd, const u8 *bytes, u64 count)
{
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written == 0)
            errno = ENOSPC;  // a write that takes nothing: the device is full
        if (written <= 0)
            return false;
        bytes += written;
        count -= u64(written);
    }
    return true;
}

int TS_Writer_Fail(TS_Writer *writer)
{
    if (!writer->u8Failed && writer->strPath != nullptr)
        TS_Report(TS_FAILED_WRITE, writer->strPath, errno);
    writer->u8Failed = 1;
    return -6;
}

}  // namespace

void TS_Writer_Attach(TS_Writer *writer, int fd, const char *path, u8 *block, u32 capacity)
{
    writer->s32FD = fd;
    writer->strPath = path;
    writer->lu8Block = block;
    writer->u32Capacity = capacity - capacity % TS_PACKET_SIZE;
    writer->u32Used = 0;
    writer->u8Failed = 0;
}

int TS_Writer_Open(TS_Writer *writer, const char *path, u8 *block, u32 capacity)
{
    int fd;
    do
        fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    TS_Writer_Attach(writer, fd, path, block, capacity);
    return fd < 0 ? -3 : 0;
}

int TS_Writer_Flush(TS_Writer *writer)
{
    if (writer->u8Failed)
        return -6;
    const u32 used = writer->u32Used;
    writer->u32Used = 0;
    if (used > 0 && !TS_WriteAll(writer->s32FD, writer->lu8Block, used))
        return TS_Writer_Fail(writer);
    return 0;
}

int TS_Writer_Put(TS_Writer *writer, const u8 *packet)
{
    if (writer->u8Failed)
        return -6;
    if (writer->u32Used + TS_PACKET_SIZE > writer->u32Capacity && TS_Writer_Flush(writer) < 0)
        return -6;
    std::memcpy(writer->lu8Block + writer->u32Used, packet, TS_PACKET_SIZE);
    writer->u32Used += TS_PACKET_SIZE;
    return 0;
}

int TS_Writer_Close(TS_Writer *writer)
{
    if (writer->s32FD < 0)
        return 0;
    int result = TS_Writer_Flush(writer);
    // close can report a delayed write error (NFS, quota): it is a failed write too.
    if (close(writer->s32FD) != 0 && result == 0 && errno != EINTR)
        result = TS_Writer_Fail(writer);
    writer->s32FD = -1;
    return result;
}
