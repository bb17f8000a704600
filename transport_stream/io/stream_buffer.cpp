// The drivers' scan records and the stream buffer behind them: initialisers and the appending
// of freshly read bytes behind the carried tail.
#include <cstddef>
#include <cstring>

#include "io/io.h"
#include "psi/section.h"

namespace {

// Moves the unconsumed tail to the front of the stream buffer and appends length bytes.
template <class State> int TS_Stream_Append(State *state, const u8 *data, u64 length)
{
    if (state == nullptr || data == nullptr)
        return -1;
    const u64 tail = state->u64Size - state->u64Pos;
    if (tail + length > TS_STREAM_CAPACITY)
        return -2;
    std::memmove(state->lu8Stream, state->lu8Stream + state->u64Pos, tail);
    std::memcpy(state->lu8Stream + tail, data, length);
    state->u64Size = tail + length;
    state->u64Pos = 0;
    return 0;
}

// Clears the whole record, stream buffer included, then resets it.
template <class State> int TS_Stream_Initialise(State *state, void (*reset)(State *))
{
    if (state == nullptr)
        return -1;
    std::memset(state->lu8Stream, 0, sizeof state->lu8Stream);
    reset(state);
    return 0;
}

}  // namespace

int TS_InitialiseSimple(TS_SimpleData *state) { return TS_Stream_Initialise(state, TS_SimpleData_Reset); }
int TS_Initialise(TS_Data *state) { return TS_Stream_Initialise(state, TS_Data_Reset); }
int TS_AddStreamSimple(TS_SimpleData *state, const u8 *data, u64 length)
{
    return TS_Stream_Append(state, data, length);
}
int TS_AddStream(TS_Data *state, const u8 *data, u64 length) { return TS_Stream_Append(state, data, length); }

// Clearing 32 MiB of stream buffer would cost a driver run as much as reading a small file,
// and only the bytes below u64Size are ever read.
void TS_SimpleData_Reset(TS_SimpleData *state)
{
    std::memset(state, 0, offsetof(TS_SimpleData, lu8Stream));
    TS_PreSection_Initialise(&state->tPATSection);
    TS_PreSection_Initialise(&state->tPMTSection);
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
