// Single-program extraction: copies one program's PMT, PCR, ECM and elementary-stream packets,
// byte for byte, to an output file.
#include <cstdio>
#include <cstring>

#include "driver.h"

namespace {

u8 g_lu8FilterBlock[TS_WRITER_BLOCK];

struct TS_Filter {
    u16 u16PMTPID;
    u16 u16ProgramNumber;  // of the PAT entry whose PMT is followed
    const char *strDestination;
    // Opens the output for the single-pass front end; null: open strDestination.
    int (*pfnOpenOutput)(void *context);
    void *pOpenContext;
    TS_Writer tWriter;
    int s32Result;  // 0, -3 (output not opened) or -6 (write failed)
    bool bEnded;    // the program left the PAT after the output was opened, or output failed
    // The program's PMT sections on the PMT PID, with the packets held while a section header
    // is cut by the packet end.
    TS_PMTTrack tTrack;
    TS_SectionGate tGate;  // PAT and PMT sections whose CRC_32 fails
    // PIDs that the current PMT names (PCR, ECM, elementary streams), one flag per PID.
    u8 lu8Selected[8192];
};

TS_Filter g_tFilter;

void TS_Filter_Start(TS_Filter *filter, u16 pid, const char *destination, int (*open_output)(void *), void *context)
{
    std::memset(filter, 0, sizeof *filter);
    filter->u16PMTPID = pid;
    filter->strDestination = destination;
    filter->pfnOpenOutput = open_output;
    filter->pOpenContext = context;
    filter->tWriter.s32FD = -1;
    TS_PMTTrack_Start(&filter->tTrack, nullptr, 0);
}

bool TS_Filter_Write(TS_Filter *filter, const u8 *packet)
{
    if (TS_Writer_Put(&filter->tWriter, packet) < 0) {
        filter->s32Result = -6;
        filter->bEnded = true;
        return false;
    }
    return true;
}

// Rebuilds the PID selection from the last decoded PMT.
void TS_Filter_Select(TS_Filter *filter, const TS_PMT *pmt)
{
    std::memset(filter->lu8Selected, 0, sizeof filter->lu8Selected);
    filter->lu8Selected[pmt->PCR_PID & 0x1FFF] = 1;
    u16 ca_pid;
    if (TS_GetCAPIDFromPMT(&ca_pid, pmt) == 0 && ca_pid != TS_NO_PID)
        filter->lu8Selected[ca_pid & 0x1FFF] = 1;
    for (u16 i = 0; i < pmt->u16StreamCount; ++i)
        filter->lu8Selected[pmt->ltStream[i].elementary_PID & 0x1FFF] = 1;
    // The PAT is never copied, and 0x1FFF is the PCR_PID of a program without PCR, not a
    // reason to copy the multiplex's null packets.
    filter->lu8Selected[0x0000] = 0;
    filter->lu8Selected[0x1FFF] = 0;
}

bool TS_Filter_OpenOutput(TS_Filter *filter)
{
    if (filter->pfnOpenOutput == nullptr) {
        if (TS_Writer_Open(&filter->tWriter, filter->strDestination, g_lu8FilterBlock, sizeof g_lu8FilterBlock) == 0)
            return true;
        fprintf(stderr, "error - failed on _open(%s) [dest]\n", filter->strDestination);
    } else {
        const int fd = filter->pfnOpenOutput(filter->pOpenContext);
        if (fd >= 0) {
            TS_Writer_Attach(&filter->tWriter, fd, nullptr, g_lu8FilterBlock, sizeof g_lu8FilterBlock);
            return true;
        }
    }
    filter->s32Result = -3;
    filter->bEnded = true;
    return false;
}

// A PAT section completed: find the chosen PMT PID among its programs. Returns false when the
// filter ends (the program has left the PAT, or the output cannot be opened).
bool TS_Filter_OnPAT(TS_Filter *filter, TS_SimpleData *state)
{
    const TS_PAT *pat = &state->tPAT;
    const TS_PATProgram *entry = nullptr;
    for (u16 i = 0; i < pat->u16ProgramCount && entry == nullptr; ++i)
        if (pat->ltProgram[i].program_number != 0 && pat->ltProgram[i].PID == filter->u16PMTPID)
            entry = &pat->ltProgram[i];
    if (entry == nullptr) {
        // Before the output is open the program may still start later in the recording.
        filter->bEnded = TS_Writer_IsOpen(&filter->tWriter);
        return !filter->bEnded;
    }
    filter->u16ProgramNumber = entry->program_number;
    TS_PMTTrack_Follow(&filter->tTrack, &state->tPMTSection, filter->u16PMTPID, filter->u16ProgramNumber);
    return TS_Writer_IsOpen(&filter->tWriter) || TS_Filter_OpenOutput(filter);
}

// A packet on the PMT PID. Every packet taken in as part of a PMT section of the program is
// written when it arrives; sections of other programs sharing the PID are neither decoded nor
// written. Returns 1 when written, 0 when not, -1 when the filter must end.
int TS_Filter_OnPMTPacket(TS_Filter *filter, TS_SimpleData *state, const u8 *packet)
{
    TS_PreSection *section = &state->tPMTSection;
    // A PMT PID that is also the PCR or a stream PID has its packets written by the selection.
    const bool selected = state->tPMT.u8Valid && filter->lu8Selected[filter->u16PMTPID];
    const TS_PMTOffer offer = TS_PMTTrack_Offer(&filter->tTrack, section, packet, selected);
    if (offer == TS_PMT_IGNORED || offer == TS_PMT_HELD)
        return 0;
    // Packets held while the section header was cut by the packet end go out first.
    for (u32 i = 0; i < filter->tTrack.u32Count; ++i)
        if (!TS_Filter_Write(filter, filter->tTrack.pKept[i]))
            return -1;
    TS_PMTTrack_Release(&filter->tTrack);
    if (!TS_Filter_Write(filter, packet))
        return -1;
    if (offer == TS_PMT_COMPLETE && TS_SectionGate_Accept(&filter->tGate, filter->u16PMTPID, section)) {
        TS_PMT_FromPreSection(&state->tPMT, section, filter->u16PMTPID);
        TS_Filter_Select(filter, &state->tPMT);
    }
    return 1;
}

// A packet on any PID but 0. Returns false when the filter must end.
inline bool TS_Filter_OnPacket(TS_Filter *filter, TS_SimpleData *state, const u8 *packet, u16 pid)
{
    // Nothing is copied before the output is open, that is before a PAT listed the program.
    if (!TS_Writer_IsOpen(&filter->tWriter))
        return true;
    if (pid == filter->u16PMTPID) {
        const int pmt = TS_Filter_OnPMTPacket(filter, state, packet);
        if (pmt != 0)
            return pmt > 0;
    }
    // A packet goes out once, however many of PCR, ECM and stream it is for.
    if (state->tPMT.u8Valid && filter->lu8Selected[pid])
        return TS_Filter_Write(filter, packet);
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

// Ends a scan: closes the output and the input and gives the driver's result.
int TS_Filter_Finish(TS_Filter *filter, int fd, int read_result)
{
    const int close_result = TS_Writer_Close(&filter->tWriter);
    TS_Input_Close(fd);
    if (filter->s32Result < 0)
        return filter->s32Result;
    if (read_result < 0)
        return read_result;
    if (close_result < 0)
        filter->s32Result = close_result;
    return close_result;
}

}  // namespace

int TS_GetProgramList(TS_ProgramList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_SectionGate *gate = &g_tFilter.tGate;
    TS_SectionGate_Reset(gate);
    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    const int result = TS_Stream_Run(fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
        // PID 0 carries the PAT; every other packet is only stepped over.
        if (TS_Read13(packet + 1) == 0 && TS_State_TakePAT(state, gate, packet))
            TS_ProgramList_FromPAT(list, &state->tPAT);
        return true;
    });
    TS_Input_Close(fd);
    return result;
}

