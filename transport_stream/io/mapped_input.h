// Running a whole input through the packet scan: a regular file through mapped windows, where
// the packet loop looks at the page cache itself and the copy into the stream buffer that a read
// costs (as much as `cat` pays for the whole run) is never made; anything else through reads.
#ifndef PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H
#define PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H

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

// The windows of one run over a regular file, laid one after the other from the descriptor's
// position up to the size the file has at the start. Each window starts on the page that holds
// the tail the window before left (a packet cut by its end, or a hunt's candidate waiting for the
// units that are to confirm it), so that the tail is never copied: packets, offsets and the
// sync's tallies come out as from the read loop. A window is window_size bytes (two pages at
// least), longer where the tail alone would fill it.
class TS_InputWindows {
public:
    TS_InputWindows() = default;
    ~TS_InputWindows();
    TS_InputWindows(const TS_InputWindows &) = delete;
    TS_InputWindows &operator=(const TS_InputWindows &) = delete;

    // false when fd cannot be mapped (a pipe, a device, nothing left to read).
    bool Start(int fd, u64 window_size);
    // The next window, behind the tail that the scan of the bytes in hand left at *pos: 1 with
    // the window in *bytes, *size and *pos; 0 when the windows are over (a window cannot be
    // mapped, or the file's size at the start is reached): the tail is then in the stream buffer
    // and the descriptor stands behind the last window, for the read loop to go on with what the
    // file gained meanwhile; -5 when pages of the window were lost or the descriptor cannot be
    // moved (told as a failed read).
    int Next(TS_Sync *sync, u8 *stream, const u8 **bytes, u64 *size, u64 *pos, const char *path,
             const TS_Reporter &reporter);
    // After a stop in a window: the stream buffer takes what the window had from the stopped
    // packet's unit on, as far as it holds, and the bytes read end there. 0, or -5 as Next.
    int Stop(TS_Sync *sync, u8 *stream, u64 capacity, const u8 **bytes, u64 *size, u64 *pos, const char *path,
             const TS_Reporter &reporter);

private:
    bool Leave(TS_Sync *sync, u8 *stream, u64 capacity, const u8 **bytes, u64 *size, u64 *pos);

    int m_s32FD = -1;
    u64 m_u64WindowSize = 0;
    u64 m_u64Next = 0;       // file offset of the first byte not yet consumed
    u64 m_u64FileSize = 0;   // at the start
    u64 m_u64MappedEnd = 0;  // file offset of the end of the bytes counted as read
    u64 m_u64FirstPage = 0;  // file offset of the window in hand
    TS_MapWindow m_tWindow;
};

// Runs the packets of fd, calling on_packet(const u8 *packet) for each until it returns false or
// the input ends: through mapped windows (TS_InputWindows) when fd is a regular file and
// window_size is not 0, and through the read loop for the rest of the file, for what it gained
// during the run and for anything else. sync: zero-initialised by the caller, which may read its
// tallies during and after the run; reporter: the run's hooks. *bytes: where the bytes in hand
// start (a window's first byte, or the stream buffer), for the caller's offsets; *size and *pos
// count from it. Returns 0, or -5 on a read error or pages lost under a window (told as a failed
// read). The packets are visited from one place, so that the visit is compiled once.
template <class PacketFn>
int TS_Stream_RunInput(TS_Sync *sync, int fd, const char *path, u8 *stream, const u8 **bytes, u64 *size, u64 *pos,
                       PacketFn &&on_packet, u64 capacity, const TS_Reporter &reporter, u64 window_size)
{
    TS_InputWindows windows;
    bool mapped = window_size != 0 && windows.Start(fd, window_size);
    const u64 total = TS_Input_Size(fd);
    *bytes = stream;
    for (;;) {
        bool at_end = false;
        if (mapped) {
            const int next = windows.Next(sync, stream, bytes, size, pos, path, reporter);
            if (next < 0)
                return -5;
            mapped = next > 0;
        }
        if (!mapped) {
            const long long got = TS_Input_Read(fd, path, stream, size, pos, capacity, reporter);
            if (got < 0)
                return -5;
            sync->u64BytesRead += u64(got);
            at_end = got == 0;
        }
        reporter.Progress(sync->u64BytesRead, total);
        if (!TS_Stream_Scan(sync, *bytes, *size, pos, at_end, on_packet))
            return mapped ? windows.Stop(sync, stream, capacity, bytes, size, pos, path, reporter) : 0;
        if (at_end)
            return 0;
    }
}

// The read loop alone: TS_Stream_RunInput without windows, the bytes in hand always the stream
// buffer.
template <class PacketFn>
int TS_Stream_Run(TS_Sync *sync, int fd, const char *path, u8 *stream, u64 *size, u64 *pos, PacketFn &&on_packet,
                  u64 capacity = TS_STREAM_CAPACITY, const TS_Reporter &reporter = {})
{
    const u8 *bytes = stream;
    return TS_Stream_RunInput(sync, fd, path, stream, &bytes, size, pos, on_packet, capacity, reporter, 0);
}

template <class PacketFn>
int TS_Stream_Run(int fd, const char *path, u8 *stream, u64 *size, u64 *pos, PacketFn &&on_packet)
{
    TS_Sync sync = {};
    return TS_Stream_Run(&sync, fd, path, stream, size, pos, on_packet);
}

// TS_Stream_RunInput with windows, for a caller that wants to know whether they were used:
// returns 0 when fd cannot be mapped (nothing was read: the caller runs the read loop), else 1
// with the run's result in *result.
template <class PacketFn>
int TS_Stream_RunMapped(TS_Sync *sync, int fd, const char *path, u8 *stream, const u8 **bytes, u64 *size, u64 *pos,
                        PacketFn &&on_packet, u64 capacity, const TS_Reporter &reporter, int *result,
                        u64 window_size = TS_MAP_WINDOW)
{
    u64 start = 0;
    u64 file_size = 0;
    if (!TS_Map_Mappable(fd, &start, &file_size))
        return 0;
    *result = TS_Stream_RunInput(sync, fd, path, stream, bytes, size, pos, on_packet, capacity, reporter,
                                 window_size == 0 ? TS_MAP_WINDOW : window_size);
    return 1;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_IO_MAPPED_INPUT_H
