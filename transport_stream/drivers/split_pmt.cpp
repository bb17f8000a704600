// PMT-change split of a single-program recording. A PMT is known by the CRC_32 of its section:
// the recording is cut into segments, each a run of PMT sections with one CRC_32, and the parts
// under each PMT are written to a file of their own (or only the parts under one chosen PMT).
#include <cstdio>
#include <cstring>

#include "drivers/driver.h"

namespace {

constexpr u16 kNone = 0xFFFF;

// The scan that both operations share: the PAT, the PMT of its program, and the PIDs that PMT
// names.
// Packets the scan keeps while a PMT section is in progress: the section's, and, when the PMT
// PID is also one of the program's PIDs, the program's packets that come meanwhile.
constexpr u32 kKept = 2 * TS_SECTION_PACKETS;

struct TS_PMTScan {
    TS_PMTTrack tTrack;                 // keeps every packet of a PMT section until it completes
    TS_SectionGate tGate;               // PAT and PMT sections whose CRC_32 fails
    u8 lu8Kept[kKept][TS_PACKET_SIZE];  // the packets the track keeps
    u8 lu8Kind[kKept];                  // and their TS_KeptKind
    u8 lu8PAT[TS_PACKET_SIZE];          // the packet that completed the last PAT section
    TS_PIDSet tMembers;                 // the members of the PMT in force
    int s32Input;                       // the input's descriptor while the scan runs
    int s32Result;
};

TS_PMTScan g_tScan;

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

// Moves the kept packets of the completed section to the front of the store and returns how many
// there are; the others (the program's packets held behind them, and those of sections given up
// when the PMT PID is one of the program's) go to on_member first, in input order.
template <class OnMember>
u32 TS_PMTScan_TakeSection(TS_PMTTrack *track, bool pid_is_member, OnMember &&on_member, bool *go_on)
{
    u32 sections = 0;
    for (u32 i = 0; i < track->u32Count; ++i) {
        const u8 kind = track->pKind[i];
        if (kind == TS_KEPT_SECTION) {
            if (sections != i)
                std::memcpy(track->pKept[sections], track->pKept[i], TS_PACKET_SIZE);
            ++sections;
        } else if (*go_on && (kind == TS_KEPT_OUTPUT || pid_is_member)) {
            *go_on = on_member(static_cast<const u8 *>(track->pKept[i]));
        }
    }
    return sections;
}

// Reads the input through the shared scan. on_pmt(crc, packets, count) runs for every completed
// PMT section of the program with the packets that carried it; on_member(packet) for every
// packet on a PID of the PMT in force, and for the packets of a PMT section that failed its
// CRC_32 after good ones (the program's packets all the same, but not a new PMT). When the PMT
// PID is also one of the program's PIDs, its packets are the program's whatever becomes of the
// section they carry: those of a section that never completes go to on_member too, and the
// program's packets that come while a section is in progress wait behind it, so that on_member
// sees them all in input order. Either callback returns false to end the run, after failing it
// with TS_Run_Fail on s32Result. Returns the scan's result: 0, -2, -3 for a PAT of more than two
// entries, -5, or what the callbacks set.
template <class OnPMT, class OnMember>
int TS_PMTScan_Run(TS_PMTScan *scan, const char *path, OnPMT &&on_pmt, OnMember &&on_member)
{
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_PMTTrack *track = &scan->tTrack;
    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    scan->s32Input = fd;
    const auto pid_is_member = [&] {
        return state->tPMT.u8Valid && track->u16PID != TS_NO_PID && scan->tMembers.lu8Member[track->u16PID];
    };
    const auto release = [&](bool broken_too) { return TS_PMTTrack_Release(track, broken_too, on_member); };
    const auto member = [&](const u8 *packet) {
        if (track->u32Count != 0) {
            if (pid_is_member() && TS_PMTTrack_Hold(track, &state->tPMTSection, packet))
                return true;
            if (!release(pid_is_member()))
                return false;
        }
        return on_member(packet);
    };
    const int read_result =
        TS_Stream_Run(fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
            const u16 pid = TS_Read13(packet + 1);
            if (pid == 0x0000) {
                if (TS_PAT_ImportPreSection(&state->tPATSection, packet) < 0 || !state->tPATSection.u8Complete ||
                    !TS_SectionGate_Accept(&scan->tGate, pid, &state->tPATSection))
                    return true;
                TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
                // Only a single program (beside the network entry) can be followed.
                if (state->tPAT.u16ProgramCount > 2)
                    return TS_Run_Fail(&scan->s32Result, -3);
                std::memcpy(scan->lu8PAT, packet, TS_PACKET_SIZE);
                const bool was_member = pid_is_member();
                const TS_PATProgram *program = TS_PMTScan_Program(&state->tPAT);
                if (program != nullptr)
                    TS_PMTTrack_Follow(track, &state->tPMTSection, program->PID, program->program_number, false);
                else
                    TS_PMTTrack_Follow(track, &state->tPMTSection, TS_NO_PID, 0, false);
                return release(was_member);
            }
            if (!state->tPAT.u8Valid)
                return true;
            if (pid == track->u16PID) {
                const TS_PMTOffer offer = TS_PMTTrack_Offer(track, &state->tPMTSection, packet, false);
                if (offer == TS_PMT_COMPLETE) {
                    bool go_on = true;
                    if (TS_SectionGate_Accept(&scan->tGate, pid, &state->tPMTSection)) {
                        const u32 count = TS_PMTScan_TakeSection(track, pid_is_member(), on_member, &go_on);
                        TS_PMT_FromPreSection(&state->tPMT, &state->tPMTSection, pid);
                        TS_PIDSet_FromPMT(&scan->tMembers, &state->tPMT);
                        go_on = go_on && on_pmt(state->tPMT.CRC_32, track->pKept, count);
                    } else if (state->tPMT.u8Valid) {
                        // Not a new PMT: every packet kept goes to the PMT in force, as it came.
                        const bool broken_too = pid_is_member();
                        for (u32 i = 0; i < track->u32Count && go_on; ++i)
                            if (track->pKind[i] != TS_KEPT_BROKEN || broken_too)
                                go_on = on_member(static_cast<const u8 *>(track->pKept[i]));
                    }
                    TS_PMTTrack_Forget(track, track->u32Count);
                    track->u32Sections = 0;
                    return go_on;
                }
                // A section given up leaves its packets, the program's when the PID is a member.
                if (!release(pid_is_member()))
                    return false;
                // A packet of the section goes out with the section when it completes.
                if (offer != TS_PMT_IGNORED)
                    return true;
            }
            if (state->tPMT.u8Valid && scan->tMembers.lu8Member[pid])
                return member(packet);
            return true;
        });
    // A section still in progress at the end never completes.
    if (scan->s32Result == 0) {
        const bool broken_too = pid_is_member();
        TS_PMTTrack_GiveUp(track, &state->tPMTSection);
        release(broken_too);
    }
    TS_Input_Close(fd);
    scan->s32Input = -1;
    return scan->s32Result < 0 ? scan->s32Result : read_result;
}