int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid)
{
    if (destination == nullptr || source == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_Filter *filter = &g_tFilter;
    TS_Filter_Start(filter, pid, destination, nullptr, nullptr);

    const int fd = TS_Input_Open(source);
    if (fd < 0)
        return -2;
    const int read_result = TS_Stream_Run(fd, source, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
        const u16 packet_pid = TS_Read13(packet + 1);
        if (packet_pid == 0)
            return !TS_State_TakePAT(state, &filter->tGate, packet) || TS_Filter_OnPAT(filter, state);
        return TS_Filter_OnPacket(filter, state, packet, packet_pid);
    });
    return TS_Filter_Finish(filter, fd, read_result);
}

int TS_GetProgramListAndSplit(TS_ProgramList *list, const char *source, u16 pid, int (*open_output)(void *context),
                              void *context, int *split_result)
{
    if (list == nullptr || source == nullptr || open_output == nullptr || split_result == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_Filter *filter = &g_tFilter;
    TS_Filter_Start(filter, pid, nullptr, open_output, context);
    *split_result = 1;

    const int fd = TS_Input_Open(source);
    if (fd < 0)
        return -2;
    // The listing runs to the end of the input; the filter stops taking packets where the
    // two-pass extraction would have ended its scan.
    const int read_result = TS_Stream_Run(fd, source, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
        const u16 packet_pid = TS_Read13(packet + 1);
        if (packet_pid == 0) {
            if (TS_State_TakePAT(state, &filter->tGate, packet)) {
                TS_ProgramList_FromPAT(list, &state->tPAT);
                if (!filter->bEnded)
                    TS_Filter_OnPAT(filter, state);
            }
        } else if (!filter->bEnded) {
            TS_Filter_OnPacket(filter, state, packet, packet_pid);
        }
        return true;
    });
    const bool opened = TS_Writer_IsOpen(&filter->tWriter);
    TS_Filter_Finish(filter, fd, read_result);
    *split_result = filter->s32Result < 0 ? filter->s32Result : (opened ? 0 : 1);
    return read_result;
}
