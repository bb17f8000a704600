// The program listing and the single-program extraction: the programs of the last PAT, and one
// program's PMT, PCR, ECM and elementary-stream packets copied byte for byte to an output file.
#include <cerrno>
#include <cstring>

#include "drivers/driver.h"

namespace {

u8 g_lu8FilterBlock[TS_WRITER_BLOCK];

struct TS_Filter {
    bool bFiltering;       // a program is extracted (not the listing alone)
    bool bByNumber;        // chosen by program_number rather than by PMT PID
    bool bPlayable;        // the output gets a reduced PAT at every PAT of the input
    u16 u16PMTPID;         // the PMT PID of the program (as last listed, when chosen by number)
    u16 u16ProgramNumber;  // of the PAT entry whose PMT is followed
    const char *strDestination;
    // Opens the output for the single-pass front end; null: open strDestination.
    int (*pfnOpenOutput)(void *context);
    void *pOpenContext;
    int s32Input;
    TS_OutputFile tOutput;
    int s32Result;  // 0, -3 (output not opened) or -6 (write failed)
    bool bOpened;   // the output has been opened
    bool bEnded;    // the program left the PAT after the output was opened, or output failed
    // The program's PMT sections on the PMT PID, with the packets held while a section header
    // is cut by the packet end on a PID that programs share.
    TS_PMTTrack tTrack;
    TS_SectionGate tGate;  // PAT and PMT sections whose CRC_32 fails
    TS_PIDSet tSelected;   // the members of the PMT in force
};

TS_Filter g_tFilter;

// Starts a run: the listing alone (pid TS_NO_PID), or the listing and the extraction of pid.
TS_Filter *TS_Filter_Start(TS_SimpleData *state, u16 pid, const char *destination, int (*open_output)(void *),
                           void *context)
{
    TS_SimpleData_Reset(state);
    TS_Filter *filter = &g_tFilter;
    std::memset(filter, 0, sizeof *filter);
    filter->bFiltering = pid != TS_NO_PID;
    filter->u16PMTPID = pid;
    filter->strDestination = destination;
    filter->pfnOpenOutput = open_output;
    filter->pOpenContext = context;
    filter->s32Input = -1;
    TS_OutputFile_Reset(&filter->tOutput);
    TS_PMTTrack_Start(&filter->tTrack, nullptr, nullptr, 0);
    return filter;
}

// Any way out of the filter ends it: nothing more is written.
bool TS_Filter_End(TS_Filter *filter, int result)
{
    filter->bEnded = true;
    return result == 0 || TS_Run_Fail(&filter->s32Result, result);
}

bool TS_Filter_Write(TS_Filter *filter, const u8 *packet)
{
    return TS_Writer_Put(&filter->tOutput.tWriter, packet) == 0 || TS_Filter_End(filter, -6);
}

// Writes the packets the track releases: those held behind a section that turned out to be the
// program's, or that was given up (its own packets are then dropped).
bool TS_Filter_Release(TS_Filter *filter)
{
    return TS_PMTTrack_Release(&filter->tTrack, false,
                               [filter](const u8 *held) { return TS_Filter_Write(filter, held); });
}

// Writes a packet of the program, or holds it while the track waits for the program number of a
// section: the output keeps the order of the input.
inline bool TS_Filter_Put(TS_Filter *filter, TS_SimpleData *state, const u8 *packet)
{
    if (filter->tTrack.u32Count != 0) {
        if (TS_PMTTrack_Hold(&filter->tTrack, &state->tPMTSection, packet))
            return true;
        if (!TS_Filter_Release(filter))
            return false;
    }
    return TS_Filter_Write(filter, packet);
}

// A wait for the program number ends without it (a PAT, the end of the input): the section is
// given up and what was held behind it goes out.
bool TS_Filter_EndWait(TS_Filter *filter, TS_SimpleData *state)
{
    TS_PMTTrack_GiveUp(&filter->tTrack, &state->tPMTSection);
    return !filter->bOpened || filter->bEnded || TS_Filter_Release(filter);
}

bool TS_Filter_OpenOutput(TS_Filter *filter)
{
    if (filter->bPlayable) {
        const bool opened =
            filter->strDestination != nullptr
                ? TS_OutputFile_Open(&filter->tOutput, g_lu8FilterBlock, sizeof g_lu8FilterBlock, filter->s32Input,
                                     "%s", filter->strDestination)
                : TS_OutputFile_Open(&filter->tOutput, g_lu8FilterBlock, sizeof g_lu8FilterBlock, filter->s32Input,
                                     "%s_%d_0_0.ts", g_strString1, filter->u16ProgramNumber);
        return opened ? (filter->bOpened = true) : TS_Filter_End(filter, -3);
    }
    if (filter->pfnOpenOutput == nullptr) {
        if (TS_Writer_Open(&filter->tOutput.tWriter, filter->strDestination, g_lu8FilterBlock,
                           sizeof g_lu8FilterBlock) == 0)
            return filter->bOpened = true;
        TS_Report(TS_FAILED_DESTINATION, filter->strDestination, errno);
    } else {
        const int fd = filter->pfnOpenOutput(filter->pOpenContext);
        if (fd >= 0) {
            TS_Writer_Attach(&filter->tOutput.tWriter, fd, nullptr, g_lu8FilterBlock, sizeof g_lu8FilterBlock);
            return filter->bOpened = true;
        }
    }
    return TS_Filter_End(filter, -3);
}

// A PAT section completed: find the chosen program among its entries. The filter ends when the
// program has left the PAT or the output cannot be opened.
void TS_Filter_OnPAT(TS_Filter *filter, TS_SimpleData *state, const u8 *pat_packet)
{
    if (!TS_Filter_EndWait(filter, state))
        return;
    const TS_PAT *pat = &state->tPAT;
    const TS_PATProgram *entry = nullptr;
    u16 k = 0;
    for (; k < pat->u16ProgramCount && entry == nullptr; ++k) {
        const TS_PATProgram &program = pat->ltProgram[k];
        if (filter->bByNumber ? program.program_number == filter->u16ProgramNumber
                              : program.program_number != 0 && program.PID == filter->u16PMTPID)
            entry = &program;
    }
    if (entry == nullptr) {
        // Before the output is open the program may still start later in the recording.
        if (filter->bOpened)
            TS_Filter_End(filter, 0);
        return;
    }
    filter->u16ProgramNumber = entry->program_number;
    filter->u16PMTPID = entry->PID;
    TS_PMTTrack_Follow(&filter->tTrack, &state->tPMTSection, filter->u16PMTPID, filter->u16ProgramNumber,
                       TS_PAT_SharesPMTPID(*pat, u16(k - 1)));
    if (!filter->bOpened && !TS_Filter_OpenOutput(filter))
        return;
    if (filter->bPlayable) {
        u8 reduced[TS_PACKET_SIZE];
        TS_PAT_ReducedPacket(reduced, *pat, *entry, pat_packet);
        TS_Filter_Write(filter, reduced);
    }
}

bool TS_Filter_IsSelected(const TS_Filter *filter, const TS_SimpleData *state, u16 pid)
{
    return state->tPMT.u8Valid && filter->tSelected.lu8Member[pid];
}

// A packet on the PMT PID. Every packet taken in as part of a PMT section of the program is
// written in its place in the input; sections of other programs sharing the PID are neither
// decoded nor written. Sets *written when the packet went out (or waits to).
bool TS_Filter_OnPMTPacket(TS_Filter *filter, TS_SimpleData *state, const u8 *packet, bool *written)
{
    TS_PreSection *section = &state->tPMTSection;
    // A PMT PID that is also the PCR or a stream PID has its packets written by the selection.
    const bool selected = TS_Filter_IsSelected(filter, state, filter->u16PMTPID);
    const TS_PMTOffer offer = TS_PMTTrack_Offer(&filter->tTrack, section, packet, selected);
    // Held packets go out once the section turns out to be the program's, before this one.
    if (!TS_Filter_Release(filter))
        return false;
    if (offer == TS_PMT_IGNORED || offer == TS_PMT_HELD)
        return true;
    if (!TS_Filter_Put(filter, state, packet))
        return false;
    *written = true;
    if (offer == TS_PMT_COMPLETE && TS_SectionGate_Accept(&filter->tGate, filter->u16PMTPID, section)) {
        TS_PMT_FromPreSection(&state->tPMT, section, filter->u16PMTPID);
        TS_PIDSet_FromPMT(&filter->tSelected, &state->tPMT);
    }
    return true;
}

// A packet on any PID but 0. Returns false when the filter ends.
inline bool TS_Filter_OnPacket(TS_Filter *filter, TS_SimpleData *state, const u8 *packet, u16 pid)
{
    // Nothing is copied before the output is open, that is before a PAT listed the program.
    if (!filter->bOpened)
        return true;
    bool written = false;
    if (pid == filter->u16PMTPID && !TS_Filter_OnPMTPacket(filter, state, packet, &written))
        return false;
    // A packet goes out once, however many of PMT, PCR, ECM and stream it is for.
    if (!written && TS_Filter_IsSelected(filter, state, pid))
        return TS_Filter_Put(filter, state, packet);
    return true;
}

// Takes a PAT packet into the state; true when it completed a section that passed the gate
// (decoded into tPAT).
inline bool TS_State_TakePAT(TS_SimpleData *state, TS_SectionGate *gate, const u8 *packet)
{
    if (TS_PAT_ImportPreSection(&state->tPATSection, packet) < 0 || !state->tPATSection.u8Complete ||
        !TS_SectionGate_Accept(gate, 0x0000, &state->tPATSection))
        return false;
    TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
    return true;
}

// The listing keeps the programs of the last PAT, the network entry left out.
void TS_ProgramList_FromPAT(TS_ProgramList *list, const TS_PAT *pat)
{
    list->u16Count = 0;
    for (u16 i = 0; i < pat->u16ProgramCount; ++i) {
        const TS_PATProgram &program = pat->ltProgram[i];
        if (program.program_number == 0)
            continue;
        list->lu16ProgramNumber[list->u16Count] = program.program_number;
        list->lu16PID[list->u16Count] = program.PID;
        ++list->u16Count;
    }
}

// Reads the input and lists its programs, handing every packet but the PAT's to the filter
// until it ends. The listing runs to the end of the input (list may be null: no listing); with
// whole_input false the run ends with the filter, as the two-pass extraction's scan does.
// Returns the read result: 0, -2 or -5. The filter keeps its own.
int TS_Filter_Run(TS_Filter *filter, TS_SimpleData *state, const char *source, TS_ProgramList *list, bool whole_input)
{
    const int fd = TS_Input_Open(source);
    if (fd < 0)
        return -2;
    filter->s32Input = fd;
    const bool filtering = filter->bFiltering;
    const int read_result =
        TS_Stream_Run(fd, source, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
            const u16 pid = TS_Read13(packet + 1);
            if (pid == 0x0000) {
                if (TS_State_TakePAT(state, &filter->tGate, packet)) {
                    if (list != nullptr)
                        TS_ProgramList_FromPAT(list, &state->tPAT);
                    if (filtering && !filter->bEnded)
                        TS_Filter_OnPAT(filter, state, packet);
                }
            } else if (filtering && !filter->bEnded) {
                TS_Filter_OnPacket(filter, state, packet, pid);
            }
            return whole_input || !filter->bEnded;
        });
    if (filtering)
        TS_Filter_EndWait(filter, state);
    const int close_result = TS_OutputFile_Close(&filter->tOutput);
    if (close_result < 0 && read_result == 0)
        TS_Run_Fail(&filter->s32Result, close_result);
    TS_Input_Close(fd);
    return read_result;
}

}  // namespace

