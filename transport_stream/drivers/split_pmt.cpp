// PMT-change split of a single-program recording. A PMT is known by the CRC_32 of its section:
// the recording is cut into segments, each a run of PMT sections with one CRC_32, and the parts
// under each PMT are written to a file of their own (or only the parts under one chosen PMT).
#include <cstdio>
#include <cstring>

#include "driver.h"

namespace {

constexpr u16 kNone = 0xFFFF;

// The scan that both operations share: the PAT, the PMT of its program, and the PIDs that PMT
// names.
struct TS_PMTScan {
    TS_PMTTrack tTrack;       // keeps every packet of a PMT section until it completes
    TS_SectionGate tGate;     // PAT and PMT sections whose CRC_32 fails
    u8 lu8Section[TS_SECTION_PACKETS][TS_PACKET_SIZE];  // the packets of the section in progress
    u8 lu8PAT[TS_PACKET_SIZE];  // the packet that completed the last PAT section
    u8 lu8Member[8192];       // PCR, CA and elementary-stream PIDs of the PMT in force
    int s32Result;
};

TS_PMTScan g_tScan;

void TS_PMTScan_Select(TS_PMTScan *scan, const TS_PMT *pmt)
{
    std::memset(scan->lu8Member, 0, sizeof scan->lu8Member);
    scan->lu8Member[pmt->PCR_PID & 0x1FFF] = 1;
    u16 ca_pid = TS_NO_PID;
    if (TS_GetCAPIDFromPMT(&ca_pid, pmt) == 0 && ca_pid != TS_NO_PID)
        scan->lu8Member[ca_pid & 0x1FFF] = 1;
    const u16 streams = pmt->u16StreamCount < 16 ? pmt->u16StreamCount : 16;
    for (u16 i = 0; i < streams; ++i)
        scan->lu8Member[pmt->ltStream[i].elementary_PID & 0x1FFF] = 1;
    // The PAT, and null packets (also the PCR_PID of a program without PCR), are nobody's.
    scan->lu8Member[0x0000] = 0;
    scan->lu8Member[0x1FFF] = 0;
}

// The PAT entry whose program the split follows: of a single-program recording's PAT, the one
// entry that is a program, beside the network entry when there is one. When both entries are
// programs, the second. Null when the PAT lists no program.
const TS_PATProgram *TS_PMTScan_Program(const TS_PAT *pat)
{
    if (pat->u16ProgramCount == 2 && pat->ltProgram[1].program_number != 0)
        return &pat->ltProgram[1];
    for (u16 i = 0; i < pat->u16ProgramCount; ++i)
        if (pat->ltProgram[i].program_number != 0)
            return &pat->ltProgram[i];
    return nullptr;
}

// Reads the input through the shared scan. on_pmt(crc, packets, count) runs for every completed
// PMT section of the program with the packets that carried it; on_member(packet) for every
// packet on a PID of the PMT in force, and for the packets of a PMT section that failed its
// CRC_32 after good ones (the program's packets all the same, but not a new PMT). Either returns false to end the run, after setting
// s32Result. Returns the scan's result: 0, -2, -3 for a PAT of more than two entries, -5, or
// what the callbacks set.
template <class OnPMT, class OnMember>
int TS_PMTScan_Run(TS_PMTScan *scan, const char *path, int fd, OnPMT &&on_pmt, OnMember &&on_member)
{
    TS_SimpleData *state = &g_tSimpleData;
    TS_PMTTrack *track = &scan->tTrack;
    const int read_result = TS_Stream_Run(fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos,
        [&](const u8 *packet) {
            const u16 pid = TS_Read13(packet + 1);
            if (pid == 0x0000) {
                if (TS_PAT_ImportPreSection(&state->tPATSection, packet) < 0 || !state->tPATSection.u8Complete ||
                    !TS_SectionGate_Accept(&scan->tGate, pid, &state->tPATSection))
                    return true;
                TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
                // Only a single program (beside the network entry) can be followed.
                if (state->tPAT.u16ProgramCount > 2) {
                    scan->s32Result = -3;
                    return false;
                }
                std::memcpy(scan->lu8PAT, packet, TS_PACKET_SIZE);
                const TS_PATProgram *program = TS_PMTScan_Program(&state->tPAT);
                if (program != nullptr)
                    TS_PMTTrack_Follow(track, &state->tPMTSection, program->PID, program->program_number);
                else
                    TS_PMTTrack_Follow(track, &state->tPMTSection, TS_NO_PID, 0);
                return true;
            }
            if (!state->tPAT.u8Valid)
                return true;
            if (pid == track->u16PID) {
                const TS_PMTOffer offer = TS_PMTTrack_Offer(track, &state->tPMTSection, packet, false);
                if (offer == TS_PMT_COMPLETE) {
                    bool go_on = true;
                    if (TS_SectionGate_Accept(&scan->tGate, pid, &state->tPMTSection)) {
                        TS_PMT_FromPreSection(&state->tPMT, &state->tPMTSection, pid);
                        TS_PMTScan_Select(scan, &state->tPMT);
                        go_on = on_pmt(state->tPMT.CRC_32, track->pKept, track->u32Count);
                    } else if (state->tPMT.u8Valid) {
                        for (u32 i = 0; i < track->u32Count && go_on; ++i)
                            go_on = on_member(track->pKept[i]);
                    }
                    TS_PMTTrack_Release(track);
                    return go_on;
                }
                // A packet of the section goes out with the section when it completes.
                if (offer != TS_PMT_IGNORED)
                    return true;
            }
            if (state->tPMT.u8Valid && scan->lu8Member[pid])
                return on_member(packet);
            return true;
        });
    if (scan->s32Result < 0)
        return scan->s32Result;
    return read_result;
}

void TS_PMTScan_Start(TS_PMTScan *scan)
{
    TS_SimpleData_Reset(&g_tSimpleData);
    std::memset(scan, 0, sizeof *scan);
    TS_PMTTrack_Start(&scan->tTrack, scan->lu8Section, TS_SECTION_PACKETS);
}

// ---------------------------------------------------------------------------------------------
// Output files of the split: one per distinct PMT, all sharing one block, since only the file of
// the PMT in force receives packets. The block is flushed when another file starts receiving,
// and g_strString2 always holds the name of the file whose packets are in the block.
// ---------------------------------------------------------------------------------------------

u8 g_lu8PMTSplitBlock[TS_WRITER_BLOCK];

struct TS_PMTSplit {
    u8 u8AllMode;
    u32 u32CRC;               // single mode: the PMT chosen
    const char *strOutput;    // single mode: the caller's file name, or null
    u16 u16Count;
    u32 lu32CRC[256];
    TS_Writer ltWriter[256];  // element e writes the file of lu32CRC[e]
    u16 u16Owner;             // the entry whose packets are in the block
    u16 u16Active;            // the entry of the PMT in force, kNone when nothing is written
    int s32Input;
};

TS_PMTSplit g_tPMTSplit;

// Builds the file name of entry e in g_strString2: the caller's name in single mode when given,
// else "%s_%08X.ts" from the base name and the PMT's CRC_32.
bool TS_PMTSplit_Name(TS_PMTSplit *split, u16 e)
{
    int length;
    if (!split->u8AllMode && split->strOutput != nullptr)
        length = snprintf(g_strString2, sizeof g_strString2, "%s", split->strOutput);
    else
        length = snprintf(g_strString2, sizeof g_strString2, "%s_%08X.ts", g_strString1, split->lu32CRC[e]);
    return length >= 0 && u32(length) < sizeof g_strString2;
}

// Empties the block into the file of its owner.
int TS_PMTSplit_Flush(TS_PMTSplit *split)
{
    if (split->u16Owner == kNone)
        return 0;
    return TS_Writer_Flush(&split->ltWriter[split->u16Owner]);
}

// Makes entry e the receiving file, opening it if needed. 0, -4 (open), -6 (flush).
int TS_PMTSplit_Activate(TS_PMTSplit *split, u16 e)
{
    if (split->u16Owner != e) {
        if (TS_PMTSplit_Flush(split) < 0)
            return -6;
        const bool named = TS_PMTSplit_Name(split, e);
        split->u16Owner = e;
        if (!TS_Writer_IsOpen(&split->ltWriter[e]) &&
            (!named || TS_Output_Open(&split->ltWriter[e], g_strString2, g_lu8PMTSplitBlock,
                                      TS_WRITER_BLOCK, split->s32Input) < 0)) {
            fprintf(stderr, "Error: Failed open %s.\n", g_strString2);
            split->u16Owner = kNone;
            return -4;
        }
    }
    split->u16Active = e;
    return 0;
}

// Closes every file, each under its own name for the error message. 0 or -6.
int TS_PMTSplit_CloseAll(TS_PMTSplit *split)
{
    int result = TS_PMTSplit_Flush(split) < 0 ? -6 : 0;
    for (u16 e = 0; e < split->u16Count; ++e) {
        if (!TS_Writer_IsOpen(&split->ltWriter[e]))
            continue;
        TS_PMTSplit_Name(split, e);
        if (TS_Writer_Close(&split->ltWriter[e]) < 0)
            result = -6;
    }
    split->u16Owner = kNone;
    return result;
}

// A completed PMT section: the file of its CRC_32 receives the last PAT packet and the packets of
// the section, and then the program's packets until the next PMT. 0, -4 or -6.
int TS_PMTSplit_OnPMT(TS_PMTSplit *split, const u8 *pat, u32 crc, const u8 (*packets)[TS_PACKET_SIZE], u32 count)
{
    split->u16Active = kNone;
    if (!split->u8AllMode && crc != split->u32CRC)
        return 0;
    u16 e = 0;
    while (e < split->u16Count && split->lu32CRC[e] != crc)
        ++e;
    if (e == split->u16Count) {
        if (split->u16Count >= 256)
            return 0;  // the table is full: a 257th distinct PMT gets no file
        split->lu32CRC[e] = crc;
        ++split->u16Count;
    }
    const int activated = TS_PMTSplit_Activate(split, e);
    if (activated < 0)
        return activated;
    TS_Writer *writer = &split->ltWriter[e];
    if (TS_Writer_Put(writer, pat) < 0)
        return -6;
    for (u32 i = 0; i < count; ++i)
        if (TS_Writer_Put(writer, packets[i]) < 0)
            return -6;
    return 0;
}

}  // namespace

