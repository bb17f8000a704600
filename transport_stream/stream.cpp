// Stream buffering: state records, chunked input, and packet sync.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "internal.h"

namespace {

TS_ProgressHook g_pfnProgressHook = nullptr;
void *g_pProgressContext = nullptr;

// Moves the unconsumed tail to the front of the stream buffer and appends length bytes.
int TS_Stream_Append(u8 *stream, u64 *size, u64 *pos, const u8 *data, u64 length)
{
    const u64 tail = *size - *pos;
    if (tail + length > TS_STREAM_CAPACITY)
        return -2;
    std::memmove(stream, stream + *pos, tail);
    std::memcpy(stream + tail, data, length);
    *size = tail + length;
    *pos = 0;
    return 0;
}

// Spacings of the packet formats met in recordings: plain 188-byte packets, 192-byte units with
// a 4-byte timestamp prefix, and 204-byte packets with 16 bytes of Reed-Solomon parity.
constexpr u32 kSpacings[] = {188, 192, 204};

constexpr u64 kPageSize = 4096;

}  // namespace

int TS_InitialiseSimple(TS_SimpleData *state)
{
    if (state == nullptr)
        return -1;
    std::memset(state->lu8Stream, 0, sizeof state->lu8Stream);
    TS_SimpleData_Reset(state);
    return 0;
}

// Clearing 32 MiB of stream buffer would cost a driver run as much as reading a small file,
// and only the bytes below u64Size are ever read.
void TS_SimpleData_Reset(TS_SimpleData *state)
{
    std::memset(state, 0, offsetof(TS_SimpleData, lu8Stream));
    TS_PreSection_Initialise(&state->tPATSection);
    TS_PreSection_Initialise(&state->tPMTSection);
}

int TS_AddStreamSimple(TS_SimpleData *state, const u8 *data, u64 length)
{
    if (state == nullptr || data == nullptr)
        return -1;
    return TS_Stream_Append(state->lu8Stream, &state->u64Size, &state->u64Pos, data, length);
}

int TS_Initialise(TS_Data *state)
{
    if (state == nullptr)
        return -1;
    std::memset(state->lu8Stream, 0, sizeof state->lu8Stream);
    TS_Data_Reset(state);
    return 0;
}

void TS_Data_Reset(TS_Data *state)
{
    std::memset(state, 0, offsetof(TS_Data, lu8Stream));
    state->u16PIDCount = 0;
    std::memset(state->lu16PID, 0, sizeof state->lu16PID);
    TS_PreSection_Initialise(&state->tCATSection);
    TS_PreSection_Initialise(&state->tPATSection);
    for (TS_PreSection &section : state->ltPMTSection)
        TS_PreSection_Initialise(&section);
    TS_PreSection_Initialise(&state->tPrivateSection);
    TS_PreSection_Initialise(&state->tEMMSection);
}

int TS_AddStream(TS_Data *state, const u8 *data, u64 length)
{
    if (state == nullptr || data == nullptr)
        return -1;
    return TS_Stream_Append(state->lu8Stream, &state->u64Size, &state->u64Pos, data, length);
}

int TS_SetProgressHook(TS_ProgressHook hook, void *context)
{
    g_pfnProgressHook = hook;
    g_pProgressContext = context;
    return 0;
}

void TS_Progress_Report(u64 bytes_read, u64 total)
{
    if (g_pfnProgressHook != nullptr)
        g_pfnProgressHook(bytes_read, total, g_pProgressContext);
}

int TS_Input_Open(const char *path)
{
    int fd;
    do
        fd = open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        fprintf(stderr, "Error: Failed open %s.\n", path);
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

long long TS_Input_Read(int fd, const char *path, u8 *stream, u64 *size, u64 *pos, u64 capacity)
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
        fprintf(stderr, "Error: Failed read %s.\n", path);
        return -5;
    }
    *size = start + u64(got);
    return got;
}

namespace {

// How many packets the hunt looks ahead to choose between candidates.
constexpr u32 kConfirmations = 32;

// Consecutive sync bytes found every spacing bytes after candidate, up to kConfirmations.
u32 TS_Sync_Run(const u8 *stream, u64 size, u64 candidate, u32 spacing)
{
    u32 run = 0;
    for (u64 at = candidate + spacing; run < kConfirmations && at < size && stream[at] == TS_SYNC_BYTE; at += spacing)
        ++run;
    return run;
}

// A candidate counts when another sync byte stands one spacing further on (or, at the end of
// the input, when nothing follows there). Picks the spacing with the longest run of sync bytes,
// so that a 0x47 recurring in a timestamp prefix does not beat the real packet spacing.
bool TS_Sync_Judge(const u8 *stream, u64 size, u64 candidate, u32 *spacing, u32 *best_run)
{
    *spacing = 0;
    *best_run = 0;
    for (u32 each : kSpacings) {
        const bool beyond = candidate + each >= size;
        const u32 run = TS_Sync_Run(stream, size, candidate, each);
        if ((run > 0 || beyond) && (*spacing == 0 || run > *best_run)) {
            *spacing = each;
            *best_run = run;
        }
    }
    return *spacing != 0;
}

}  // namespace

long long TS_Sync_Next(TS_Sync *sync, const u8 *stream, u64 size, u64 *pos, bool at_end)
{
    if (sync->u32Spacing != 0) {
        const u64 expected = *pos + sync->u32Gap;
        if (expected + TS_PACKET_SIZE > size)
            return -1;
        if (stream[expected] == TS_SYNC_BYTE)
            return (long long)expected;
        // Lost: hunt from the end of the last packet.
        sync->u32Spacing = 0;
        sync->u32Gap = 0;
    }
    const u64 lookahead = u64(kConfirmations + 1) * kSpacings[2];
    for (u64 candidate = *pos; candidate < size; ++candidate) {
        if (stream[candidate] != TS_SYNC_BYTE)
            continue;
        if (!at_end && candidate + lookahead >= size) {
            // Too close to the end of the buffer to be judged: wait for the next chunk.
            *pos = candidate;
            return -1;
        }
        u32 spacing = 0;
        u32 run = 0;
        if (!TS_Sync_Judge(stream, size, candidate, &spacing, &run))
            continue;
        // The first confirmed candidate may still be a stray 0x47 (in garbage, a timestamp
        // prefix or parity bytes) that happens to line up with a packet further on: within one
        // unit after it, the candidate with the longest run of sync bytes is the packet start.
        u64 start = candidate;
        for (u64 later = candidate + 1; later < candidate + kSpacings[2] && later < size; ++later) {
            u32 later_spacing = 0;
            u32 later_run = 0;
            if (stream[later] != TS_SYNC_BYTE || !TS_Sync_Judge(stream, size, later, &later_spacing, &later_run))
                continue;
            // Equal runs at the same spacing: the timestamp prefix of a 192-byte unit stands
            // before its packet, and the parity of a 204-byte packet before the next one.
            const bool same_unit = later_spacing == spacing && later - start <= spacing - TS_PACKET_SIZE;
            if (later_run > run || (later_run == run && same_unit)) {
                start = later;
                spacing = later_spacing;
                run = later_run;
            }
        }
        *pos = start;
        if (start + TS_PACKET_SIZE > size)
            return -1;
        sync->u32Spacing = spacing;
        sync->u32Gap = spacing - TS_PACKET_SIZE;
        return (long long)start;
    }
    *pos = size;
    return -1;
}