TS_PMTScan *TS_PMTScan_Start()
{
    TS_PMTScan *scan = &g_tScan;
    std::memset(scan, 0, sizeof *scan);
    scan->s32Input = -1;
    TS_PMTTrack_Start(&scan->tTrack, scan->lu8Kept, scan->lu8Kind, kKept);
    return scan;
}

// ---------------------------------------------------------------------------------------------
// Output files of the split: one per distinct PMT, all sharing one block, since only the file of
// the PMT in force receives packets. The block is flushed when another file starts receiving.
// ---------------------------------------------------------------------------------------------

u8 g_lu8PMTSplitBlock[TS_WRITER_BLOCK];

struct TS_PMTSplit {
    u8 u8AllMode;
    u32 u32CRC;             // single mode: the PMT chosen
    const char *strOutput;  // single mode: the caller's file name, or null
    u16 u16Count;
    u32 lu32CRC[TS_MAX_PMT_SEGMENTS];
    TS_OutputFile ltFile[TS_MAX_PMT_SEGMENTS];  // element e is the file of lu32CRC[e]
    u16 u16Owner;                               // the entry whose packets are in the block
    u16 u16Active;                              // the entry of the PMT in force, kNone when nothing is written
    int s32Result;
};

TS_PMTSplit g_tPMTSplit;

// Empties the block into the file of its owner.
bool TS_PMTSplit_Flush(TS_PMTSplit *split)
{
    return split->u16Owner == kNone || TS_Writer_Flush(&split->ltFile[split->u16Owner].tWriter) == 0;
}

