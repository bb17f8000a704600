// Per-program split: one output file per program of the PAT, each opening with a PAT reduced to
// that program, followed by the program's PMT, PCR, ECM and elementary-stream packets. A program
// that leaves the PAT has its file closed; when it comes back, a new file is started.
#include <cstdio>
#include <cstring>

#include "drivers/driver.h"

namespace {

constexpr u8 kNoEntry = 0xFF;

u8 g_lu8SplitBlock[TS_MAX_PROGRAMS][TS_WRITER_BLOCK];

struct TS_ProgramSplit {
    TS_PIDMap tMap;
    TS_PMTTrack ltTrack[TS_MAX_PROGRAMS];   // element k follows the PMT of PAT position k
    TS_SectionGate tGate;                   // PAT and PMT sections whose CRC_32 fails
    TS_OutputFile ltFile[TS_MAX_PROGRAMS];  // element e is the file of split entry e
    u32 lu32FileNo[TS_MAX_PROGRAMS];        // file counters; u16FileNo of the entry mirrors them
    u8 lu8PositionEntry[TS_MAX_PROGRAMS];   // split entry of each position of the last PAT
    u8 lu8EntryPosition[TS_MAX_PROGRAMS];   // and back: the position whose track holds for entry e
    u8 lu8SlotEntry[TS_MAX_PROGRAMS];       // split entry of the program whose PMT fills slot k
    int s32Input;
    int s32Result;
};

TS_ProgramSplit g_tSplit;

TS_Writer *TS_Split_Writer(TS_ProgramSplit *split, u8 e) { return &split->ltFile[e].tWriter; }

// Opens the file of entry e under its current counter: "%s_%d_%d_%d.ts" from the base name,
// program_number, index and counter.
bool TS_Split_Open(TS_ProgramSplit *split, u8 e)
{
    TS_PNSplitData *entry = &g_tPNSplitData.ltSplit[e];
    if (!TS_OutputFile_Open(&split->ltFile[e], g_lu8SplitBlock[e], TS_WRITER_BLOCK, split->s32Input, "%s_%d_%d_%u.ts",
                            g_strString1, entry->u16ProgramNumber, entry->u16Index, split->lu32FileNo[e]))
        return TS_Run_Fail(&split->s32Result, -3);
    entry->s32FD = TS_Split_Writer(split, e)->s32FD;
    return true;
}

bool TS_Split_Write(TS_ProgramSplit *split, u8 e, const u8 *packet)
{
    if (e == kNoEntry || !TS_Writer_IsOpen(TS_Split_Writer(split, e)))
        return true;
    return TS_Writer_Put(TS_Split_Writer(split, e), packet) == 0 || TS_Run_Fail(&split->s32Result, -6);
}

// Writes the packets that the track of position k releases to the file of its entry.
bool TS_Split_Release(TS_ProgramSplit *split, int k)
{
    const u8 e = split->lu8PositionEntry[k];
    return TS_PMTTrack_Release(&split->ltTrack[k], false,
                               [split, e](const u8 *held) { return TS_Split_Write(split, e, held); });
}

// Writes a packet to the file of entry e, or holds it while the track of the entry's position
// waits for the program number of a section: the file keeps the order of the input.
bool TS_Split_Put(TS_ProgramSplit *split, TS_Data *state, u8 e, const u8 *packet)
{
    const u8 k = e == kNoEntry ? kNoEntry : split->lu8EntryPosition[e];
    if (k != kNoEntry && split->ltTrack[k].u32Count != 0) {
        if (TS_PMTTrack_Hold(&split->ltTrack[k], &state->ltPMTSection[k], packet))
            return true;
        if (!TS_Split_Release(split, k))
            return false;
    }
    return TS_Split_Write(split, e, packet);
}

// A wait for a program number ends without it (a PAT, the end of the input): every track gives
// up its section, and what was held behind it goes out.
bool TS_Split_EndWaits(TS_ProgramSplit *split, TS_Data *state)
{
    for (int k = 0; k < TS_MAX_PROGRAMS; ++k) {
        TS_PMTTrack_GiveUp(&split->ltTrack[k], &state->ltPMTSection[k]);
        if (!TS_Split_Release(split, k))
            return false;
    }
    return true;
}

bool TS_Split_Close(TS_ProgramSplit *split, u8 e)
{
    const int result = TS_OutputFile_Close(&split->ltFile[e]);
    g_tPNSplitData.ltSplit[e].s32FD = -1;
    return result == 0 || TS_Run_Fail(&split->s32Result, result);
}

// A PAT section completed: every program it lists gets its file (created, or reopened under a
// new counter) and its reduced PAT; files of programs it no longer lists are closed.
bool TS_Split_OnPAT(TS_ProgramSplit *split, TS_Data *state, const u8 *pat_packet)
{
    if (!TS_Split_EndWaits(split, state))
        return false;
    const TS_PAT &pat = state->tPAT;
    TS_PNSplitList *table = &g_tPNSplitData;
    const u16 count = pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS;

    u32 listed = 0;  // bit e: entry e is listed by this PAT
    for (u16 p = 0; p < count; ++p) {
        const TS_PATProgram &program = pat.ltProgram[p];
        split->lu8PositionEntry[p] = kNoEntry;
        if (program.program_number == 0) {
            TS_PMTTrack_Follow(&split->ltTrack[p], &state->ltPMTSection[p], TS_NO_PID, 0, false);
            continue;
        }
        TS_PMTTrack_Follow(&split->ltTrack[p], &state->ltPMTSection[p], program.PID, program.program_number,
                           TS_PAT_SharesPMTPID(pat, p));
        // A program_number listed twice is told apart by its rank among the equal ones.
        u16 index = 0;
        for (u16 q = 0; q < p; ++q)
            index = u16(index + (pat.ltProgram[q].program_number == program.program_number));
        u8 e = kNoEntry;
        for (u16 i = 0; i < table->u16Count && e == kNoEntry; ++i)
            if (table->ltSplit[i].u16ProgramNumber == program.program_number && table->ltSplit[i].u16Index == index)
                e = u8(i);
        if (e == kNoEntry) {
            if (table->u16Count >= TS_MAX_PROGRAMS)
                continue;  // the table is full: a seventeenth program gets no file
            e = u8(table->u16Count);
            TS_PNSplitData *entry = &table->ltSplit[e];
            entry->u16ProgramNumber = program.program_number;
            entry->u16Index = index;
            entry->u16FileNo = 0;
            entry->s32FD = -1;
            split->lu32FileNo[e] = 0;
            if (!TS_Split_Open(split, e))
                return false;
            ++table->u16Count;
        } else if (!TS_Writer_IsOpen(TS_Split_Writer(split, e)) && !TS_Split_Open(split, e)) {
            return false;
        }
        // A program whose PMT moved to another PID is followed there, in the same file.
        table->ltSplit[e].u16PMTPID = program.PID;
        split->lu8PositionEntry[p] = e;
        listed |= 1u << e;
        u8 reduced[TS_PACKET_SIZE];
        TS_PAT_ReducedPacket(reduced, pat, program, pat_packet);
        if (!TS_Split_Write(split, e, reduced))
            return false;
    }

    std::memset(split->lu8EntryPosition, kNoEntry, sizeof split->lu8EntryPosition);
    for (u16 p = 0; p < count; ++p)
        if (split->lu8PositionEntry[p] != kNoEntry)
            split->lu8EntryPosition[split->lu8PositionEntry[p]] = u8(p);

    // A program the PAT no longer lists: its file ends, and its counter goes up with every PAT
    // that leaves it out, so the file it returns to has a new name.
    for (u16 e = 0; e < table->u16Count; ++e) {
        if (listed & (1u << e))
            continue;
        if (TS_Writer_IsOpen(TS_Split_Writer(split, u8(e))) && !TS_Split_Close(split, u8(e)))
            return false;
        ++split->lu32FileNo[e];
        table->ltSplit[e].u16FileNo = split->lu32FileNo[e] < 0xFFFF ? u16(split->lu32FileNo[e]) : 0xFFFF;
    }
    TS_PIDMap_Build(&split->tMap, &pat, state->ltPMT);
    return true;
}

// A packet on a PMT PID: every packet of a program's PMT section goes to that program's file in
// its place in the input. Sets in *written the entries written to (bit e for entry e).
bool TS_Split_OnPMTPacket(TS_ProgramSplit *split, TS_Data *state, const u8 *packet, u16 pid, u32 positions,
                          u32 member_entries, u32 *written)
{
    bool decoded = false;
    for (; positions != 0; positions &= positions - 1) {
        const int k = TS_FirstPosition(positions);
        TS_PMTTrack *track = &split->ltTrack[k];
        const u8 e = split->lu8PositionEntry[k];
        const bool written_anyway = e != kNoEntry && (member_entries & (1u << e)) != 0;
        const TS_PMTOffer offer = TS_PMTTrack_Offer(track, &state->ltPMTSection[k], packet, written_anyway);
        if (!TS_Split_Release(split, k))
            return false;
        if (offer != TS_PMT_TAKEN && offer != TS_PMT_COMPLETE)
            continue;
        if (!TS_Split_Put(split, state, e, packet))
            return false;
        if (e != kNoEntry)
            *written |= 1u << e;
        if (offer == TS_PMT_COMPLETE && TS_SectionGate_Accept(&split->tGate, pid, &state->ltPMTSection[k])) {
            TS_PMT_FromPreSection(&state->ltPMT[k], &state->ltPMTSection[k], pid);
            split->lu8SlotEntry[k] = e;
            decoded = true;
        }
    }
    if (decoded)
        TS_PIDMap_Build(&split->tMap, &state->tPAT, state->ltPMT);
    return true;
}

bool TS_Split_OnPacket(TS_ProgramSplit *split, TS_Data *state, const u8 *packet)
{
    const u16 pid = TS_Read13(packet + 1);
    if (pid == 0x0000) {
        if (TS_PAT_ImportPreSection(&state->tPATSection, packet) >= 0 && state->tPATSection.u8Complete &&
            TS_SectionGate_Accept(&split->tGate, 0x0000, &state->tPATSection)) {
            TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
            return TS_Split_OnPAT(split, state, packet);
        }
        return true;
    }
    if (!state->tPAT.u8Valid)
        return true;

    // PCR, ECM and elementary-stream packets go to every program whose PMT names the PID, once
    // per file, and not again to a file that took the packet as part of a PMT section.
    u32 targets = 0;
    for (u32 members = TS_PIDRoles_Members(split->tMap.ltRole[pid]); members != 0; members &= members - 1) {
        const u8 e = split->lu8SlotEntry[TS_FirstPosition(members)];
        if (e != kNoEntry)
            targets |= 1u << e;
    }
    u32 written = 0;
    if (split->tMap.ltRole[pid].u16PMT != 0 &&
        !TS_Split_OnPMTPacket(split, state, packet, pid, split->tMap.ltRole[pid].u16PMT, targets, &written))
        return false;
    for (targets &= ~written; targets != 0; targets &= targets - 1)
        if (!TS_Split_Put(split, state, u8(TS_FirstPosition(targets)), packet))
            return false;
    return true;
}

}  // namespace

