// Reading a regular file through mapped windows: the packet loop looks at the page cache itself,
// and the copy into the stream buffer that a read costs (as much as `cat` pays for the whole
// run) is never made.
#ifndef PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H
#define PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "io/io.h"

// Bytes of the file one window maps. Large enough that the mapping calls cost nothing beside
// the packets, small enough that a run's resident pages stay few.
constexpr u64 TS_MAP_WINDOW = 4 * 1024 * 1024;

// One mapped window of the input. A file that shrinks while a window is mapped would end the
// process with SIGBUS at the first lost page: the library's SIGBUS handler maps a page of zeros
// over a lost page of the window in use on the faulting thread and marks the window, so the
// scan of the window goes on over zeros and the run then ends as a failed read. A SIGBUS
// anywhere else goes to the handler that was installed before the library's first window, or
// takes its default action. The handler is installed at the first window of the process.
struct TS_MapWindow {
    const u8 *pu8Base = nullptr;  // the first byte of the window, on a page boundary
    u64 u64Length = 0;
    volatile bool bLost = false;  // pages of the window were lost under it (set by the handler)
};

// Maps length bytes of fd from offset (a multiple of the page size) and makes the window the
// thread's window in use. false when the file cannot be mapped (nothing is then mapped).
bool TS_Map_Open(TS_MapWindow *window, int fd, u64 offset, u64 length);
// Unmaps the window. false when pages of it were lost while it was mapped.
bool TS_Map_Close(TS_MapWindow *window);
// The size of the pages mappings are made of.
u64 TS_Map_PageSize();

// The input's regular file from the descriptor's position, for a mapped run: false for a pipe,
// a terminal, a device, or a file with nothing left to read. *start: the descriptor's position.
bool TS_Map_Mappable(int fd, u64 *start, u64 *file_size);

// Runs the packets of fd as TS_Stream_Run does, through windows of window_size bytes (two pages
// at least; longer where a hunt's tail would fill one) mapped from the descriptor's position up
// to the size the file has at the start. Each window starts on the page that holds the tail the
// window before left, so that the tail is never copied: packets, offsets and the sync's tallies
// come out as from the read loop. What the file holds beyond that size (a recording still being
// written) and the last tail then go through the read loop, which also ends the input. *bytes:
// where the bytes in hand start (the window's first byte, then the stream buffer), for the
// caller's offsets; *size and *pos are counted from it. After a stop the stream buffer holds
// what the window had from the stopped packet's unit on, as far as it takes, and the bytes read
// end there.
//
// Returns 1 with *result set (0, or -5 on a read error or pages lost under a window, told as a
// failed read), or 0 when fd cannot be mapped: nothing was read, and the caller runs the read
// loop.
template <class PacketFn>
int TS_Stream_RunMapped(TS_Sync *sync, int fd, const char *path, u8 *stream, const u8 **bytes, u64 *size, u64 *pos,
                        PacketFn &&on_packet, u64 capacity, const TS_Reporter &reporter, int *result,
                        u64 window_size = TS_MAP_WINDOW)
{
    u64 next = 0;  // file offset of the first byte not yet consumed
    u64 file_size = 0;
    if (!TS_Map_Mappable(fd, &next, &file_size))
        return 0;
    const u64 page = TS_Map_PageSize();
    if (window_size < 2 * page)
        window_size = 2 * page;
    u64 mapped_end = next;  // file offset of the end of the bytes counted as read
    bool any = false;
    while (next < file_size) {
        TS_MapWindow window;
        const u64 first_page = next & ~(page - 1);
        u64 length = file_size - first_page < window_size ? file_size - first_page : window_size;
        // A hunt's candidate near the end of a window waits as the tail with the bytes that are
        // to confirm it (33 units of 204 bytes): a small window from its page may hold nothing
        // beyond them. That window reaches a window's size past the end of the one before.
        if (first_page + length <= mapped_end && mapped_end < file_size)
            length = (file_size - mapped_end < window_size ? file_size : mapped_end + window_size) - first_page;
        // A window must reach past the one before, or the tail would never be used up: past the
        // size the file had, the rest goes through the read loop.
        if (first_page + length <= mapped_end || !TS_Map_Open(&window, fd, first_page, length)) {
            if (!any)
                return 0;
            break;  // the rest through the read loop
        }
        any = true;
        sync->u64BytesRead += first_page + length - mapped_end;
        mapped_end = first_page + length;
        reporter.Progress(sync->u64BytesRead, file_size);
        *bytes = window.pu8Base;
        *size = length;
        *pos = next - first_page;
        const bool went_on = TS_Stream_Scan(sync, window.pu8Base, length, pos, false, on_packet);
        next = first_page + *pos;
        // The tail goes to the stream buffer before the window goes: after a scan that used the
        // window up, only a packet cut by its end or a sync candidate waiting for its
        // confirmation, far less than the buffer. After a stop, what the caller may still look
        // at, as far as the buffer takes it.
        const u64 kept = length - *pos < capacity ? length - *pos : capacity;
        std::memcpy(stream, window.pu8Base + *pos, kept);
        // The bytes read end with the kept ones, as the read loop's end with its buffer: the
        // offsets of the bytes in hand count back from there. Only a stop keeps fewer than the
        // window has left.
        sync->u64BytesRead -= length - *pos - kept;
        *bytes = stream;
        *size = kept;
        *pos = 0;
        if (!TS_Map_Close(&window)) {
            reporter.Fail(TS_FAILED_READ, path, EIO);
            *result = -5;
            return 1;
        }
        if (!went_on) {
            *result = 0;
            return 1;
        }
    }
    if (!any)
        return 0;
    // The read loop goes on from the end of the last window, behind the tail: it reads what the
    // file gained meanwhile and tells the end of the input.
    if (lseek(fd, off_t(mapped_end), SEEK_SET) < 0) {
        reporter.Fail(TS_FAILED_READ, path, errno);
        *result = -5;
        return 1;
    }
    *result = TS_Stream_Run(sync, fd, path, stream, size, pos, on_packet, capacity, reporter);
    return 1;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H