// Makes entry e the receiving file, opening it if needed: the caller's name in single mode when
// given, else "%s_%08X.ts" from the base name and the PMT's CRC_32. Fails the run with -4 when
// it cannot be opened, -6 when the block cannot be flushed.
bool TS_PMTSplit_Activate(TS_PMTSplit *split, u16 e, int input_fd)
{
    if (split->u16Owner != e) {
        if (!TS_PMTSplit_Flush(split))
            return TS_Run_Fail(&split->s32Result, -6);
        split->u16Owner = e;
        TS_OutputFile *file = &split->ltFile[e];
        const bool chosen_name = !split->u8AllMode && split->strOutput != nullptr;
        const bool opened = TS_Writer_IsOpen(&file->tWriter) ||
                            (chosen_name ? TS_OutputFile_Open(file, g_lu8PMTSplitBlock, TS_WRITER_BLOCK, input_fd, "%s",
                                                              split->strOutput)
                                         : TS_OutputFile_Open(file, g_lu8PMTSplitBlock, TS_WRITER_BLOCK, input_fd,
                                                              "%s_%08X.ts", g_strString1, split->lu32CRC[e]));
        if (!opened) {
            split->u16Owner = kNone;
            return TS_Run_Fail(&split->s32Result, -4);
        }
    }
    split->u16Active = e;
    return true;
}

// Closes every file. Fails the run with -6 when anything written to them failed.
void TS_PMTSplit_CloseAll(TS_PMTSplit *split)
{
    bool written = TS_PMTSplit_Flush(split);
    for (u16 e = 0; e < split->u16Count; ++e)
        written = TS_OutputFile_Close(&split->ltFile[e]) == 0 && written;
    split->u16Owner = kNone;
    if (!written)
        TS_Run_Fail(&split->s32Result, -6);
}

bool TS_PMTSplit_Put(TS_PMTSplit *split, const u8 *packet)
{
    return TS_Writer_Put(&split->ltFile[split->u16Active].tWriter, packet) == 0 || TS_Run_Fail(&split->s32Result, -6);
}

// A completed PMT section: the file of its CRC_32 receives the last PAT packet and the packets of
// the section, and then the program's packets until the next PMT.
bool TS_PMTSplit_OnPMT(TS_PMTSplit *split, const u8 *pat, u32 crc, const u8 (*packets)[TS_PACKET_SIZE], u32 count,
                       int input_fd)
{
    split->u16Active = kNone;
    if (!split->u8AllMode && crc != split->u32CRC)
        return true;
    u16 e = 0;
    while (e < split->u16Count && split->lu32CRC[e] != crc)
        ++e;
    if (e == split->u16Count) {
        if (split->u16Count >= TS_MAX_PMT_SEGMENTS)
            return true;  // the table is full: a 257th distinct PMT gets no file
        split->lu32CRC[e] = crc;
        ++split->u16Count;
    }
    if (!TS_PMTSplit_Activate(split, e, input_fd) || !TS_PMTSplit_Put(split, pat))
        return false;
    for (u32 i = 0; i < count; ++i)
        if (!TS_PMTSplit_Put(split, packets[i]))
            return false;
    return true;
}

}  // namespace

int TS_CheckPMTSplit(TS_PMTSplitList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    TS_PMTScan *scan = TS_PMTScan_Start();
    std::memset(list, 0, sizeof *list);

    // The segment that receives the counts; kNone once the list is full and a new segment begins.
    u16 current = kNone;
    bool any = false;
    u32 last_crc = 0;
    return TS_PMTScan_Run(
        scan, path,
        [&](u32 crc, const u8(*)[TS_PACKET_SIZE], u32 count) {
            if (!any || crc != last_crc) {
                current = kNone;
                if (list->u16Count < TS_MAX_PMT_SEGMENTS) {
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
}

int TS_PMTSplitFile(const char *path, u8 all_mode, u32 crc, const char *output)
{
    if (path == nullptr)
        return -1;
    TS_PMTScan *scan = TS_PMTScan_Start();
    TS_PMTSplit *split = &g_tPMTSplit;
    std::memset(split, 0, sizeof *split);
    split->u8AllMode = all_mode;
    split->u32CRC = crc;
    split->strOutput = output;
    split->u16Owner = kNone;
    split->u16Active = kNone;
    for (TS_OutputFile &file : split->ltFile)
        TS_OutputFile_Reset(&file);
    TS_Split_SetBaseName(path);

    const int scanned = TS_PMTScan_Run(
        scan, path,
        [&](u32 pmt_crc, const u8(*packets)[TS_PACKET_SIZE], u32 count) {
            return TS_PMTSplit_OnPMT(split, scan->lu8PAT, pmt_crc, packets, count, scan->s32Input) ||
                   TS_Run_Fail(&scan->s32Result, split->s32Result);
        },
        [&](const u8 *packet) {
            return split->u16Active == kNone || TS_PMTSplit_Put(split, packet) ||
                   TS_Run_Fail(&scan->s32Result, split->s32Result);
        });
    // Every way out closes what is open, so the files keep what was written before a failure.
    TS_PMTSplit_CloseAll(split);
    return scanned != 0 ? scanned : split->s32Result;
}