int TS_ProgramSplitFile(const char *path)
{
    if (path == nullptr)
        return -1;
    TS_Data *state = &g_tData;
    TS_Data_Reset(state);
    TS_PNSplitList *table = &g_tPNSplitData;
    std::memset(table, 0, sizeof *table);
    TS_ProgramSplit *split = &g_tSplit;
    std::memset(split, 0, sizeof *split);
    for (u16 i = 0; i < TS_MAX_PROGRAMS; ++i) {
        table->ltSplit[i].s32FD = -1;
        TS_OutputFile_Reset(&split->ltFile[i]);
        TS_PMTTrack_Start(&split->ltTrack[i], nullptr, nullptr, 0);
        split->lu8PositionEntry[i] = kNoEntry;
        split->lu8EntryPosition[i] = kNoEntry;
        split->lu8SlotEntry[i] = kNoEntry;
    }
    TS_Split_SetBaseName(path);

    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    split->s32Input = fd;
    const int read_result = TS_Stream_Run(fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos,
                                          [&](const u8 *packet) { return TS_Split_OnPacket(split, state, packet); });
    if (split->s32Result == 0)
        TS_Split_EndWaits(split, state);
    if (read_result < 0)
        TS_Run_Fail(&split->s32Result, read_result);
    // Every way out closes what is open, so the files keep what was written before a failure.
    for (u16 e = 0; e < table->u16Count; ++e)
        TS_Split_Close(split, u8(e));
    TS_Input_Close(fd);
    return split->s32Result;
}