int TS_GetProgramList(TS_ProgramList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    return TS_Filter_Run(TS_Filter_Start(state, TS_NO_PID, nullptr, nullptr, nullptr), state, path, list, true);
}

int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid)
{
    if (destination == nullptr || source == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_Filter *filter = TS_Filter_Start(state, pid, destination, nullptr, nullptr);
    const int read_result = TS_Filter_Run(filter, state, source, nullptr, false);
    return filter->s32Result < 0 ? filter->s32Result : read_result;
}

int TS_ProgramExtractFile(const char *destination, const char *source, u16 pid, u16 program_number)
{
    if (source == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_Filter *filter = TS_Filter_Start(state, pid, destination, nullptr, nullptr);
    filter->bFiltering = true;
    filter->bPlayable = true;
    filter->bByNumber = pid == TS_NO_PID;
    filter->u16ProgramNumber = program_number;
    TS_Split_SetBaseName(source);
    const int read_result = TS_Filter_Run(filter, state, source, nullptr, false);
    if (filter->s32Result < 0)
        return filter->s32Result;
    if (read_result < 0)
        return read_result;
    return filter->bOpened ? 0 : -4;
}

int TS_GetProgramListAndSplit(TS_ProgramList *list, const char *source, u16 pid, int (*open_output)(void *context),
                              void *context, int *split_result)
{
    if (list == nullptr || source == nullptr || open_output == nullptr || split_result == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_Filter *filter = TS_Filter_Start(state, pid, nullptr, open_output, context);
    *split_result = 1;
    const int read_result = TS_Filter_Run(filter, state, source, list, true);
    if (read_result == -2)
        return read_result;
    *split_result = filter->s32Result < 0 ? filter->s32Result : (filter->bOpened ? 0 : 1);
    return read_result;
}
