// Single-program extraction: copies one program's PMT, PCR, ECM and elementary-stream packets,
// byte for byte, to an output file.
#include <cstdio>
#include <cstring>

#include "internal.h"

namespace {

u8 g_lu8FilterBlock[TS_WRITER_BLOCK];

struct TS_Filter {
    u16 u16PMTPID;
    u16 u16ProgramNumber;  // of the PAT entry whose PMT is followed
    TS_Writer tWriter;
    int s32Result;
    // A PMT packet whose section header is not complete yet: whether its section belongs to
    // the program is known only with the next packet of the section.
    u8 lu8Held[TS_PACKET_SIZE];
    bool bHeld;
    // PIDs that the current PMT names (PCR, ECM, elementary streams), one flag per PID.
    u8 lu8Selected[8192];
};

TS_Filter g_tFilter;

bool TS_Filter_Write(TS_Filter *filter, const u8 *packet)
{
    if (TS_Writer_Put(&filter->tWriter, packet) < 0) {
        filter->s32Result = -6;
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
    filter->lu8Selected[0] = 0;  // the PAT is never copied
}

// A PAT section completed: find the chosen PMT PID among its programs. Returns false when the
// scan must end (the program has left the PAT, or the output cannot be opened).
bool TS_Filter_OnPAT(TS_Filter *filter, TS_SimpleData *state, const char *destination)
{
    const TS_PAT &pat = state->tPAT;
    const TS_PATProgram *entry = nullptr;
    for (u16 i = 0; i < pat.u16ProgramCount && entry == nullptr; ++i)
        if (pat.ltProgram[i].program_number != 0 && pat.ltProgram[i].PID == filter->u16PMTPID)
            entry = &pat.ltProgram[i];
    if (entry == nullptr)
        // Before the output is open the program may still start later in the recording.
        return !TS_Writer_IsOpen(&filter->tWriter);
    filter->u16ProgramNumber = entry->program_number;
    if (!TS_Writer_IsOpen(&filter->tWriter) &&
        TS_Writer_Open(&filter->tWriter, destination, g_lu8FilterBlock, sizeof g_lu8FilterBlock) < 0) {
        fprintf(stderr, "error - failed on _open(%s) [dest]\n", destination);
        filter->s32Result = -3;
        return false;
    }
    return true;
}

// A packet on the PMT PID. Every packet taken in as part of a PMT section of the program is
// written when it arrives; sections of other programs sharing the PID are neither decoded nor
// written. Returns 1 when written, 0 when not, -1 when the scan must end.
int TS_Filter_OnPMTPacket(TS_Filter *filter, TS_SimpleData *state, const u8 *packet, u16 pid)
{
    TS_PreSection *section = &state->tPMTSection;
    if (TS_PMT_ImportPreSection(section, packet) < 0) {
        filter->bHeld = false;
        return 0;
    }
    if ((packet[1] & 0x40) != 0)
        filter->bHeld = false;  // a new section starts: a held packet belonged to a dropped one
    if (section->u16Collected < 5) {
        std::memcpy(filter->lu8Held, packet, TS_PACKET_SIZE);
        filter->bHeld = true;
        return 0;
    }
    const bool held = filter->bHeld;
    filter->bHeld = false;
    if (TS_Read16(section->lu8Section + 3) != filter->u16ProgramNumber)
        return 0;
    if (held && !TS_Filter_Write(filter, filter->lu8Held))
        return -1;
    if (!TS_Filter_Write(filter, packet))
        return -1;
    if (section->u8Complete) {
        TS_PMT_FromPreSection(&state->tPMT, section, pid);
        TS_Filter_Select(filter, &state->tPMT);
    }
    return 1;
}

}  // namespace

int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid)
{
    if (destination == nullptr || source == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_InitialiseSimple(state);
    TS_Filter *filter = &g_tFilter;
    std::memset(filter, 0, sizeof *filter);
    filter->u16PMTPID = pid;
    filter->tWriter.s32FD = -1;

    const int fd = TS_Input_Open(source);
    if (fd < 0)
        return -2;

    const int read_result = TS_Stream_Run(fd, source, state->lu8Stream, &state->u64Size, &state->u64Pos,
        [&](const u8 *packet) {
            const u16 packet_pid = TS_Read13(packet + 1);
            if (packet_pid == 0) {
                if (TS_PAT_ImportPreSection(&state->tPATSection, packet) >= 0 && state->tPATSection.u8Complete) {
                    TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
                    return TS_Filter_OnPAT(filter, state, destination);
                }
                return true;
            }
            // Nothing is copied before the output is open, that is before a PAT listed the program.
            if (!TS_Writer_IsOpen(&filter->tWriter))
                return true;
            if (packet_pid == filter->u16PMTPID) {
                const int pmt = TS_Filter_OnPMTPacket(filter, state, packet, packet_pid);
                if (pmt != 0)
                    return pmt > 0;
            }
            // A packet goes out once, however many of PCR, ECM and stream it is for.
            if (state->tPMT.u8Valid && filter->lu8Selected[packet_pid])
                return TS_Filter_Write(filter, packet);
            return true;
        });

    const int close_result = TS_Writer_Close(&filter->tWriter);
    TS_Input_Close(fd);
    if (filter->s32Result < 0)
        return filter->s32Result;
    if (read_result < 0)
        return read_result;
    return close_result;
}
