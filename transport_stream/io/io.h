// Reading a recording packet by packet, and writing packets out in large blocks.
#ifndef PIDSIFT_TRANSPORT_STREAM_IO_IO_H
#define PIDSIFT_TRANSPORT_STREAM_IO_IO_H

#include <cstring>
#include <memory>
#include <type_traits>

#include <pidsift/ts.h>

namespace pidsift {
struct RunSettings;
}

// Where one run's messages about failed system calls and its progress go: the hooks of the run's
// settings; without settings, or without a message hook, the library's own message on standard
// error (TS_PrintFailure), and without a progress hook no progress. error_number: the failed
// call's errno (0 for a refusal of ours).
struct TS_Reporter {
    const pidsift::RunSettings *pSettings = nullptr;

    void Fail(int failure, const char *path, int error_number) const;
    void Progress(u64 bytes_read, u64 total) const;
};

// ---------------------------------------------------------------------------------------------
// Output: packets collected in large blocks, so that a run pays few write system calls while
// the bytes on disk stay those of one 188-byte write per packet. A full block is handed to the
// run's write thread, which writes the blocks of the run's writers in the order they were handed
// over while the run goes on reading; the writer fills another block meanwhile (its own again
// once written, or one of a few spares the run's writers share). A failure the thread meets is
// reported by the run's own thread, at the writer's next flush or at its close, once.
// ---------------------------------------------------------------------------------------------

class TS_WriteQueue;

struct TS_Writer {
    TS_WriteQueue *pQueue;  // the write thread of the writer's run
    int s32FD;              // -1 when closed
    const char *strPath;
    // A caller's function that takes the blocks in place of a file, on the write thread: 0, or
    // the errno of a failure. Null: the blocks are written to s32FD.
    int (*pfnTake)(void *context, const u8 *bytes, size_t count);
    void *pTakeContext;
    u8 *lu8Block;     // the block being filled, null until a packet comes: the caller's, or a spare
    u8 *lu8Home;      // the caller's block
    u32 u32Capacity;  // a multiple of 188
    u32 u32Used;
    u8 u8Failed;  // a write failed; reported once
    // Kept under the write thread's lock.
    u32 u32Pending;    // blocks handed over and not written yet
    int s32LateError;  // errno of a write of the thread's that failed; 0 if none
};

constexpr u32 TS_WRITER_BLOCK = 188 * 5577;  // about 1 MiB
// Spare blocks shared by the writers of a run: what the reading may run ahead of the writing.
constexpr u32 TS_WRITER_SPARE_BLOCKS = 4;

// The write thread of one run's writers and the spare blocks they share; its failures are told
// through the run's reporter. The thread starts at the first block handed over and stops when
// the queue goes, by which time every writer of the run is closed.
class TS_WriteQueue {
public:
    explicit TS_WriteQueue(const TS_Reporter &reporter = {});
    ~TS_WriteQueue();
    TS_WriteQueue(const TS_WriteQueue &) = delete;
    TS_WriteQueue &operator=(const TS_WriteQueue &) = delete;

    const TS_Reporter &Reporter() const { return m_tReporter; }

    class Thread;
    Thread &Worker() { return *m_pThread; }

private:
    TS_Reporter m_tReporter;
    std::unique_ptr<Thread> m_pThread;
};

// Opens path write-only, created 0666 (less the umask) and truncated, for writing through queue.
// -3 when it cannot be opened (nothing printed: the callers' messages differ). created, when
// given, is set to whether this open made the file: false for a file that was there before,
// whatever its kind.
int TS_Writer_Open(TS_Writer *writer, TS_WriteQueue *queue, const char *path, u8 *block, u32 capacity,
                   bool *created = nullptr);
// Takes over an open descriptor. A null path makes the writer quiet: failures are only returned.
void TS_Writer_Attach(TS_Writer *writer, TS_WriteQueue *queue, int fd, const char *path, u8 *block, u32 capacity);
// Hands the blocks to take(context, bytes, count) instead of a file; a quiet writer.
void TS_Writer_AttachTaker(TS_Writer *writer, TS_WriteQueue *queue, int (*take)(void *, const u8 *, size_t),
                           void *context, u8 *block, u32 capacity);
inline bool TS_Writer_IsOpen(const TS_Writer *writer) { return writer->s32FD >= 0 || writer->pfnTake != nullptr; }
// Queues one packet when the block has room for it; otherwise flushes and takes an empty block.
int TS_Writer_PutAfterFlush(TS_Writer *writer, const u8 *packet);
// Queues one packet. -6 after a failed or short write (told once through the queue's reporter).
inline int TS_Writer_Put(TS_Writer *writer, const u8 *packet)
{
    if (writer->lu8Block == nullptr || writer->u8Failed || writer->u32Used + TS_PACKET_SIZE > writer->u32Capacity)
        return TS_Writer_PutAfterFlush(writer, packet);
    std::memcpy(writer->lu8Block + writer->u32Used, packet, TS_PACKET_SIZE);
    writer->u32Used += TS_PACKET_SIZE;
    return 0;
}
// Hands the block filled so far to the write thread. -6 once a write has failed.
int TS_Writer_Flush(TS_Writer *writer);
// Flushes and closes; -6 when anything written through it failed. A closed writer gives 0.
int TS_Writer_Close(TS_Writer *writer);

// ---------------------------------------------------------------------------------------------
// Input: the stream-buffer loop that every driver runs.
// ---------------------------------------------------------------------------------------------

// What TS_InitialiseSimple and TS_Initialise do, less clearing the stream buffer: the drivers
// never read it beyond u64Size.
void TS_SimpleData_Reset(TS_SimpleData *state);
void TS_Data_Reset(TS_Data *state);

