// Text and JSON forms of a decoded PAT.
#include "psi/print.h"

// Prints the section header, the program count, one line per program and the stored CRC_32.
int TS_PAT_Print(const TS_PAT *pat)
{
    if (pat == nullptr)
        return -1;
    TS_Section_PrintHeaderLine("PAT", *pat);
    TS_Text_Printf("  Program:%d\n", pat->u16ProgramCount);
    const u16 count = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
    for (u16 i = 0; i < count; ++i) {
        const TS_PATProgram *program = &pat->ltProgram[i];
        // program_number 0 carries the network_PID instead of a program_map_PID.
        TS_Text_Printf(program->program_number == 0 ? "  PN:%d R3:%d NETPID:0x%04X\n" : "  PN:%d R3:%d PMTPID:0x%04X\n",
                       program->program_number, program->reserved, program->PID);
    }
    TS_Section_PrintCRC(pat->CRC_32);
    return 0;
}

void TS_PAT_PrintJSON(TS_Json *json, const TS_PAT *pat, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, *pat, "transport_stream_id", pat->transport_stream_id, crc_ok, [json, pat] {
        const u16 count = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
        TS_Json_ObjectArrayField(json, "programs", count, [json, pat](u32 i) {
            TS_Json_NumberField(json, "program_number", pat->ltProgram[i].program_number);
            TS_Json_NumberField(json, "pid", pat->ltProgram[i].PID);
        });
    });
}
