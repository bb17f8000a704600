// Packet sync: finding packet starts among 188-, 192- and 204-byte units and garbage.
#include "io/io.h"

namespace {

// Spacings of the packet formats met in recordings: plain 188-byte packets, 192-byte units with
// a 4-byte timestamp prefix, and 204-byte packets with 16 bytes of Reed-Solomon parity.
constexpr u32 kSpacings[] = {188, 192, 204};

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

// The bytes of a unit that stand between two packets: the timestamp prefix of a 192-byte unit
// before its packet, the parity of a 204-byte packet after it.
constexpr u32 kPrefix192 = 4;
constexpr u32 kParity204 = 16;

// The hunt has passed from the end of the last packet to *pos: the tallies take the distance.
void TS_Sync_Pass(TS_Sync *sync, u64 from, u64 to) { sync->u64Hunted += to - from; }

// A hunt that ends without a packet (the input is over): every byte it passed was skipped.
void TS_Sync_GiveUp(TS_Sync *sync)
{
    sync->u64Skipped += sync->u64Hunted;
    sync->u64Hunted = 0;
    sync->u32LostSpacing = 0;
}

// The hunt found a packet: the bytes it passed were skipped, less those that belong to the
// units on either side (the parity after the last packet, the prefix before this one). When
// the packet stands on the spacing that was lost, every unit due in between had a bad sync
// byte; otherwise the packets moved, and one sync byte was found bad where a packet was due.
void TS_Sync_Lock(TS_Sync *sync, u32 spacing)
{
    const u64 hunted = sync->u64Hunted;
    const u32 lost = sync->u32LostSpacing;
    const u64 framing = (lost == 204 ? kParity204 : 0) + (spacing == 192 ? kPrefix192 : 0);
    sync->u64Skipped += hunted > framing ? hunted - framing : 0;
    const u64 lost_gap = lost > TS_PACKET_SIZE ? lost - TS_PACKET_SIZE : 0;
    if (lost != 0 && spacing == lost && hunted > lost_gap && (hunted - lost_gap) % lost == 0)
        sync->u64BadSyncBytes += (hunted - lost_gap) / lost - 1;  // the first was counted at the loss
    sync->u64Hunted = 0;
    sync->u32LostSpacing = 0;
    sync->u32Spacing = spacing;
    sync->u32Gap = spacing - TS_PACKET_SIZE;
    sync->u32Unit = spacing;
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
        ++sync->u64Losses;
        ++sync->u64BadSyncBytes;
        sync->u32LostSpacing = sync->u32Spacing;
        sync->u64Hunted = 0;
        sync->u32Spacing = 0;
        sync->u32Gap = 0;
    }
    const u64 from = *pos;
    const u64 lookahead = u64(kConfirmations + 1) * kSpacings[2];
    for (u64 candidate = *pos; candidate < size; ++candidate) {
        if (stream[candidate] != TS_SYNC_BYTE)
            continue;
        if (!at_end && candidate + lookahead >= size) {
            // Too close to the end of the buffer to be judged: wait for the next chunk.
            *pos = candidate;
            TS_Sync_Pass(sync, from, candidate);
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
        TS_Sync_Pass(sync, from, start);
        if (start + TS_PACKET_SIZE > size) {
            if (at_end)
                TS_Sync_GiveUp(sync);
            return -1;
        }
        TS_Sync_Lock(sync, spacing);
        return (long long)start;
    }
    *pos = size;
    TS_Sync_Pass(sync, from, size);
    if (at_end)
        TS_Sync_GiveUp(sync);
    return -1;
}