// Opens path read-only; tells the failure ("Error: Failed open %s.\n" by default) and returns -2
// on failure, else the descriptor.
int TS_Input_Open(const char *path, const TS_Reporter &reporter = {});
void TS_Input_Close(int fd);

// Bytes asked of one read. Small enough that what the kernel copies in is still in the cache
// when the packet loop looks at it (a 32 MiB read makes the loop wait on memory for every
// packet header), large enough that the system calls cost nothing.
constexpr u64 TS_READ_BLOCK = 128 * 1024;

// Reads what fits behind the carried tail of the stream buffer straight into it, retrying on
// EINTR. Returns the byte count, 0 at end of file, -5 on a read error (told: "Error: Failed read
// %s.\n" by default).
long long TS_Input_Read(int fd, const char *path, u8 *stream, u64 *size, u64 *pos, u64 capacity,
                        const TS_Reporter &reporter = {});

u64 TS_Input_Size(int fd);

// Packet sync that locks onto the stream's packet spacing (188, 192 or 204 bytes). A 0x47 is
// taken as a packet start during a hunt only when another 0x47 stands one spacing further on;
// once locked, each packet is expected one spacing after the last and taken when a 0x47 is
// there. A candidate whose confirming byte lies beyond the buffer waits for more data, unless
// the input has ended. The read position rests at the end of the last packet, so that a lost
// sync is hunted from there: the bytes of a 192- or 204-byte unit after the packet are searched
// too, and nothing is carried but what follows the packet.
//
// The tallies below the first two members are kept off the per-packet path (only a hunt and a
// lost packet touch them), for callers that report on the input; the other drivers ignore them.
struct TS_Sync {
    u32 u32Spacing;       // 0 while hunting
    u32 u32Gap;           // bytes between a packet's end and the next packet: spacing - 188
    u32 u32Unit;          // the spacing of the last lock, kept when the lock is lost; 0 before any
    u32 u32LostSpacing;   // the spacing the hunt in progress lost; 0 for the hunt at the start
    u64 u64BytesRead;     // bytes the read loop has read
    u64 u64Skipped;       // bytes passed over by hunts, less the prefix or parity of a unit
    u64 u64Losses;        // times no sync byte stood where the next packet was due
    u64 u64BadSyncBytes;  // units due on the locked spacing whose first byte was not 0x47
    u64 u64Hunted;        // bytes the hunt in progress has passed over, from the last packet's end
};

// Finds the next packet at or after *pos. Returns its offset, or -1 when more data is needed
// (then *pos is where the carried tail starts).
long long TS_Sync_Next(TS_Sync *sync, const u8 *stream, u64 size, u64 *pos, bool at_end);

// How many units ahead of the one in hand the scan asks the memory for.
constexpr u32 kPrefetchUnits = 32;

// Visits the packets in stream from *pos up to end, calling on_packet(const u8 *packet) for
// each until it returns false; at_end: no more bytes will follow. Returns false when on_packet
// ended the visit (then *pos is where that packet's unit starts, or the packet itself when a hunt
// found it), true when the bytes are used up (then *pos is where the carried tail starts).
template <class PacketFn>
inline bool TS_Stream_Scan(TS_Sync *sync, const u8 *stream, u64 end, u64 *pos, bool at_end, PacketFn &&on_packet)
{
    // The position, the end of the data and the spacing are held in locals while the packets
    // are visited: no store of a handler can reach them, so they stay in registers. *pos is
    // brought up to date when the visit returns.
    u64 at = *pos;
    u32 spacing = sync->u32Spacing;
    u32 gap = sync->u32Gap;
    // The visitor's captures, too, in a copy whose address nothing is given (a visitor keeps
    // whatever it changes behind references: the copy is dropped at the return).
    std::remove_reference_t<PacketFn> visit = on_packet;
    for (;;) {
        // Locked onto the packet spacing, the next packet is simply one spacing on: the run of
        // packets that stand there goes through a loop of its own, with nothing else in it (most
        // of a recording is such runs).
        if (spacing != 0 && end >= TS_PACKET_SIZE + gap) {
            const u8 *unit = stream + at;
            const u8 *last = stream + end - TS_PACKET_SIZE - gap;
            while (unit <= last && unit[gap] == TS_SYNC_BYTE) {
                // Mapped pages come straight from the page cache, cold: asking for the packet
                // some way ahead keeps the loop from waiting on memory at every header. A
                // prefetch past the end of the bytes is harmless (it never faults).
                __builtin_prefetch(unit + kPrefetchUnits * spacing);
                __builtin_prefetch(unit + kPrefetchUnits * spacing + 64);
                __builtin_prefetch(unit + kPrefetchUnits * spacing + 128);
                __builtin_prefetch(unit + kPrefetchUnits * spacing + 187);
                if (!visit(unit + gap)) {
                    *pos = u64(unit - stream);
                    return false;
                }
                unit += spacing;
            }
            at = u64(unit - stream);
        }
        // The run ended: the data is used up, or no sync byte stands where the next packet is
        // due (or none was locked yet), and the sync takes over.
        u64 hunt = at;
        const long long found = TS_Sync_Next(sync, stream, end, &hunt, at_end);
        at = hunt;
        spacing = sync->u32Spacing;
        gap = sync->u32Gap;
        if (found < 0)
            break;
        const u64 packet = u64(found);
        if (!visit(stream + packet)) {
            *pos = at;
            return false;
        }
        at = packet + TS_PACKET_SIZE;
    }
    *pos = at;
    return true;
}

// The loops that run a whole input through the scan are in io/mapped_input.h.

#endif  // PIDSIFT_TRANSPORT_STREAM_IO_IO_H