int TS_CheckPMTSplit(TS_PMTSplitList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    TS_PMTScan *scan = &g_tScan;
    TS_PMTScan_Start(scan);
    std::memset(list, 0, sizeof *list);
    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;

    // The segment that receives the counts; kNone once the list is full and a new segment begins.
    u16 current = kNone;
    bool any = false;
    u32 last_crc = 0;
    const int result = TS_PMTScan_Run(scan, path, fd,
        [&](u32 crc, const u8 (*)[TS_PACKET_SIZE], u32 count) {
            if (!any || crc != last_crc) {
                current = kNone;
                if (list->u16Count < 256) {
                    TS_PMTSplitData *segment = &list->ltSplit[list->u16Count];
                    segment->u32CRC = crc;
                    segment->u16Index = 0;
                    for (u16 i = 0; i < list->u16Count; ++i)
                        segment->u16Index = u16(segment->u16Index + (list->ltSplit[i].u32CRC == crc));
                    segment->u64Bytes = 0;
                    current = list->u16Count++;
                }
                any = true;
                last_crc = crc;
            }
            // The split writes the last PAT packet and every packet of the section.
            if (current != kNone)
                list->ltSplit[current].u64Bytes += u64(TS_PACKET_SIZE) * (1u + count);
            return true;
        },
        [&](const u8 *) {
            if (current != kNone)
                list->ltSplit[current].u64Bytes += TS_PACKET_SIZE;
            return true;
        });
    TS_Input_Close(fd);
    return result;
}

