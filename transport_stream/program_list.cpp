// Program listing: the programs of the last PAT of a file.
#include "internal.h"

int TS_GetProgramList(TS_ProgramList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    TS_SimpleData *state = &g_tSimpleData;
    TS_InitialiseSimple(state);
    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;

    const int result = TS_Stream_Run(fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos,
        [&](const u8 *packet) {
            // PID 0 carries the PAT; every other packet is only stepped over.
            if (TS_Read13(packet + 1) != 0)
                return true;
            if (TS_PAT_ImportPreSection(&state->tPATSection, packet) < 0 || !state->tPATSection.u8Complete)
                return true;
            TS_PAT_FromPreSection(&state->tPAT, &state->tPATSection);
            list->u16Count = 0;
            for (u16 i = 0; i < state->tPAT.u16ProgramCount; ++i) {
                const TS_PATProgram &program = state->tPAT.ltProgram[i];
                if (program.program_number == 0)  // the network PID
                    continue;
                list->lu16ProgramNumber[list->u16Count] = program.program_number;
                list->lu16PID[list->u16Count] = program.PID;
                ++list->u16Count;
            }
            return true;
        });
    TS_Input_Close(fd);
    return result;
}
