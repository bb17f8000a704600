// The drivers' scan records and the stream buffer behind them: initialisers and the appending
// of freshly read bytes behind the carried tail.
#include <cstddef>
#include <cstring>

#include "io/io.h"
#include "psi/section.h"

namespace {

// Moves the unconsumed tail to the front of the stream buffer and appends length bytes.
int TS_Stream_Append(u8 *stream, u64 *size, u64 *pos, const u8 *data, u64 length)
{
    const u64 tail = *size - *pos;
    if (tail + length > TS_STREAM_CAPACITY)
        return -2;
    std::memmove(stream, stream + *pos, tail);
    std::memcpy(stream + tail, data, length);
    *size = tail + length;
    *pos = 0;
    return 0;
}

}  // namespace

int TS_InitialiseSimple(TS_SimpleData *state)
{
    if (state == nullptr)
        return -1;
    std::memset(state->lu8Stream, 0, sizeof state->lu8Stream);
    TS_SimpleData_Reset(state);
    return 0;
}

// Clearing 32 MiB of stream buffer would cost a driver run as much as reading a small file,
// and only the bytes below u64Size are ever read.
void TS_SimpleData_Reset(TS_SimpleData *state)
{
    std::memset(state, 0, offsetof(TS_SimpleData, lu8Stream));
    TS_PreSection_Initialise(&state->tPATSection);
    TS_PreSection_Initialise(&state->tPMTSection);
}

int TS_AddStreamSimple(TS_SimpleData *state, const u8 *data, u64 length)
{
    if (state == nullptr || data == nullptr)
        return -1;
    return TS_Stream_Append(state->lu8Stream, &state->u64Size, &state->u64Pos, data, length);
}

int TS_Initialise(TS_Data *state)
{
    if (state == nullptr)
        return -1;
    std::memset(state->lu8Stream, 0, sizeof state->lu8Stream);
    TS_Data_Reset(state);
    return 0;
}

void TS_Data_Reset(TS_Data *state)
{
    std::memset(state, 0, offsetof(TS_Data, lu8Stream));
    state->u16PIDCount = 0;
    std::memset(state->lu16PID, 0, sizeof state->lu16PID);
    TS_PreSection_Initialise(&state->tCATSection);
    TS_PreSection_Initialise(&state->tPATSection);
    for (TS_PreSection &section : state->ltPMTSection)
        TS_PreSection_Initialise(&section);
    TS_PreSection_Initialise(&state->tPrivateSection);
    TS_PreSection_Initialise(&state->tEMMSection);
}

int TS_AddStream(TS_Data *state, const u8 *data, u64 length)
{
    if (state == nullptr || data == nullptr)
        return -1;
    return TS_Stream_Append(state->lu8Stream, &state->u64Size, &state->u64Pos, data, length);
}