int TS_PMTSplitFile(const char *path, u8 all_mode, u32 crc, const char *output)
{
    if (path == nullptr)
        return -1;
    TS_PMTScan *scan = &g_tScan;
    TS_PMTScan_Start(scan);
    TS_PMTSplit *split = &g_tPMTSplit;
    std::memset(split, 0, sizeof *split);
    split->u8AllMode = all_mode;
    split->u32CRC = crc;
    split->strOutput = output;
    split->u16Owner = kNone;
    split->u16Active = kNone;
    for (TS_Writer &writer : split->ltWriter)
        writer.s32FD = -1;
    // A path too long for the name buffer cannot be opened either.
    if (GetBaseFileName(g_strString1, path) != 0)
        g_strString1[0] = '\0';

    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    split->s32Input = fd;
    int result = TS_PMTScan_Run(scan, path, fd,
        [&](u32 pmt_crc, const u8 (*packets)[TS_PACKET_SIZE], u32 count) {
            scan->s32Result = TS_PMTSplit_OnPMT(split, scan->lu8PAT, pmt_crc, packets, count);
            return scan->s32Result == 0;
        },
        [&](const u8 *packet) {
            if (split->u16Active == kNone)
                return true;
            if (TS_Writer_Put(&split->ltWriter[split->u16Active], packet) < 0) {
                scan->s32Result = -6;
                return false;
            }
            return true;
        });
    // Every way out closes what is open, so the files keep what was written before a failure.
    const int closed = TS_PMTSplit_CloseAll(split);
    TS_Input_Close(fd);
    if (result == 0)
        result = closed;
    return result;
}
